// Hostile payloads: nesting far past the limit, a payload of hundreds of megabytes, member names
// chosen to collide in a map's index, and input cut off inside every kind of token.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "../../fuzz/fuzz_checks.hpp"
#include "json/memory/arena.hpp"
#include "json/model/hash.hpp"
#include "json/model/map.hpp"
#include "json/read/reader.hpp"
#include "transform/columnarize.hpp"
#include "transform_entry_points.hpp"

namespace tarvik {
namespace {

std::string run(std::string_view payload) {
  auto result = columnarize_json(payload);
  return result.ok() ? std::string(result.value().view()) : "error: " + result.error();
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i)
    out += piece;
  return out;
}

constexpr std::size_t kMillion = 1'000'000;

struct DeepCase {
  const char* name;
  std::string payload;
  std::string message;
};

class DeepNesting : public ::testing::TestWithParam<DeepCase> {};

// The reader stops at the 128th level with an error, whatever follows: no stack overflow.
TEST_P(DeepNesting, FailsCleanlyAtTheLimit) {
  EXPECT_EQ(run(GetParam().payload), "error: invalid row-oriented JSON: " + GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Million, DeepNesting,
    ::testing::Values(
        DeepCase{"brackets", repeat("[", kMillion),
                 "recursion limit exceeded at line 1 column 128"},
        DeepCase{"balanced_brackets", repeat("[", kMillion) + repeat("]", kMillion),
                 "recursion limit exceeded at line 1 column 128"},
        // "[" is level 1; the 127th "{" is level 128 and stands after 1 + 126 * 5 bytes.
        DeepCase{"braces_in_members", "[" + repeat(R"({"a":)", kMillion),
                 "recursion limit exceeded at line 1 column 632"},
        // Each "[{"": opens two levels: the "{" of the 64th is level 128, the 317th byte.
        DeepCase{"brackets_and_braces", repeat(R"([{"":)", kMillion),
                 "recursion limit exceeded at line 1 column 317"},
        DeepCase{"one_per_line", repeat("[\n", kMillion),
                 "recursion limit exceeded at line 128 column 1"},
        // A top-level object is not entered at all: it is the wrong type.
        DeepCase{"top_level_braces", repeat("{", kMillion),
                 "invalid type: map, expected a sequence at line 1 column 0"}),
    [](const ::testing::TestParamInfo<DeepCase>& param_info) { return param_info.param.name; });

// About 200 MB of rows with escapes, non-ASCII text, floats, nested arrays, a constant and a
// null-only column; the expected output is built alongside.
TEST(LargePayload, TwoHundredMegabytesTransformCorrectly) {
  constexpr std::size_t kRows = 1'100'000;
  const std::string padding(120, 'p');
  std::string payload = "[";
  std::string expected = R"({"columns":["id","name","score","tags"],"rows":[)";
  payload.reserve(kRows * 200);
  expected.reserve(kRows * 200);
  for (std::size_t i = 0; i < kRows; ++i) {
    const std::string id = std::to_string(i);
    if (i > 0) {
      payload += ',';
      expected += ',';
    }
    payload += R"({"id":)" + id + R"(,"name":"row \u00e9\t)" + id + padding + R"(","score":)" + id +
               R"(.5,"kind":"row","gone":null,"tags":[)" + std::to_string(i % 7) + R"(,"x"]})";
    expected += "[" + id + ",\"row \xc3\xa9\\t" + id + padding + "\"," + id + ".5,[" +
                std::to_string(i % 7) + ",\"x\"]]";
  }
  payload += ']';
  expected += R"(],"constants":{"kind":"row"}})";
  ASSERT_GE(payload.size(), 200u * 1000 * 1000);

  const auto result = columnarize_json(payload);
  ASSERT_TRUE(result.ok()) << result.error();
  const std::string_view output = result.value().view();
  const auto [diff, unused] =
      std::mismatch(output.begin(), output.end(), expected.begin(), expected.end());
  EXPECT_EQ(output.size(), expected.size());
  EXPECT_TRUE(diff == output.end()) << "first difference at byte " << (diff - output.begin());
}

// One member holding a 64 MB string in each of two rows: a constant column of that string.
TEST(LargePayload, HugeStringsStayWhole) {
  std::string text = repeat("abc\\\"\xe2\x82\xac", 8 * kMillion);
  const std::string payload = R"([{"s":")" + text + R"("},{"s":")" + text + R"("}])";
  const auto result = columnarize_json(payload);
  ASSERT_TRUE(result.ok()) << result.error();
  const std::string expected = R"({"columns":[],"rows":[[],[]],"constants":{"s":")" + text + "\"}}";
  EXPECT_TRUE(result.value().view() == expected);
}

// Names whose hashes share the low bits of one map's index under that map's seed. A map with a
// fresh seed spreads them, so a payload cannot choose names that pile up in one probe run.
TEST(CollidingKeys, KeysThatCollideUnderOneSeedSpreadUnderAnother) {
  constexpr std::uint64_t kBucketMask = 0x3ff;
  constexpr std::size_t kKeys = 1000;
  const json::HashSeed first_seed = json::next_map_seed();
  std::vector<std::string> names;
  for (std::size_t i = 0; names.size() < kKeys; ++i) {
    std::string name = "k" + std::to_string(i);
    if ((json::hash_key(first_seed, name) & kBucketMask) == 0) names.push_back(std::move(name));
  }

  const auto fullest_bucket = [&](json::HashSeed seed) {
    std::vector<std::size_t> buckets(kBucketMask + 1);
    for (const std::string& name : names)
      ++buckets[json::hash_key(seed, name) & kBucketMask];
    return *std::max_element(buckets.begin(), buckets.end());
  };
  ASSERT_EQ(fullest_bucket(first_seed), kKeys);
  const json::HashSeed later_seed = json::next_map_seed();
  json::HashSeed other_thread_seed{};
  std::thread([&] { other_thread_seed = json::next_map_seed(); }).join();
  EXPECT_NE(later_seed, first_seed);
  EXPECT_NE(other_thread_seed, first_seed);
  // About one name per bucket is expected; a few dozen would already be a fluke.
  EXPECT_LT(fullest_bucket(later_seed), 40u);
  EXPECT_LT(fullest_bucket(other_thread_seed), 40u);
}

// The same names through the pipeline: every one is its own column, in first-seen order, and a
// name written with an escape in another row still finds its column.
TEST(CollidingKeys, CollidingNamesTransformCorrectly) {
  const json::HashSeed seed = json::next_map_seed();
  std::vector<std::string> names;
  for (std::size_t i = 0; names.size() < 500; ++i) {
    std::string name = "k" + std::to_string(i);
    if ((json::hash_key(seed, name) & 0xff) == 0) names.push_back(std::move(name));
  }
  std::string first_row;
  std::string second_row;
  std::string columns;
  std::string first_cells;
  std::string second_cells;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string sep = i > 0 ? "," : "";
    const std::size_t reversed = names.size() - 1 - i;
    first_row += sep + "\"" + names[i] + "\":" + std::to_string(i);
    // "\u006b" is "k": the second row spells the names with an escape, in reverse order.
    second_row +=
        sep + "\"\\u006b" + names[reversed].substr(1) + "\":" + std::to_string(1000 + reversed);
    columns += sep + "\"" + names[i] + "\"";
    first_cells += sep + std::to_string(i);
    second_cells += sep + std::to_string(1000 + i);
  }
  const std::string payload = "[{" + first_row + "},{" + second_row + "}]";
  const auto result = columnarize_json(payload);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result.value().view(), "{\"columns\":[" + columns + "],\"rows\":[[" + first_cells +
                                       "],[" + second_cells + "]],\"constants\":{}}");
}

// The binding hands an empty payload over as a view of no buffer at all: a null pointer.
TEST(EmptyPayload, WithoutABufferIsAnEofError) {
  json::Arena arena;
  const auto parsed = json::parse_value_list(std::string_view(), arena);
  ASSERT_FALSE(parsed.ok());
  EXPECT_EQ(parsed.error().display(), "EOF while parsing a value at line 1 column 0");
  EXPECT_EQ(run(std::string_view()),
            "error: invalid row-oriented JSON: EOF while parsing a value at line 1 column 0");
}

// A payload with every kind of token, separated by every kind of whitespace.
const std::string kEveryToken =
    "[ {\"s\":\"plain\",\t\"e\":\"\\\" \\\\ \\/ \\b \\f \\n \\r \\t \\u00e9 \\ud83d\\ude00\",\r\n"
    "  \"u\":\"\xc3\xa9\xf0\x9f\x98\x80\", \"n\" : [0,-0,12,-34,5.25,-6.5e-3,7E+2,1e-400,"
    "18446744073709551616,-9223372036854775809],\n"
    "  \"l\":[null,true,false],\"o\":{},\"a\":[],\"k\":{\"x\":{\"y\":[1]}}},\n"
    " {} ]";

// Every proper prefix fails with an end-of-input error positioned at its end, through the reader
// and through the pipeline.
TEST(Truncated, EveryPrefixEndsWithAnEofErrorAtItsEnd) {
  ASSERT_EQ(fuzz::check_pipeline(kEveryToken), "");
  ASSERT_TRUE(columnarize_json(kEveryToken).ok());
  for (std::size_t length = 0; length < kEveryToken.size(); ++length) {
    const std::string_view prefix(kEveryToken.data(), length);
    SCOPED_TRACE("prefix of " + std::to_string(length) + " bytes: " + std::string(prefix));
    json::Arena arena;
    const auto parsed = json::parse_value_list(prefix, arena);
    ASSERT_FALSE(parsed.ok());
    EXPECT_TRUE(parsed.error().text().starts_with("EOF while parsing "))
        << parsed.error().display();
    const fuzz::Position end = fuzz::end_position(prefix);
    EXPECT_EQ(parsed.error().line(), end.line);
    EXPECT_EQ(parsed.error().column(), end.column);
    EXPECT_EQ(fuzz::check_pipeline(prefix), "");
  }
}

}  // namespace
}  // namespace tarvik
