// Runs of \u escapes, each implementation against a reference written from the rule: a table of
// runs and of what ends them, every byte value at every position of a long run, every cut of it,
// and seeded random runs. Texts sit in heap blocks of exactly their size, so sanitizer builds
// catch a read past their end.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>

#include "json/text/simd.hpp"
#include "json/text/unicode_escape_run.hpp"

namespace tarvik::testing {
namespace {

using json::DecodedRun;
using json::kMostRunEscapes;
using json::kRunUtf8Room;

struct RunRead {
  std::size_t escapes;
  std::string utf8;
  bool operator==(const RunRead&) const = default;
};

void PrintTo(const RunRead& read, std::ostream* os) {
  *os << read.escapes << " escapes, " << ::testing::PrintToString(read.utf8);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string utf8_of(std::uint32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// The unit of the escape at the start of `text`, if it is \u and four hex digits.
std::optional<std::uint32_t> unit_at(std::string_view text) {
  if (text.size() < 6 || text[0] != '\\' || text[1] != 'u') return std::nullopt;
  std::uint32_t unit = 0;
  for (int i = 2; i < 6; ++i) {
    const int digit = hex_value(text[i]);
    if (digit < 0) return std::nullopt;
    unit = unit * 16 + static_cast<std::uint32_t>(digit);
  }
  return unit;
}

// The rule: escapes of characters from U+0020 on, alone or as a lead and a trail surrogate, at
// most kMostRunEscapes of them, never ending between the two of a pair.
RunRead reference_run(std::string_view text) {
  RunRead read{0, ""};
  while (read.escapes < kMostRunEscapes) {
    const std::optional<std::uint32_t> unit = unit_at(text);
    if (!unit || *unit < 0x20 || (*unit >= 0xDC00 && *unit <= 0xDFFF)) return read;
    if (*unit < 0xD800 || *unit > 0xDBFF) {
      read.utf8 += utf8_of(*unit);
      ++read.escapes;
      text.remove_prefix(6);
      continue;
    }
    const std::optional<std::uint32_t> trail = unit_at(text.substr(6));
    if (read.escapes + 2 > kMostRunEscapes || !trail || *trail < 0xDC00 || *trail > 0xDFFF) {
      return read;
    }
    read.utf8 += utf8_of(0x10000 + ((*unit - 0xD800) << 10) + (*trail - 0xDC00));
    read.escapes += 2;
    text.remove_prefix(12);
  }
  return read;
}

struct Implementation {
  const char* name;
  std::size_t (*count)(const char*, const char*);
  DecodedRun (*decode)(const char*, const char*, char*);
  bool needs_avx2;
};

void PrintTo(const Implementation& implementation, std::ostream* os) {
  *os << implementation.name;
}

constexpr Implementation IMPLEMENTATIONS[] = {
    {"scalar", json::unicode_escape_run_detail::count_run_scalar,
     json::unicode_escape_run_detail::decode_run_scalar, false},
#if TARVIK_AVX2
    {"avx2", json::unicode_escape_run_detail::count_run_avx2,
     json::unicode_escape_run_detail::decode_run_avx2, true},
#endif
    {"dispatched", json::count_unicode_escape_run, json::decode_unicode_escape_run, false},
};

class UnicodeEscapeRun : public ::testing::TestWithParam<Implementation> {
 protected:
  void SetUp() override {
    if (GetParam().needs_avx2 && !json::unicode_escape_run_detail::has_avx2()) {
      GTEST_SKIP() << "no AVX2";
    }
  }

  // Both entries on `text`, placed at the end of a heap block of exactly its size; the decoded
  // run's UTF-8 is written into exactly the room promised.
  RunRead read(std::string_view text) const {
    const auto block = std::make_unique<char[]>(text.size());
    std::memcpy(block.get(), text.data(), text.size());
    const char* const end = block.get() + text.size();
    const auto room = std::make_unique<char[]>(kRunUtf8Room);
    const DecodedRun decoded = GetParam().decode(block.get(), end, room.get());
    EXPECT_EQ(GetParam().count(block.get(), end), decoded.escapes) << text;
    return {decoded.escapes,
            std::string(room.get(), static_cast<std::size_t>(decoded.utf8_end - room.get()))};
  }
};

std::string repeated(std::string_view text, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i)
    out += text;
  return out;
}

struct RunCase {
  std::string text;
  std::size_t escapes;
  std::string utf8;
};

TEST_P(UnicodeEscapeRun, ReadsTheTable) {
  const RunCase cases[] = {
      {"", 0, ""},
      {R"(\u540D)", 1, "\xE5\x90\x8D"},
      {R"(\u540d\u524D")", 2, "\xE5\x90\x8D\xE5\x89\x8D"},
      {R"(\u0020\u007e\u007F\u0080\u07ff\u0800\uD7FF\uE000\uFFFF)", 9,
       " ~\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"},
      {R"(\u001f\u540D)", 0, ""},
      {R"(\u0000)", 0, ""},
      {R"(\u540D\u0000)", 1, "\xE5\x90\x8D"},
      {R"(\uD83D\uDE00)", 2, "\xF0\x9F\x98\x80"},
      {R"(\u540D\udbff\udfff)", 3, "\xE5\x90\x8D\xF4\x8F\xBF\xBF"},
      {R"(\ud800\udc00\u0041)", 3,
       "\xF0\x90\x80\x80"
       "A"},
      {R"(\u540D\uDC00)", 1, "\xE5\x90\x8D"},
      {R"(\uDE00\uD83D)", 0, ""},
      {R"(\u540D\uD83D)", 1, "\xE5\x90\x8D"},
      {R"(\u540D\uD83D\u0041)", 1, "\xE5\x90\x8D"},
      {R"(\u540D\uD83D\uD83D\uDE00)", 1, "\xE5\x90\x8D"},
      {R"(\uD83D\uDE00\uDE00)", 2, "\xF0\x9F\x98\x80"},
      {repeated(R"(\u3042)", 7) + R"(\uD83D\uDE00\u3044)", 10,
       repeated("\xE3\x81\x82", 7) + "\xF0\x9F\x98\x80\xE3\x81\x84"},
      {repeated(R"(\u3042)", 31) + R"(\uD83D\uDE00)", 31, repeated("\xE3\x81\x82", 31)},
      {repeated(R"(\u3042)", 30) + R"(\uD83D\uDE00\u3044)", 32,
       repeated("\xE3\x81\x82", 30) + "\xF0\x9F\x98\x80"},
      {repeated(R"(\uD83D\uDE00)", 20), 32, repeated("\xF0\x9F\x98\x80", 16)},
      {R"(\u540G)", 0, ""},
      {R"(\u540)", 0, ""},
      {R"(\U540D)", 0, ""},
      {R"(/u540D)", 0, ""},
      {R"(\u540D\n)", 1, "\xE5\x90\x8D"},
      {R"(\u540D\u3042\u3044\u3046\u3048\u304A\u304B\u304D\u304F)", 9,
       "\xE5\x90\x8D\xE3\x81\x82\xE3\x81\x84\xE3\x81\x86\xE3\x81\x88\xE3\x81\x8A\xE3\x81\x8B\xE3"
       "\x81\x8D\xE3\x81\x8F"},
      {repeated(R"(\u3042)", 40), kMostRunEscapes, repeated("\xE3\x81\x82", kMostRunEscapes)},
      {repeated(R"(\u00e9)", 17) + R"(\u0041)", 18, repeated("\xC3\xA9", 17) + "A"},
      {repeated(R"(\u0041)", 9), 9, repeated("A", 9)},
  };
  for (const RunCase& c : cases) {
    ASSERT_EQ(reference_run(c.text), (RunRead{c.escapes, c.utf8})) << "the table is wrong";
    EXPECT_EQ(read(c.text), (RunRead{c.escapes, c.utf8})) << c.text;
  }
}

// A run of escapes of every length of UTF-8, pairs among them (one across the first two blocks),
// every hex case: each byte replaced by every value, and the run cut at every length.
TEST_P(UnicodeEscapeRun, AgreesOnEveryByteAtEveryPositionAndEveryCut) {
  const std::string base =
      R"(\u0a1B\uC2d3\u0041\uD83D\uDE00\u00e9\u3042\uDBFF\uDC00\uFFFF\u07FF\u0800\u0020)"
      R"(\u5E74\uE000\uD7FF)";
  for (std::size_t position = 0; position < base.size(); ++position) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string text = base;
      text[position] = static_cast<char>(byte);
      ASSERT_EQ(read(text), reference_run(text)) << "byte " << byte << " at " << position;
    }
  }
  for (std::size_t length = 0; length <= base.size(); ++length) {
    const std::string text = base.substr(0, length);
    ASSERT_EQ(read(text), reference_run(text)) << text;
  }
}

// Random runs of characters of each length of UTF-8, with now and then a unit or a byte that
// ends them, followed by what ends a run in a string.
TEST_P(UnicodeEscapeRun, AgreesOnRandomRuns) {
  std::mt19937_64 random(22);
  const auto below = [&](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random);
  };
  const std::string_view endings[] = {"", "\"", "x\"", "\\n", "\\\"", "\\"};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const std::uint32_t escapes = below(45);
    for (std::uint32_t i = 0; i < escapes; ++i) {
      std::uint32_t unit;
      switch (below(40)) {
        case 0:
          unit = below(0x20);  // a control character
          break;
        case 1:
          unit = 0xD800 + below(0x800);  // a lone surrogate, now and then
          break;
        case 2:
        case 3:
        case 4:
        case 5: {
          char lead[7];
          std::snprintf(lead, sizeof lead, "\\u%04X", 0xD800 + below(0x400));
          text += lead;
          unit = 0xDC00 + below(0x400);  // its trail
          break;
        }
        default: {
          constexpr std::uint32_t kLowest[] = {0x20, 0x80, 0x800, 0xE000};
          constexpr std::uint32_t kSpan[] = {0x60, 0x780, 0xD000, 0x2000};
          const std::uint32_t range = below(4);
          unit = kLowest[range] + below(kSpan[range]);
        }
      }
      char escape[7];
      std::snprintf(escape, sizeof escape, below(2) == 0 ? "\\u%04x" : "\\u%04X", unit);
      text += escape;
      if (below(200) == 0) text[text.size() - 1 - below(6)] = "gG:/@`\x80"[below(7)];
    }
    text += endings[below(std::size(endings))];
    ASSERT_EQ(read(text), reference_run(text)) << text;
  }
}

std::string implementation_name(const ::testing::TestParamInfo<Implementation>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Each, UnicodeEscapeRun, ::testing::ValuesIn(IMPLEMENTATIONS),
                         implementation_name);

}  // namespace
}  // namespace tarvik::testing
