// Properties that must hold for any input bytes, shared by the fuzz targets and by the C++ test
// that replays their regression inputs. Each check returns what went wrong, or "" when all hold.
#pragma once

#include <algorithm>
#include <compare>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/model/map.hpp"
#include "json/model/value.hpp"
#include "json/read/deferred.hpp"
#include "json/read/reader.hpp"
#include "json/write/writer.hpp"
#include "transform/columnarize.hpp"
#include "transform/columnarize_document.hpp"
#include "transform/decolumnarize.hpp"
#include "transform_entry_points.hpp"

namespace tarvik::fuzz {

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// In a fuzz target, a broken property becomes a crash that libFuzzer records with its input.
inline void require(const std::string& violation) {
  if (violation.empty()) return;
  std::fprintf(stderr, "property violated: %s\n", violation.c_str());
  std::abort();
}

// The line and column that an error stamped at the end of `input` carries.
struct Position {
  std::uint64_t line;
  std::uint64_t column;
  auto operator<=>(const Position&) const = default;
};

inline Position end_position(std::string_view input) {
  const std::size_t last_feed = input.rfind('\n');
  const auto feeds = static_cast<std::uint64_t>(std::count(input.begin(), input.end(), '\n'));
  const std::size_t column =
      last_feed == std::string_view::npos ? input.size() : input.size() - last_feed - 1;
  return {feeds + 1, column};
}

inline std::string serialize(const json::Value& value) {
  json::Buffer out;
  json::serialize_value(value, out);
  return std::string(out.view());
}

// The reader either returns elements or an error positioned within the input.
inline std::string check_reader(std::string_view input) {
  json::Arena arena;
  const auto parsed = json::parse_value_list(input, arena);
  if (parsed.ok()) return {};
  const json::Error& err = parsed.error();
  if (err.line() == 0) return "reader error without a position: " + err.display();
  if (Position{err.line(), err.column()} > end_position(input)) {
    return "reader error positioned past the end of the input: " + err.display();
  }
  return {};
}

// Whatever reads, writes back as text that reads again and writes to the same bytes and the same
// values the second time: floats too, since the writer's shortest digits read back exactly.
// The display text of a document is byte for byte its serialized text.
inline std::string check_writer_round_trip(std::string_view input) {
  json::Arena arena;
  const auto parsed = json::parse_value_list(input, arena);
  if (!parsed.ok()) return {};
  const json::Value document = json::Value::array(parsed.value());
  const std::string first = serialize(document);

  std::string displayed;
  json::display_value(document, displayed);
  if (displayed != first) return "display text differs from serialized text: " + displayed;

  const auto reread = json::parse_value_list(first, arena);
  if (!reread.ok()) return "written text does not read back: " + reread.error().display();
  const json::Value second_document = json::Value::array(reread.value());
  const std::string second = serialize(second_document);
  if (second != first) return "text changed on the second write: " + first + " -> " + second;
  if (!(second_document == document)) return "document changed on the round trip: " + first;
  return {};
}

// Collects the output a transform writes as it goes.
class StringSink final : public TextSink {
 public:
  bool write(std::string_view text) override {
    written += text;
    return true;
  }
  std::string written;
};

// The other ways to the output give the same bytes or message: rows read one at a time, and the
// output written as it is made, with rows built at once or not.
inline std::string check_other_paths(std::string_view payload, json::Layout layout,
                                     const Result<json::Buffer, std::string>& expected) {
  for (const std::size_t budget : {std::size_t{0}, SIZE_MAX}) {
    StringSink sink;
    const auto counts = columnarize_json_to(payload, layout, sink, budget);
    if (counts.ok() != expected.ok()) return "written output and buffer disagree on success";
    if (counts.ok() ? sink.written != expected.value().view()
                    : counts.error().message != expected.error()) {
      return "written output differs from the buffer's";
    }
  }
  if (layout == json::Layout::Lines) return {};
  const auto streamed = columnarize_json_within(payload, 0);
  if (streamed.ok() != expected.ok()) return "streamed rows and whole rows disagree on success";
  if (streamed.ok() ? streamed.value().view() != expected.value().view()
                    : streamed.error() != expected.error()) {
    return "streamed rows give another result than whole rows";
  }
  return {};
}

// The pipeline agrees with the reader about which payloads are malformed, and its output is an
// object of exactly "columns", "rows" and "constants" in which every row array has one cell per
// column, column names are distinct strings, and no name is both a column and a constant.
inline std::string check_pipeline(std::string_view payload) {
  const auto result = columnarize_json(payload);
  if (std::string paths = check_other_paths(payload, json::Layout::Array, result); !paths.empty())
    return paths;

  json::Arena arena;
  const auto rows = json::parse_value_list(payload, arena);
  if (!rows.ok()) {
    const std::string expected = "invalid row-oriented JSON: " + rows.error().display();
    if (result.ok()) return "pipeline accepted a payload the reader rejects: " + expected;
    if (result.error() != expected) return "pipeline message differs: " + result.error();
    return {};
  }
  const auto non_object = std::ranges::find_if_not(rows.value(), &json::Value::is_object);
  if (non_object != rows.value().end()) {
    std::string expected = "expected a JSON object row, got: ";
    json::display_value(*non_object, expected);
    if (result.ok()) return "pipeline accepted a non-object row: " + expected;
    if (result.error() != expected) return "pipeline message differs: " + result.error();
    return {};
  }
  if (!result.ok()) return "pipeline failed on rows that are all objects: " + result.error();

  const std::string output(result.value().view());
  // The pipeline keeps what lies below the rows as text; building every value must give the
  // same bytes.
  auto built = columnarize_rows(std::vector<json::Value>(rows.value()), arena);
  if (!built.ok()) return "building every value failed: " + built.error();
  json::Buffer built_output;
  json::serialize_value(built.value(), built_output);
  if (built_output.view() != output) return "output differs from building every value: " + output;
  // Strings without escapes refer into the text read, so it must outlive the values.
  const std::string wrapped = "[" + output + "]";
  const auto reread = json::parse_value_list(wrapped, arena);
  if (!reread.ok()) {
    // The output nests two levels deeper than the rows, which can pass the reader's limit.
    if (reread.error().code() == json::ErrorCode::RecursionLimitExceeded) return {};
    return "output does not read back: " + reread.error().display();
  }
  const json::Value& top = reread.value().front();
  if (!top.is_object() || top.as_object().size() != 3) return "output is not a 3-member object";
  const json::Map& members = top.as_object();
  if (members.entries()[0].key != "columns" || members.entries()[1].key != "rows" ||
      members.entries()[2].key != "constants") {
    return "output members out of order: " + output;
  }
  const json::Value& columns = members.entries()[0].value;
  const json::Value& row_arrays = members.entries()[1].value;
  const json::Value& constants = members.entries()[2].value;
  if (columns.kind() != json::Kind::Array || row_arrays.kind() != json::Kind::Array ||
      !constants.is_object()) {
    return "output members of the wrong kinds: " + output;
  }
  if (row_arrays.as_array().size() != rows.value().size()) return "row count changed: " + output;
  std::vector<std::string_view> names;
  for (const json::Value& name : columns.as_array()) {
    if (name.kind() != json::Kind::String) return "column name is not a string: " + output;
    if (std::ranges::find(names, name.as_string()) != names.end()) {
      return "column listed twice: " + output;
    }
    if (constants.as_object().get(name.as_string()) != nullptr) {
      return "name is both a column and a constant: " + output;
    }
    names.push_back(name.as_string());
  }
  for (const json::Value& row : row_arrays.as_array()) {
    if (row.kind() != json::Kind::Array || row.as_array().size() != names.size()) {
      return "row array does not match the columns: " + output;
    }
  }
  return {};
}

// JSON Lines: when every line holds one value or only whitespace, the pipeline gives exactly
// what it gives for the array of those values; otherwise the reader's error stands on a line of
// the input and the pipeline reports it.
inline std::string check_lines(std::string_view input) {
  const auto result = columnarize_json_lines(input);
  if (std::string paths = check_other_paths(input, json::Layout::Lines, result); !paths.empty())
    return paths;
  json::Arena arena;
  const auto values = json::parse_value_lines(input, arena);
  if (!values.ok()) {
    const json::Error& err = values.error();
    if (err.line() == 0) return "lines error without a position: " + err.display();
    if (Position{err.line(), err.column()} > end_position(input)) {
      return "lines error positioned past the end of the input: " + err.display();
    }
    const std::string expected = "invalid row-oriented JSON: " + err.display();
    if (result.ok()) return "lines pipeline accepted input the reader rejects: " + expected;
    if (result.error() != expected) return "lines pipeline message differs: " + result.error();
    return {};
  }
  std::string array = "[";
  std::size_t start = 0;
  while (start <= input.size()) {
    const std::size_t end = std::min(input.find('\n', start), input.size());
    const std::string_view line = input.substr(start, end - start);
    if (line.find_first_not_of(" \t\r") != std::string_view::npos) {
      if (array.size() > 1) array += ',';
      array += line;
    }
    start = end + 1;
  }
  array += ']';
  const auto expected = columnarize_json(array);
  if (expected.ok() != result.ok()) return "lines and their array disagree: " + array;
  if (result.ok() ? result.value().view() != expected.value().view()
                  : result.error() != expected.error()) {
    return "lines give another result than their array: " + array;
  }
  return {};
}

// Whether `value` holds an object whose members are named as a table's: the way back would read
// it as one.
inline bool holds_table_shape(const json::Value& value) {
  if (value.kind() == json::Kind::Array)
    return std::ranges::any_of(value.as_array(), holds_table_shape);
  if (!value.is_object()) return false;
  std::vector<std::string_view> names;
  for (const json::Map::Entry& member : value.as_object()) {
    if (holds_table_shape(member.value)) return true;
    names.push_back(member.key);
  }
  const std::vector<std::string_view> table = {"columns", "rows", "constants"};
  const std::vector<std::string_view> keyed = {"keys", "columns", "rows", "constants"};
  return names == table || names == keyed;
}

// Equal once members whose value is null are left out, member order is ignored and numbers
// compare by value.
inline bool same_without_nulls(const json::Value& a, const json::Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case json::Kind::Number:
      return a.as_number().same_value(b.as_number());
    case json::Kind::Array:
      return std::ranges::equal(a.as_array(), b.as_array(), same_without_nulls);
    case json::Kind::Object: {
      const auto present = [](const json::Map& map) {
        return std::ranges::count_if(map, [](const auto& m) { return !m.value.is_null(); });
      };
      if (present(a.as_object()) != present(b.as_object())) return false;
      for (const json::Map::Entry& member : a.as_object()) {
        if (member.value.is_null()) continue;
        const json::Value* other = b.as_object().get(member.key);
        if (other == nullptr || !same_without_nulls(member.value, *other)) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

// Document mode accepts only what the reader accepts; its output is never longer than the
// document written compact (and is that text when as long); the way back gives the document
// again once nulls are left out, unless the document holds table-shaped objects of its own.
// The way back never crashes on any input.
inline std::string check_document(std::string_view input, std::uint64_t min_rows) {
  const auto back_of_input = decolumnarize(input);
  const auto result = columnarize_document(input, min_rows);
  if (!result.ok()) {
    if (!result.error().starts_with("invalid JSON: ")) return "document mode: " + result.error();
    if (back_of_input.ok()) return "the way back accepted what document mode rejects";
    return {};
  }
  json::Arena arena;
  const std::string wrapped = "[" + std::string(input) + "]";
  const auto read = json::parse_value_list(wrapped, arena);
  if (!read.ok()) {
    if (read.error().code() == json::ErrorCode::RecursionLimitExceeded) return {};
    return "document mode accepted what the reader rejects: " + read.error().display();
  }
  const json::Value& document = read.value().front();
  const std::string compact = serialize(document);
  const std::string_view output = result.value().view();
  if (output.size() > compact.size()) return "output longer than the compact document";
  if (output.size() == compact.size() && output != compact) return "output as long but different";
  const auto back = decolumnarize(output);
  if (!back.ok()) {
    if (back.error().find("recursion limit exceeded") != std::string::npos) return {};
    return "the way back failed on document mode's output: " + back.error();
  }
  if (holds_table_shape(document)) return {};
  const std::string back_text = "[" + std::string(back.value().view()) + "]";
  const auto reread = json::parse_value_list(back_text, arena);
  if (!reread.ok()) return "the way back wrote text that does not read: " + back_text;
  if (!same_without_nulls(reread.value().front(), document)) {
    return "the way back gives another document: " + back_text;
  }
  return {};
}

}  // namespace tarvik::fuzz
