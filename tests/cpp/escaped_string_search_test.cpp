// The search for strings with escapes, each implementation against a byte-by-byte reference: a
// table of texts, and seeded random JSON texts searched string by string the way the respelling
// does, at every length. Texts sit in heap blocks of exactly their size, so sanitizer builds catch
// a read past their end.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <string_view>

#include "json/text/escaped_string_search.hpp"
#include "json/text/simd.hpp"

namespace tarvik::testing {
namespace {

const char* reference_find(const char* p, const char* const end) {
  const char* open = nullptr;
  for (; p != end; ++p) {
    if (open == nullptr) {
      if (*p == '"') open = p;
    } else if (*p == '\\') {
      return open;
    } else if (*p == '"') {
      open = nullptr;
    }
  }
  return end;
}

struct Implementation {
  const char* name;
  const char* (*find)(const char*, const char*);
  bool needs_avx2;
};

void PrintTo(const Implementation& implementation, std::ostream* os) {
  *os << implementation.name;
}

constexpr Implementation IMPLEMENTATIONS[] = {
    {"portable", json::escaped_string_search_detail::find_escaped_string_portable, false},
#if TARVIK_AVX2
    {"avx2", json::escaped_string_search_detail::find_escaped_string_avx2, true},
#endif
    {"dispatched", json::find_escaped_string, false},
};

class EscapedStringSearch : public ::testing::TestWithParam<Implementation> {
 protected:
  void SetUp() override {
    if (GetParam().needs_avx2 && !json::escaped_string_search_detail::has_avx2()) {
      GTEST_SKIP() << "no AVX2";
    }
  }

  // Searches `text` from the start and, after each string found, from just past its closing
  // quote, as the reference does; placed in a heap block of exactly its size.
  void expect_as_reference(std::string_view text) const {
    const auto block = std::make_unique<char[]>(text.size());
    std::memcpy(block.get(), text.data(), text.size());
    const char* const end = block.get() + text.size();
    for (const char* p = block.get();;) {
      const char* const found = GetParam().find(p, end);
      ASSERT_EQ(found - block.get(), reference_find(p, end) - block.get())
          << ::testing::PrintToString(std::string(text)) << " from " << p - block.get();
      if (found == end) return;
      p = found + 1;  // past the closing quote of the string found: its escapes end before it
      while (*p != '"')
        p += *p == '\\' ? 2 : 1;
      ++p;
    }
  }
};

TEST_P(EscapedStringSearch, FindsTheTable) {
  const std::string texts[] = {
      "",
      R"({"a":1})",
      R"({"a":"b\n"})",
      R"(["\"",1])",
      R"(["x","\\","y\u0041"])",
      R"(["a\"b\"c","d"])",
      std::string(100, ' ') + R"("\t")",
      R"([")" + std::string(70, 'x') + R"(\/"])",
      R"([")" + std::string(62, 'x') + R"(",")" + std::string(62, 'y') + R"(\b"])",
  };
  for (const std::string& text : texts)
    expect_as_reference(text);
}

// Random texts of objects, numbers and strings, plain or with escapes (escaped quotes and
// backslashes among them), searched whole and cut after every string.
TEST_P(EscapedStringSearch, AgreesOnRandomTexts) {
  std::mt19937_64 random(64);
  const auto below = [&](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random);
  };
  const std::string_view between[] = {",", ":", "{", "}", "[", "]", "123", "true", "-0.5e3", " "};
  const std::string_view plain[] = {"a", "key", "\xE3\x81\x82", "{[:,]}", "x y z", "\t"};
  const std::string_view escapes[] = {"\\\"", "\\\\", "\\n", "\\u3042", "\\/"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const std::uint32_t strings = below(12);
    for (std::uint32_t i = 0; i < strings; ++i) {
      for (std::uint32_t k = below(4); k > 0; --k)
        text += between[below(std::size(between))];
      text += '"';
      const std::uint32_t pieces = below(30);
      const bool escaped = below(3) == 0;
      for (std::uint32_t k = 0; k < pieces; ++k) {
        text += escaped && below(8) == 0 ? escapes[below(std::size(escapes))]
                                         : plain[below(std::size(plain))];
      }
      text += '"';
      expect_as_reference(text);
    }
    text += between[below(std::size(between))];
    expect_as_reference(text);
    if (HasFailure()) return;
  }
}

std::string implementation_name(const ::testing::TestParamInfo<Implementation>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Each, EscapedStringSearch, ::testing::ValuesIn(IMPLEMENTATIONS),
                         implementation_name);

}  // namespace
}  // namespace tarvik::testing
