// Reader errors: every kind with its position, the display text, the "invalid type" message
// for a payload that is not an array, and the quoted form of strings in that message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/read/error.hpp"
#include "json/read/reader.hpp"

namespace tarvik::json {
namespace {

using namespace std::string_literals;

// The display text of the error that reading `input` gives, or "accepted".
std::string read_error(std::string_view input) {
  Arena arena;
  auto result = parse_value_list(input, arena);
  if (result.ok()) return "accepted";
  EXPECT_GE(result.error().line(), 1u) << "every returned error has a position";
  return result.error().display();
}

struct ErrorCase {
  std::string input;
  std::string expected;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.input);
}

class ReaderErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ReaderErrors, DisplayKindAndPosition) {
  EXPECT_EQ(read_error(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Structure, ReaderErrors,
    ::testing::Values(ErrorCase{"", "EOF while parsing a value at line 1 column 0"},
                      ErrorCase{"   ", "EOF while parsing a value at line 1 column 3"},
                      ErrorCase{"x", "expected value at line 1 column 1"},
                      ErrorCase{"\xEF\xBB\xBF[]", "expected value at line 1 column 1"},
                      ErrorCase{"\f[]", "expected value at line 1 column 1"},
                      ErrorCase{"[1,]", "trailing comma at line 1 column 4"},
                      ErrorCase{"[1 2]", "expected `,` or `]` at line 1 column 4"},
                      ErrorCase{"[1,", "EOF while parsing a value at line 1 column 3"},
                      ErrorCase{"[1, \n", "EOF while parsing a value at line 2 column 0"},
                      ErrorCase{"[1", "EOF while parsing a list at line 1 column 2"},
                      ErrorCase{"[", "EOF while parsing a list at line 1 column 1"},
                      ErrorCase{"[] x", "trailing characters at line 1 column 4"},
                      ErrorCase{"[]\f", "trailing characters at line 1 column 3"},
                      ErrorCase{"[][]", "trailing characters at line 1 column 3"},
                      ErrorCase{"[\n1,\n2\n", "EOF while parsing a list at line 4 column 0"},
                      ErrorCase{R"([{"a":1}{"b":2}])", "expected `,` or `]` at line 1 column 9"},
                      ErrorCase{"[1]\n\n  ]", "trailing characters at line 3 column 3"},
                      ErrorCase{"[,1]", "expected value at line 1 column 2"},
                      ErrorCase{"[1,,2]", "expected value at line 1 column 4"},
                      ErrorCase{"[+1]", "expected value at line 1 column 2"},
                      ErrorCase{"[.5]", "expected value at line 1 column 2"},
                      ErrorCase{"[True]", "expected value at line 1 column 2"},
                      ErrorCase{"[1]\r\r ]", "trailing characters at line 1 column 7"},
                      ErrorCase{R"([{"a" 1}])", "expected `:` at line 1 column 7"},
                      ErrorCase{R"([{"a":1,}])", "trailing comma at line 1 column 9"},
                      ErrorCase{"[{1:2}]", "key must be a string at line 1 column 3"},
                      ErrorCase{"[{,}]", "key must be a string at line 1 column 3"},
                      ErrorCase{R"([{"a":1,,}])", "key must be a string at line 1 column 9"},
                      ErrorCase{R"([{"a":1,2:3}])", "key must be a string at line 1 column 9"},
                      ErrorCase{R"([{"a":1 "b":2}])", "expected `,` or `}` at line 1 column 9"},
                      ErrorCase{"[{", "EOF while parsing an object at line 1 column 2"},
                      ErrorCase{R"([{"a")", "EOF while parsing an object at line 1 column 5"},
                      ErrorCase{R"([{"a":)", "EOF while parsing a value at line 1 column 6"},
                      ErrorCase{R"([{"a":1)", "EOF while parsing an object at line 1 column 7"},
                      ErrorCase{R"([{"a":1,)", "EOF while parsing a value at line 1 column 8"},
                      ErrorCase{"[tru]", "expected ident at line 1 column 5"},
                      ErrorCase{"[nul", "EOF while parsing a value at line 1 column 4"},
                      ErrorCase{"[nulL]", "expected ident at line 1 column 5"},
                      ErrorCase{"[fals", "EOF while parsing a value at line 1 column 5"},
                      ErrorCase{"[truex]", "expected `,` or `]` at line 1 column 6"},
                      ErrorCase{"[null,nil]", "expected ident at line 1 column 8"},
                      ErrorCase{"[\"\xC3\xA9\" x]", "expected `,` or `]` at line 1 column 7"}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, ReaderErrors,
    ::testing::Values(ErrorCase{"[01]", "invalid number at line 1 column 3"},
                      ErrorCase{"[-01]", "invalid number at line 1 column 4"},
                      ErrorCase{"[-]", "invalid number at line 1 column 3"},
                      ErrorCase{"[- 1]", "invalid number at line 1 column 3"},
                      ErrorCase{"[-a]", "invalid number at line 1 column 3"},
                      ErrorCase{"[-", "EOF while parsing a value at line 1 column 2"},
                      ErrorCase{"[1.]", "invalid number at line 1 column 4"},
                      ErrorCase{"[1.e5]", "invalid number at line 1 column 4"},
                      ErrorCase{"[1.", "EOF while parsing a value at line 1 column 3"},
                      ErrorCase{"[1e]", "invalid number at line 1 column 4"},
                      ErrorCase{"[1e+]", "invalid number at line 1 column 5"},
                      ErrorCase{"[1E-x]", "invalid number at line 1 column 5"},
                      ErrorCase{"[1e", "EOF while parsing a value at line 1 column 3"},
                      ErrorCase{"[1e-", "EOF while parsing a value at line 1 column 4"},
                      ErrorCase{"[1e400]", "number out of range at line 1 column 6"},
                      ErrorCase{"[-1e400]", "number out of range at line 1 column 7"},
                      ErrorCase{"[1e309]", "number out of range at line 1 column 6"},
                      ErrorCase{"[2e308]", "number out of range at line 1 column 6"},
                      ErrorCase{"[1.8e308]", "number out of range at line 1 column 8"},
                      ErrorCase{"[0.01e311]", "number out of range at line 1 column 9"},
                      ErrorCase{"[1e2147483647]", "number out of range at line 1 column 13"},
                      // The exponent leaves 32 bits at its tenth digit; the rest is not read.
                      ErrorCase{"[1e2147483648]", "number out of range at line 1 column 13"},
                      ErrorCase{"[1e21474836480000]", "number out of range at line 1 column 13"},
                      ErrorCase{"[1e+9999999999]", "number out of range at line 1 column 14"},
                      ErrorCase{"[1" + std::string(400, '0') + "]",
                                "number out of range at line 1 column 402"},
                      ErrorCase{"[1e1 2]", "expected `,` or `]` at line 1 column 6"}));

INSTANTIATE_TEST_SUITE_P(
    Strings, ReaderErrors,
    ::testing::Values(
        ErrorCase{"[\"a\nb\"]",
                  "control character (\\u0000-\\u001F) found while parsing a string at line 2 "
                  "column 0"},
        ErrorCase{"[\"a\tb\"]",
                  "control character (\\u0000-\\u001F) found while parsing a string at line 1 "
                  "column 4"},
        ErrorCase{"[\"\x1F\"]",
                  "control character (\\u0000-\\u001F) found while parsing a string at line 1 "
                  "column 3"},
        ErrorCase{"[\"\0\"]"s,
                  "control character (\\u0000-\\u001F) found while parsing a string at line 1 "
                  "column 3"},
        ErrorCase{R"(["\x"])", "invalid escape at line 1 column 4"},
        ErrorCase{R"(["\U0041"])", "invalid escape at line 1 column 4"},
        ErrorCase{R"(["\u12"])", "invalid escape at line 1 column 8"},
        ErrorCase{R"(["\uZZZZ"])", "invalid escape at line 1 column 8"},
        ErrorCase{R"(["\u00g0"])", "invalid escape at line 1 column 8"},
        ErrorCase{R"(["\u12)", "EOF while parsing a string at line 1 column 6"},
        ErrorCase{R"(["\)", "EOF while parsing a string at line 1 column 3"},
        ErrorCase{R"(["a)", "EOF while parsing a string at line 1 column 3"},
        ErrorCase{R"(["a\n)", "EOF while parsing a string at line 1 column 5"},
        ErrorCase{R"([")", "EOF while parsing a string at line 1 column 2"},
        ErrorCase{R"(["\ud800"])", "unexpected end of hex escape at line 1 column 9"},
        ErrorCase{R"(["\ud800x"])", "unexpected end of hex escape at line 1 column 9"},
        ErrorCase{R"(["\ud800\x"])", "unexpected end of hex escape at line 1 column 10"},
        ErrorCase{R"(["\ud800\n"])", "unexpected end of hex escape at line 1 column 10"},
        ErrorCase{R"(["\ud800)", "EOF while parsing a string at line 1 column 8"},
        ErrorCase{R"(["\ud800\)", "EOF while parsing a string at line 1 column 9"},
        ErrorCase{R"(["\ud800\u12"])", "invalid escape at line 1 column 14"},
        ErrorCase{R"(["\ud800\u)", "EOF while parsing a string at line 1 column 10"},
        ErrorCase{R"(["\udc00"])", "lone leading surrogate in hex escape at line 1 column 8"},
        ErrorCase{R"(["\uDFFF"])", "lone leading surrogate in hex escape at line 1 column 8"},
        ErrorCase{R"(["\ud800\u0041"])",
                  "lone leading surrogate in hex escape at line 1 column 14"},
        ErrorCase{R"(["\ud800\ud800"])",
                  "lone leading surrogate in hex escape at line 1 column 14"},
        ErrorCase{R"(["\udbff\ue000"])",
                  "lone leading surrogate in hex escape at line 1 column 14"},
        // An escape error comes before the check of the string's UTF-8, which needs the whole.
        ErrorCase{"[\"\xFF\\x\"]", "invalid escape at line 1 column 5"},
        ErrorCase{"[\"\xFF\n\"]",
                  "control character (\\u0000-\\u001F) found while parsing a string at line 2 "
                  "column 0"},
        ErrorCase{"[\"\xFF", "EOF while parsing a string at line 1 column 3"},
        ErrorCase{"[{\"\xC3\":1}]", "invalid unicode code point at line 1 column 5"}));

// Each malformed UTF-8 form inside a string, alone and next to escapes.
INSTANTIATE_TEST_SUITE_P(
    InvalidUtf8, ReaderErrors,
    ::testing::Values(
        ErrorCase{"[\"\xFF\"]", "invalid unicode code point at line 1 column 4"},
        ErrorCase{"[\"\x80\"]", "invalid unicode code point at line 1 column 4"},
        ErrorCase{"[\"\xC0\x80\"]", "invalid unicode code point at line 1 column 5"},
        ErrorCase{"[\"\xC1\xBF\"]", "invalid unicode code point at line 1 column 5"},
        ErrorCase{"[\"\xE0\x80\x80\"]", "invalid unicode code point at line 1 column 6"},
        ErrorCase{"[\"\xE0\x9F\xBF\"]", "invalid unicode code point at line 1 column 6"},
        ErrorCase{"[\"\xF0\x80\x80\x80\"]", "invalid unicode code point at line 1 column 7"},
        ErrorCase{"[\"\xF0\x8F\xBF\xBF\"]", "invalid unicode code point at line 1 column 7"},
        ErrorCase{"[\"\xED\xA0\x80\"]", "invalid unicode code point at line 1 column 6"},
        ErrorCase{"[\"\xED\xBF\xBF\"]", "invalid unicode code point at line 1 column 6"},
        ErrorCase{"[\"\xF4\x90\x80\x80\"]", "invalid unicode code point at line 1 column 7"},
        ErrorCase{"[\"\xF5\x80\x80\x80\"]", "invalid unicode code point at line 1 column 7"},
        ErrorCase{"[\"\xF8\x88\x80\x80\x80\"]", "invalid unicode code point at line 1 column 8"},
        ErrorCase{"[\"\xC3\"]", "invalid unicode code point at line 1 column 4"},
        ErrorCase{"[\"\xE2\x82\"]", "invalid unicode code point at line 1 column 5"},
        ErrorCase{"[\"\xF0\x9F\x98\"]", "invalid unicode code point at line 1 column 6"},
        ErrorCase{"[\"\xC3\x41\"]", "invalid unicode code point at line 1 column 5"},
        ErrorCase{"[\"\xE2\x28\xA1\"]", "invalid unicode code point at line 1 column 6"},
        ErrorCase{"[\"\xC3\\u00e9\"]", "invalid unicode code point at line 1 column 10"},
        ErrorCase{"[\"\\u00e9\xA9\"]", "invalid unicode code point at line 1 column 10"},
        ErrorCase{"[\"abcdefghijklmnop\xC3\"]", "invalid unicode code point at line 1 column 20"}));

// A payload that is not an array: what was found, stamped just past it (at a "{" itself).
INSTANTIATE_TEST_SUITE_P(
    WrongTopLevelType, ReaderErrors,
    ::testing::Values(
        ErrorCase{"{}", "invalid type: map, expected a sequence at line 1 column 0"},
        ErrorCase{"  {\"a\":1}", "invalid type: map, expected a sequence at line 1 column 2"},
        ErrorCase{"{", "invalid type: map, expected a sequence at line 1 column 0"},
        ErrorCase{"null", "invalid type: null, expected a sequence at line 1 column 4"},
        ErrorCase{"nullx", "invalid type: null, expected a sequence at line 1 column 4"},
        ErrorCase{"true", "invalid type: boolean `true`, expected a sequence at line 1 column 4"},
        ErrorCase{"false", "invalid type: boolean `false`, expected a sequence at line 1 column 5"},
        ErrorCase{"12", "invalid type: integer `12`, expected a sequence at line 1 column 2"},
        ErrorCase{"-3", "invalid type: integer `-3`, expected a sequence at line 1 column 2"},
        ErrorCase{"18446744073709551615",
                  "invalid type: integer `18446744073709551615`, expected a sequence at line 1 "
                  "column 20"},
        ErrorCase{"-9223372036854775808",
                  "invalid type: integer `-9223372036854775808`, expected a sequence at line 1 "
                  "column 20"},
        ErrorCase{"1.5",
                  "invalid type: floating point `1.5`, expected a sequence at line 1 column 3"},
        ErrorCase{"-0",
                  "invalid type: floating point `-0.0`, expected a sequence at line 1 column 2"},
        ErrorCase{"1e-400",
                  "invalid type: floating point `0.0`, expected a sequence at line 1 column 6"},
        ErrorCase{"3e23",
                  "invalid type: floating point `3e+23`, expected a sequence at line 1 column 4"},
        ErrorCase{"\n\n  12 ",
                  "invalid type: integer `12`, expected a sequence at line 3 column 4"},
        ErrorCase{R"("ab")",
                  R"(invalid type: string "ab", expected a sequence at line 1 column 4)"},
        ErrorCase{R"("a\tb")",
                  R"(invalid type: string "a\tb", expected a sequence at line 1 column 6)"},
        ErrorCase{R"("\u00a0'")",
                  R"(invalid type: string "\u{a0}'", expected a sequence at line 1 column 9)"},
        // Errors while reading the wrong value are returned as they are.
        ErrorCase{"tru", "EOF while parsing a value at line 1 column 3"},
        ErrorCase{"nulL", "expected ident at line 1 column 4"},
        ErrorCase{"-", "EOF while parsing a value at line 1 column 1"},
        ErrorCase{"01", "invalid number at line 1 column 2"},
        ErrorCase{"1e400", "number out of range at line 1 column 5"},
        ErrorCase{R"("a)", "EOF while parsing a string at line 1 column 2"},
        ErrorCase{"\"\xFF\"", "invalid unicode code point at line 1 column 3"},
        ErrorCase{"]", "expected value at line 1 column 1"}));

// 127 levels are accepted on any path, the top-level array counting as level 1; the 128th
// opening bracket fails at its own position, whatever the brackets elsewhere.
std::string nested(int levels, std::string_view open, std::string_view close) {
  std::string text;
  for (int i = 0; i < levels; ++i)
    text += open;
  for (int i = 0; i < levels; ++i)
    text += close;
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Depth, ReaderErrors,
    ::testing::Values(
        ErrorCase{nested(127, "[", "]"), "accepted"},
        ErrorCase{std::string(128, '['), "recursion limit exceeded at line 1 column 128"},
        ErrorCase{nested(128, "[", "]"), "recursion limit exceeded at line 1 column 128"},
        ErrorCase{"[" + nested(63, R"({"a":[)", "]}") + "]", "accepted"},
        ErrorCase{"[" + nested(63, R"({"a":[)", "]}").insert(63 * 6, "{}") + "]",
                  "recursion limit exceeded at line 1 column 380"},
        ErrorCase{"[" + nested(126, "[", "]") + "," + nested(126, "[", "]") + "]", "accepted"},
        ErrorCase{"[" + nested(126, "[", "]") + ",[" + nested(126, "[", "]") + "]]",
                  "recursion limit exceeded at line 1 column 381"}));

TEST(ErrorDisplay, TextWithPositionOrAlone) {
  EXPECT_EQ(syntax(ErrorCode::TrailingComma, 1, 4).display(), "trailing comma at line 1 column 4");
  EXPECT_EQ(syntax(ErrorCode::RecursionLimitExceeded, 0, 7).display(), "recursion limit exceeded");
  EXPECT_EQ(syntax(ErrorCode::NumberOutOfRange, 18446744073709551615u, 0).display(),
            "number out of range at line 18446744073709551615 column 0");
}

struct PositionCase {
  std::string input;
  std::size_t read_position;
  bool peek;
  std::uint64_t line;
  std::uint64_t column;
};

TEST(ErrorPosition, CountsLineFeedsAndBytesWhenBuilt) {
  const PositionCase cases[] = {
      {"", 0, true, 1, 0},        {"abc", 3, true, 1, 3},         {"abc", 3, false, 1, 3},
      {"abc", 1, true, 1, 2},     {"abc", 1, false, 1, 1},        {"a\nb", 2, false, 2, 0},
      {"a\nb", 1, true, 2, 0},    {"[\n1,\n2\n", 7, false, 4, 0}, {"x\n\xC3\xA9y", 4, true, 2, 3},
      {"a\r\rb", 3, false, 1, 3}, {"\t\tx", 2, true, 1, 3},
  };
  for (const PositionCase& c : cases) {
    const Error err = c.peek ? peek_error(c.input, c.read_position, ErrorCode::ExpectedSomeValue)
                             : error(c.input, c.read_position, ErrorCode::ExpectedSomeValue);
    EXPECT_EQ(err.line(), c.line) << ::testing::PrintToString(c.input) << " " << c.read_position;
    EXPECT_EQ(err.column(), c.column)
        << ::testing::PrintToString(c.input) << " " << c.read_position;
  }
}

// Whitespace runs of every length and mix, ending anywhere within a block of sixteen bytes and
// at the end of the input: skipped up to the first other byte, which errors then locate.
TEST(ErrorPosition, AfterWhitespaceRunsOfEveryLength) {
  const std::string kinds = " \n\t\r";
  for (std::size_t length = 0; length <= 40; ++length) {
    std::string run;
    for (std::size_t i = 0; i < length; ++i)
      run += kinds[(i * 7 + length) % kinds.size()];
    const std::string before = "[1," + run;
    const std::size_t line_start =
        before.rfind('\n') == std::string::npos ? 0 : before.rfind('\n') + 1;
    const std::string at =
        " at line " + std::to_string(1 + std::ranges::count(before, '\n')) + " column ";
    const std::size_t column = before.size() - line_start;
    EXPECT_EQ(read_error(before + "]"), "trailing comma" + at + std::to_string(column + 1));
    EXPECT_EQ(read_error(before), "EOF while parsing a value" + at + std::to_string(column));
    EXPECT_EQ(read_error(run + "[" + run + "1" + run + "," + run + "{" + run + "\"a\"" + run + ":" +
                         run + "[" + run + "]" + run + "}" + run + "]" + run),
              "accepted")
        << length;
  }
}

TEST(ErrorPosition, FixPositionStampsOnlyErrorsWithoutOne) {
  const Error placed = fix_position(syntax(ErrorCode::TrailingComma, 2, 5), "a\nbcdefg", 1);
  EXPECT_EQ(placed.line(), 2u);
  EXPECT_EQ(placed.column(), 5u);

  const Error stamped = fix_position(invalid_type({JsonUnexpected::Null{}}), "a\nbcdefg", 6);
  EXPECT_EQ(stamped.code(), ErrorCode::Message);
  EXPECT_EQ(stamped.display(), "invalid type: null, expected a sequence at line 2 column 4");
}

TEST(InvalidType, DescribesEachKindWithoutPosition) {
  const struct {
    JsonUnexpected found;
    std::string expected;
  } cases[] = {
      {{JsonUnexpected::Null{}}, "invalid type: null, expected a sequence"},
      {{true}, "invalid type: boolean `true`, expected a sequence"},
      {{false}, "invalid type: boolean `false`, expected a sequence"},
      {{std::uint64_t{0}}, "invalid type: integer `0`, expected a sequence"},
      {{std::int64_t{-3}}, "invalid type: integer `-3`, expected a sequence"},
      {{1.5}, "invalid type: floating point `1.5`, expected a sequence"},
      {{1e16}, "invalid type: floating point `1e+16`, expected a sequence"},
      {{std::string_view("ab")}, R"(invalid type: string "ab", expected a sequence)"},
      {{JsonUnexpected::Object{}}, "invalid type: map, expected a sequence"},
  };
  for (const auto& c : cases) {
    const Error err = invalid_type(c.found);
    EXPECT_EQ(err.line(), 0u);
    EXPECT_EQ(err.display(), c.expected);
  }
}

struct QuotedCase {
  std::string text;
  std::string quoted;
};

void PrintTo(const QuotedCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.text);
}

class QuotedForm : public ::testing::TestWithParam<QuotedCase> {};

TEST_P(QuotedForm, EscapesInvisibleAndUnassignedCharacters) {
  std::string out;
  append_quoted_form(out, GetParam().text);
  EXPECT_EQ(out, GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, QuotedForm,
    ::testing::Values(
        QuotedCase{"ab", R"("ab")"}, QuotedCase{"", R"("")"}, QuotedCase{"a\tb", R"("a\tb")"},
        QuotedCase{"\r\n", R"("\r\n")"}, QuotedCase{"'", R"("'")"}, QuotedCase{"\\\"", R"("\\\"")"},
        QuotedCase{"a b", R"("a b")"}, QuotedCase{"\0x"s, R"("\0x")"},
        // C0 and C1 controls and DEL.
        QuotedCase{"\x01\x1F", R"("\u{1}\u{1f}")"}, QuotedCase{"\x7F", R"("\u{7f}")"},
        QuotedCase{"\xC2\x85\xC2\x9F", R"("\u{85}\u{9f}")"},
        // White_Space other than the space.
        QuotedCase{"\xC2\xA0", R"("\u{a0}")"}, QuotedCase{"\xE2\x80\xA8", R"("\u{2028}")"},
        QuotedCase{"\xE3\x80\x80", R"("\u{3000}")"}, QuotedCase{"\x0B\x0C", R"("\u{b}\u{c}")"},
        // Grapheme_Extend, escaped wherever it stands.
        QuotedCase{"e\xCC\x81", R"("e\u{301}")"}, QuotedCase{"\xEF\xB8\x8F", R"("\u{fe0f}")"},
        // Default_Ignorable_Code_Point and format characters (Cf).
        QuotedCase{"\xE2\x80\x8B", R"("\u{200b}")"}, QuotedCase{"\xE2\x80\x8D", R"("\u{200d}")"},
        QuotedCase{"\xC2\xAD", R"("\u{ad}")"}, QuotedCase{"\xEF\xBB\xBF", R"("\u{feff}")"},
        QuotedCase{"\xE1\x85\x9F", R"("\u{115f}")"},
        QuotedCase{"\xF3\xA0\x80\x81", R"("\u{e0001}")"},
        // Private use.
        QuotedCase{"\xEE\x80\x80", R"("\u{e000}")"}, QuotedCase{"\xEF\xA3\xBF", R"("\u{f8ff}")"},
        QuotedCase{"\xF3\xB0\x80\x80", R"("\u{f0000}")"},
        QuotedCase{"\xF4\x8F\xBF\xBD", R"("\u{10fffd}")"},
        // Unassigned code points, noncharacters included.
        QuotedCase{"\xCD\xB8", R"("\u{378}")"}, QuotedCase{"\xEF\xBF\xBF", R"("\u{ffff}")"},
        QuotedCase{"\xEF\xB7\x90", R"("\u{fdd0}")"},
        QuotedCase{"\xF4\x8F\xBF\xBF", R"("\u{10ffff}")"},
        // Visible characters stay as they are, U+1F6DC (assigned in Unicode 15.0) included.
        QuotedCase{"\xC3\xA9", "\"\xC3\xA9\""},
        QuotedCase{"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
        QuotedCase{"\xE6\x97\xA5\xE6\x9C\xAC", "\"\xE6\x97\xA5\xE6\x9C\xAC\""},
        QuotedCase{"\xF0\x9F\x9B\x9C", "\"\xF0\x9F\x9B\x9C\""},
        QuotedCase{"\xE2\x82\xAC", "\"\xE2\x82\xAC\""}));

}  // namespace
}  // namespace tarvik::json
