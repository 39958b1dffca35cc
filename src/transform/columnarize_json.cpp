// The payload pipeline: read the rows, transform them, write the output document.
#include <string>
#include <utility>
#include <vector>

#include "json/model/map.hpp"
#include "json/read/reader.hpp"
#include "json/write/writer.hpp"
#include "transform/columnarize.hpp"

namespace tarvik {

namespace {

using RowReader = Result<std::vector<json::Value>, json::Error> (*)(std::string_view, json::Arena&,
                                                                    json::Build);

Result<json::Buffer, std::string> columnarize_read(std::string_view payload, RowReader read_rows,
                                                   ColumnarizeCounts* counts) {
  // The rows and the output document live in this arena. Strings without escapes, and the
  // arrays and objects below the rows, which are carried over as their text, point into the
  // payload, which outlives the call.
  json::Arena arena;
  auto rows = read_rows(payload, arena, json::Build::Rows);
  if (!rows.ok()) return failure("invalid row-oriented JSON: " + rows.error().display());

  auto document = columnarize_rows(std::move(rows).value(), arena);
  if (!document.ok()) return failure(std::move(document).error());

  // Room for 128 bytes first; the output seldom outgrows the payload, since it names each column
  // once, so the first growth goes to the payload's size.
  json::Buffer out(json::Buffer::kInitialCapacity, payload.size());
  json::serialize_value(document.value(), out);
  if (counts != nullptr) {
    // The sizes of the document's own members: nothing is counted twice or read back.
    const json::Map& members = document.value().as_object();
    counts->rows = members.get("rows")->as_array().size();
    counts->columns = members.get("columns")->as_array().size();
    counts->constants = members.get("constants")->as_object().size();
  }
  return out;
}

}  // namespace

Result<json::Buffer, std::string> columnarize_json(std::string_view payload,
                                                   ColumnarizeCounts* counts) {
  return columnarize_read(payload, json::parse_value_list, counts);
}

Result<json::Buffer, std::string> columnarize_json_lines(std::string_view payload,
                                                         ColumnarizeCounts* counts) {
  return columnarize_read(payload, json::parse_value_lines, counts);
}

}  // namespace tarvik
