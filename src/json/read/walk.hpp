// The grammar of JSON values, walked once, with its errors: a walker that reads each value and
// tells a visitor what it read. What is done with the values (built, validated, respelled,
// planned, written) is the visitor's; the grammar and its errors exist only here.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "json/text/simd.hpp"

#include "json/read/known_keys.hpp"
#include "json/text/string_scan.hpp"
#include "json/text/utf8.hpp"

namespace tarvik::json::reading {
// Internal to each file that includes it, like all reader layers: the compiler then inlines
// and specializes them as freely as code of that one file (in a named namespace it inlines
// less, and the reader is measurably slower).
namespace {  // NOLINT(cert-dcl59-cpp)

// What a visitor may do with an array or object before it is walked.
enum class TakeOver {
  Walk,    // walk it, telling the visitor
  Taken,   // the visitor read it itself and set the read position past it
  Failed,  // the visitor read it and stored an error
};

// Walks the input as `Visitor` (which derives from it) directs. Each value is walked under a
// context its container gives, and reports a result back to it; the context's type picks the
// visitor's hooks, so every kind of walk is compiled on its own.
//
// The visitor provides, for a context type C and a result type R:
//   bool scalar(const C&, const Value& literal_or_number, const char* start, R& out);
//   bool string(const C&, const StringRead& string, const char* quote, R& out);
//   A begin_array(const C&, const char* bracket);  C' element_context(A&);
//   void end_element(A&, R& element);              bool end_array(A&, const char* end, R& out);
//   O begin_object(const C&, const char* brace);   bool read_key(O&, const char* quote);
//   C' member_context(O&);                         void end_member(O&, R& value);
//   bool end_object(O&, const char* end, R& out);
// and, where the defaults do not fit:
//   static constexpr StringUse C::kStrings;        how strings are read (default: Decoded)
//   void skip_space(const C&);                     the whitespace between tokens (default:
//                                                  skip_whitespace)
//   TakeOver take_over(const C&, const char* bracket, R& out);   before an array or object
//   static constexpr bool C::kContainersTaken;     take_over never answers Walk
//   static constexpr bool C::kArraysTaken;         take_over never answers Walk for an array
//   using C::ContainersWalkedAs = C2;              its arrays and objects are walked under the
//                                                  context C2 it derives from (one walk of them)
//   static constexpr bool C::kNumbersJudged;       a number is only judged against the writer's
//   bool number(const C&, bool written,            spelling, without its value, and told
//               const char* start, R&);            instead of scalar; runs of them are read in
//                                                  loops of their own
//   bool take_next_key(O&);                        after a member, the next one's comma, key and
//                                                  colon taken at once when they are the ones
//                                                  it expects (nothing consumed otherwise)
// read_key is called with the read position just past the key's opening quote, and consumes the
// key with its closing quote (read_string, or a known key). A bool hook stops the walk by
// returning false, after storing an error when the input is at fault.
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

  // A value, after any whitespace. Compact text has none: whitespace is one more case of the
  // choice of value, which then starts over past it.
  template <class Context, class Result>
  [[gnu::always_inline]] bool walk_value(const Context& context, Result& out) {
    for (;;) {
      if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
      const char* const start = pos_;
      switch (peek()) {
        case '[':
        case '{':
          return take_or_walk_container(context, out);
        case '"': {
          ++pos_;
          StringRead string;
          if (!read_string(string, strings_of<Context>())) return false;
          return visitor().string(context, string, start, out);
        }
        case ' ':
          // Laid-out text mostly has one space before a value (after a colon): passed over
          // here, the value is chosen at once, not after the steps of a run of whitespace.
          if constexpr (!requires { visitor().skip_space(context); }) {
            if (end_ - pos_ >= 2 && static_cast<unsigned char>(pos_[1]) > ' ') {
              ++pos_;
              continue;
            }
          }
          [[fallthrough]];
        case '\t':
        case '\n':
        case '\r':
          return walk_value_after_space(context, out);
        default: {
          if constexpr (requires { Context::kNumbersJudged; }) {
            if (const unsigned char first = peek(); first == '-' || is_digit(first)) {
              bool written = false;
              if (!skim_number(written)) return false;
              return visitor().number(context, written, start, out);
            }
          }
          Value scalar;
          if (!read_literal_or_number(scalar)) return false;
          return visitor().scalar(context, scalar, start, out);
        }
      }
    }
  }

  // The elements of an array whose "[" has been read, each walked under the context
  // `element_context` gives, then the "]".
  template <class Context, class Array>
  [[gnu::always_inline]] bool walk_elements(const Context& context, Array& array,
                                            bool from_first = true) {
    using Element = decltype(visitor().element_context(array));
    for (bool first = from_first;; first = false) {
      switch (next_in_array(first, [&] { space(context); })) {
        case ArrayStep::Element:
          break;
        case ArrayStep::End:
          return true;
        case ArrayStep::Failed:
          return false;
      }
      if constexpr (requires { Element::kNumbersJudged; }) {
        if (first && starts_number(peek())) {
          if (!walk_number_run(array)) return false;
          continue;
        }
        if (first && *pos_ == '[' && end_ - pos_ >= 2 &&
            starts_number(static_cast<unsigned char>(pos_[1]))) {
          if (!walk_number_array_run(array)) return false;
          continue;
        }
      }
      typename ResultOf<Element>::type element{};
      if (!walk_value(visitor().element_context(array), element)) return false;
      visitor().end_element(array, element);
    }
  }

  // Arrays of numbers are the commonest text below the rows: an array that begins with a number is
  // read number after number here while they come in compact text, without the choice of value
  // and the steps between elements, up to the byte after the last one; what follows is walked
  // element by element. (Tried at every element, the test costs arrays of objects more than it
  // gains.)
  template <class Array>
  [[gnu::always_inline]] bool walk_number_run(Array& array) {
    for (;;) {
      const char* const start = pos_;
      typename ResultOf<decltype(visitor().element_context(array))>::type element{};
      bool written = false;
      if (!skim_number(written)) return false;
      if (!visitor().number(visitor().element_context(array), written, start, element)) {
        return false;
      }
      visitor().end_element(array, element);
      if (end_ - pos_ < 2 || pos_[0] != ',' ||
          !starts_number(static_cast<unsigned char>(pos_[1]))) {
        return true;
      }
      ++pos_;
    }
  }

  // The same for an array that begins with an array of numbers (points, the rows of a matrix):
  // its elements are walked here while each is an array that begins with a number, the arrays
  // entered as walk_container enters them, and each read as above up to its end.
  template <class Array>
  [[gnu::noinline]] bool walk_number_array_run(Array& array) {
    using Element = decltype(visitor().element_context(array));
    const Element context = visitor().element_context(array);
    typename ResultOf<Element>::type element{};
    static_assert(
        !requires { visitor().take_over(context, pos_, element); },
        "the arrays of a walk whose numbers are judged are walked, never taken over");
    for (;;) {
      if (!enter_nested()) return false;
      auto inner = visitor().begin_array(context, pos_);
      ++pos_;
      if (!walk_number_run(inner)) return false;
      if (pos_ != end_ && *pos_ == ']') {
        ++pos_;
      } else if (!walk_elements(context, inner, false)) {
        return false;
      }
      ++remaining_depth_;
      element = {};
      if (!visitor().end_array(inner, pos_, element)) return false;
      visitor().end_element(array, element);
      if (end_ - pos_ < 3 || pos_[0] != ',' || pos_[1] != '[' ||
          !starts_number(static_cast<unsigned char>(pos_[2]))) {
        return true;
      }
      ++pos_;
    }
  }

  static bool starts_number(unsigned char byte) { return byte == '-' || is_digit(byte); }

  // The body of a string whose opening quote has been consumed, as parse_str reads it. A string
  // of plain bytes (no escape, no control byte, valid UTF-8) is found whole here, sixteen bytes at
  // a time; any other is read by parse_str from its start.
  [[gnu::always_inline]] bool read_string(StringRead& out, StringUse use) {
#if TARVIK_SSE2
    std::uint32_t high_bits = 0;  // the high bit of every byte passed over, by position
    for (const char* p = pos_; end_ - p >= 16; p += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const std::uint32_t ends = string_scan_detail::run_ends(block);
      const auto high = static_cast<std::uint32_t>(_mm_movemask_epi8(block));
      if (ends == 0) {
        high_bits |= high;
        continue;
      }
      const char* const stop = p + std::countr_zero(ends);
      if (*stop != '"') break;
      const std::string_view text(pos_, static_cast<std::size_t>(stop - pos_));
      // ends - 1 keeps the positions below the first end.
      if ((high_bits | (high & (ends - 1))) != 0 && !is_valid_utf8_scanned(text, end_)) break;
      out.text = text;
      out.had_escapes = false;
      out.escapes_as_written = true;
      pos_ = stop + 1;
      return true;
    }
#endif
    return parse_str(out, use);
  }

  template <class Context, class Result>
  [[gnu::noinline]] bool walk_value_after_space(const Context& context, Result& out) {
    space(context);
    return walk_value(context, out);
  }

  // The whitespace between two tokens, as the context skips it.
  template <class Context>
  [[gnu::always_inline]] void space(const Context& context) {
    if constexpr (requires { visitor().skip_space(context); }) {
      visitor().skip_space(context);
    } else {
      skip_whitespace();
    }
  }

 private:
  Visitor& visitor() {
    return static_cast<Visitor&>(*this);
  }

  // The result type of the values walked under a context: the visitor's Result<Context>, or the
  // one type its hooks take when it has no such template.
  template <class Context>
  struct ResultOf {
    using type = typename Visitor::template ResultOf<Context>;
  };

  template <class Context>
  static constexpr StringUse strings_of() {
    if constexpr (requires { Context::kStrings; }) {
      return Context::kStrings;
    } else {
      return StringUse::Decoded;
    }
  }

 protected:
  // An array or object at the read position, taken over by the visitor or walked.
  template <class Context, class Result>
  [[gnu::always_inline]] bool take_or_walk_container(const Context& context, Result& out) {
    if constexpr (requires { visitor().take_over(context, pos_, out); }) {
      const TakeOver taken = visitor().take_over(context, pos_, out);
      // A context whose visitor takes every array and object has no hooks to walk them.
      if constexpr (requires { Context::kContainersTaken; }) {
        return taken == TakeOver::Taken;
      } else if (taken != TakeOver::Walk) {
        return taken == TakeOver::Taken;
      }
    }
    if constexpr (requires { typename Context::ContainersWalkedAs; }) {
      return walk_container(static_cast<const typename Context::ContainersWalkedAs&>(context), out);
    } else if constexpr (!requires { Context::kContainersTaken; }) {
      return walk_container(context, out);
    }
  }

  // An array or object at the read position. Recurses once per nesting level, which
  // enter_nested bounds.
  template <class Context, class Result>
  [[gnu::noinline]] bool walk_container(const Context& context, Result& out) {
    if (!enter_nested()) return false;
    if constexpr (!requires { Context::kArraysTaken; }) {
      if (*pos_ == '[') {
        auto array = visitor().begin_array(context, pos_);
        ++pos_;
        if (!walk_elements(context, array)) return false;
        ++remaining_depth_;
        return visitor().end_array(array, pos_, out);
      }
    }
    auto object = visitor().begin_object(context, pos_);
    ++pos_;
    if (!walk_members(context, object)) return false;
    ++remaining_depth_;
    return visitor().end_object(object, pos_, out);
  }

 private:
  // The members of an object whose "{" has been read, then the "}".
  template <class Context, class Object>
  [[gnu::always_inline]] bool walk_members(const Context& context, Object& object) {
    using Member = decltype(visitor().member_context(object));
    // Compact text goes from token to token without whitespace: each separator is looked for
    // first where it stands in compact text, and only then after whitespace, with the errors.
    if (pos_ == end_ || *pos_ != '"') {
      space(context);
      if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
      if (*pos_ == '}') {
        ++pos_;
        return true;
      }
      if (*pos_ != '"') return fail_peek(ErrorCode::KeyMustBeAString);
    }
    for (;;) {
      ++pos_;
      if (!visitor().read_key(object, pos_ - 1)) return false;
      if (pos_ == end_ || *pos_ != ':') {
        space(context);
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
        if (*pos_ != ':') return fail_peek(ErrorCode::ExpectedColon);
      }
      ++pos_;
      do {
        typename ResultOf<Member>::type value{};
        if (!walk_value(visitor().member_context(object), value)) return false;
        visitor().end_member(object, value);
      } while (takes_next_key(object));
      if (end_ - pos_ >= 2 && pos_[0] == ',' && pos_[1] == '"') {
        ++pos_;
        continue;
      }
      if (pos_ == end_ || *pos_ != '}') {
        space(context);
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
      }
      if (*pos_ == '}') break;
      if (*pos_ != ',') return fail_peek(ErrorCode::ExpectedObjectCommaOrEnd);
      ++pos_;
      space(context);
      if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
      if (*pos_ == '"') continue;
      return fail_peek(*pos_ == '}' ? ErrorCode::TrailingComma : ErrorCode::KeyMustBeAString);
    }
    ++pos_;
    return true;
  }

  template <class Object>
  [[gnu::always_inline]] bool takes_next_key(Object& object) {
    if constexpr (requires { visitor().take_next_key(object); }) {
      return visitor().take_next_key(object);
    } else {
      return false;
    }
  }
};

}  // namespace
}  // namespace tarvik::json::reading
