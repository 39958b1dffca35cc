// The grammar of a whole JSON document walked once, with its errors, driving a visitor that is
// told each value as it is read: the walker validates, the visitor decides what the values become.
#pragma once

#include <string_view>

#include "json/read/known_keys.hpp"

namespace tarvik::json::reading {
// Internal to each file that includes it, like all reader layers: the compiler then inlines
// and specializes them as freely as code of that one file (in a named namespace it inlines
// less, and the reader is measurably slower).
namespace {  // NOLINT(cert-dcl59-cpp)

// Walks the input as `Visitor` (which derives from it) directs. Values flow both ways: each
// value is walked under a context its container gives, and reports a result back to it.
//
// The visitor provides, for context types C and result type R:
//   bool scalar(const C&, const Value& literal_or_number, const char* start, R& out);
//   bool string(const C&, const StringRead& string, const char* start, R& out);
//   A begin_array(const C&, const char* bracket);  C element_context(A&);
//   void end_element(A&, R& element);              bool end_array(A&, const char* end, R& out);
//   O begin_object(const C&, const char* brace);   bool read_key(O&, const char* quote);
//   C member_context(O&);                          void end_member(O&, R& value);
//   bool end_object(O&, const char* end, R& out);
// read_key is called with the read position just past the key's opening quote, and consumes the
// key with its closing quote (parse_str, or a known key). Any of the bool hooks may stop the walk
// by returning false after storing an error. A visitor that already knows an array or object may
// also provide
//   const char* known_end(const C&, const char* bracket);
// which returns the end of the value's text, taken as read, or nullptr to walk it.
template <class Visitor>
class Walker : public KeyReader {
 protected:
  Walker(std::string_view input, Arena& arena) : KeyReader(input, arena) {}

  // One value filling the input, with whitespace around it.
  template <class Context, class Result>
  bool walk_document(const Context& context, Result& out) {
    if (!walk_value(context, out)) return false;
    skip_whitespace();
    if (pos_ != end_) return fail_peek(ErrorCode::TrailingCharacters);
    return true;
  }

  template <class Context, class Result>
  [[gnu::always_inline]] bool walk_value(const Context& context, Result& out) {
    skip_whitespace();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
    const char* const start = pos_;
    switch (peek()) {
      case '[':
      case '{':
        if constexpr (requires { visitor().known_end(context, start); }) {
          if (const char* const end = visitor().known_end(context, start)) {
            pos_ = end;
            return true;
          }
        }
        return *start == '[' ? walk_array(context, out) : walk_object(context, out);
      case '"': {
        ++pos_;
        StringRead string;
        if (!parse_str(string, StringUse::Decoded)) return false;
        return visitor().string(context, string, start, out);
      }
      default: {
        Value scalar;
        if (!read_literal_or_number(scalar)) return false;
        return visitor().scalar(context, scalar, start, out);
      }
    }
  }

 private:
  Visitor& visitor() { return static_cast<Visitor&>(*this); }

  // Recurses once per nesting level, which enter_nested bounds.
  template <class Context, class Result>
  [[gnu::noinline]] bool walk_array(const Context& context, Result& out) {
    if (!enter_nested()) return false;
    auto array = visitor().begin_array(context, pos_);
    ++pos_;
    const auto walk_element = [&]() __attribute__((always_inline)) {
      Result element;
      if (!walk_value(visitor().element_context(array), element)) return false;
      visitor().end_element(array, element);
      return true;
    };
    if (!read_elements([this] { skip_whitespace(); }, walk_element)) return false;
    ++remaining_depth_;
    return visitor().end_array(array, pos_, out);
  }

  // The member loop and its errors, as the value reader reads an object.
  template <class Context, class Result>
  [[gnu::noinline]] bool walk_object(const Context& context, Result& out) {
    if (!enter_nested()) return false;
    auto object = visitor().begin_object(context, pos_);
    ++pos_;
    skip_whitespace();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
    if (*pos_ != '}') {
      if (*pos_ != '"') return fail_peek(ErrorCode::KeyMustBeAString);
      for (;;) {
        ++pos_;
        if (!visitor().read_key(object, pos_ - 1)) return false;
        skip_whitespace();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
        if (*pos_ != ':') return fail_peek(ErrorCode::ExpectedColon);
        ++pos_;
        Result value;
        if (!walk_value(visitor().member_context(object), value)) return false;
        visitor().end_member(object, value);
        skip_whitespace();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
        if (*pos_ == '}') break;
        if (*pos_ != ',') return fail_peek(ErrorCode::ExpectedObjectCommaOrEnd);
        ++pos_;
        skip_whitespace();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
        if (*pos_ == '"') continue;
        return fail_peek(*pos_ == '}' ? ErrorCode::TrailingComma : ErrorCode::KeyMustBeAString);
      }
    }
    ++pos_;
    ++remaining_depth_;
    return visitor().end_object(object, pos_, out);
  }
};

}  // namespace
}  // namespace tarvik::json::reading
