// Reader errors: fixed texts, positions computed from the input when an error is built, display
// text and the "invalid type" message with its quoted form of strings.
#include "json/read/error.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "json/text/float_text.hpp"
#include "json/text/unicode_escape_ranges.hpp"

namespace tarvik::json {

namespace {

struct Position {
  std::uint64_t line;
  std::uint64_t column;
};

// Line and column of the first `count` bytes of `input`, counted only now: the reader keeps no
// counters while it reads.
Position position_of(std::string_view input, std::size_t count) {
  const char* const begin = input.data();
  const char* const end = begin + std::min(count, input.size());
  std::uint64_t line = 1;
  const char* line_start = begin;
  // An empty input may come without a buffer at all, and memchr must not see a null pointer.
  for (const char* p = begin;
       p != end && (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));) {
    ++line;
    line_start = ++p;
  }
  return {line, static_cast<std::uint64_t>(end - line_start)};
}

bool is_escaped_code_point(char32_t c) {
  const auto* const ranges = std::begin(unicode::ESCAPED_RANGES);
  const auto* const ranges_end = std::end(unicode::ESCAPED_RANGES);
  const auto* it = std::upper_bound(
      ranges, ranges_end, c, [](char32_t value, const auto& range) { return value < range.first; });
  return it != ranges && c <= std::prev(it)->last;
}

// Decodes one character of valid UTF-8 at `p` and moves `p` past it. Never reads past `end`.
char32_t next_code_point(const unsigned char*& p, const unsigned char* end) {
  const unsigned char lead = *p++;
  if (lead < 0x80) return lead;
  const int continuation = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  char32_t c = lead & (0x3F >> continuation);
  for (int i = 0; i < continuation && p < end; ++i)
    c = (c << 6) | (*p++ & 0x3F);
  return c;
}

void append_hex(std::string& out, char32_t c) {
  char digits[8];
  char* first = std::end(digits);
  do {
    *--first = "0123456789abcdef"[c & 0xF];
    c >>= 4;
  } while (c != 0);
  out.append(first, std::end(digits));
}

void append_description(std::string& out, const JsonUnexpected& unexpected) {
  struct Describe {
    std::string& out;
    void operator()(JsonUnexpected::Null) const { out += "null"; }
    void operator()(JsonUnexpected::Object) const { out += "map"; }
    void operator()(bool value) const { out += value ? "boolean `true`" : "boolean `false`"; }
    void operator()(std::uint64_t value) const {
      out += "integer `";
      out += std::to_string(value);
      out += '`';
    }
    void operator()(std::int64_t value) const {
      out += "integer `";
      out += std::to_string(value);
      out += '`';
    }
    void operator()(double value) const {
      char text[kMaxFloatText];
      out += "floating point `";
      out.append(text, write_float(value, text));
      out += '`';
    }
    void operator()(std::string_view text) const {
      out += "string ";
      append_quoted_form(out, text);
    }
  };
  std::visit(Describe{out}, unexpected.found);
}

}  // namespace

std::string_view error_code_text(ErrorCode code) {
  switch (code) {
    case ErrorCode::Message:
      return {};
    case ErrorCode::EofWhileParsingList:
      return "EOF while parsing a list";
    case ErrorCode::EofWhileParsingObject:
      return "EOF while parsing an object";
    case ErrorCode::EofWhileParsingString:
      return "EOF while parsing a string";
    case ErrorCode::EofWhileParsingValue:
      return "EOF while parsing a value";
    case ErrorCode::ExpectedColon:
      return "expected `:`";
    case ErrorCode::ExpectedListCommaOrEnd:
      return "expected `,` or `]`";
    case ErrorCode::ExpectedObjectCommaOrEnd:
      return "expected `,` or `}`";
    case ErrorCode::ExpectedSomeIdent:
      return "expected ident";
    case ErrorCode::ExpectedSomeValue:
      return "expected value";
    case ErrorCode::InvalidEscape:
      return "invalid escape";
    case ErrorCode::InvalidNumber:
      return "invalid number";
    case ErrorCode::NumberOutOfRange:
      return "number out of range";
    case ErrorCode::InvalidUnicodeCodePoint:
      return "invalid unicode code point";
    case ErrorCode::ControlCharacterWhileParsingString:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case ErrorCode::KeyMustBeAString:
      return "key must be a string";
    case ErrorCode::LoneLeadingSurrogateInHexEscape:
      return "lone leading surrogate in hex escape";
    case ErrorCode::TrailingComma:
      return "trailing comma";
    case ErrorCode::TrailingCharacters:
      return "trailing characters";
    case ErrorCode::UnexpectedEndOfHexEscape:
      return "unexpected end of hex escape";
    case ErrorCode::RecursionLimitExceeded:
      return "recursion limit exceeded";
  }
  return {};
}

std::string Error::display() const {
  std::string out(text());
  if (line_ != 0) {
    out += " at line ";
    out += std::to_string(line_);
    out += " column ";
    out += std::to_string(column_);
  }
  return out;
}

Error syntax(ErrorCode code, std::uint64_t line, std::uint64_t column) {
  return Error(code, line, column);
}

Error error(std::string_view input, std::size_t read_position, ErrorCode code) {
  const Position at = position_of(input, read_position);
  return syntax(code, at.line, at.column);
}

Error peek_error(std::string_view input, std::size_t read_position, ErrorCode code) {
  const Position at = position_of(input, read_position + 1);
  return syntax(code, at.line, at.column);
}

Error fix_position(Error err, std::string_view input, std::size_t read_position) {
  if (err.line() != 0) return err;
  const Position at = position_of(input, read_position);
  err.line_ = at.line;
  err.column_ = at.column;
  return err;
}

Error invalid_type(const JsonUnexpected& unexpected) {
  std::string message = "invalid type: ";
  append_description(message, unexpected);
  message += ", expected a sequence";
  return Error(ErrorCode::Message, 0, 0, std::move(message));
}

void append_quoted_form(std::string& out, std::string_view text) {
  out += '"';
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    const auto* const start = p;
    const char32_t c = next_code_point(p, end);
    switch (c) {
      case 0:
        out += "\\0";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        if (is_escaped_code_point(c)) {
          out += "\\u{";
          append_hex(out, c);
          out += '}';
        } else {
          out.append(reinterpret_cast<const char*>(start), p - start);
        }
    }
  }
  out += '"';
}

}  // namespace tarvik::json
