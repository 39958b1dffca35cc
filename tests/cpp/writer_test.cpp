// JSON writer: exact bytes of every kind of value, float digits and layout, string escapes,
// member order, and that serialize and display never differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "documents.hpp"
#include "json/memory/buffer.hpp"
#include "json/text/float_text.hpp"
#include "json/write/writer.hpp"

namespace tarvik::testing {
namespace {

using json::Buffer;
using json::kMaxFloatText;

// Serializes into a fresh buffer and checks that display writes the same bytes.
std::string written(const Value& value) {
  Buffer buffer;
  json::serialize_value(value, buffer);
  std::string message;
  json::display_value(value, message);
  EXPECT_EQ(message, std::string(buffer.view())) << "display and serialize differ";
  return std::string(buffer.view());
}

std::string float_text(double value) {
  char text[kMaxFloatText];
  const std::size_t length = json::write_float(value, text);
  return std::string(text, length);
}

double from_bits(std::uint64_t bits) {
  return std::bit_cast<double>(bits);
}

// --- floats -------------------------------------------------------------------------------

struct FloatCase {
  double value;
  const char* text;
};

void PrintTo(const FloatCase& c, std::ostream* os) {
  *os << c.text;
}

class FloatText : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatText, IsShortestDigitsInFixedLayout) {
  const FloatCase& c = GetParam();
  EXPECT_EQ(float_text(c.value), c.text);
  EXPECT_EQ(written(float_(c.value)), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, FloatText,
    ::testing::Values(
        FloatCase{1.0, "1.0"}, FloatCase{-0.0, "-0.0"}, FloatCase{0.0, "0.0"},
        FloatCase{0.1, "0.1"}, FloatCase{-1.5, "-1.5"}, FloatCase{100.0, "100.0"},
        FloatCase{123456789.0, "123456789.0"}, FloatCase{1e15, "1000000000000000.0"},
        FloatCase{9007199254740992.0, "9007199254740992.0"},
        FloatCase{9007199254740991.0, "9007199254740991.0"},
        FloatCase{1234567890123456.8, "1234567890123456.8"}, FloatCase{1e16, "1e+16"},
        FloatCase{1.5e16, "1.5e+16"}, FloatCase{123456789012345680.0, "1.2345678901234568e+17"},
        FloatCase{1152921504606846976.0, "1.152921504606847e+18"}, FloatCase{1e21, "1e+21"},
        FloatCase{1e23, "1e+23"}, FloatCase{1e300, "1e+300"}, FloatCase{12345.678, "12345.678"},
        FloatCase{1.0 / 3.0, "0.3333333333333333"}, FloatCase{2.0 / 3.0, "0.6666666666666666"},
        FloatCase{0.3, "0.3"}, FloatCase{0.1 + 0.2, "0.30000000000000004"},
        FloatCase{0.00001, "0.00001"}, FloatCase{0.000099999, "0.000099999"},
        // The double nearest to 1.1e-5 has the digits 11; the long text belongs to its upper
        // neighbour.
        FloatCase{1.1e-5, "0.000011"}, FloatCase{1.1000000000000001e-05, "0.000011000000000000001"},
        FloatCase{-1.1000000000000001e-05, "-0.000011000000000000001"}, FloatCase{0.000001, "1e-6"},
        FloatCase{1.5e-6, "1.5e-6"}, FloatCase{1e-7, "1e-7"}, FloatCase{0.00012345, "0.00012345"},
        FloatCase{5e-324, "5e-324"}, FloatCase{1e-323, "1e-323"}, FloatCase{1.5e-323, "1.5e-323"},
        FloatCase{2.2250738585072014e-308, "2.2250738585072014e-308"},
        FloatCase{-2.2250738585072014e-308, "-2.2250738585072014e-308"},
        FloatCase{2.225073858507201e-308, "2.225073858507201e-308"},
        FloatCase{1.7976931348623157e308, "1.7976931348623157e+308"},
        FloatCase{9.5367431640625e-07, "9.5367431640625e-7"}, FloatCase{4.35e-5, "0.0000435"},
        FloatCase{5e-5, "0.00005"}, FloatCase{123.456, "123.456"},
        FloatCase{1e-5 * 3, "0.000030000000000000004"}));

TEST(FloatText, NonFiniteValuesAreNull) {
  EXPECT_EQ(float_text(std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(float_text(-std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(float_text(std::numeric_limits<double>::quiet_NaN()), "null");
}

// The longest texts fit in kMaxFloatText bytes and nothing is written past them.
TEST(FloatText, StaysWithinItsRoom) {
  for (const double value :
       {-1.1000000000000001e-05, -2.2250738585072014e-308, -1.7976931348623157e308,
        -1234567890123456.8, -0.00012345678901234567, -5e-324, -1e+16}) {
    char room[kMaxFloatText + 8];
    std::memset(room, '#', sizeof room);
    const std::size_t length = json::write_float(value, room);
    EXPECT_LE(length, kMaxFloatText) << value;
    EXPECT_EQ(std::string(room + kMaxFloatText, 8), "########") << value;
  }
}

// Digits and exponent of a text, as the significant digits without point, sign or zeros.
struct Digits {
  std::string digits;
  int exponent;  // of the first digit
};

Digits digits_of(const char* text, std::size_t length) {
  Digits result{"", 0};
  const char* const end = text + length;
  const char* mark = static_cast<const char*>(std::memchr(text, 'e', length));
  const char* const mantissa_end = mark != nullptr ? mark : end;
  int point = -1;
  int position = 0;
  int first = -1;
  for (const char* p = text; p < mantissa_end; ++p) {
    if (*p == '.') {
      point = position;
      continue;
    }
    if (*p < '0' || *p > '9') continue;
    if (first < 0 && *p == '0') {
      ++position;
      continue;
    }
    if (first < 0) first = position;
    result.digits.push_back(*p);
    ++position;
  }
  if (point < 0) point = position;
  while (result.digits.size() > 1 && result.digits.back() == '0')
    result.digits.pop_back();
  int exponent = 0;
  if (mark != nullptr) {
    const char* p = mark + 1;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    for (; p < end; ++p)
      exponent = exponent * 10 + (*p - '0');
    if (negative) exponent = -exponent;
  }
  result.exponent = point - first - 1 + exponent;
  return result;
}

bool reads_back(const char* text, double value) {
  double back = 0;
  const auto [end, error] = std::from_chars(text, text + std::strlen(text), back);
  return error == std::errc() && *end == '\0' &&
         std::bit_cast<std::uint64_t>(back) == std::bit_cast<std::uint64_t>(value);
}

// Checks one double against glibc, which rounds correctly: the text reads back, and its n digits
// are those of the nearest n-digit decimal (%.{n-1}e), while the nearest (n-1)-digit decimal
// does not read back.
void expect_shortest_round_trip(double value) {
  char text[kMaxFloatText + 1];
  const std::size_t length = json::write_float(value, text);
  text[length] = '\0';
  ASSERT_TRUE(reads_back(text, value)) << text;
  const Digits ours = digits_of(text, length);
  const int n = static_cast<int>(ours.digits.size());
  char nearest[48];
  std::snprintf(nearest, sizeof nearest, "%.*e", n - 1, value);
  const Digits theirs = digits_of(nearest, std::strlen(nearest));
  ASSERT_EQ(ours.digits, theirs.digits) << text << " vs " << nearest;
  ASSERT_EQ(ours.exponent, theirs.exponent) << text << " vs " << nearest;
  if (n > 1) {
    char shorter[48];
    std::snprintf(shorter, sizeof shorter, "%.*e", n - 2, value);
    ASSERT_FALSE(reads_back(shorter, value)) << text << " has a shorter form " << shorter;
  }
}

TEST(FloatDigits, MillionRandomDoublesAreShortestAndReadBack) {
  std::mt19937_64 random(20240611);
  int checked = 0;
  while (checked < 1'000'000) {
    std::uint64_t bits = random();
    // Every sixteenth pattern is made subnormal, which random bits alone rarely are.
    if ((checked & 15) == 0) bits &= ~(std::uint64_t{0x7FF} << 52);
    const double value = from_bits(bits);
    if (!std::isfinite(value)) continue;
    expect_shortest_round_trip(value);
    if (::testing::Test::HasFatalFailure()) return;
    ++checked;
  }
}

// Boundary significands of every binade: the lowest one, whose lower neighbour is closer, and
// the highest, plus short decimals and their neighbours, where ties and shorter candidates
// live. std::to_chars gives the shortest nearest digits independently.
TEST(FloatDigits, BinadeBoundariesAndShortDecimalsMatchToChars) {
  auto check = [](double value) {
    char ours[kMaxFloatText];
    const std::size_t length = json::write_float(value, ours);
    char reference[64];
    const auto result = std::to_chars(reference, reference + sizeof reference, value,
                                      std::chars_format::scientific);
    const Digits a = digits_of(ours, length);
    const Digits b = digits_of(reference, static_cast<std::size_t>(result.ptr - reference));
    EXPECT_EQ(a.digits, b.digits) << std::string(ours, length);
    EXPECT_EQ(a.exponent, b.exponent) << std::string(ours, length);
  };
  for (std::uint64_t exponent = 0; exponent < 2047; ++exponent) {
    for (std::uint64_t step = 0; step < 4; ++step) {
      check(from_bits((exponent << 52) | step));
      check(from_bits((exponent << 52) | ((std::uint64_t{1} << 52) - 1 - step)));
    }
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    char text[40];
    const int digits = 1 + static_cast<int>(random() % 17);
    const auto significand = random() % static_cast<std::uint64_t>(std::pow(10.0, digits));
    const int exponent = static_cast<int>(random() % 620) - 325;
    std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(significand),
                  exponent);
    const double value = std::strtod(text, nullptr);
    if (value == 0 || !std::isfinite(value)) continue;
    const auto bits = std::bit_cast<std::uint64_t>(value);
    check(value);
    check(from_bits(bits + 1));
    check(from_bits(bits - 1));
  }
}

// --- integers -----------------------------------------------------------------------------

struct IntegerCase {
  Value value;
  const char* text;
};

void PrintTo(const IntegerCase& c, std::ostream* os) {
  *os << c.text;
}

class IntegerText : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerText, KeepsItsFormAndEveryDigit) {
  EXPECT_EQ(written(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, IntegerText,
    ::testing::Values(IntegerCase{uint_(0), "0"}, IntegerCase{uint_(7), "7"},
                      IntegerCase{uint_(10), "10"}, IntegerCase{uint_(99), "99"},
                      IntegerCase{uint_(100), "100"}, IntegerCase{uint_(9999), "9999"},
                      IntegerCase{uint_(10000), "10000"}, IntegerCase{uint_(1234567), "1234567"},
                      IntegerCase{uint_(100000000), "100000000"},
                      IntegerCase{uint_(18446744073709551615ULL), "18446744073709551615"},
                      IntegerCase{uint_(10000000000000000000ULL), "10000000000000000000"},
                      IntegerCase{int_(-1), "-1"}, IntegerCase{int_(-10), "-10"},
                      IntegerCase{int_(-12345), "-12345"},
                      IntegerCase{int_(std::numeric_limits<std::int64_t>::min()),
                                  "-9223372036854775808"},
                      IntegerCase{int_(-9223372036854775807LL), "-9223372036854775807"}));

TEST(IntegerText, EveryPowerOfTenAndItsPredecessor) {
  std::uint64_t power = 1;
  for (int digits = 1; digits <= 20; ++digits) {
    EXPECT_EQ(written(uint_(power)), std::to_string(power));
    EXPECT_EQ(written(uint_(power - 1)), std::to_string(power - 1));
    if (power <= 9223372036854775807ULL) {
      const auto negative = -static_cast<std::int64_t>(power);
      EXPECT_EQ(written(int_(negative)), std::to_string(negative));
    }
    if (digits < 20) power *= 10;
  }
}

// --- strings ------------------------------------------------------------------------------

struct StringCase {
  std::string text;
  std::string json;
};

void PrintTo(const StringCase& c, std::ostream* os) {
  *os << c.json;
}

class StringText : public ::testing::TestWithParam<StringCase> {};

TEST_P(StringText, UsesTheMinimalEscapes) {
  Arena arena;
  const Builder b(arena);
  EXPECT_EQ(written(b.str(GetParam().text)), GetParam().json);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Escapes, StringText,
    ::testing::Values(StringCase{"", R"("")"}, StringCase{"plain", R"("plain")"},
                      StringCase{"\"\\/", R"("\"\\/")"},
                      StringCase{"\x00\x0b\x1f\x7f"s, "\"\\u0000\\u000b\\u001f\x7f\""},
                      StringCase{"\t\n\r", R"("\t\n\r")"}, StringCase{"\b\f", R"("\b\f")"},
                      StringCase{"\x01\x1a", R"("\u0001\u001a")"},
                      StringCase{"\xc3\xa9", "\"\xc3\xa9\""},
                      StringCase{"\xe2\x80\xa8\xe2\x80\xa9", "\"\xe2\x80\xa8\xe2\x80\xa9\""},
                      StringCase{"\xf0\x9d\x84\x9e", "\"\xf0\x9d\x84\x9e\""},
                      StringCase{"a long run of plain text \"quoted\" then more plain text",
                                 R"("a long run of plain text \"quoted\" then more plain text")"},
                      StringCase{"ends with a backslash\\", R"("ends with a backslash\\")"}));

// The escape of a byte, by the rules rather than the writer's table.
std::string escaped(unsigned char byte) {
  switch (byte) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\b':
      return "\\b";
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\f':
      return "\\f";
    case '\r':
      return "\\r";
    default:
      break;
  }
  if (byte < 0x20) {
    char text[7];
    std::snprintf(text, sizeof text, "\\u%04x", byte);
    return text;
  }
  return std::string(1, static_cast<char>(byte));
}

// Every byte value alone and inside texts long enough for the word and block scans, which must
// agree with the table on which bytes need an escape.
TEST(StringText, EveryByteValueInEveryScan) {
  Arena arena;
  const Builder b(arena);
  for (int byte = 0; byte < 256; ++byte) {
    const std::string escape = escaped(static_cast<unsigned char>(byte));
    for (const std::size_t length : {1, 6, 12, 20, 40}) {
      std::string text(length, 'a');
      text[length / 2] = static_cast<char>(byte);
      const std::string expected =
          "\"" + text.substr(0, length / 2) + escape + text.substr(length / 2 + 1) + "\"";
      EXPECT_EQ(written(b.str(text)), expected) << byte << " in " << length;
    }
  }
}

// Plain runs are skipped in blocks and words; escapes at any offset of any length must still be
// found, in blocks and in the tail. Each text sits in a block of exactly its size, so a
// sanitizer build catches any read past its end.
TEST(StringText, EscapesAtEveryPositionOfEveryLength) {
  for (const unsigned char special : {'x', '"', '\\', '\n', '\x1f', '\x00'}) {
    for (std::size_t length = 0; length <= 40; ++length) {
      for (std::size_t at = 0; at < std::max<std::size_t>(length, 1); ++at) {
        std::string text(length, 'x');
        if (length > 0) {
          text[at] = static_cast<char>(special);
          text[(at + length / 2) % length] = static_cast<char>(special);
          text[length - 1 - at / 2] = '\xc3';  // a high byte nearby must not hide an escape
        }
        std::string expected = "\"";
        for (const char byte : text)
          expected += escaped(static_cast<unsigned char>(byte));
        expected += "\"";
        const auto block = std::make_unique<char[]>(length);
        std::memcpy(block.get(), text.data(), length);
        ASSERT_EQ(written(Value::string({block.get(), length})), expected) << length << " " << at;
      }
    }
  }
}

// --- containers ---------------------------------------------------------------------------

struct DocumentCase {
  const char* name;
  Value (*build)(const Builder&);
  const char* json;
};

class DocumentText : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(DocumentText, IsCompactInEntryOrder) {
  Arena arena;
  const Builder b(arena);
  EXPECT_EQ(written(GetParam().build(b)), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, DocumentText,
    ::testing::Values(
        DocumentCase{"literals",
                     [](const Builder& b) {
                       return b.arr({Value::null(), Value::boolean(true), Value::boolean(false)});
                     },
                     "[null,true,false]"},
        DocumentCase{"empty_array", [](const Builder& b) { return b.arr({}); }, "[]"},
        DocumentCase{"empty_object", [](const Builder& b) { return b.obj({}); }, "{}"},
        DocumentCase{"empty_string", [](const Builder& b) { return b.str(""); }, R"("")"},
        DocumentCase{"nested_empty",
                     [](const Builder& b) {
                       return b.arr({b.arr({}), b.obj({})});
                     },
                     "[[],{}]"},
        DocumentCase{
            "members_in_order",
            [](const Builder& b) {
              return b.obj({{"a", uint_(1)}, {"b", b.arr({Value::boolean(true), Value::null()})}});
            },
            R"({"a":1,"b":[true,null]})"},
        DocumentCase{"never_sorted",
                     [](const Builder& b) {
                       return b.obj({{"z", uint_(1)}, {"a", uint_(2)}, {"m", uint_(3)}});
                     },
                     R"({"z":1,"a":2,"m":3})"},
        DocumentCase{"repeated_key_keeps_first_position",
                     [](const Builder& b) {
                       return b.obj({{"a", uint_(1)}, {"b", uint_(2)}, {"a", uint_(3)}});
                     },
                     R"({"a":3,"b":2})"},
        DocumentCase{"escaped_keys",
                     [](const Builder& b) {
                       return b.obj({{"say \"hi\"", b.str("tab\there")}, {"", Value::null()}});
                     },
                     R"({"say \"hi\"":"tab\there","":null})"},
        DocumentCase{"numbers_keep_forms",
                     [](const Builder& b) {
                       return b.arr({uint_(1), float_(1.0), int_(-1), float_(-0.0), uint_(0)});
                     },
                     "[1,1.0,-1,-0.0,0]"},
        DocumentCase{"output_document",
                     [](const Builder& b) {
                       return b.obj({{"columns", b.arr({b.str("id"), b.str("price")})},
                                     {"rows", b.arr({b.arr({uint_(1), float_(9.99)}),
                                                     b.arr({uint_(2), float_(12.5)})})},
                                     {"constants", b.obj({{"currency", b.str("EUR")}})}});
                     },
                     R"({"columns":["id","price"],"rows":[[1,9.99],[2,12.5]],)"
                     R"("constants":{"currency":"EUR"}})"},
        DocumentCase{"deep_nesting",
                     [](const Builder& b) {
                       Value inner = b.obj({{"k", b.arr({})}});
                       for (int i = 0; i < 5; ++i)
                         inner = b.arr({inner});
                       return inner;
                     },
                     R"([[[[[{"k":[]}]]]]])"}),
    [](const ::testing::TestParamInfo<DocumentCase>& param_info) { return param_info.param.name; });

// A document far larger than the buffer's first room: growth keeps every byte, and a copy of
// the document writes the same bytes.
TEST(DocumentText, LargeDocumentGrowsTheBufferAndCopiesWriteTheSame) {
  Arena arena;
  const Builder b(arena);
  std::vector<Value> rows;
  std::string expected = "[";
  for (int i = 0; i < 5000; ++i) {
    const std::string name = "row \"" + std::to_string(i) + "\"";
    rows.push_back(b.obj({{"id", uint_(static_cast<std::uint64_t>(i))},
                          {"name", b.str(name)},
                          {"score", float_(i * 0.25)}}));
    if (i > 0) expected += ",";
    expected += R"({"id":)" + std::to_string(i) + R"(,"name":"row \")" + std::to_string(i) +
                R"(\"","score":)" + float_text(i * 0.25) + "}";
  }
  expected += "]";
  const Value document = Value::array(rows);
  EXPECT_EQ(written(document), expected);
  Arena other;
  EXPECT_EQ(written(document.deep_copy(other)), expected);
}

TEST(DisplayText, AppendsToTheMessageWithoutShortening) {
  Arena arena;
  const Builder b(arena);
  std::string message = "expected a JSON object row, got: ";
  const std::string long_text(10000, 'x');
  json::display_value(b.arr({b.str(long_text), float_(0.5)}), message);
  EXPECT_EQ(message, "expected a JSON object row, got: [\"" + long_text + "\",0.5]");
}

TEST(SerializeText, AppendsAfterExistingBytes) {
  Buffer buffer;
  buffer.append("prefix:");
  json::serialize_value(float_(2.5), buffer);
  json::serialize_value(int_(-3), buffer);
  EXPECT_EQ(buffer.view(), "prefix:2.5-3");
}

// Appends of every length around the short copies' bounds keep every byte, in order, after a
// first append that leaves the end unaligned.
TEST(Buffer, AppendsOfEveryLengthKeepEveryByte) {
  std::string source(40, ' ');
  for (std::size_t i = 0; i < source.size(); ++i)
    source[i] = static_cast<char>('A' + i % 26);
  std::string expected = "x";
  json::Buffer buffer(4);
  buffer.append("x", 1);
  for (std::size_t length = 0; length <= source.size(); ++length) {
    buffer.append(source.data(), length);
    expected.append(source, 0, length);
  }
  EXPECT_EQ(buffer.view(), expected);
}

}  // namespace
}  // namespace tarvik::testing
