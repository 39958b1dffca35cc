// UTF-8 validation: every implementation against a decoding reference, exhaustively for short
// sequences, for each kind of fault at every offset across the 32-byte blocks, and on random
// texts; the reader's inline check of short texts against the full one. Texts sit in heap blocks
// of exactly their size (or of what may be read), so sanitizer builds catch over-reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <tuple>

#include "json/text/utf8.hpp"

namespace tarvik::testing {
namespace {

// The reference: decode each sequence by its lead byte, then check the code point it encodes.
bool reference_valid(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t code_point = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
      length = 1;
      code_point = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code_point = lead & 0x1F;
      smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code_point = lead & 0x0F;
      smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code_point = lead & 0x07;
      smallest = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto byte = static_cast<unsigned char>(text[i + k]);
      if ((byte & 0xC0) != 0x80) return false;
      code_point = (code_point << 6) | (byte & 0x3F);
    }
    if (code_point < smallest || code_point > 0x10FFFF) return false;
    if (code_point >= 0xD800 && code_point <= 0xDFFF) return false;
    i += length;
  }
  return true;
}

// A text in a heap block of exactly its size: a read past its end is a sanitizer report.
class ExactBlock {
 public:
  explicit ExactBlock(std::string_view text)
      : size_(text.size()), bytes_(std::make_unique<char[]>(text.size())) {
    std::memcpy(bytes_.get(), text.data(), size_);
  }
  char* data() { return bytes_.get(); }
  std::string_view view() const { return {bytes_.get(), size_}; }

 private:
  std::size_t size_;
  std::unique_ptr<char[]> bytes_;
};

std::string hex(std::string_view text) {
  std::string out;
  for (const char c : text) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X ", static_cast<unsigned char>(c));
    out += digits;
  }
  return out;
}

struct Implementation {
  const char* name;
  bool (*validate)(std::string_view);
  bool needs_avx2;
};

void PrintTo(const Implementation& implementation, std::ostream* os) {
  *os << implementation.name;
}

class Utf8 : public ::testing::TestWithParam<Implementation> {
 protected:
  void SetUp() override {
    if (GetParam().needs_avx2 && !json::utf8_detail::has_avx2()) GTEST_SKIP() << "no AVX2";
  }

  bool valid(std::string_view text) const { return GetParam().validate(text); }

  // Compares with the reference; stops the test after a few differences.
  bool agrees(std::string_view text) {
    const bool expected = reference_valid(text);
    if (valid(text) == expected) return true;
    ADD_FAILURE() << hex(text) << "should be " << (expected ? "valid" : "invalid");
    return ++differences_ < 8;
  }

 private:
  int differences_ = 0;
};

// Where a sequence is placed: the ASCII bytes before and after it. 31 before puts it across the
// boundary of the first two 32-byte blocks; 30 before and 33 after ends it in the first block
// or just past it, with an ASCII block and a tail behind.
struct Placement {
  std::size_t before;
  std::size_t after;
};
constexpr Placement PLACEMENTS[] = {{0, 0}, {31, 0}, {30, 33}};

// The exhaustive tests run on the two implementations; the dispatched entry is one of them.
class Utf8Exhaustive : public Utf8 {};

TEST_P(Utf8Exhaustive, EverySequenceOfOneToThreeBytes) {
  for (const Placement placement : PLACEMENTS) {
    for (std::size_t length = 1; length <= 3; ++length) {
      ExactBlock block(std::string(placement.before + length + placement.after, 'a'));
      char* const sequence = block.data() + placement.before;
      for (std::uint32_t bytes = 0; bytes < (1u << (8 * length)); ++bytes) {
        for (std::size_t k = 0; k < length; ++k)
          sequence[k] = static_cast<char>(bytes >> (8 * (length - 1 - k)));
        if (!agrees(block.view())) return;
      }
    }
  }
}

// Every lead from F0 to F4 with every second and third byte, and a fourth byte from each range
// that matters (ASCII, the four continuation quarters, leads of every length).
TEST_P(Utf8Exhaustive, EveryFourByteLeadWithSampledContinuations) {
  constexpr unsigned char kFourthBytes[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                            0xA0, 0xAF, 0xB0, 0xBF, 0xC0, 0xC2, 0xDF,
                                            0xE0, 0xED, 0xF0, 0xF4, 0xF5, 0xFF};
  for (const Placement placement : PLACEMENTS) {
    ExactBlock block(std::string(placement.before + 4 + placement.after, 'a'));
    char* const sequence = block.data() + placement.before;
    for (unsigned lead = 0xF0; lead <= 0xF4; ++lead) {
      for (unsigned second = 0; second < 256; ++second) {
        for (unsigned third = 0; third < 256; ++third) {
          for (const unsigned char fourth : kFourthBytes) {
            sequence[0] = static_cast<char>(lead);
            sequence[1] = static_cast<char>(second);
            sequence[2] = static_cast<char>(third);
            sequence[3] = static_cast<char>(fourth);
            if (!agrees(block.view())) return;
          }
        }
      }
    }
  }
}

struct Form {
  const char* name;
  std::string_view bytes;
  bool valid;
};

// The first and last code point of each length and around the surrogates, and every kind of
// fault.
constexpr Form FORMS[] = {
    {"U+0080", "\xC2\x80", true},
    {"U+07FF", "\xDF\xBF", true},
    {"U+0800", "\xE0\xA0\x80", true},
    {"U+D7FF", "\xED\x9F\xBF", true},
    {"U+E000", "\xEE\x80\x80", true},
    {"U+FFFF", "\xEF\xBF\xBF", true},
    {"U+10000", "\xF0\x90\x80\x80", true},
    {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
    {"lone continuation", "\x80", false},
    {"lone last continuation", "\xBF", false},
    {"continuation after a two-byte form", "\xC3\xA9\x80", false},
    {"continuation after a three-byte form", "\xE2\x82\xAC\xAC", false},
    {"continuation after a four-byte form", "\xF0\x9F\x98\x80\x80", false},
    {"two-byte lead alone", "\xC3", false},
    {"three-byte lead with one continuation", "\xE2\x82", false},
    {"three-byte lead alone", "\xE2", false},
    {"four-byte lead with two continuations", "\xF0\x9F\x98", false},
    {"four-byte lead with one continuation", "\xF0\x9F", false},
    {"four-byte lead alone", "\xF0", false},
    {"lead after a lead", "\xC3\xC3\xA9", false},
    {"two-byte lead before a three-byte form", "\xC3\xE2\x82\xAC", false},
    {"overlong two-byte form C0", "\xC0\x80", false},
    {"overlong two-byte form C1", "\xC1\xBF", false},
    {"overlong three-byte form", "\xE0\x80\x80", false},
    {"overlong three-byte form below U+0800", "\xE0\x9F\xBF", false},
    {"overlong four-byte form", "\xF0\x80\x80\x80", false},
    {"overlong four-byte form below U+10000", "\xF0\x8F\xBF\xBF", false},
    {"first surrogate", "\xED\xA0\x80", false},
    {"last surrogate", "\xED\xBF\xBF", false},
    {"U+110000", "\xF4\x90\x80\x80", false},
    {"F5 lead", "\xF5\x80\x80\x80", false},
    {"F7 lead", "\xF7\xBF\xBF\xBF", false},
    {"five-byte form", "\xF8\x88\x80\x80\x80", false},
    {"FE", "\xFE", false},
    {"FF", "\xFF", false},
};

void PrintTo(const Form& form, std::ostream* os) {
  *os << form.name;
}

// A prefix of whole characters of `base` (repeated), padded with ASCII to exactly `length`.
std::string prefix_of(std::string_view base, std::size_t length) {
  std::string prefix;
  std::size_t i = 0;
  for (;;) {
    const auto lead = static_cast<unsigned char>(base[i % base.size()]);
    const std::size_t width = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (prefix.size() + width > length) break;
    for (std::size_t k = 0; k < width; ++k)
      prefix += base[(i + k) % base.size()];
    i += width;
  }
  return prefix + std::string(length - prefix.size(), '.');
}

constexpr std::string_view kAsciiText = "The quick brown fox jumps over the lazy dog. ";
constexpr std::string_view kMixedText =
    "\xD0\x96\xD1\x91\xD0\xBB\xD1\x82\xD1\x8B\xD0\xB9 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E "
    "\xF0\x9F\x98\x80\xC3\xA9t\xC3\xA9 ";  // Cyrillic, Japanese, an emoji, Latin-1

class Utf8Form : public ::testing::TestWithParam<std::tuple<Implementation, Form>> {};

// Each form at every offset from 0 to 70 of ASCII and of mixed text, at the end of the text and
// followed by more text: every position within a block, across block boundaries and in the
// tail.
TEST_P(Utf8Form, IsJudgedAtEveryOffset) {
  const auto& [implementation, form] = GetParam();
  if (implementation.needs_avx2 && !json::utf8_detail::has_avx2()) GTEST_SKIP() << "no AVX2";
  for (const std::string_view base : {kAsciiText, kMixedText}) {
    for (std::size_t offset = 0; offset <= 70; ++offset) {
      for (const std::size_t after : {0, 1, 17, 40}) {
        const std::string text =
            prefix_of(base, offset) + std::string(form.bytes) + prefix_of(base, after);
        ASSERT_EQ(reference_valid(text), form.valid) << "the table is wrong: " << hex(text);
        const ExactBlock block(text);
        ASSERT_EQ(implementation.validate(block.view()), form.valid)
            << "offset " << offset << ", " << after << " bytes after: " << hex(text);
      }
    }
  }
}

constexpr Implementation IMPLEMENTATIONS[] = {
    {"scalar", json::utf8_detail::is_valid_utf8_scalar, false},
#if TARVIK_AVX2
    {"avx2", json::utf8_detail::is_valid_utf8_avx2, true},
#endif
    {"dispatched", json::is_valid_utf8, false},
};

std::string implementation_name(const ::testing::TestParamInfo<Implementation>& info) {
  return info.param.name;
}

std::string form_case_name(const ::testing::TestParamInfo<std::tuple<Implementation, Form>>& info) {
  std::string name = std::string(std::get<0>(info.param).name) + "_";
  for (const char c : std::string_view(std::get<1>(info.param).name))
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Every, Utf8Form,
                         ::testing::Combine(::testing::ValuesIn(IMPLEMENTATIONS),
                                            ::testing::ValuesIn(FORMS)),
                         form_case_name);

// Random texts of characters of every length, in runs as real text has them, half of them then
// damaged by a byte overwritten, removed or inserted.
TEST_P(Utf8, AgreesOnRandomTexts) {
  std::mt19937_64 random(20240607);
  const auto uniform = [&](std::uint32_t low, std::uint32_t high) {
    return std::uniform_int_distribution<std::uint32_t>(low, high)(random);
  };
  const auto append_code_point = [](std::string& text, char32_t c) {
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      text += static_cast<char>(0xE0 | (c >> 12));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | (c >> 18));
      text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  };
  for (int round = 0; round < 30000; ++round) {
    std::string text;
    const std::size_t length = uniform(0, round % 10 == 0 ? 2000 : 150);
    while (text.size() < length) {
      // A run of characters of one length: ASCII, two, three or four bytes.
      const std::uint32_t kind = uniform(0, 3);
      for (std::uint32_t run = uniform(1, 12); run > 0; --run) {
        char32_t c = 0;
        switch (kind) {
          case 0:
            c = uniform(0, 0x7F);
            break;
          case 1:
            c = uniform(0x80, 0x7FF);
            break;
          case 2:
            do {
              c = uniform(0x800, 0xFFFF);
            } while (c >= 0xD800 && c <= 0xDFFF);
            break;
          default:
            c = uniform(0x10000, 0x10FFFF);
        }
        append_code_point(text, c);
      }
    }
    if (round % 2 == 1) {
      for (std::uint32_t damage = uniform(1, 3); damage > 0; --damage) {
        const std::size_t at = uniform(0, static_cast<std::uint32_t>(text.size()));
        const auto byte = static_cast<char>(uniform(0, 255));
        switch (uniform(0, 2)) {
          case 0:
            if (at < text.size()) text[at] = byte;
            break;
          case 1:
            if (at < text.size()) text.erase(at, 1);
            break;
          default:
            text.insert(at, 1, byte);
        }
      }
    }
    const ExactBlock block(text);
    if (!agrees(block.view())) return;
  }
}

// is_valid_utf8_scanned with the text at the start of a block of what may be read, the rest of
// it `padding`: a continuation there would complete a lead cut at the end of the text if the
// check looked past it, a lead would leave one open.
bool scanned_valid(std::string_view text, std::size_t readable, char padding) {
  ExactBlock block(std::string(std::max(readable, text.size()), padding));
  std::memcpy(block.data(), text.data(), text.size());
  return json::is_valid_utf8_scanned(block.view().substr(0, text.size()), block.data() + readable);
}

// What the inline check reads of a text from its start; with one byte less it leaves the text to
// the full check.
constexpr std::size_t kScannedReach = 32;

void expect_scanned_agrees(std::string_view text) {
  const bool expected = json::is_valid_utf8(text);
  for (const char padding : {'\x80', '\xC3', 'a'}) {
    for (const std::size_t readable : {kScannedReach, kScannedReach - 1}) {
      ASSERT_EQ(scanned_valid(text, readable, padding), expected)
          << hex(text) << "with " << readable << " bytes readable";
    }
  }
}

constexpr std::string_view kCyrillicName =
    "\xD0\x9B\xD0\xB5\xD0\xBE\xD0\xBD\xD0\xB0\xD1\x80\xD0\xB4 "
    "\xD0\x9D\xD0\xB8\xD0\xBA";  // 25 bytes of two-byte forms and a space

// Each form placed at every offset of a text of up to 33 bytes, after ASCII or two-byte forms:
// across the two blocks, cut by the end of the text and just past the inline check's reach.
TEST(Utf8Scanned, AgreesWithTheFullCheckOnEveryFormAtEveryOffset) {
  constexpr std::string_view kForms[] = {
      "\xC2\x80",         "\xDF\xBF",         "\xC3",         "\x80",         "\xBF\xBF",
      "\xC0\x80",         "\xC1\xBF",         "\xC3\xC3\xA9", "\xC3\xA9\x80", "\xE2\x82\xAC",
      "\xE2\x82",         "\xF0\x9F\x98\x80", "\xF0\x9F\x98", "\xED\xA0\x80", "\xE0\x80\x80",
      "\xF4\x90\x80\x80", "\xE0\xA0\x80",     "\xFF",         "\xC3\x41"};
  for (const std::string_view form : kForms) {
    for (const std::string_view base : {kAsciiText, kCyrillicName}) {
      for (std::size_t before = 0; before + form.size() <= 33; ++before) {
        std::string text = prefix_of(base, before) + std::string(form);
        for (; text.size() <= 33; text += prefix_of(base, 2))
          expect_scanned_agrees(text);
        if (HasFatalFailure()) return;
      }
    }
  }
}

// Random short texts drawn mostly from two-byte forms, with every other kind of byte mixed in.
TEST(Utf8Scanned, AgreesWithTheFullCheckOnRandomShortTexts) {
  std::mt19937_64 random(20261208);
  constexpr unsigned char kBytes[] = {'a',  ' ',  0x7F, 0xC2, 0xD0, 0xD1, 0xDF, 0x80, 0x9B,
                                      0xBF, 0xC0, 0xC1, 0xE0, 0xED, 0xF0, 0xF4, 0xF5, 0xFF};
  std::uniform_int_distribution<std::size_t> length(0, 34);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kBytes) - 1);
  std::uniform_int_distribution<int> damage(0, 3);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const std::size_t size = length(random);
    // Mostly whole two-byte forms, as names in Cyrillic or Latin-1 are; sometimes any byte.
    while (text.size() < size) {
      if (damage(random) == 0) {
        text += static_cast<char>(kBytes[pick(random)]);
      } else {
        text += static_cast<char>(0xC2 + pick(random));
        text += static_cast<char>(0x80 + 3 * pick(random));
      }
    }
    expect_scanned_agrees(text);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Every, Utf8, ::testing::ValuesIn(IMPLEMENTATIONS), implementation_name);
INSTANTIATE_TEST_SUITE_P(Tiers, Utf8Exhaustive,
                         ::testing::Values(IMPLEMENTATIONS[0], IMPLEMENTATIONS[1]),
                         implementation_name);

}  // namespace
}  // namespace tarvik::testing
