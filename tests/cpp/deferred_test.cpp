// Values below the rows are kept as their text: the pipeline must give exactly what building
// every value gives — the same output bytes, the same errors — whatever the text looks like.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/model/map.hpp"
#include "json/read/deferred.hpp"
#include "json/read/reader.hpp"
#include "json/write/writer.hpp"
#include "transform/columnarize.hpp"
#include "transform_entry_points.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using json::Arena;
using json::Build;
using json::Value;

// The pipeline with every value built: the reference for the one that defers.
std::string built_result(std::string_view payload) {
  Arena arena;
  auto rows = json::parse_value_list(payload, arena, Build::Everything);
  if (!rows.ok()) return "error: invalid row-oriented JSON: " + rows.error().display();
  auto document = columnarize_rows(std::move(rows).value(), arena);
  if (!document.ok()) return "error: " + document.error();
  json::Buffer out;
  json::serialize_value(document.value(), out);
  return std::string(out.view());
}

std::string deferred_result(std::string_view payload) {
  auto result = columnarize_json(payload);
  return result.ok() ? std::string(result.value().view()) : "error: " + result.error();
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Cells whose text the writer would spell differently, and cells it would write unchanged.
const char* const kCells[] = {
    "[ 1, 2 ]",
    "[1,\n2]",
    "{\"a\" :1}",
    "{\"a\":1 }",
    "[\"\\/\"]",
    "[\"\\u0041\"]",
    "[\"\\u00E9\"]",
    "[\"\\u00e9\"]",
    "[\"\\u001F\"]",
    "[\"\\u001f\"]",
    "[\"\\u0008\"]",
    "[\"\\b\"]",
    "[\"\\n\\r\\t\\f\\\"\\\\\"]",
    "[\"\\ud83d\\ude00\"]",
    "[1E2]",
    "[1e2]",
    "[100.0]",
    "[1.50]",
    "[1.5]",
    "[-0]",
    "[-0.0]",
    "[0.00001]",
    "[1e-5]",
    "[1e+16]",
    "[1e16]",
    "[18446744073709551615]",
    "[18446744073709551616]",
    "[-9223372036854775809]",
    "{\"a\":1,\"a\":2}",
    "{\"a\":1,\"\\u0061\":2}",
    "{\"a\":{\"b\":1,\"b\":[2]}}",
    "{\"\\n\":1,\"\\n\":2}",
    "[[],{},[{}],\"\"]",
    "[true,false,null]",
    "{\"k\":\"\xc3\xa9\xe2\x80\xa8\x7f\"}",
    "[3e23]",
    "[0.1e1]",
    "[5e-324]",
    "[1e-400]",
};

// How the writer spells a cell: the one cell of a one-row output.
std::string written_cell(const std::string& cell) {
  const std::string output = built_result("[{\"c\":" + cell + "}]");
  const std::string head = R"({"columns":["c"],"rows":[[)";
  const std::string tail = R"(]],"constants":{}})";
  EXPECT_EQ(output.substr(0, head.size()), head) << cell;
  return output.substr(head.size(), output.size() - head.size() - tail.size());
}

class DeferredCells : public ::testing::TestWithParam<const char*> {};

TEST_P(DeferredCells, WriteAndCompareLikeBuiltValues) {
  const std::string cell = GetParam();
  // As the only cell, as a constant candidate against itself and against a rewritten spelling,
  // and as a row of its own.
  for (const std::string& payload :
       {"[{\"c\":" + cell + "}]", "[{\"c\":" + cell + "},{\"c\":" + cell + "}]",
        "[{\"c\":" + cell + "},{\"c\":" + written_cell(cell) + "}]",
        "[{\"c\":" + cell + "},{\"c\":[1]}]", "[{\"c\":1}," + cell + "]"}) {
    EXPECT_EQ(deferred_result(payload), built_result(payload)) << payload;
  }
}

INSTANTIATE_TEST_SUITE_P(Spellings, DeferredCells, ::testing::ValuesIn(kCells));

// Deferred and built values are equal exactly when the built values are, and copies of
// deferred values stay deferred and equal.
TEST(DeferredValues, EqualityAndCopyFollowTheValueTheyStandFor) {
  const std::string payload =
      R"([{"x":[1,{"a":1,"b":[true]}],"y":{"b":[true],"a":1},"z":[1.0,{"a":1,"b":[true]}]}])";
  Arena arena;
  auto deferred = json::parse_value_list(payload, arena, Build::Rows);
  auto built = json::parse_value_list(payload, arena, Build::Everything);
  ASSERT_TRUE(deferred.ok() && built.ok());
  const json::Map& row = deferred.value()[0].as_object();
  const json::Map& built_row = built.value()[0].as_object();
  for (const auto& entry : row) {
    ASSERT_TRUE(entry.value.is_deferred()) << entry.key;
    for (const auto& other : built_row) {
      const bool expected = *built_row.get(entry.key) == other.value;
      EXPECT_EQ(entry.value == other.value, expected) << entry.key << " vs " << other.key;
      EXPECT_EQ(entry.value == *row.get(other.key), expected) << entry.key << " vs " << other.key;
    }
  }
  Arena other_arena;
  const Value copy = row.get("y")->deep_copy(other_arena);
  EXPECT_TRUE(copy.is_deferred());
  EXPECT_NE(copy.deferred_text().data(), row.get("y")->deferred_text().data());
  EXPECT_TRUE(copy == *built_row.get("y"));
}

// Texts whose objects repeat no key are compared token by token, and built only when members
// come in other orders: every pair must compare as the built values do.
bool equal_as_texts(const std::string& a, const std::string& b) {
  const auto kind = [](const std::string& text) {
    return text[0] == '[' ? json::Kind::Array : json::Kind::Object;
  };
  return Value::deferred(kind(a), a, json::TextForm::Respelled) ==
         Value::deferred(kind(b), b, json::TextForm::Respelled);
}

bool equal_as_built(const std::string& a, const std::string& b) {
  Arena arena;
  return json::build_deferred(Value::deferred(json::Kind::Array, a, json::TextForm::Other),
                              arena) ==
         json::build_deferred(Value::deferred(json::Kind::Array, b, json::TextForm::Other), arena);
}

const std::pair<const char*, const char*> kTextPairs[] = {
    {R"({"a":1,"b":2})", R"({"b":2,"a":1})"},
    {R"({"a":1,"b":2})", R"({"b":2,"a":3})"},
    {R"({"a":1,"b":2})", R"({"a":1})"},
    {R"({"a":1})", R"({"a":1,"b":2})"},
    {R"({"a":1,"b":2})", R"({"a":1,"c":2})"},
    {"[1.0]", "[1.00]"},
    {"[1]", "[1.0]"},
    {"[1e2]", "[100.0]"},
    {"[1E2]", "[1e+2]"},
    {"[-0]", "[0]"},
    {"[-0]", "[-0.0]"},
    {"[0.1]", "[0.10000000000000000001]"},
    {"[12]", "[13]"},
    {"[-12]", "[12]"},
    {"[123456789012345678]", "[123456789012345679]"},
    {"[18446744073709551616]", "[18446744073709551617]"},
    {"[9223372036854775807]", "[9223372036854775806]"},
    {R"(["\u0041"])", R"(["A"])"},
    {R"(["\u0041"])", R"(["B"])"},
    {R"(["a\\"])", R"(["a\\" ])"},
    {R"(["a\""])", R"(["a\"b"])"},
    {R"(["a\\\""])", R"(["a\\\"" ])"},
    {R"({"k\n":1})", R"({"k\u000a":1})"},
    {R"({"k\n":1})", R"({"k\u000b":1})"},
    {"[[],{}]", "[ [ ] , { } ]"},
    {"[1,2]", "[1,2,3]"},
    {"[1,2,3]", "[1,2]"},
    {"[true]", "[false]"},
    {"[null]", "[0]"},
    {R"(["1"])", "[1]"},
    {"[[1]]", "[{}]"},
    {R"({"a":{"b":[1,{"c":"d"}]}})", R"({"a":{"b":[1,{"c":"e"}]}})"},
    {R"({"a":{"b":[1,{"c":"d"}]}})", "{\n  \"a\": {\"b\": [1, {\"c\": \"d\"}]}\n}"},
    {R"({"a":{"x":1,"y":2},"b":3})", R"({"a":{"y":2,"x":1},"b":3})"},
    {R"({"a":{"x":1,"y":2},"b":3})", R"({"a":{"y":2,"x":1},"b":4})"},
    // Objects whose names part: their members counted to the end, strings and nesting passed.
    {R"({"a":1,"b":"\"},","c":2})", R"({"a":1,"c":2,"b":"\"},"})"},
    {R"({"a":{"p":1},"b":[{"q":2},3]})", R"({"a":{"p":1},"c":[{"q":2},3],"d":null})"},
    {R"({"a":1,"b":{"x":[1,2]}})", R"({"a":1,"d":{"x":[1,2]}})"},
    {"{\"a\":1,\n  \"b\": [1, 2]}", R"({"b":[1,2],"a":1})"},
};

TEST(DeferredEquality, TextsCompareAsTheirValues) {
  for (const auto& [a, b] : kTextPairs) {
    EXPECT_EQ(equal_as_texts(a, b), equal_as_built(a, b)) << a << " vs " << b;
    EXPECT_EQ(equal_as_texts(b, a), equal_as_built(a, b)) << b << " vs " << a;
  }
}

// A value spelt two ways at random (whitespace, escapes, number spellings, member order), with
// now and then one scalar changed.
class SpeltTwice {
 public:
  explicit SpeltTwice(unsigned seed) : random_(seed) {}

  std::pair<std::string, std::string> next() {
    std::string a;
    std::string b;
    container(a, b, 0);
    return {a, b};
  }

 private:
  bool chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(random_) < percent; }
  std::size_t pick(std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_);
  }
  void space(std::string& out) {
    if (chance(20)) out += chance(50) ? " " : "\n  ";
  }

  void container(std::string& a, std::string& b, int depth) {
    const bool object = chance(50);
    const std::size_t count = pick(4);
    std::vector<std::pair<std::string, std::string>> members;
    for (std::size_t i = 0; i < count; ++i) {
      std::string one;
      std::string other;
      if (object) {
        const std::size_t name = i * 3 + pick(3);  // distinct names in order
        one = other = "\"k" + std::to_string(name) + "\":";
        if (chance(10)) other = "\"\\u006b" + std::to_string(name) + "\":";
      }
      value(one, other, depth + 1);
      members.emplace_back(std::move(one), std::move(other));
    }
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i)
      order[i] = i;
    if (object && count > 1 && chance(15)) std::swap(order[0], order[count - 1]);
    a += object ? '{' : '[';
    b += object ? '{' : '[';
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) {
        a += ',';
        b += ',';
      }
      space(b);
      a += members[i].first;
      b += members[order[i]].second;
    }
    a += object ? '}' : ']';
    b += object ? '}' : ']';
  }

  void value(std::string& a, std::string& b, int depth) {
    if (depth < 4 && chance(30)) {
      container(a, b, depth);
      return;
    }
    static const std::vector<std::vector<std::string>> kSpellings = {
        {"1", "1"},
        {"1.0", "1.00", "1e0", "10e-1"},
        {"-0", "-0"},
        {"-0.0", "-0e0"},
        {"0", "0"},
        {"12", "12"},
        {"-12", "-12"},
        {"true", "true"},
        {"false", "false"},
        {"null", "null"},
        {R"("A")", R"("\u0041")", R"("\u0041")"},
        {R"("a\"b")", R"("a\u0022b")"},
        {R"("")", R"("")"},
    };
    const std::size_t kind = pick(kSpellings.size());
    a += kSpellings[kind][0];
    const std::size_t changed = chance(5) ? pick(kSpellings.size()) : kind;
    b += kSpellings[changed][pick(kSpellings[changed].size())];
  }

  std::mt19937 random_;
};

TEST(DeferredEquality, GeneratedSpellingsCompareAsTheirValues) {
  SpeltTwice pairs(18);
  for (int i = 0; i < 4000; ++i) {
    const auto [a, b] = pairs.next();
    EXPECT_EQ(equal_as_texts(a, b), equal_as_built(a, b)) << a << " vs " << b;
  }
}

// Strings read through below the rows are checked without being decoded: a fault in a raw run
// between escapes, in an escape, or in a run of escapes must fail as decoding it does.
TEST(DeferredStrings, FailLikeDecodedStrings) {
  const char* const strings[] = {
      "\"\xe3\x81\\n\"",
      "\"\\n\xe3\x81\"",
      "\"\\u3042\xe3\x81\x82\\u3044\"",
      "\"\\u3042\\u3044\xff\"",
      "\"\xff\\q\"",
      "\"\\u3042\\q\"",
      "\"\\u3042\\udc00\"",
      "\"\\ud800\\u3042\"",
      "\"\\ud800\"",
      "\"\\u30\"",
      "\"\\u3042\\",
      "\"\\u3042\x01\"",
      "\"\xed\xa0\x80\\u0041\"",
      "\"\\n\\t\\u00e9\\/\"",
      "\"\\ud83d\\ude00\xf0\x9f\x98\x80\"",
  };
  for (const std::string text : strings) {
    for (const std::string& payload : {"[{\"c\":[" + text + "]}]", "[{\"c\":{\"k\":" + text + "}}]",
                                       "[{\"c\":{" + text + ":1}}]", "[{\"c\":" + text + "}]"}) {
      EXPECT_EQ(deferred_result(payload), built_result(payload)) << payload;
    }
  }
}

// Objects below the rows whose keys are taken from the last object that began with the same
// key: each pair of cells, as two rows and within one array, must write and fail exactly as
// built values do, so every repeated key must still make its text non-canonical.
TEST(DeferredKeys, SameAsBuiltValues) {
  const std::string head = R"("a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8)";
  const std::string same = "{" + head + "}";
  const std::vector<std::string> seconds = {
      same,
      "{" + head + R"(,"i":9})",
      R"({"a":1,"b":2,"c":3,"d":4})",
      R"({"a":1,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
      R"({"a":1,"b":2,"x":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
      R"({"a":1,"bb":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
      R"({"a":1,"":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
      "{" + head + R"(,"a":9})",
      "{" + head + R"(,"h":9})",
      R"({"a":1,"b":2,"c":3,"a":4,"e":5,"f":6,"g":7,"h":8})",
      R"({"a":1,"c":3,"b":2,"d":4,"e":5,"f":6,"g":7,"c":8})",
      R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"b":9})",
      R"({"a":1,"d":2,"b":3,"c":4,"d":5,"e":6,"f":7,"g":8,"h":9})",
      R"({"a":1,"b\"":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
      R"({"a":1,"b\/":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
      R"({"a":1,"b":2,"a":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
      R"({"a":1, "b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
      R"({"a":1,"b":2,"c" 3,"d":4,"e":5,"f":6,"g":7,"h":8})",
      R"({"a":1,"b":2,"c)",
      R"({"a":1,"b":2,"c")",
  };
  const std::vector<std::string> firsts = {same,
                                           R"({"a":1,"b\"":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
                                           R"({"a":1, "b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
                                           R"({"a":1,"b\/":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8})",
                                           R"({"a":1,"b":2,"a":3,"d":4,"e":5,"f":6,"g":7,"h":8})"};
  for (const std::string& first : firsts) {
    for (const std::string& second : seconds) {
      for (const std::string& payload : {"[{\"x\":" + first + "},{\"x\":" + second + "}]",
                                         "[{\"x\":[" + first + "," + second + "]}]",
                                         "[{\"x\":" + first + ",\"y\":{\"z\":" + second + "}}]"}) {
        EXPECT_EQ(deferred_result(payload), built_result(payload)) << payload;
      }
    }
  }
}

// Every file of the suite, and every prefix of the short ones, gives the same result either way:
// the deferring reader reports exactly the errors of the building one.
TEST(DeferredConformance, SameResultsAsBuildingEverything) {
  const fs::path suite = fs::path(TARVIK_SOURCE_DIR) / "tests" / "conformance" / "json-test-suite";
  for (const fs::directory_entry& entry : fs::directory_iterator(suite)) {
    if (entry.path().extension() != ".json") continue;
    const std::string text = read_file(entry.path());
    for (const std::string& payload :
         {text, "[{\"c\":" + text + "}]", "[{\"c\":[" + text + "]}]"}) {
      EXPECT_EQ(deferred_result(payload), built_result(payload)) << entry.path().filename();
    }
    if (text.size() > 64) continue;
    for (std::size_t cut = 0; cut < text.size(); ++cut) {
      const std::string payload = "[{\"c\":" + text.substr(0, cut);
      EXPECT_EQ(deferred_result(payload), built_result(payload)) << entry.path().filename();
    }
  }
}

// `text` with whitespace of every kind after each bracket, brace, colon and comma outside
// strings, as an indenting writer lays JSON out.
std::string spread_out(std::string_view text) {
  const char* const spaces[] = {"\n  ", " ", "\t", "\r\n"};
  std::string out;
  out.reserve(text.size() * 2);
  bool in_string = false;
  std::size_t next_space = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char byte = text[i];
    out += byte;
    if (in_string) {
      if (byte == '\\') {
        out += text[++i];
      } else if (byte == '"') {
        in_string = false;
      }
    } else if (byte == '"') {
      in_string = true;
    } else if (std::string_view("[]{},:").find(byte) != std::string_view::npos) {
      out += spaces[next_space++ % std::size(spaces)];
    }
  }
  return out;
}

// The real payloads: $TARVIK_DATA_DIR when set, else the checkout's tests/data/rows.
TEST(DeferredPayloads, SameOutputAsBuildingEverything) {
  const char* const configured = std::getenv("TARVIK_DATA_DIR");
  const fs::path rows = configured != nullptr && *configured != '\0'
                            ? fs::path(configured)
                            : fs::path(TARVIK_SOURCE_DIR) / "tests" / "data" / "rows";
  std::vector<fs::path> payloads;
  if (fs::is_directory(rows)) {
    for (const auto& entry : fs::directory_iterator(rows))
      if (entry.path().extension() == ".json") payloads.push_back(entry.path());
  }
  ASSERT_FALSE(payloads.empty()) << "no payloads (*.json) in " << rows
                                 << ": set TARVIK_DATA_DIR to a folder of row-oriented JSON";
  for (const fs::path& path : payloads) {
    const std::string text = read_file(path);
    ASSERT_FALSE(text.empty()) << path;
    EXPECT_EQ(deferred_result(text), built_result(text)) << path.filename();
    // Laid out with whitespace, every value below the rows is respelled or rebuilt.
    const std::string spread = spread_out(text);
    EXPECT_EQ(deferred_result(spread), built_result(spread)) << path.filename() << " spread out";
    EXPECT_EQ(deferred_result(spread), deferred_result(text)) << path.filename() << " spread out";
  }
}

// Runs of numbers below the rows are judged a number at a time as they are passed over, without
// building them: each text against the writer's spelling of the value it builds. Arrays of
// numbers of every shape (edge cases and random ones, plain and not, valid and broken) must give
// the output and errors of the built values, and be kept as written text exactly when the writer
// writes their built value as that text.
TEST(DeferredNumbers, RunsJudgedLikeBuiltNumbers) {
  const char* const kShapes[] = {"0",
                                 "-0",
                                 "0.0",
                                 "-0.0",
                                 "7",
                                 "-7",
                                 "123456789012345",
                                 "1234567890123456",
                                 "123456789012345678",
                                 "12345678901234567890",
                                 "-9223372036854775808",
                                 "1.5",
                                 "1.50",
                                 "0.00001",
                                 "0.000001",
                                 "43.42027300000001",
                                 "-65.61361699999998",
                                 "9007199254740993.0",
                                 "0.30000000000000004",
                                 "0.1234567890123456789",
                                 "1e5",
                                 "1E+16",
                                 "1e+16",
                                 "true",
                                 "null",
                                 "\"s\"",
                                 "[]",
                                 "-",
                                 "01",
                                 "1.",
                                 "1.e5",
                                 "-a",
                                 "1.5.5"};
  std::mt19937_64 random(37);
  const auto digits = [&](std::uint64_t count) {
    std::string text;
    for (std::uint64_t d = 0; d < count; ++d)
      text += static_cast<char>('0' + random() % 10);
    return text;
  };
  int written = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string array = "[";
    for (std::uint64_t n = random() % 6; n-- != 0;) {
      if (random() % 4 == 0) {
        array += kShapes[random() % std::size(kShapes)];
      } else {  // coordinates and the like: "-dd.ddd…" with 1 to 18 fraction digits
        array += (random() % 2 ? "-" : "") + std::to_string(1 + random() % 180) + "." +
                 digits(1 + random() % 18);
      }
      array += n == 0 ? "" : random() % 30 == 0 ? ", " : ",";
    }
    array += "]";
    if (random() % 3 == 0) array = "[" + array + "," + array + "]";
    // Read with room after it, where a plain number is read whole, and near the input's end.
    const std::string payload =
        "[{\"a\":" + array + "}," + std::string(40, ' ') + "{\"a\":[" + array + "]}]";
    ASSERT_EQ(deferred_result(payload), built_result(payload)) << payload;
    Arena deferred_arena;
    Arena built_arena;
    auto deferred = json::parse_value_list(payload, deferred_arena, Build::Rows);
    auto built = json::parse_value_list(payload, built_arena, Build::Everything);
    ASSERT_EQ(deferred.ok(), built.ok()) << payload;
    if (!deferred.ok()) continue;
    json::Buffer out;
    json::serialize_value(*built.value()[0].as_object().get("a"), out);
    const bool expected = out.view() == array;
    const json::TextForm form = deferred.value()[0].as_object().get("a")->deferred_form();
    ASSERT_EQ(form == json::TextForm::Written, expected) << array;
    written += expected ? 1 : 0;
  }
  EXPECT_GT(written, 2000);
  // Arrays of numbers entered at the nesting limit and just below it.
  for (const int depth : {125, 126, 127, 128}) {
    const std::string payload =
        "[{\"a\":" + std::string(depth, '[') + "1,2" + std::string(depth, ']') + "}]";
    EXPECT_EQ(deferred_result(payload), built_result(payload)) << depth;
  }
}

}  // namespace
}  // namespace tarvik
