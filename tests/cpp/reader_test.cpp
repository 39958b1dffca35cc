// The reader on valid input: structure, number forms and the fixed conversion procedure,
// strings (escapes, surrogate pairs, raw UTF-8, the 8-byte scan), repeated keys and nesting.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "documents.hpp"
#include "json/memory/buffer.hpp"
#include "json/read/deferred.hpp"
#include "json/read/reader.hpp"
#include "json/text/pow10.hpp"
#include "json/write/writer.hpp"

namespace tarvik::testing {
namespace {

using json::Kind;
using json::NumberForm;
using json::parse_value_list;
using namespace std::string_literals;

// Plain strings refer into the input, so the input is kept in the arena beside the values.
std::vector<Value> parse(std::string_view text, Arena& arena) {
  const std::string_view input = arena.copy_string(text);
  auto result = parse_value_list(input, arena);
  if (!result.ok()) {
    ADD_FAILURE() << ::testing::PrintToString(std::string(input)) << ": "
                  << result.error().display();
    return {};
  }
  return std::move(result).value();
}

// The only element of the one-element array `[text]`.
Value parse_single(std::string_view text, Arena& arena) {
  const std::vector<Value> list = parse("[" + std::string(text) + "]", arena);
  EXPECT_EQ(list.size(), 1u) << text;
  return list.empty() ? Value() : list[0];
}

std::string serialize(const Value& value) {
  json::Buffer out;
  json::serialize_value(value, out);
  return std::string(out.view());
}

// --- structure ------------------------------------------------------------------------------

TEST(ReaderStructure, ReadsTheTopLevelArrayWithWhitespaceAround) {
  Arena arena;
  const Builder b(arena);
  EXPECT_TRUE(parse("[]", arena).empty());
  EXPECT_TRUE(parse(" \t\r\n[ \t\r\n] \t\r\n", arena).empty());

  const std::vector<Value> two = parse(" [ 1 , 2 ] \n", arena);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0], uint_(1));
  EXPECT_EQ(two[1], uint_(2));

  const std::vector<Value> mixed =
      parse(R"([null,true,false,"s",[],{},[1,[2]],{"a":{"b":null}},-1,0.5])", arena);
  const std::vector<Value> expected = {Value::null(),
                                       Value::boolean(true),
                                       Value::boolean(false),
                                       b.str("s"),
                                       b.arr({}),
                                       b.obj({}),
                                       b.arr({uint_(1), b.arr({uint_(2)})}),
                                       b.obj({{"a", b.obj({{"b", Value::null()}})}}),
                                       int_(-1),
                                       float_(0.5)};
  EXPECT_EQ(mixed, expected);
  EXPECT_EQ(mixed[4].kind(), Kind::Array);
  EXPECT_EQ(mixed[5].kind(), Kind::Object);
}

// A line break and an indentation of spaces of every length, before every kind of byte, read as
// the same text indented with tabs, which the reader passes over byte by byte: the same values,
// or the same error at the same place.
TEST(ReaderStructure, IndentationsOfSpacesReadAsIndentationsOfTabs) {
  const std::string tail = R"(],"a string after the indentation, to read it in blocks"])";
  for (std::size_t width = 0; width <= 40; ++width) {
    for (const std::string_view next : {"2", "{}", "\t2", "\r\n2", "\n 2", "x", ",2", ""}) {
      const std::string laid = "[[1,\n" + std::string(width, ' ') + std::string(next);
      const std::string spaces = laid + tail;
      const std::string tabs = "[[1,\n" + std::string(width, '\t') + std::string(next) + tail;
      SCOPED_TRACE(spaces);
      Arena arena;
      const auto by_spaces = parse_value_list(spaces, arena);
      const auto by_tabs = parse_value_list(tabs, arena);
      ASSERT_EQ(by_spaces.ok(), by_tabs.ok());
      if (by_spaces.ok()) {
        EXPECT_EQ(by_spaces.value(), by_tabs.value());
      } else {
        EXPECT_EQ(by_spaces.error().display(), by_tabs.error().display());
      }
    }
  }
}

// Many rows with nested arrays and objects share the scratch stacks: every row must come out
// whole, in order, and unaffected by the rows around it.
TEST(ReaderStructure, KeepsEveryElementThroughSharedScratchStacks) {
  std::string input = "[";
  for (int row = 0; row < 500; ++row) {
    if (row != 0) input += ",";
    input += R"({"id":)" + std::to_string(row) + R"(,"tags":[)" + std::to_string(row) +
             R"(,[],{"n":[)" + std::to_string(row * 2) + R"(]}],"last":)" +
             std::to_string(row + 1) + "}";
  }
  input += "]";
  Arena arena;
  const std::vector<Value> rows = parse(input, arena);
  ASSERT_EQ(rows.size(), 500u);
  const Builder b(arena);
  for (int row = 0; row < 500; ++row) {
    const auto n = static_cast<std::uint64_t>(row);
    const Value expected =
        b.obj({{"id", uint_(n)},
               {"tags", b.arr({uint_(n), b.arr({}), b.obj({{"n", b.arr({uint_(2 * n)})}})})},
               {"last", uint_(n + 1)}});
    ASSERT_EQ(rows[row], expected) << row;
  }
}

TEST(ReaderStructure, LiteralNeedsNoDelimiterInsideAnObject) {
  Arena arena;
  const Builder b(arena);
  EXPECT_EQ(parse_single(R"({"a":true,"b":false,"c":null})", arena),
            b.obj({{"a", Value::boolean(true)}, {"b", Value::boolean(false)}, {"c", Value()}}));
}

// The last value of a repeated key wins, at the position where the key first appeared; keys
// compare after their escapes are resolved. The larger maps go through the hashed index.
TEST(ReaderStructure, RepeatedKeysKeepTheirFirstPosition) {
  Arena arena;
  const Value small = parse_single(R"({"a":1,"b":2,"a":3})", arena);
  ASSERT_EQ(small.as_object().size(), 2u);
  EXPECT_EQ(serialize(small), R"({"a":3,"b":2})");

  EXPECT_EQ(serialize(parse_single(R"({"a":1,"\u0061":2})", arena)), R"({"a":2})");
  EXPECT_EQ(serialize(parse_single(R"({"A":1,"a":2})", arena)), R"({"A":1,"a":2})");

  std::string text = "{";
  std::string expected = "{";
  for (int i = 0; i < 20; ++i) {
    text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    expected += "\"k" + std::to_string(i) + "\":" + std::to_string(i == 5 ? 105 : i) + ",";
  }
  text += R"("k5":105,"k\u0035":105})";
  expected.back() = '}';
  const Value large = parse_single(text, arena);
  EXPECT_EQ(large.as_object().size(), 20u);
  EXPECT_EQ(serialize(large), expected);
}

TEST(ReaderStructure, NestsUpTo127Levels) {
  Arena arena;
  const std::vector<Value> list = parse(std::string(127, '[') + std::string(127, ']'), arena);
  ASSERT_EQ(list.size(), 1u);
  int levels = 1;  // the top-level array itself
  for (Value v = list[0];; v = v.as_array()[0]) {
    ++levels;
    ASSERT_EQ(v.kind(), Kind::Array);
    if (v.as_array().empty()) break;
    ASSERT_EQ(v.as_array().size(), 1u);
  }
  EXPECT_EQ(levels, 127);
}

// Structure, strings and integers survive a read and a write unchanged. Floats are left out:
// the reader's conversion is not correctly rounded, so a float need not read back to itself.
TEST(ReaderStructure, StructureStringsAndIntegersRoundTrip) {
  const std::string texts[] = {
      R"([])",
      R"([[],{},[[]],{"":{}}])",
      R"([{"z":1,"a":[true,false,null],"m":{"x":"y"}}])",
      R"([0,18446744073709551615,-1,-9223372036854775808,9007199254740993])",
      R"(["","\"\\\b\f\n\r\t","\u0000\u001f","/","é€😀",")"
      "\x7f"
      R"("])",
  };
  for (const std::string& text : texts) {
    Arena arena;
    std::string written = "[";
    for (const Value& element : parse(text, arena)) {
      if (written.size() > 1) written += ",";
      written += serialize(element);
    }
    written += "]";
    EXPECT_EQ(written, text);
  }
}

// --- numbers --------------------------------------------------------------------------------

struct NumberCase {
  std::string text;
  NumberForm form;
  std::uint64_t bits;  // the unsigned value, the two's complement value or the IEEE bits
};

void PrintTo(const NumberCase& c, std::ostream* os) {
  *os << c.text;
}

NumberCase unsigned_case(std::string text, std::uint64_t n) {
  return {std::move(text), NumberForm::NonNegative, n};
}
NumberCase negative_case(std::string text, std::int64_t n) {
  return {std::move(text), NumberForm::Negative, static_cast<std::uint64_t>(n)};
}
NumberCase float_case(std::string text, double d) {
  return {std::move(text), NumberForm::Float, std::bit_cast<std::uint64_t>(d)};
}

class ReaderNumbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ReaderNumbers, FormAndExactBits) {
  Arena arena;
  const Value value = parse_single(GetParam().text, arena);
  ASSERT_EQ(value.kind(), Kind::Number);
  const json::Number n = value.as_number();
  EXPECT_EQ(n.form(), GetParam().form);
  const std::uint64_t bits = n.form() == NumberForm::Float
                                 ? std::bit_cast<std::uint64_t>(n.as_float())
                                 : n.as_non_negative();
  if (n.form() == NumberForm::Float) {
    EXPECT_EQ(bits, GetParam().bits)
        << n.as_float() << " vs " << std::bit_cast<double>(GetParam().bits);
  } else {
    EXPECT_EQ(bits, GetParam().bits);
  }
}

INSTANTIATE_TEST_SUITE_P(
    IntegerBoundaries, ReaderNumbers,
    ::testing::Values(unsigned_case("0", 0), unsigned_case("7", 7),
                      unsigned_case("18446744073709551615", 18446744073709551615u),
                      unsigned_case("9007199254740993", 9007199254740993u), negative_case("-1", -1),
                      negative_case("-9223372036854775807", -9223372036854775807),
                      negative_case("-9223372036854775808", INT64_MIN),
                      // One past each range: a double.
                      float_case("18446744073709551616", 18446744073709551616.0),
                      float_case("-9223372036854775809", -9223372036854775808.0),
                      float_case("-18446744073709551615", -18446744073709551615.0),
                      float_case("-18446744073709551616", -18446744073709551616.0),
                      // "-0" is the float negative zero, never an integer.
                      float_case("-0", -0.0), float_case("-0.0", -0.0), float_case("0.0", 0.0),
                      float_case("1.0", 1.0), float_case("1e2", 100.0), float_case("1E+2", 100.0),
                      float_case("1e-2", 0.01), float_case("100e-2", 1.0), float_case("-1.5", -1.5),
                      float_case("0.1", 0.1), float_case("123.456", 123.456)));

// Every float is the double nearest to its text, ties to even, whatever its length, however
// many digits lie past 64 bits and however far the exponent reaches. (A conversion that rounded
// the significand and then each scaling step would give 2.9999999999999997e+23 for 3e23.)
INSTANTIATE_TEST_SUITE_P(
    CorrectlyRounded, ReaderNumbers,
    ::testing::Values(
        float_case("3e23", 3e23), float_case("1e-23", 1e-23), float_case("7e-30", 7e-30),
        float_case("-59.879722999999956", -59.879722999999956),
        float_case("1.0694155977788245e-269", 1.0694155977788245e-269),
        float_case("123456789012345678901234567890", 123456789012345678901234567890.0),
        float_case("18446744073709551619.5", 18446744073709551619.5),
        float_case("18446744073709551615.0", 18446744073709551615.0),
        float_case("0.12345678901234567890123", 0.12345678901234567890123),
        float_case("1.00000000000000000000000001e5", 100000.0),
        // Halfway between 1 and the next double, and a hair above it: ties to even, then up.
        float_case("1.00000000000000011102230246251565404236316680908203125", 1.0),
        float_case("1.00000000000000011102230246251565404236316680908203126", 0x1.0000000000001p0),
        float_case("9007199254740993.0", 9007199254740992.0),
        float_case("0." + std::string(400, '0') + "1", 0.0),
        // Huge and tiny exponents.
        float_case("1e308", 1e308), float_case("1.7976931348623157e308", 0x1.fffffffffffffp+1023),
        float_case("1.7976931348623158e308", 0x1.fffffffffffffp+1023), float_case("1e-308", 1e-308),
        float_case("2.2250738585072014e-308", 0x1p-1022),
        float_case("5e-324", 0x0.0000000000001p-1022), float_case("2.5e-324", 0x1p-1074),
        float_case("2.4e-324", 0.0), float_case("1e-320", 1e-320), float_case("1e-400", 0.0),
        float_case("-1e-400", -0.0), float_case("0e999", 0.0), float_case("-0e999", -0.0),
        float_case("0.0e400", 0.0), float_case("1e-2147483647", 0.0),
        float_case("0.1e-2147483647", 0.0),
        // Written exponents past the 32-bit range: zero unless large with a non-zero significand.
        float_case("0e2147483648", 0.0), float_case("0e99999999999999999999", 0.0),
        float_case("1e-2147483648", 0.0), float_case("1e-99999999999999999999", 0.0),
        float_case("-1e-99999999999999999999", -0.0),
        float_case("-0e+99999999999999999999", -0.0)));

// Random decimal texts of every length and exponent read as strtod reads them; strtod rounds
// correctly. Texts too large for a double fail with "number out of range".
TEST(ReaderNumbers, AgreesWithStrtodOnRandomTexts) {
  std::mt19937_64 random(20261207);
  for (int i = 0; i < 200000; ++i) {
    std::string text = random() % 2 ? "-" : "";
    const int integer_digits = 1 + static_cast<int>(random() % 25);
    text += static_cast<char>('1' + random() % 9);
    for (int d = 1; d < integer_digits; ++d)
      text += static_cast<char>('0' + random() % 10);
    if (random() % 2) {
      text += '.';
      const int fraction_digits = 1 + static_cast<int>(random() % 25);
      for (int d = 0; d < fraction_digits; ++d)
        text += static_cast<char>('0' + random() % 10);
    }
    if (random() % 4 != 0) text += "e" + std::to_string(static_cast<int>(random() % 700) - 350);
    const double expected = std::strtod(text.c_str(), nullptr);
    Arena arena;
    auto parsed = parse_value_list("[" + text + "]", arena);
    if (std::isinf(expected)) {
      ASSERT_FALSE(parsed.ok()) << text;
      EXPECT_EQ(parsed.error().code(), json::ErrorCode::NumberOutOfRange) << text;
      continue;
    }
    ASSERT_TRUE(parsed.ok()) << text;
    const Number n = parsed.value()[0].as_number();
    if (n.form() != NumberForm::Float) continue;  // integers in range keep their integer forms
    ASSERT_EQ(std::bit_cast<std::uint64_t>(n.as_float()), std::bit_cast<std::uint64_t>(expected))
        << text;
  }
}

// Digits are taken several at a time where eight bytes can be read: every length must come out
// whole, whether the input ends soon after the number or not, and the run must stop at the
// bytes next to the digits ('/', ':') and at a digit with its high bit set.
TEST(ReaderNumbers, ReadsDigitRunsOfEveryLength) {
  const std::string digits = "12345678901234567890";
  for (std::size_t n = 1; n <= digits.size(); ++n) {
    const std::string prefix = digits.substr(0, n);
    const std::uint64_t value = std::stoull(prefix);
    for (const std::string padding : {"", "                "}) {
      Arena arena;
      EXPECT_EQ(parse_single(prefix + padding, arena), uint_(value)) << prefix;
      const Value fraction = parse_single("0." + prefix + padding, arena);
      EXPECT_EQ(std::bit_cast<std::uint64_t>(fraction.as_number().as_float()),
                std::bit_cast<std::uint64_t>(std::strtod(("0." + prefix).c_str(), nullptr)))
          << prefix;
      EXPECT_EQ(parse_single("1e" + prefix.substr(0, std::min<std::size_t>(n, 3)) + padding, arena)
                    .as_number()
                    .form(),
                NumberForm::Float);
    }
    for (const char next : {'/', ':', 'a', '\xB0'}) {
      Arena arena;
      auto failed = parse_value_list("[" + prefix + next + "          ]", arena);
      ASSERT_FALSE(failed.ok());
      EXPECT_EQ(failed.error().display(),
                "expected `,` or `]` at line 1 column " + std::to_string(n + 2))
          << prefix << next;
    }
  }
}

// POW10[i] is 10^i exactly: each entry ten times the one before, all equal to strtod's.
TEST(ReaderNumbers, Pow10HoldsExactPowers) {
  for (int i = 0; i <= 22; ++i) {
    const std::string text = "1e" + std::to_string(i);
    EXPECT_EQ(json::POW10[i], std::strtod(text.c_str(), nullptr)) << i;
    if (i > 0) {
      EXPECT_EQ(json::POW10[i], json::POW10[i - 1] * 10) << i;
    }
  }
}

// --- strings --------------------------------------------------------------------------------

struct StringCase {
  std::string text;      // the JSON string literal, quotes included
  std::string expected;  // its bytes
};

void PrintTo(const StringCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.text);
}

class ReaderStrings : public ::testing::TestWithParam<StringCase> {};

TEST_P(ReaderStrings, DecodesToTheExpectedBytes) {
  Arena arena;
  const Value value = parse_single(GetParam().text, arena);
  ASSERT_EQ(value.kind(), Kind::String);
  EXPECT_EQ(value.as_string(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, ReaderStrings,
    ::testing::Values(
        StringCase{R"("")", ""}, StringCase{R"("abc")", "abc"},
        StringCase{R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"}, StringCase{R"("\u0000")", "\0"s},
        StringCase{R"("a\u0000b")", "a\0b"s},
        StringCase{R"("\u0041\u00e9\u00E9")", "A\xC3\xA9\xC3\xA9"},
        StringCase{R"("\u07ff\u0800\uffff")", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        StringCase{R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
        StringCase{R"("\uD834\uDD1E")", "\xF0\x9D\x84\x9E"},
        StringCase{R"("\ud800\udc00")", "\xF0\x90\x80\x80"},
        StringCase{R"("\udbff\udfff")", "\xF4\x8F\xBF\xBF"}, StringCase{R"("x\\y\"z")", "x\\y\"z"},
        // Runs long enough to be read two escapes at a time.
        StringCase{R"("\u00e9\ud83d\ude00\u0041\u07FF\u20ac\uD834\uDD1E\n\u0001")",
                   "\xC3\xA9\xF0\x9F\x98\x80\x41\xDF\xBF\xE2\x82\xAC\xF0\x9D\x84\x9E\n\x01"},
        StringCase{
            R"("\u65e5\u672c\u8a9e:\uffff\ue000\ud7ff\u0080 ")",
            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E:\xEF\xBF\xBF\xEE\x80\x80\xED\x9F\xBF\xC2\x80 "}));

INSTANTIATE_TEST_SUITE_P(
    RawUtf8, ReaderStrings,
    ::testing::Values(StringCase{"\"\x7F\"", "\x7F"}, StringCase{"\"\xC2\x80\"", "\xC2\x80"},
                      StringCase{"\"\xDF\xBF\"", "\xDF\xBF"},
                      StringCase{"\"\xE0\xA0\x80\"", "\xE0\xA0\x80"},
                      StringCase{"\"\xED\x9F\xBF\"", "\xED\x9F\xBF"},
                      StringCase{"\"\xEE\x80\x80\"", "\xEE\x80\x80"},
                      StringCase{"\"\xEF\xBF\xBF\"", "\xEF\xBF\xBF"},
                      StringCase{"\"\xF0\x90\x80\x80\"", "\xF0\x90\x80\x80"},
                      StringCase{"\"\xF4\x8F\xBF\xBF\"", "\xF4\x8F\xBF\xBF"},
                      StringCase{"\"\xC3\xA9\\n\xE2\x82\xAC\"", "\xC3\xA9\n\xE2\x82\xAC"},
                      StringCase{"\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \\u65e5\"",
                                 "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE6\x97\xA5"}));

// A string without escapes is the run in the input itself; one with escapes is a decoded copy.
TEST(ReaderStrings, PlainStringsReferToTheInput) {
  Arena arena;
  const std::string input = R"(["plain",{"key":"a\nb"}])";
  auto result = parse_value_list(input, arena);
  ASSERT_TRUE(result.ok());
  const std::vector<Value>& list = result.value();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].as_string().data(), input.data() + 2);
  const json::Map::Entry& entry = *list[1].as_object().begin();
  EXPECT_EQ(entry.key.data(), input.data() + 11);
  EXPECT_EQ(entry.value.as_string(), "a\nb");
  const char* decoded = entry.value.as_string().data();
  EXPECT_FALSE(decoded >= input.data() && decoded < input.data() + input.size());
}

// The scan takes eight bytes at a time and the tail byte by byte: a special byte must be found
// at every offset, and non-ASCII text anywhere must be validated.
TEST(ReaderStrings, FindsSpecialBytesAtEveryOffset) {
  for (std::size_t offset = 0; offset < 24; ++offset) {
    for (std::size_t after = 0; after < 10; ++after) {
      const std::string before(offset, 'a');
      const std::string rest(after, 'b');
      const std::string where = std::to_string(offset) + "+" + std::to_string(after);
      Arena arena;
      EXPECT_EQ(parse_single("\"" + before + "\"", arena).as_string(), before) << where;
      EXPECT_EQ(parse_single("\"" + before + "\\t" + rest + "\"", arena).as_string(),
                before + "\t" + rest)
          << where;
      EXPECT_EQ(parse_single("\"" + before + "\xC3\xA9" + rest + "\"", arena).as_string(),
                before + "\xC3\xA9" + rest)
          << where;

      const std::string column = std::to_string(offset + 3);
      for (const char control : {'\0', '\x01', '\x1F'}) {
        auto failed = parse_value_list("[\"" + before + control + rest + "\"]", arena);
        ASSERT_FALSE(failed.ok()) << where;
        EXPECT_EQ(failed.error().display(),
                  "control character (\\u0000-\\u001F) found while parsing a string at line 1 "
                  "column " +
                      column)
            << where;
      }
      auto invalid = parse_value_list("[\"" + before + "\xFF" + rest + "\"]", arena);
      ASSERT_FALSE(invalid.ok()) << where;
      EXPECT_EQ(invalid.error().display(),
                "invalid unicode code point at line 1 column " + std::to_string(offset + after + 4))
          << where;
    }
  }
}

}  // namespace
}  // namespace tarvik::testing
