// A table's header read back: its columns and groups into the names its cells are written
// under, its constants turned back and written.
#include "transform/table_header.hpp"

#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <utility>

#include "json/model/map.hpp"
#include "json/text/escape_text.hpp"
#include "json/write/writer.hpp"
#include "transform/json_path.hpp"

namespace tarvik {

using json::Buffer;
using json::Kind;
using json::Map;
using json::Value;

namespace {

// The members of `object` when they are exactly "columns" and "constants", in that order.
const Map::Entry* group_header(const Value& value) {
  if (value.kind() != Kind::Object) return nullptr;
  const json::Map& members = value.as_object();
  if (members.size() != 2 || members.entries()[0].key != "columns" ||
      members.entries()[1].key != "constants") {
    return nullptr;
  }
  return members.entries().data();
}

}  // namespace

Broken broken(const std::string& path, std::string_view what) {
  return {"broken table at " + path + ": " + std::string(what)};
}

std::string counted(std::uint64_t count, std::string_view thing) {
  return std::to_string(count) + " " + std::string(thing) + (count == 1 ? "" : "s");
}

std::string quoted(std::string_view name) {
  std::string text;
  json::display_value(Value::string(name), text);
  return text;
}

std::span<const DecodedTable::Column> DecodedTableMaker::end_list(std::size_t begun) {
  const std::size_t count = gathered_.size() - begun;
  DecodedTable::Column* const list =
      count == 0 ? nullptr : arena_.allocate_array<DecodedTable::Column>(count);
  std::uninitialized_copy(gathered_.begin() + static_cast<std::ptrdiff_t>(begun), gathered_.end(),
                          list);
  gathered_.resize(begun);
  return {list, count};
}

std::string_view DecodedTableMaker::member(std::string_view written) {
  char* const text = arena_.allocate_array<char>(written.size() + 2);
  text[0] = ',';
  std::memcpy(text + 1, written.data(), written.size());
  text[written.size() + 1] = ':';
  return {text, written.size() + 2};
}

std::optional<Broken> decode_columns(const Value& columns, const std::string& path,
                                     DecodedTableMaker& maker, DecodedTable& out,
                                     NameIndex& names) {
  std::string columns_path = path;
  JsonPath::append_name(columns_path, "columns");
  if (columns.kind() != Kind::Array) return broken(columns_path, R"("columns" is not an array)");
  const std::size_t begun = maker.begin_list();
  for (std::size_t i = 0; i < columns.as_array().size(); ++i) {
    const Value& entry = columns.as_array()[i];
    // Made only for a message or a group: most headers are whole and have no group.
    const auto entry_path = [&columns_path, i] {
      std::string made = columns_path;
      JsonPath::append_index(made, i);
      return made;
    };
    DecodedTable::Column column;
    if (entry.kind() == Kind::String) {
      column.name = entry.as_string();
    } else {
      const Map::Entry* member = entry.kind() == Kind::Object && entry.as_object().size() == 1
                                     ? entry.as_object().entries().data()
                                     : nullptr;
      const Value* header = nullptr;
      if (member != nullptr) {
        column.name = member->key;
        const Value& body = member->value;
        if (group_header(body) != nullptr) {
          column.form = ColumnForm::Group;
          header = &body;
        } else if (body.kind() == Kind::Array && body.as_array().size() == 1 &&
                   group_header(body.as_array()[0]) != nullptr) {
          column.form = ColumnForm::ListGroup;
          header = &body.as_array()[0];
        }
      }
      if (header == nullptr) return broken(entry_path(), "a column is neither a name nor a group");
      std::string group_path = entry_path();
      JsonPath::append_name(group_path, column.name);
      if (column.form == ColumnForm::ListGroup) JsonPath::append_index(group_path, 0);
      const auto* parts = group_header(*header);
      DecodedTable& group = maker.new_group();
      if (auto failed = decode_header(parts[0].value, parts[1].value, group_path, maker, group)) {
        return failed;
      }
      column.group = &group;
    }
    if (names.find(column.name) != NameIndex::kAbsent) {
      return broken(entry_path(), "the name " + quoted(column.name) + " stands for two columns");
    }
    names.add(column.name);
    std::string written;
    if (json::written_string_size(column.name) == column.name.size() + 2) {
      written.reserve(column.name.size() + 2);
      written.push_back('"');
      written.append(column.name);
      written.push_back('"');
    } else {
      json::display_value(Value::string(column.name), written);
    }
    column.member = maker.member(written);
    maker.add(column);
  }
  out.columns = maker.end_list(begun);
  return std::nullopt;
}

std::optional<Broken> decode_constants(const Value& constants, const NameIndex& names,
                                       const std::string& path, std::string& out) {
  std::string constants_path = path;
  JsonPath::append_name(constants_path, "constants");
  if (constants.kind() != Kind::Object) {
    return broken(constants_path, R"("constants" is not an object)");
  }
  for (const json::Map::Entry& constant : constants.as_object()) {
    const auto constant_path = [&constants_path, &constant] {
      std::string made = constants_path;
      JsonPath::append_name(made, constant.key);
      return made;
    };
    if (names.find(constant.key) != NameIndex::kAbsent) {
      return broken(constant_path(),
                    "the name " + quoted(constant.key) + " is both a column and a constant");
    }
    if (!out.empty()) out.push_back(',');
    json::display_value(Value::string(constant.key), out);
    out.push_back(':');
    const Kind kind = constant.value.kind();
    if (kind != Kind::Array && kind != Kind::Object) {
      // A scalar holds no table: it is written as it stands.
      json::display_value(constant.value, out);
      continue;
    }
    Buffer text;
    json::serialize_value(constant.value, text);
    Result<Buffer, std::string> value = decolumnarize_at(text.view(), constant_path());
    if (!value.ok()) return Broken{std::move(value).error()};
    out.append(value.value().view());
  }
  return std::nullopt;
}

std::optional<Broken> decode_header(const Value& columns, const Value& constants,
                                    const std::string& path, DecodedTableMaker& maker,
                                    DecodedTable& out) {
  NameIndex names;
  if (auto failed = decode_columns(columns, path, maker, out, names)) return failed;
  std::string written;
  if (auto failed = decode_constants(constants, names, path, written)) return failed;
  out.constants = maker.keep(written);
  return std::nullopt;
}

}  // namespace tarvik
