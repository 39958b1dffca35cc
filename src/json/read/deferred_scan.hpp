// The deferred-text scanner: below the rows, arrays and objects are read with the same rules and
// errors but not built, and kept as their text with a note of how near it is to the written text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "json/read/known_keys.hpp"
#include "json/read/reader.hpp"  // Build
#include "json/text/float_text.hpp"

namespace tarvik::json::reading {
// Internal to each file that includes it, like all reader layers: the compiler then inlines
// and specializes them as freely as code of that one file (in a named namespace it inlines
// less, and the reader is measurably slower).
namespace {  // NOLINT(cert-dcl59-cpp)

class DeferredScanner : public KeyReader {
 public:
  // The input, the text of a deferred value without a repeated key, given to `out` (copy, string,
  // number) in the pieces that make what the writer writes for its value: runs of the text that
  // stay as they are, and the strings and numbers that it spells otherwise. Whitespace is left out.
  // No value is built and nothing nests, so the depth of the text costs nothing here.
  template <class Speller>
  void respell_whole_value(Speller& out) {
    const char* run = pos_;
    const auto copy_run = [&](const char* until) {
      if (until != run) out.copy({run, static_cast<std::size_t>(until - run)});
    };
    while (pos_ != end_) {
      const char* const start = pos_;
      switch (*pos_) {
        case ' ':
        case '\t':
        case '\n':
        case '\r':
          copy_run(start);
          skip_whitespace();
          run = pos_;
          break;
        case '[':
        case ']':
        case '{':
        case '}':
        case ',':
        case ':':
          ++pos_;
          break;
        case '"': {
          ++pos_;
          StringRead string;
          if (!parse_str(string, StringUse::Decoded)) throw_not_one_value();
          if (!string.escapes_as_written) {
            copy_run(start);
            out.string(string.text);
            run = pos_;
          }
          break;
        }
        default: {
          Value scalar;
          if (!read_literal_or_number(scalar)) throw_not_one_value();
          if (scalar.kind() == Kind::Number && scalar.as_number().form() == NumberForm::Float &&
              !is_written_float(number_, pos_, scalar.as_number().as_float())) {
            copy_run(start);
            out.number(scalar.as_number());
            run = pos_;
          }
        }
      }
    }
    copy_run(pos_);
  }

  [[noreturn]] static void throw_not_one_value() {
    throw std::logic_error("deferred JSON text does not read back as one value");
  }

 protected:
  DeferredScanner(std::string_view input, Arena& arena, Build build)
      : KeyReader(input, arena), build_(build) {}

  // Below the rows nothing is built: arrays and objects are read with the same rules and
  // errors, and kept as their text. The text is canonical when the writer would write exactly
  // it: no whitespace, no escapes, every number in the form the writer gives it, no repeated
  // key. Without a repeated key it can at least be respelled piece by piece.

  // The depth budget left while the elements of the top-level array, the rows, are read.
  static constexpr std::uint8_t kRowDepth = kDepthBudget - 1;

  bool defers_nested() const { return build_ == Build::Rows; }

  bool defer_container(Kind kind, Value& out) {
    const char* const start = pos_;
    canonical_ = true;
    keys_distinct_ = true;
    if (!skip_container()) return false;
    const TextForm form = canonical_       ? TextForm::Written
                          : keys_distinct_ ? TextForm::Respelled
                                           : TextForm::Other;
    out = Value::deferred(kind, {start, static_cast<std::size_t>(pos_ - start)}, form);
    return true;
  }

  void skip_whitespace_noting() {
    const char* const before = pos_;
    skip_whitespace();
    if (pos_ != before) canonical_ = false;
  }

  // An array or object at the read position, validated like read_array and read_object.
  bool skip_container() {
    if (!enter_nested()) return false;
    const bool array = *pos_++ == '[';
    if (!(array ? skip_elements() : skip_members())) return false;
    ++remaining_depth_;
    return true;
  }

  bool skip_any() {
    skip_whitespace_noting();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
    switch (peek()) {
      case '[':
      case '{':
        return skip_container();
      case '"': {
        ++pos_;
        StringRead string;
        if (!parse_str(string, StringUse::Checked)) return false;
        if (!string.escapes_as_written) canonical_ = false;
        return true;
      }
      default: {
        Value scalar;
        if (!read_literal_or_number(scalar)) return false;
        if (canonical_ && scalar.kind() == Kind::Number) note_number_text(scalar);
        return true;
      }
    }
  }

  // An integer in range is written as the digits it was read from; any other number is written
  // by the float writer, which may spell it differently.
  void note_number_text(const Value& number) {
    if (number.as_number().form() != NumberForm::Float) return;
    if (!is_written_float(number_, pos_, number.as_number().as_float())) canonical_ = false;
  }

  bool skip_elements() {
    return read_elements([this] { skip_whitespace_noting(); }, [this] { return skip_any(); });
  }

  bool skip_members() {
    skip_whitespace_noting();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
    const std::size_t keys_base = deferred_keys_.size();
    if (*pos_ != '}') {
      if (*pos_ != '"') return fail_peek(ErrorCode::KeyMustBeAString);
      // Objects that begin with the same key mostly go on with the same keys: those of the last
      // such object are expected, and taken without reading them again.
      KeyShape shape;
      std::size_t expected = 1;
      bool as_shape = false;  // every key so far is the shape's, in the shape's order
      for (;;) {
        ++pos_;
        std::string_view key;
        if (!as_shape || !take_expected_key(shape_keys(shape), expected, key)) {
          const char* const key_start = pos_;
          StringRead read;
          if (!parse_str(read, StringUse::Checked)) return false;
          // Keys are compared by their text in the input: two spellings of one key would need
          // decoding, so a key spelled otherwise than the writer spells it may repeat another.
          if (!read.escapes_as_written) canonical_ = keys_distinct_ = false;
          key = {key_start, static_cast<std::size_t>(pos_ - 1 - key_start)};
          as_shape = false;
          if (deferred_keys_.size() == keys_base) {
            shape = shape_beginning_with(key);
            as_shape = shape.count != 0;
          } else if (keys_distinct_) {
            note_key(key, keys_base);
          }
        }
        // A key taken from the shape differs from every key before it, all the shape's.
        deferred_keys_.push_back(key);
        skip_whitespace_noting();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
        if (*pos_ != ':') return fail_peek(ErrorCode::ExpectedColon);
        ++pos_;
        if (!skip_any()) return false;
        skip_whitespace_noting();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
        if (*pos_ == '}') break;
        if (*pos_ != ',') return fail_peek(ErrorCode::ExpectedObjectCommaOrEnd);
        ++pos_;
        skip_whitespace_noting();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
        if (*pos_ == '"') continue;
        return fail_peek(*pos_ == '}' ? ErrorCode::TrailingComma : ErrorCode::KeyMustBeAString);
      }
      if (!as_shape && keys_distinct_ && deferred_keys_.size() - keys_base >= kLeastShapeKeys) {
        remember_shape(std::span<const std::string_view>(deferred_keys_).subspan(keys_base));
      }
    }
    deferred_keys_.resize(keys_base);
    ++pos_;
    return true;
  }

  // A repeated key makes the written object differ from its text (the last value moves to the
  // first position). Keys are compared as written; an object with very many keys is simply
  // taken as one that may repeat a key.
  void note_key(std::string_view key, std::size_t keys_base) {
    constexpr std::size_t kMostKeysCompared = 64;
    if (deferred_keys_.size() - keys_base >= kMostKeysCompared) {
      canonical_ = keys_distinct_ = false;
      return;
    }
    for (std::size_t i = keys_base; i < deferred_keys_.size(); ++i) {
      if (same_key(deferred_keys_[i], key)) {
        canonical_ = keys_distinct_ = false;
        return;
      }
    }
  }

  const Build build_;
  bool canonical_ = true;                        // of the deferred text being read
  bool keys_distinct_ = true;                    // of the deferred text being read
  std::vector<std::string_view> deferred_keys_;  // keys of the deferred objects being read
};

}  // namespace
}  // namespace tarvik::json::reading
