// Rows one after another: keys taken over from the row before, short strings taken from one
// block, plain strings written without a scan, cells placed by the columns of the row before.
// Each must give exactly what reading every row on its own, or a plain reference, gives: the
// same members in the same order, the same errors at the same positions, the same output bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "json/model/map.hpp"
#include "json/read/reader.hpp"
#include "json/write/writer.hpp"
#include "transform/columnarize.hpp"
#include "transform_entry_points.hpp"

namespace tarvik {
namespace {

using json::Arena;
using json::Build;
using json::Value;

std::string text_of(const Value& value) {
  json::Buffer out;
  json::serialize_value(value, out);
  return std::string(out.view());
}

// Each element as written, with the keys of object elements looked up again, or the error.
std::vector<std::string> read_elements(const std::string& payload, Build build) {
  Arena arena;
  auto result = json::parse_value_list(payload, arena, build);
  if (!result.ok()) return {"error: " + result.error().display()};
  std::vector<std::string> elements;
  for (const Value& element : result.value()) {
    std::string text = text_of(element);
    if (element.is_object() && !element.is_deferred()) {
      for (const json::Map::Entry& entry : element.as_object()) {
        const Value* found = element.as_object().get(entry.key);
        if (found != &entry.value) text += " [lookup of " + std::string(entry.key) + " fails]";
      }
    }
    elements.push_back(text);
  }
  return elements;
}

// The rows as one payload, and what each gives read alone at the same column, with blanks in
// place of the rows before it: the first failing row's error, or every row's elements.
void expect_same_as_rows_read_alone(const std::vector<std::string>& rows, Build build) {
  std::string payload = "[";
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) payload += ",";
    const std::string alone = "[" + std::string(payload.size() - 1, ' ') + rows[i] + "]";
    payload += rows[i];
    const std::vector<std::string> elements = read_elements(alone, build);
    if (elements.size() == 1 && elements[0].starts_with("error: ")) {
      expected = elements;
      break;
    }
    expected.insert(expected.end(), elements.begin(), elements.end());
  }
  payload += "]";
  EXPECT_EQ(read_elements(payload, build), expected) << payload;
}

struct RowsCase {
  const char* name;
  std::vector<std::string> rows;
};

void PrintTo(const RowsCase& c, std::ostream* os) {
  *os << c.name;
}

const RowsCase kRowsCases[] = {
    {"same keys", {R"({"a":1,"b":"x"})", R"({"a":2,"b":"y"})", R"({"a":3,"b":"z"})"}},
    {"last byte differs", {R"({"abcdef":1})", R"({"abcdeg":2})"}},
    {"first byte differs", {R"({"abcdef":1})", R"({"xbcdef":2})"}},
    {"previous key is a prefix", {R"({"abc":1})", R"({"abcd":2})"}},
    {"key is a prefix of the previous", {R"({"abcd":1})", R"({"abc":2})"}},
    {"long keys differ after 16 bytes",
     {R"({"abcdefghijklmnopq":1})", R"({"abcdefghijklmnopr":2})"}},
    {"long keys differ after 32 bytes",
     {R"({"abcdefghijklmnopqrstuvwxyz0123456":1})", R"({"abcdefghijklmnopqrstuvwxyz0123457":2})"}},
    {"long key is a prefix",
     {R"({"abcdefghijklmnopqrstuvwxyz0123456":1})", R"({"abcdefghijklmnopqrstuvwxyz01234567":2})"}},
    {"key goes on with an escape", {R"({"a":1})", R"({"a\"b":2})", R"({"a\u0041":3})"}},
    {"escaped key repeated", {R"({"a\"b":1})", R"({"a\"b":2})"}},
    {"decoded key spelled as the next key's text", {R"({"a\\":1})", R"({"a\"":2})"}},
    {"decoded key before its own text", {R"({"a\\":1})", R"({"a\\":2})"}},
    {"non-ASCII keys", {"{\"\xC3\xA9\":1}", "{\"\xC3\xA9\":2}", "{\"\xC3\xA9\xC3\xA9\":3}"}},
    {"empty key", {R"({"":1})", R"({"":2})", R"({"x":3})", R"({"":4})"}},
    {"member missing", {R"({"a":1,"b":2,"c":3,"d":4})", R"({"a":1,"c":3,"d":4})"}},
    {"two members missing", {R"({"a":1,"b":2,"c":3,"d":4})", R"({"a":1,"d":4})"}},
    {"member added", {R"({"a":1,"c":3})", R"({"a":1,"b":2,"c":3})", R"({"a":1,"c":3})"}},
    {"order reversed", {R"({"a":1,"b":2,"c":3})", R"({"c":1,"b":2,"a":3})"}},
    {"expected key repeated", {R"({"a":1,"b":2})", R"({"a":1,"b":2,"a":3})"}},
    {"expected key repeated after a skip", {R"({"a":1,"b":2,"c":3})", R"({"a":1,"c":2,"c":3})"}},
    {"new key repeated by an expected one", {R"({"a":1,"b":2})", R"({"b":0,"a":1,"b":2})"}},
    {"previous row had a repeated key", {R"({"a":1,"b":2,"a":3})", R"({"a":4,"b":5,"a":6})"}},
    {"whitespace around keys", {R"({ "a" : 1 , "b" : 2 })", "{\n\"a\"\t:1,\r\"b\":2}"}},
    {"rows between other elements", {R"({"a":1})", "1", R"(["a"])", R"({"a":2})", "{}"}},
    {"nested objects", {R"({"a":{"a":1,"b":2},"b":[{"b":1}]})", R"({"a":{"b":2,"a":1},"b":[]})"}},
    {"colon missing after a known key", {R"({"a":1})", R"({"a" 1})"}},
    {"control byte after a known key", {R"({"a":1})", "{\"a\x01\":2}"}},
    {"invalid UTF-8 after a known key", {"{\"\xC3\xA9\":1}", "{\"\xC3\xFF\":2}"}},
    {"error in the row after", {R"({"a":1})", R"({"a":2})", R"({"a":tru})"}},
};

class RowKeys : public ::testing::TestWithParam<RowsCase> {};

TEST_P(RowKeys, SameAsEachRowReadAlone) {
  expect_same_as_rows_read_alone(GetParam().rows, Build::Everything);
  expect_same_as_rows_read_alone(GetParam().rows, Build::Rows);
}

INSTANTIATE_TEST_SUITE_P(Shapes, RowKeys, ::testing::ValuesIn(kRowsCases));

// A repeated key keeps its first position and takes the last value also when some of the
// row's keys were taken over from the row before.
TEST(RowKeysRepeated, KeepFirstPositionAndLastValue) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {R"([{"a":1,"b":2},{"a":3,"a":4,"b":5}])", {R"({"a":1,"b":2})", R"({"a":4,"b":5})"}},
      {R"([{"a":1,"b":2},{"a":3,"b":4,"a":5}])", {R"({"a":1,"b":2})", R"({"a":5,"b":4})"}},
      {R"([{"a":1,"b":2},{"b":3,"a":4,"b":5}])", {R"({"a":1,"b":2})", R"({"b":5,"a":4})"}},
      {R"([{"a":1,"b":2,"c":3},{"a":4,"c":5,"c":6}])",
       {R"({"a":1,"b":2,"c":3})", R"({"a":4,"c":6})"}},
      {R"([{"a":1,"b":2,"a":3},{"a":4,"b":5,"a":6}])", {R"({"a":3,"b":2})", R"({"a":6,"b":5})"}},
      {R"([{"a":1},{"x":2,"a":3,"x":4}])", {R"({"a":1})", R"({"x":4,"a":3})"}},
  };
  for (const auto& [payload, expected] : cases) {
    EXPECT_EQ(read_elements(payload, Build::Everything), expected) << payload;
    EXPECT_EQ(read_elements(payload, Build::Rows), expected) << payload;
  }
}

// An input that ends within or right after a key the row before held.
TEST(RowKeysAtTheEnd, InputEndingInAKnownKey) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"([{"abc":1},{"ab)", "EOF while parsing a string at line 1 column 15"},
      {R"([{"abc":1},{"abc)", "EOF while parsing a string at line 1 column 16"},
      {R"([{"abc":1},{"abc")", "EOF while parsing an object at line 1 column 17"},
      {R"([{"abc":1},{"abc":)", "EOF while parsing a value at line 1 column 18"},
  };
  for (const auto& [payload, message] : cases) {
    for (const Build build : {Build::Everything, Build::Rows}) {
      EXPECT_EQ(read_elements(payload, build), std::vector<std::string>{"error: " + message})
          << payload;
    }
  }
}

// Strings of every length with a special byte at every place: read from one block when short
// and followed by enough input, byte by byte near the end of the input. Both give the same text,
// or the same error at the same place.
TEST(ShortStrings, SameFromOneBlockAsNearTheEnd) {
  for (std::size_t length = 0; length < 20; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      for (const char* special : {"", "\\n", "\x01", "\xC3\xA9", "\xFF", "\""}) {
        std::string body(length, 'a');
        body.insert(at, special);
        const std::string at_the_end = "[\"" + body + "\"]";
        const std::string followed = "[\"" + body + "\"" + std::string(20, ' ') + "]";
        EXPECT_EQ(read_elements(followed, Build::Rows), read_elements(at_the_end, Build::Rows))
            << ::testing::PrintToString(followed);
      }
    }
  }
}

// The read position that a short string leaves, seen through the error of the byte after it.
TEST(ShortStrings, PositionAfterTheString) {
  for (std::size_t length = 0; length < 40; ++length) {
    std::string body;
    for (std::size_t i = 0; i < length; ++i)
      body += static_cast<char>('a' + i % 26);
    const std::string payload = "[\"" + body + "\" x" + std::string(20, ' ') + "]";
    EXPECT_EQ(read_elements(payload, Build::Rows),
              std::vector<std::string>{"error: expected `,` or `]` at line 1 column " +
                                       std::to_string(length + 5)});
  }
}

// Plain strings of every length are copied by the writer exactly, as cells, in messages and
// after a deep copy; strings with escapes still get them.
TEST(PlainStrings, WrittenAsReadAtEveryLength) {
  for (std::size_t length = 0; length < 70; ++length) {
    std::string body;
    for (std::size_t i = 0; i < length; ++i)
      body += static_cast<char>(i % 3 == 0 ? '\x7F' : 'A' + i % 26);
    const std::string quoted = "\"" + body + "\"";
    const auto output = columnarize_json("[{\"c\":" + quoted + "},{\"c\":1}]");
    ASSERT_TRUE(output.ok());
    EXPECT_EQ(output.value().view(),
              "{\"columns\":[\"c\"],\"rows\":[[" + quoted + "],[1]],\"constants\":{}}");
    const auto failed = columnarize_json("[{\"c\":1}," + quoted + "]");
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), "expected a JSON object row, got: " + quoted);

    Arena arena;
    const std::string list = "[" + quoted + "]";
    auto read = json::parse_value_list(list, arena);
    ASSERT_TRUE(read.ok());
    ASSERT_TRUE(read.value()[0].is_plain_string());
    Arena other;
    const Value copy = read.value()[0].deep_copy(other);
    EXPECT_TRUE(copy.is_plain_string());
    EXPECT_EQ(text_of(copy), quoted);
  }
  const auto escaped = columnarize_json(R"([{"c":"a\"b\\c\nd\u0001"},{"c":1}])");
  ASSERT_TRUE(escaped.ok());
  EXPECT_EQ(escaped.value().view(),
            R"({"columns":["c"],"rows":[["a\"b\\c\nd\u0001"],[1]],"constants":{}})");
}

// A reference transform for rows of integers, written plainly: the pipeline must place every
// cell under its name however the member order and the member set change.
void expect_cells_follow_names(const std::vector<std::vector<std::string>>& shapes) {
  std::string payload = "[";
  std::vector<std::string> names;
  std::vector<std::map<std::string, std::string>> cells;
  for (std::size_t r = 0; r < 3 * shapes.size(); ++r) {
    const std::vector<std::string>& shape = shapes[(r * 7) % shapes.size()];
    payload += r == 0 ? "{" : ",{";
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < shape.size(); ++i) {
      const std::string value = std::to_string(r * 10 + i);
      payload += (i == 0 ? "\"" : ",\"") + shape[i] + "\":" + value;
      row[shape[i]] = value;
      if (std::find(names.begin(), names.end(), shape[i]) == names.end()) names.push_back(shape[i]);
    }
    payload += "}";
    cells.push_back(row);
  }
  payload += "]";
  std::string expected = "{\"columns\":[";
  for (std::size_t j = 0; j < names.size(); ++j)
    expected += (j == 0 ? "\"" : ",\"") + names[j] + "\"";
  expected += "],\"rows\":[";
  for (std::size_t r = 0; r < cells.size(); ++r) {
    expected += r == 0 ? "[" : ",[";
    for (std::size_t j = 0; j < names.size(); ++j) {
      const auto found = cells[r].find(names[j]);
      expected += (j == 0 ? "" : ",") + (found == cells[r].end() ? "null" : found->second);
    }
    expected += "]";
  }
  expected += "],\"constants\":{}}";
  const auto output = columnarize_json(payload);
  ASSERT_TRUE(output.ok());
  EXPECT_EQ(output.value().view(), expected);
}

TEST(RowKeysInTheTransform, CellsFollowTheirNames) {
  expect_cells_follow_names({{"a", "b", "c", "d"},
                             {"a", "c", "d"},
                             {"a", "d"},
                             {"b", "a", "d", "c"},
                             {"a", "b", "c", "d"},
                             {"x", "a", "b"},
                             {"a", "b", "x"},
                             {"d"},
                             {},
                             {"c", "d", "a"},
                             {"a", "b", "c", "d", "e"}});
}

// The next member's comma, name and colon are taken in one block when they are those of the row
// before: names filling the block or not, sharing all but their last byte, near the input's end.
TEST(RowKeysInTheTransform, CellsFollowNamesOfEveryLength) {
  std::vector<std::string> names;
  for (std::size_t length = 1; length <= 17; ++length)
    names.push_back(std::string(length - 1, 'k') + "x");
  for (std::size_t i = 1; i < names.size(); i += 2)
    names[i].back() = 'y';
  std::vector<std::string> reversed = names;
  std::reverse(reversed.begin(), reversed.end());
  expect_cells_follow_names({names, names, reversed, {names[10], names[11], names[12]}, names});
  expect_cells_follow_names(
      {{"a", "kkkkkkkkkkkx", "b"}, {"a", "kkkkkkkkkkky", "b"}, {"kkkkkkkkkkky", "kkkkkkkkkkkx"}});
}

// Where the text taken at once stops matching, the member is read as any other, with the same
// error at the same place as reading the rows as values.
TEST(RowKeysInTheTransform, ErrorsAfterAKnownMember) {
  for (const char* payload : {
           R"([{"a":1,"bb":2},{"a":1,"bb" 2}])",
           R"([{"a":1,"bb":2},{"a":1,"bb":}])",
           R"([{"a":1,"bb":2},{"a":1,"bb":2,}])",
           R"([{"a":1,"bb":2},{"a":1,"bb":2)",
           R"([{"a":1,"bb":2},{"a":1,"bb)",
           R"([{"a":1,"bb":2},{"a":1,"bb":2 "c":3}])",
           "[{\"a\":1,\"bb\":2},{\"a\":1,\"bb\x01\":2}]",
       }) {
    // Room after the text for a block to be compared.
    const std::string padded = payload + std::string(16, ' ');
    const auto output = columnarize_json(padded);
    ASSERT_FALSE(output.ok()) << padded;
    EXPECT_EQ(output.error(),
              "invalid row-oriented JSON: " + read_elements(padded, Build::Rows).at(0).substr(7))
        << padded;
  }
}

// Past a few dozen names, names are found by their hash instead of by comparing them: tables
// that grow across that point, one name at a time or many at once, in changing orders.
TEST(RowKeysInTheTransform, CellsFollowTheirNamesInWideTables) {
  std::vector<std::string> all;
  for (int i = 0; i < 45; ++i)
    all.push_back("n" + std::to_string(i));
  auto names = [&](std::size_t from, std::size_t to) {
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(from),
                                    all.begin() + static_cast<std::ptrdiff_t>(to));
  };
  std::vector<std::string> reversed = names(0, 45);
  std::reverse(reversed.begin(), reversed.end());
  expect_cells_follow_names(
      {names(0, 31), names(0, 32), names(1, 33), names(0, 34), reversed, names(20, 45), {"n44"}});
  expect_cells_follow_names({names(0, 45), names(3, 9)});
}

// A name spelled with escapes is the name it decodes to, wherever the table is in its growth.
TEST(RowKeysInTheTransform, EscapedNamesAreTheirDecodedNames) {
  for (const int width : {3, 31, 32, 33, 40}) {
    std::string plain = "[";
    std::string escaped = "[";
    for (int row = 0; row < 3; ++row) {
      plain += row == 0 ? "{" : ",{";
      escaped += row == 0 ? "{" : ",{";
      for (int i = 0; i < width; ++i) {
        const std::string number = std::to_string(i);
        const std::string value = std::to_string(row * 100 + i);
        plain += (i == 0 ? "\"n" : ",\"n") + number + "\":" + value;
        // Every other row spells its names with an escape for the "n".
        escaped += (i == 0 ? "\"" : ",\"") + std::string(row % 2 == 1 ? "\\u006e" : "n") + number +
                   "\":" + value;
      }
      plain += "}";
      escaped += "}";
    }
    plain += "]";
    escaped += "]";
    const auto from_plain = columnarize_json(plain);
    const auto from_escaped = columnarize_json(escaped);
    ASSERT_TRUE(from_plain.ok() && from_escaped.ok());
    EXPECT_EQ(from_escaped.value().view(), from_plain.value().view()) << "width " << width;
  }
}

}  // namespace
}  // namespace tarvik
