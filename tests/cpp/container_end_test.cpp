// The glance ahead that notes the objects it passes over: the same end as the plain glance, and
// each noted object's end the one a glance at it finds, on a table of texts and generated ones.
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

void expect_noted_ends_agree(std::string_view text) {
  SCOPED_TRACE(std::string(text));
  const char* const end = text.data() + text.size();
  std::vector<json::ContainerSpan> spans;
  EXPECT_EQ(json::container_end(text.data(), end, spans), json::container_end(text.data(), end));
  const char* previous = nullptr;
  for (const json::ContainerSpan& span : spans) {
    EXPECT_EQ(*span.open, '{');
    EXPECT_LT(previous, span.open);
    previous = span.open;
    if (span.end != nullptr) {
      EXPECT_EQ(span.end, json::container_end(span.open, end));
    }
  }
}

TEST(ContainerEnd, NotedObjectsEndWhereAGlanceAtThemEnds) {
  for (const std::string_view text : {
           R"({"a":{"b":[{"c":1},{"d":{}}]},"e":"}{]["})",
           R"([{"a":"\"}"},{"b":"\\"},{"c":"\\\"{"}] tail)",
           R"({"list":[{}, {"x":[1,{"y":2}]} ],"z":{"w":null}},{"next":1})",
           R"({"open":{"never":"closed")",
           R"({"a":"unterminated)",
           R"([[[{"deep":[{"deeper":{}}]}]]])",
           R"({ "spaced" : { "x" : [ { } ] } })",
       }) {
    expect_noted_ends_agree(text);
  }
}

// Random nesting of objects, arrays and strings full of brackets, quotes and backslashes.
void append_value(std::mt19937& random, int depth, std::string& out) {
  const int kind = depth > 6 ? 2 : static_cast<int>(random() % 3);
  if (kind == 2) {
    static constexpr std::string_view kPieces[] = {"{", "}", "[", "]", "\\\\", "\\\"", "a", " "};
    out += '"';
    for (std::size_t n = random() % 5; n > 0; --n)
      out += kPieces[random() % std::size(kPieces)];
    out += '"';
    return;
  }
  out += kind == 0 ? '{' : '[';
  for (std::size_t n = random() % 4; n > 0; --n) {
    if (kind == 0) out += R"("k":)";
    append_value(random, depth + 1, out);
    if (n > 1) out += ',';
  }
  out += kind == 0 ? '}' : ']';
}

TEST(ContainerEnd, NotedObjectsEndWhereAGlanceAtThemEndsOnGeneratedTexts) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 500; ++round) {
    std::string text = "{\"first\":";
    append_value(random, 0, text);
    text += "},{}";
    expect_noted_ends_agree(text);
    // Cut anywhere, the glances still agree.
    expect_noted_ends_agree(std::string_view(text).substr(0, random() % text.size()));
  }
}

}  // namespace
}  // namespace tarvik::testing
