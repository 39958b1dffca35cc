// The string body scan against a byte-by-byte reference: every byte value at every offset across
// the 16-byte blocks and the tail, the non-ASCII flag on both sides of the stop, random texts.
// Texts sit in heap blocks of exactly their size, so sanitizer builds catch over-reads.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "json/text/string_scan.hpp"

namespace tarvik::testing {
namespace {

using json::scan_string_run;
using json::StringRun;

StringRun reference_scan(const char* p, const char* const end) {
  bool non_ascii = false;
  for (; p != end; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte == '"' || byte == '\\' || byte < 0x20) break;
    non_ascii = non_ascii || byte >= 0x80;
  }
  return {p, non_ascii};
}

// A text in a heap block of exactly its size: a read past its end is a sanitizer report.
class ExactBlock {
 public:
  explicit ExactBlock(std::string_view text)
      : size_(text.size()), bytes_(std::make_unique<char[]>(text.size())) {
    std::memcpy(bytes_.get(), text.data(), size_);
  }
  const char* begin() const { return bytes_.get(); }
  const char* end() const { return bytes_.get() + size_; }

 private:
  std::size_t size_;
  std::unique_ptr<char[]> bytes_;
};

bool ends_run(unsigned char byte) {
  return byte == '"' || byte == '\\' || byte < 0x20;
}

// Every byte value after 0 to 70 filler bytes (ASCII or not), followed by nothing or by up to
// 40 more: the byte lands at every position of a block, of the tail, and on the last byte.
TEST(StringScan, EveryByteValueAtEveryOffset) {
  for (int value = 0; value < 256; ++value) {
    const auto byte = static_cast<unsigned char>(value);
    for (const char filler : {'a', '\xC3'}) {
      const bool high_filler = static_cast<unsigned char>(filler) >= 0x80;  // char may be unsigned
      for (std::size_t offset = 0; offset <= 70; ++offset) {
        for (const std::size_t after : {0, 1, 15, 16, 17, 40}) {
          std::string text(offset, filler);
          text += static_cast<char>(byte);
          text += std::string(after, 'b');
          const ExactBlock block(text);
          const StringRun run = scan_string_run(block.begin(), block.end());
          const StringRun expected = reference_scan(block.begin(), block.end());
          const bool passed_non_ascii = (high_filler && offset > 0) || byte >= 0x80;
          ASSERT_EQ(run.stop - block.begin(), expected.stop - block.begin())
              << "byte " << value << " at " << offset << ", " << after << " after";
          ASSERT_EQ(run.non_ascii, expected.non_ascii)
              << "byte " << value << " at " << offset << ", " << after << " after";
          // The bytes the reader relies on, stated outright.
          ASSERT_EQ(run.stop, ends_run(byte) ? block.begin() + offset : block.end());
          ASSERT_EQ(run.non_ascii, ends_run(byte) ? high_filler && offset > 0 : passed_non_ascii);
        }
      }
    }
  }
}

TEST(StringScan, NamedBytes) {
  struct Case {
    unsigned char byte;
    bool stops;
  };
  constexpr Case kCases[] = {{0x00, true}, {0x1F, true},  {0x20, false}, {0x22, true},
                             {0x5C, true}, {0x7F, false}, {0x80, false}, {0xFF, false}};
  for (const Case c : kCases) {
    for (std::size_t offset = 0; offset <= 40; ++offset) {
      std::string text(offset, 'x');
      text += static_cast<char>(c.byte);
      text += "yy";
      const ExactBlock block(text);
      const StringRun run = scan_string_run(block.begin(), block.end());
      EXPECT_EQ(run.stop, c.stops ? block.begin() + offset : block.end())
          << int{c.byte} << " at " << offset;
      EXPECT_EQ(run.non_ascii, !c.stops && c.byte >= 0x80) << int{c.byte} << " at " << offset;
    }
  }
}

// A non-ASCII byte counts only when it comes before the stop, wherever both lie relative to the
// blocks.
TEST(StringScan, NonAsciiCountsOnlyBeforeTheStop) {
  for (std::size_t stop = 0; stop <= 70; ++stop) {
    for (std::size_t high = 0; high <= 72; ++high) {
      if (high == stop) continue;
      std::string text(73, 'q');
      text[stop] = '"';
      text[high] = '\xE9';
      const ExactBlock block(text);
      const StringRun run = scan_string_run(block.begin(), block.end());
      ASSERT_EQ(run.stop, block.begin() + stop);
      ASSERT_EQ(run.non_ascii, high < stop) << "stop " << stop << ", non-ASCII at " << high;
    }
  }
}

TEST(StringScan, EmptyRangeStopsAtItsEnd) {
  const char text[] = "\"";
  const StringRun run = scan_string_run(text, text);
  EXPECT_EQ(run.stop, text);
  EXPECT_FALSE(run.non_ascii);
}

// Random bodies scanned the way the reader does it: from the start, then again just past each
// stop, until the end.
TEST(StringScan, AgreesOnRandomTextsScannedStopByStop) {
  std::mt19937_64 random(7);
  constexpr std::string_view kPlain = "abcdefgh \x7f\x80\xC3\xA9\xE3\x81\x82\xFF";
  constexpr std::string_view kStops{"\"\\\n\t\x1f\0", 6};
  const auto pick = [&](std::string_view bytes) {
    return bytes[std::uniform_int_distribution<std::size_t>(0, bytes.size() - 1)(random)];
  };
  for (int round = 0; round < 20000; ++round) {
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 120)(random);
    // Mostly plain bytes, with a stop every forty bytes or so.
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
      const bool plain = std::uniform_int_distribution<int>(0, 39)(random) != 0;
      text += pick(plain ? kPlain : kStops);
    }
    const ExactBlock block(text);
    const char* p = block.begin();
    for (;;) {
      const StringRun run = scan_string_run(p, block.end());
      const StringRun expected = reference_scan(p, block.end());
      ASSERT_EQ(run.stop, expected.stop) << text;
      ASSERT_EQ(run.non_ascii, expected.non_ascii) << text;
      if (run.stop == block.end()) break;
      p = run.stop + 1;
    }
  }
}

}  // namespace
}  // namespace tarvik::testing
