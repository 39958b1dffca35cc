// Reading two \u escapes at once, the vector and the byte-by-byte version against a table of
// well-formed and faulty texts and against each other on every byte in every position.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "json/text/unicode_escape_pair.hpp"

namespace tarvik::testing {
namespace {

using json::UnicodeEscapePair;

struct PairCase {
  const char* text;  // padded to sixteen bytes by the test
  bool read;
  std::uint16_t first;
  std::uint16_t second;
};

const PairCase kPairCases[] = {
    {R"(\u540D\u524D)", true, 0x540D, 0x524D}, {R"(\uD83D\uDE0B)", true, 0xD83D, 0xDE0B},
    {R"(\u0000\uffff)", true, 0x0000, 0xFFFF}, {R"(\uabcd\uABCD)", true, 0xABCD, 0xABCD},
    {R"(\u09af\u9F0a)", true, 0x09AF, 0x9F0A}, {R"(\u540D\n\u524)", false, 0, 0},
    {R"(\u540G\u524D)", false, 0, 0},          {R"(\u540D\u52:D)", false, 0, 0},
    {R"(\u540D/u524D)", false, 0, 0},          {R"(\U540D\u524D)", false, 0, 0},
    {R"(\u540D\u524`)", false, 0, 0},          {R"(\u540D\u524@)", false, 0, 0},
    {"\\u540\xC4\\u524D", false, 0, 0},
};

std::string padded(const char* text) {
  std::string block(text);
  block.resize(16, 'x');
  return block;
}

void expect_read(bool (*read)(const char*, UnicodeEscapePair&), const PairCase& c) {
  UnicodeEscapePair pair{};
  const std::string block = padded(c.text);
  ASSERT_EQ(read(block.data(), pair), c.read) << c.text;
  if (c.read) {
    EXPECT_EQ(pair.first, c.first) << c.text;
    EXPECT_EQ(pair.second, c.second) << c.text;
  }
}

TEST(UnicodeEscapePair, ScalarReadsTheTable) {
  for (const PairCase& c : kPairCases)
    expect_read(json::read_unicode_escape_pair_scalar, c);
}

TEST(UnicodeEscapePair, DispatchedReadsTheTable) {
  for (const PairCase& c : kPairCases)
    expect_read(json::read_unicode_escape_pair, c);
}

// Every byte value in every one of the twelve positions of a well-formed pair: both versions
// agree on whether it still reads and on the units.
TEST(UnicodeEscapePair, VersionsAgreeOnEveryByteInEveryPosition) {
  const std::string base = padded(R"(\u0a1B\uC2d3)");
  for (std::size_t position = 0; position < 12; ++position) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string block = base;
      block[position] = static_cast<char>(byte);
      UnicodeEscapePair scalar{};
      UnicodeEscapePair dispatched{};
      const bool scalar_read = json::read_unicode_escape_pair_scalar(block.data(), scalar);
      ASSERT_EQ(json::read_unicode_escape_pair(block.data(), dispatched), scalar_read)
          << position << " " << byte;
      if (scalar_read) {
        EXPECT_EQ(dispatched.first, scalar.first);
        EXPECT_EQ(dispatched.second, scalar.second);
      }
    }
  }
}

}  // namespace
}  // namespace tarvik::testing
