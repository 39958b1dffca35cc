// The glance ahead, each way of it: the end a byte-by-byte reading finds, and for the glance that
// notes the objects it passes over, each noted object's end the one a glance at it finds, on a
// table of texts and generated ones, short and long.
#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "json/text/container_end.hpp"

namespace tarvik::testing {
namespace {

// Where the container at the start of `text` ends, read byte by byte, or nullptr.
const char* end_read_bytewise(std::string_view text) {
  std::size_t depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char byte = text[i];
    if (in_string) {
      if (byte == '\\') {
        ++i;
      } else if (byte == '"') {
        in_string = false;
      }
    } else if (byte == '"') {
      in_string = true;
    } else if (byte == '{' || byte == '[') {
      ++depth;
    } else if ((byte == '}' || byte == ']') && --depth == 0) {
      return text.data() + i + 1;
    }
  }
  return nullptr;
}

// One way of glancing: plain, and noting the objects passed over.
struct Glance {
  const char* name;
  const char* (*plain)(const char*, const char*);
  const char* (*noted)(const char*, const char*, std::vector<json::ContainerSpan>&);
  bool needs_avx2;
};

void expect_noted_ends_agree(const Glance& glance, std::string_view text) {
  SCOPED_TRACE(std::string(text));
  const char* const end = text.data() + text.size();
  std::vector<json::ContainerSpan> spans;
  EXPECT_EQ(glance.plain(text.data(), end), end_read_bytewise(text));
  EXPECT_EQ(glance.noted(text.data(), end, spans), end_read_bytewise(text));
  const char* previous = nullptr;
  for (const json::ContainerSpan& span : spans) {
    EXPECT_EQ(*span.open, '{');
    EXPECT_LT(previous, span.open);
    previous = span.open;
    if (span.end != nullptr) {
      EXPECT_EQ(span.end, end_read_bytewise(std::string_view(span.open, end)));
    }
  }
}

class ContainerEnd : public ::testing::TestWithParam<Glance> {
 protected:
  void SetUp() override {
    if (GetParam().needs_avx2 && !json::container_end_detail::has_avx2()) {
      GTEST_SKIP() << "no AVX2";
    }
  }
};

TEST_P(ContainerEnd, NotedObjectsEndWhereAGlanceAtThemEnds) {
  for (const std::string_view text : {
           R"({"a":{"b":[{"c":1},{"d":{}}]},"e":"}{]["})",
           R"([{"a":"\"}"},{"b":"\\"},{"c":"\\\"{"}] tail)",
           R"({"list":[{}, {"x":[1,{"y":2}]} ],"z":{"w":null}},{"next":1})",
           R"({"open":{"never":"closed")",
           R"({"a":"unterminated)",
           R"([[[{"deep":[{"deeper":{}}]}]]])",
           R"({ "spaced" : { "x" : [ { } ] } })",
       }) {
    expect_noted_ends_agree(GetParam(), text);
  }
}

// Random nesting of objects, arrays and strings full of brackets, quotes and backslashes; laid
// out, its tokens stand apart by runs of whitespace of any length, as in indented text.
void append_value(std::mt19937& random, int depth, bool laid_out, std::string& out) {
  const auto space = [&] {
    if (laid_out) out.append(random() % 40, random() % 2 == 0 ? ' ' : '\n');
  };
  const int kind = depth > 6 ? 2 : static_cast<int>(random() % 3);
  if (kind == 2) {
    static constexpr std::string_view kPieces[] = {"{",
                                                   "}",
                                                   "[",
                                                   "]",
                                                   "\\\\",
                                                   "\\\"",
                                                   "a",
                                                   " ",
                                                   "\\\\\\\"",
                                                   "\\\\\\\\",
                                                   "aaaaaaaaaaaaaaaaaaaaaaaa"};
    out += '"';
    for (std::size_t n = random() % 5; n > 0; --n)
      out += kPieces[random() % std::size(kPieces)];
    out += '"';
    return;
  }
  out += kind == 0 ? '{' : '[';
  for (std::size_t n = random() % 4; n > 0; --n) {
    space();
    if (kind == 0) out += R"("k":)";
    append_value(random, depth + 1, laid_out, out);
    space();
    if (n > 1) out += ',';
  }
  out += kind == 0 ? '}' : ']';
}

TEST_P(ContainerEnd, NotedObjectsEndWhereAGlanceAtThemEndsOnGeneratedTexts) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 1000; ++round) {
    std::string text = "{\"first\":";
    append_value(random, 0, round % 2 == 1, text);
    text += "},{}";
    expect_noted_ends_agree(GetParam(), text);
    // Cut anywhere, the glances still agree.
    expect_noted_ends_agree(GetParam(), std::string_view(text).substr(0, random() % text.size()));
  }
}

const Glance GLANCES[] = {
    {"base", json::container_end_detail::container_end_base,
     json::container_end_detail::container_end_base, false},
#if TARVIK_AVX2
    {"avx2", json::container_end_detail::container_end_avx2,
     json::container_end_detail::container_end_avx2, true},
#endif
    {"chosen", json::container_end, json::container_end, false},
};

std::string glance_name(const ::testing::TestParamInfo<Glance>& glance) {
  return glance.param.name;
}

INSTANTIATE_TEST_SUITE_P(Every, ContainerEnd, ::testing::ValuesIn(GLANCES), glance_name);

}  // namespace
}  // namespace tarvik::testing
