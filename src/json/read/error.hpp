// The JSON reader's error record: a kind with a 1-based line and a byte column, its display text,
// and the "invalid type" message for a payload that is not an array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace tarvik::json {

// The kind of a reader error. `Message` carries a text of its own (the "invalid type" error);
// every other kind is displayed as its fixed text (see error_code_text).
enum class ErrorCode : std::uint8_t {
  Message,
  EofWhileParsingList,
  EofWhileParsingObject,
  EofWhileParsingString,
  EofWhileParsingValue,
  ExpectedColon,
  ExpectedListCommaOrEnd,
  ExpectedObjectCommaOrEnd,
  ExpectedSomeIdent,
  ExpectedSomeValue,
  InvalidEscape,
  InvalidNumber,
  NumberOutOfRange,
  InvalidUnicodeCodePoint,
  ControlCharacterWhileParsingString,
  KeyMustBeAString,
  LoneLeadingSurrogateInHexEscape,
  TrailingComma,
  TrailingCharacters,
  UnexpectedEndOfHexEscape,
  RecursionLimitExceeded,
};

// The fixed text of a kind; empty for ErrorCode::Message.
std::string_view error_code_text(ErrorCode code);

// One reader failure. A line of 0 means "no position yet"; every error that parse_value_list
// returns has a line of 1 or more. Columns count bytes after the last line feed.
class Error {
 public:
  Error(ErrorCode code, std::uint64_t line, std::uint64_t column, std::string message = {})
      : code_(code), line_(line), column_(column), message_(std::move(message)) {}

  ErrorCode code() const { return code_; }
  std::uint64_t line() const { return line_; }
  std::uint64_t column() const { return column_; }

  // The kind's text: the fixed text, or the message kind's own text.
  std::string_view text() const {
    return code_ == ErrorCode::Message ? std::string_view(message_) : error_code_text(code_);
  }

  // The text, followed by " at line L column C" unless the line is 0.
  std::string display() const;

 private:
  friend Error fix_position(Error err, std::string_view input, std::size_t read_position);

  ErrorCode code_;
  std::uint64_t line_;
  std::uint64_t column_;
  std::string message_;
};

// An error of a fixed kind at the given position.
[[gnu::cold]] Error syntax(ErrorCode code, std::uint64_t line, std::uint64_t column);

// An error stamped with the read position: the position just past the byte consumed last.
[[gnu::cold]] Error error(std::string_view input, std::size_t read_position, ErrorCode code);

// An error stamped with the position of the next, unconsumed byte (the end, at the end).
[[gnu::cold]] Error peek_error(std::string_view input, std::size_t read_position, ErrorCode code);

// `err` unchanged when it has a position, otherwise the same error stamped as by `error`.
[[gnu::cold]] Error fix_position(Error err, std::string_view input, std::size_t read_position);

// What the reader found where the payload had to be an array.
struct JsonUnexpected {
  struct Null {};
  struct Object {};
  // The text must be valid UTF-8 (the reader has validated it).
  std::variant<Null, bool, std::uint64_t, std::int64_t, double, std::string_view, Object> found;
};

// "invalid type: <description>, expected a sequence", with no position yet (line 0).
[[gnu::cold]] Error invalid_type(const JsonUnexpected& unexpected);

// Appends the quoted form of `text` (valid UTF-8) to `out`: escapes for U+0000, tab, CR, LF, the
// backslash and the double quote, \u{hex} for invisible, unassigned and private-use characters.
void append_quoted_form(std::string& out, std::string_view text);

}  // namespace tarvik::json
