// The reader of values: arrays and objects built in the arena, on top of the layers that read
// each kind of text (cursor, numbers, strings, known keys, deferred text).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "json/model/map.hpp"
#include "json/read/deferred_scan.hpp"
#include "json/read/reader.hpp"

namespace tarvik::json::reading {
// Internal to each file that includes it, like all reader layers: the compiler then inlines
// and specializes them as freely as code of that one file (in a named namespace it inlines
// less, and the reader is measurably slower).
namespace {  // NOLINT(cert-dcl59-cpp)

class Reader : public DeferredScanner {
 public:
  Reader(std::string_view input, Arena& arena, Build build)
      : DeferredScanner(input, arena, build) {}

  // One value that fills the whole input, which is known to be valid JSON: the text of a
  // deferred value.
  Value read_whole_value() {
    Value value;
    if (!read_any(value) || pos_ != end_) throw_not_one_value();
    return value;
  }

  Result<std::vector<Value>, Error> parse_value_list() {
    skip_whitespace();
    if (pos_ == end_) {
      fail_peek(ErrorCode::EofWhileParsingValue);
    } else if (*pos_ != '[') {
      peek_invalid_type();
    } else {
      --remaining_depth_;
      ++pos_;
      if (read_array_elements()) {
        ++remaining_depth_;
        skip_whitespace();
        // The top-level elements are the bottom of the scratch stack, and nothing is above them.
        if (pos_ == end_) return std::move(elements_);
        fail_peek(ErrorCode::TrailingCharacters);
      }
    }
    return failure(std::move(*error_));
  }

  // The elements of the top-level array one at a time, with the errors and checks of
  // parse_value_list in the same order.
  enum class Step { Element, End, Failed };
  Step next_element(Value& out) {
    if (error_) return Step::Failed;
    skip_whitespace();
    switch (elements_state_) {
      case ElementsState::Done:
        return Step::End;
      case ElementsState::Before:
        if (pos_ == end_) return fail_step(ErrorCode::EofWhileParsingValue);
        if (*pos_ != '[') {
          peek_invalid_type();
          return Step::Failed;
        }
        --remaining_depth_;
        ++pos_;
        skip_whitespace();
        if (pos_ == end_) return fail_step(ErrorCode::EofWhileParsingList);
        if (*pos_ == ']') return end_elements();
        break;
      case ElementsState::Between:
        if (pos_ == end_) return fail_step(ErrorCode::EofWhileParsingList);
        if (*pos_ == ']') return end_elements();
        if (*pos_ != ',') return fail_step(ErrorCode::ExpectedListCommaOrEnd);
        ++pos_;
        skip_whitespace();
        if (pos_ == end_) return fail_step(ErrorCode::EofWhileParsingValue);
        if (*pos_ == ']') return fail_step(ErrorCode::TrailingComma);
        break;
    }
    if (!read_any(out)) return Step::Failed;
    elements_state_ = ElementsState::Between;
    return Step::Element;
  }

  const Error& error() const { return *error_; }

  // Forgets what is kept of the elements read so far, which may lie in the arena, before the
  // arena is released.
  void forget_elements() {
    previous_row_ = nullptr;
    forget_shapes();
  }

  // The value of the next line holding one, read as an element of the top-level array with end_
  // at its line feed; the errors and checks of parse_value_lines in the same order.
  Step next_line(Value& out) {
    if (error_) return Step::Failed;
    if (elements_state_ == ElementsState::Before) {
      input_end_ = end_;
      next_line_ = begin_;
      --remaining_depth_;
      elements_state_ = ElementsState::Between;
    }
    while (next_line_ != input_end_) {
      pos_ = next_line_;
      end_ = static_cast<const char*>(
          std::memchr(pos_, '\n', static_cast<std::size_t>(input_end_ - pos_)));
      if (end_ == nullptr) end_ = input_end_;
      next_line_ = end_ + (end_ != input_end_);
      skip_whitespace();
      if (pos_ == end_) continue;
      if (!read_any(out)) return Step::Failed;
      skip_whitespace();
      if (pos_ != end_) return fail_step(ErrorCode::TrailingCharacters);
      return Step::Element;
    }
    return Step::End;
  }

  Result<std::vector<Value>, Error> parse_value_lines() {
    Value element;
    Step step = Step::Element;
    while ((step = next_line(element)) == Step::Element)
      elements_.push_back(element);
    if (step == Step::End) return std::move(elements_);
    return failure(std::move(*error_));
  }

 private:
  using Member = Map::Member;

  // One value of any kind at the read position. Scalars are read in place;
  // arrays and objects, which recurse, out of line.
  [[gnu::always_inline]] bool read_any(Value& out) {
    skip_whitespace();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
    switch (peek()) {
      case 'n':
      case 't':
      case 'f':
        return read_literal(out);
      case '-':
        ++pos_;
        return parse_integer(false, out);
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        return parse_integer(true, out);
      case '"': {
        ++pos_;
        StringRead string;
        if (!parse_str(string)) return false;
        out = string.had_escapes ? Value::string(string.text) : Value::plain_string(string.text);
        return true;
      }
      case '[':
      case '{':
        return read_container(out);
      default:
        return fail_peek(ErrorCode::ExpectedSomeValue);
    }
  }

  // An array or object at the read position.
  [[gnu::noinline]] bool read_container(Value& out) {
    if (*pos_ == '[') {
      if (defers_nested()) return defer_container(Kind::Array, out);
      return read_array(out);
    }
    if (defers_nested() && remaining_depth_ != kRowDepth) {
      return defer_container(Kind::Object, out);
    }
    return read_object(out);
  }

  bool read_array(Value& out) {
    if (!enter_nested()) return false;
    ++pos_;
    const std::size_t base = elements_.size();
    if (!read_array_elements()) return false;
    ++remaining_depth_;
    const std::size_t count = elements_.size() - base;
    Value* block = nullptr;
    if (count != 0) {
      block = arena_.allocate_array<Value>(count);
      std::copy(elements_.begin() + static_cast<std::ptrdiff_t>(base), elements_.end(), block);
      elements_.resize(base);
    }
    out = Value::array({block, count});
    return true;
  }

  // Pushes the elements of an array whose "[" has been consumed onto the scratch stack, then
  // consumes the "]".
  // Out of line, with the element's reading inlined into the loop.
  [[gnu::noinline]] bool read_array_elements() {
    const auto read_element = [this]() __attribute__((always_inline)) {
      Value element;
      if (!read_any(element)) return false;
      elements_.push_back(element);
      return true;
    };
    return read_elements([this] { skip_whitespace(); }, read_element);
  }

  bool read_object(Value& out) {
    if (!enter_nested()) return false;
    ++pos_;
    const std::size_t base = members_.size();
    // Rows mostly repeat the keys of the row before them, in the same order.
    const bool row = remaining_depth_ == kRowDepth - 1;
    const std::span<const Map::Entry> expected_keys =
        row && previous_row_ != nullptr ? previous_row_->entries() : std::span<const Map::Entry>();
    bool keys_as_expected = true;
    if (!read_members(expected_keys, keys_as_expected)) return false;
    ++remaining_depth_;
    // Built once all members are known; a repeated key keeps the position where it first
    // appeared and takes the last value. Keys all taken from the previous row's, in its order,
    // are distinct as the entries of that row are.
    const auto members = std::span<const Member>(members_).subspan(base, members_.size() - base);
    Map& map = keys_as_expected ? Map::from_distinct_members(arena_, members)
                                : Map::from_members(arena_, members);
    members_.resize(base);
    if (row) previous_row_ = &map;
    out = Value::object(map);
    return true;
  }

  // Pushes the members of an object whose "{" has been consumed onto the scratch stack, then
  // consumes the "}". Keys found in `expected_keys`, in its order,
  // are taken without reading them again; `keys_as_expected` is cleared by any other key.
  bool read_members(std::span<const Map::Entry> expected_keys, bool& keys_as_expected) {
    skip_whitespace();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
    if (*pos_ != '}') {
      if (*pos_ != '"') return fail_peek(ErrorCode::KeyMustBeAString);
      std::size_t expected = 0;  // where in expected_keys the next key most likely stands
      for (;;) {
        ++pos_;
        std::string_view key;
        if (!take_expected_key(expected_keys, expected, key)) {
          keys_as_expected = false;
          StringRead read;
          if (!parse_str(read)) return false;
          key = read.text;
        }
        skip_whitespace();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
        if (*pos_ != ':') return fail_peek(ErrorCode::ExpectedColon);
        ++pos_;
        Value value;
        if (!read_any(value)) return false;
        members_.push_back({key, value});
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
    return true;
  }

  // The payload is not an array: reads what it is and stores the "invalid type" error, stamped just
  // past what was read (at the "{" for an object).
  [[gnu::cold, gnu::noinline]] void peek_invalid_type() {
    JsonUnexpected unexpected;
    switch (peek()) {
      case 'n':
      case 't':
      case 'f': {
        Value literal;
        if (!read_literal(literal)) return;
        if (literal.is_null()) {
          unexpected.found = JsonUnexpected::Null{};
        } else {
          unexpected.found = literal.as_bool();
        }
        break;
      }
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9': {
        const bool positive = peek() != '-';
        if (!positive) ++pos_;
        Value number;
        if (!parse_integer(positive, number)) return;
        const Number n = number.as_number();
        switch (n.form()) {
          case NumberForm::NonNegative:
            unexpected.found = n.as_non_negative();
            break;
          case NumberForm::Negative:
            unexpected.found = n.as_negative();
            break;
          case NumberForm::Float:
            unexpected.found = n.as_float();
            break;
        }
        break;
      }
      case '"': {
        ++pos_;
        StringRead string;
        if (!parse_str(string)) return;
        unexpected.found = string.text;
        break;
      }
      case '{':
        unexpected.found = JsonUnexpected::Object{};
        break;
      default:
        fail_peek(ErrorCode::ExpectedSomeValue);
        return;
    }
    error_.emplace(fix_position(invalid_type(unexpected), input(), read_position()));
  }

  Step fail_step(ErrorCode code) {
    fail_peek(code);
    return Step::Failed;
  }

  // Past the "]" of the top-level array.
  Step end_elements() {
    ++pos_;
    ++remaining_depth_;
    skip_whitespace();
    if (pos_ != end_) return fail_step(ErrorCode::TrailingCharacters);
    elements_state_ = ElementsState::Done;
    return Step::End;
  }

  enum class ElementsState { Before, Between, Done };
  ElementsState elements_state_ = ElementsState::Before;
  std::vector<Value> elements_;        // elements of every open array, innermost on top
  std::vector<Member> members_;        // members of every open object, innermost on top
  const Map* previous_row_ = nullptr;  // the object read last at the depth of the rows
  // Of JSON Lines: the input's end, and the start of the line after the one being read.
  const char* input_end_ = nullptr;
  const char* next_line_ = nullptr;
};

}  // namespace
}  // namespace tarvik::json::reading
