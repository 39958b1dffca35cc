// Decolumnarize: the document read once to find its table-shaped objects, then walked again and
// written, each table's rows turned back into objects as they come, its header (columns, groups
// and constants) read before its rows.
#include "transform/decolumnarize.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/memory/huge_pages.hpp"
#include "json/model/map.hpp"
#include "json/model/value.hpp"
#include "json/read/deferred.hpp"
#include "json/read/walk.hpp"
#include "json/text/escape_text.hpp"
#include "json/text/float_text.hpp"
#include "json/write/writer.hpp"
#include "transform/document_plan.hpp"
#include "transform/json_path.hpp"
#include "transform/name_index.hpp"
#include "transform/without_repeated_names.hpp"

namespace tarvik {

namespace {

using json::Buffer;
using json::Kind;
using json::Map;
using json::Value;
using json::reading::StringRead;
using json::reading::StringUse;

struct Nothing {};

// The texts of the members of an object shaped as a table.
struct TableShape {
  const char* start = nullptr;
  std::string_view keys;  // empty unless keyed
  std::string_view columns;
  std::string_view constants;
};

constexpr std::string_view kTableNames[] = {"columns", "rows", "constants"};
constexpr std::string_view kKeyedTableNames[] = {"keys", "columns", "rows", "constants"};

// The objects of a document whose members are a table's, and whether any object repeats a name.
class TableFinder final : public json::reading::Walker<TableFinder> {
 public:
  template <class>
  using ResultOf = std::string_view;

  TableFinder(std::string_view input, json::Arena& unused) : Walker(input, unused) {}

  bool run() {
    std::string_view document;
    if (!walk_document(Nothing{}, document)) return false;
    std::ranges::sort(shapes_, {}, &TableShape::start);
    std::ranges::sort(tabled_);
    return true;
  }
  json::Error take_error() { return std::move(*error_); }
  std::vector<TableShape> take_shapes() { return std::move(shapes_); }
  std::vector<const char*> take_tabled() { return std::move(tabled_); }
  bool repeats_a_name() const { return repeats_a_name_; }

  struct Object {
    const char* start = nullptr;
    std::size_t tabled = 0;  // tables noted before it
    NameIndex* names = nullptr;
    std::size_t members = 0;
    bool keyed = false;
    bool shaped = true;
    std::string_view values[4];
  };
  struct Array {
    const char* start;
    std::size_t tabled;  // tables noted before it
  };

  bool scalar(const Nothing&, const Value&, const char* start, std::string_view& out) {
    out = {start, pos_};
    return true;
  }
  bool string(const Nothing&, const StringRead&, const char* start, std::string_view& out) {
    out = {start, pos_};
    return true;
  }
  Array begin_array(const Nothing&, const char* bracket) { return {bracket, tabled_.size()}; }
  Nothing element_context(Array&) { return {}; }
  void end_element(Array&, std::string_view&) {}
  bool end_array(Array& array, const char* end, std::string_view& out) {
    out = {array.start, end};
    end_container(array.start, array.tabled, false);
    return true;
  }

  Object begin_object(const Nothing&, const char* brace) {
    if (depth_ == names_.size()) names_.push_back(std::make_unique<NameIndex>());
    NameIndex* const names = names_[depth_++].get();
    names->clear();
    Object object;
    object.start = brace;
    object.tabled = tabled_.size();
    object.names = names;
    return object;
  }

  bool read_key(Object& object, const char*) {
    StringRead name;
    if (!parse_str(name, StringUse::Decoded)) return false;
    if (object.names->find(name.text) != NameIndex::kAbsent) repeats_a_name_ = true;
    object.names->add(keep(name.text));
    if (object.shaped) {
      if (object.members == 0) object.keyed = name.text == "keys";
      const std::span<const std::string_view> names =
          object.keyed ? std::span<const std::string_view>(kKeyedTableNames)
                       : std::span<const std::string_view>(kTableNames);
      object.shaped = object.members < names.size() && name.text == names[object.members];
    }
    return true;
  }
  Nothing member_context(Object&) { return {}; }
  void end_member(Object& object, std::string_view& value) {
    if (object.members < std::size(object.values)) object.values[object.members] = value;
    ++object.members;
  }
  bool end_object(Object& object, const char* end, std::string_view& out) {
    --depth_;
    out = {object.start, end};
    const bool table = object.shaped && object.members == (object.keyed ? 4U : 3U);
    if (table) {
      const std::size_t first = object.keyed ? 1 : 0;
      shapes_.push_back({object.start, object.keyed ? object.values[0] : std::string_view(),
                         object.values[first], object.values[first + 2]});
    }
    end_container(object.start, object.tabled, table);
    return true;
  }

 private:
  // A container that is a table or holds one (one was noted since it began, past `tabled`) is
  // noted, after those inside it.
  void end_container(const char* start, std::size_t tabled, bool table) {
    if (table || tabled_.size() != tabled) tabled_.push_back(start);
  }

  // A name whose text is the reader's transient copy is kept in the arena.
  std::string_view keep(std::string_view name) {
    const auto start = reinterpret_cast<std::uintptr_t>(name.data());
    const auto begin = reinterpret_cast<std::uintptr_t>(begin_);
    if (start >= begin && start + name.size() <= reinterpret_cast<std::uintptr_t>(end_)) {
      return name;
    }
    return kept_.copy_string(name);
  }

  std::vector<TableShape> shapes_;
  std::vector<const char*> tabled_;  // the starts of the tables and of the containers around them
  std::vector<std::unique_ptr<NameIndex>> names_;  // by depth; never moved
  std::size_t depth_ = 0;
  json::Arena kept_;
  bool repeats_a_name_ = false;
};

// What a table or a group is made of, as its header says.
struct DecodedTable {
  struct Column {
    std::string_view name;
    std::string member;  // the name as written before a cell's value: "NAME":
    ColumnForm form = ColumnForm::Plain;
    const DecodedTable* group = nullptr;
  };
  std::vector<Column> columns;
  std::string constants;  // "name":value,… as written after a row's cells
  std::vector<std::unique_ptr<DecodedTable>> groups;
};

// A failure that names the place where the document is broken.
struct Broken {
  std::string message;
};

Broken broken(const std::string& path, std::string_view what) {
  return {"broken table at " + path + ": " + std::string(what)};
}

// "1 cell", "2 cells".
std::string counted(std::uint64_t count, std::string_view thing) {
  return std::to_string(count) + " " + std::string(thing) + (count == 1 ? "" : "s");
}

std::string quoted(std::string_view name) {
  std::string text;
  json::display_value(Value::string(name), text);
  return text;
}

Result<json::Buffer, std::string> decolumnarize_at(std::string_view payload, std::string root);

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

std::optional<Broken> decode_header(const Value& columns, const Value& constants,
                                    const std::string& path, DecodedTable& out);

// Reads the "columns" of a table or group (at `path`) into `out`, and their names into `names`.
std::optional<Broken> decode_columns(const Value& columns, const std::string& path,
                                     DecodedTable& out, NameIndex& names) {
  std::string columns_path = path;
  JsonPath::append_name(columns_path, "columns");
  if (columns.kind() != Kind::Array) return broken(columns_path, R"("columns" is not an array)");
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
      auto group = std::make_unique<DecodedTable>();
      if (auto failed = decode_header(parts[0].value, parts[1].value, group_path, *group)) {
        return failed;
      }
      column.group = out.groups.emplace_back(std::move(group)).get();
    }
    if (names.find(column.name) != NameIndex::kAbsent) {
      return broken(entry_path(), "the name " + quoted(column.name) + " stands for two columns");
    }
    names.add(column.name);
    if (json::written_string_size(column.name) == column.name.size() + 2) {
      column.member.reserve(column.name.size() + 3);
      column.member.push_back('"');
      column.member.append(column.name);
      column.member.append("\":");
    } else {
      json::display_value(Value::string(column.name), column.member);
      column.member.push_back(':');
    }
    out.columns.push_back(std::move(column));
  }
  return std::nullopt;
}

// Reads the "constants" of a table or group (at `path`), whose columns are named `names`, into
// `out`: turned back and written as "name":value,… .
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

// Reads the header of a table or group (its "columns" and "constants" values, at `path`) into
// `out`, the constants turned back and written.
std::optional<Broken> decode_header(const Value& columns, const Value& constants,
                                    const std::string& path, DecodedTable& out) {
  NameIndex names;
  if (auto failed = decode_columns(columns, path, out, names)) return failed;
  return decode_constants(constants, names, path, out.constants);
}

// `member`, a column's name as written with its colon, and `value` after it, a comma before
// them unless the row is still `empty`.
void write_member(Buffer& out, bool& empty, std::string_view member, std::string_view value) {
  out.reserve_more(1 + member.size() + value.size());
  char* to = out.write_position();
  char* const start = to;
  if (!std::exchange(empty, false)) *to++ = ',';
  to = std::copy(member.begin(), member.end(), to);
  if (!value.empty()) std::memcpy(to, value.data(), value.size());
  out.commit(static_cast<std::size_t>(to - start) + value.size());
}

enum class Role : std::uint8_t {
  Value,      // written as itself, its tables turned back
  Skip,       // read only
  Keys,       // a keyed table's "keys"
  Key,        // one of its names
  Rows,       // a table's "rows"
  Row,        // an array of cells, written as the object of its non-null ones
  GroupRow,   // the same for an object of a list group's cell
  Cell,       // a row's cell: written under its column's name unless it is null
  GroupCell,  // a group's cell: the object of its sub-cells, or null
  ListCell,   // a list group's cell: an array of arrays of sub-cells, or null
};

struct TableState;

// A row being written: the object of its non-null cells, then the constants.
struct RowState {
  const DecodedTable* header = nullptr;
  Buffer* out = nullptr;
  bool empty = true;  // no member written yet
};

struct Context {
  Role role = Role::Value;
  Buffer* out = nullptr;
  TableState* table = nullptr;                   // of Keys, Key, Rows and a table's Row
  const DecodedTable* header = nullptr;          // of a Row
  RowState* row = nullptr;                       // of a cell: the row it is in
  const DecodedTable::Column* column = nullptr;  // of a cell
};

// A table's header as decoded, with the texts it was decoded from: the next table whose header is
// spelt the same (the tables of one document mostly are) takes it as it is.
struct KnownHeader {
  std::string_view columns;
  std::string_view constants;
  json::Arena arena;  // holds the names
  DecodedTable table;
};

// A table being written back.
struct TableState {
  json::Arena arena;  // holds the keys
  std::shared_ptr<const KnownHeader> header;
  bool keyed = false;
  std::vector<std::string> keys;  // as written, with their quotes
  NameIndex key_names;
  std::uint64_t rows = 0;
};

struct ArrayState {
  Context context;
  RowState row;  // of an array written as a row
  std::uint64_t count = 0;
};

struct ObjectState {
  Context context;
  Context value;  // of the member being read
  std::unique_ptr<TableState> table;
  bool first = true;
};

// What a value of each role must be, when it is something else.
std::string_view wrong_kind(Role role) {
  switch (role) {
    case Role::Keys:
      return R"("keys" is not an array)";
    case Role::Key:
      return "a key is not a string";
    case Role::Rows:
      return R"("rows" is not an array)";
    case Role::Row:
      return "a row is not an array";
    case Role::GroupRow:
      return "an element of a list group's cell is not an array";
    case Role::GroupCell:
      return "a group's cell is neither null nor an array";
    case Role::ListCell:
      return "a list group's cell is neither null nor an array";
    case Role::Value:
    case Role::Skip:
    case Role::Cell:
      break;
  }
  return {};
}

class TableDecoder final : public json::reading::Walker<TableDecoder> {
 public:
  template <class>
  using ResultOf = Nothing;

  TableDecoder(std::string_view input, json::Arena& unused, std::vector<TableShape> shapes,
               std::vector<const char*> tabled, std::string root)
      : Walker(input, unused),
        shapes_(std::move(shapes)),
        tabled_(std::move(tabled)),
        next_tabled_(tabled_.begin()),
        path_(std::move(root)) {}

  // The document written back to `out`, or what is broken in it.
  std::optional<Broken> run(Buffer& out) {
    Nothing done;
    if (walk_value(Context{Role::Value, &out}, done)) return std::nullopt;
    if (!failure_) throw std::logic_error("a document read once does not read back");
    return std::move(failure_);
  }

  // A value written as itself, or a table's row, is first tried on the quick paths below.
  json::reading::TakeOver take_over(const Context& context, const char* bracket, Nothing&) {
    using json::reading::TakeOver;
    if (!quick_ || failure_ || (context.role != Role::Value && context.role != Role::Row)) {
      return TakeOver::Walk;
    }
    Buffer& out = *context.out;
    const std::size_t written = out.size();
    const auto next_tabled = next_tabled_;
    if (context.role == Role::Value ? copy_written(out) : write_row(*context.header, out)) {
      return TakeOver::Taken;
    }
    pos_ = bracket;
    out.cut_to(written);
    next_tabled_ = next_tabled;
    return TakeOver::Walk;
  }

  bool scalar(const Context& context, const Value& value, const char* start, Nothing&) {
    if (failure_) return false;
    const Context target = value_target(context, value.is_null());
    switch (target.role) {
      case Role::Skip:
        return true;
      case Role::Value:
        write_scalar(*target.out, value, start);
        return true;
      default:
        return fail_here(wrong_kind(target.role));
    }
  }

  bool string(const Context& context, const StringRead& string, const char* quote, Nothing&) {
    if (failure_) return false;
    const Context target = value_target(context, false);
    switch (target.role) {
      case Role::Skip:
        return true;
      case Role::Value:
        write_string(*target.out, string, quote);
        return true;
      case Role::Key:
        return take_key(*target.table, string, quote);
      default:
        return fail_here(wrong_kind(target.role));
    }
  }

  ArrayState begin_array(const Context& context, const char*) {
    ArrayState array;
    array.context = value_target(context, false);
    path_.enter();
    Context& target = array.context;
    switch (target.role) {
      case Role::Value:
      case Role::ListCell:
        target.out->push_back('[');
        break;
      case Role::Row:
      case Role::GroupRow:
      case Role::GroupCell:
        array.row = {target.role == Role::GroupCell ? target.column->group : target.header,
                     target.out};
        target.out->push_back('{');
        break;
      case Role::Skip:
      case Role::Keys:
      case Role::Rows:
        break;
      case Role::Key:
      case Role::Cell:
        fail_at_parent(wrong_kind(target.role));
        target.role = Role::Skip;
        break;
    }
    return array;
  }

  Context element_context(ArrayState& array) {
    const std::uint64_t index = array.count++;
    path_.at_index(index);
    const Context& context = array.context;
    switch (context.role) {
      case Role::Value:
        if (index > 0) context.out->push_back(',');
        return {Role::Value, context.out};
      case Role::ListCell:
        if (index > 0) context.out->push_back(',');
        return {Role::GroupRow, context.out, nullptr, context.column->group};
      case Role::Keys:
        return {Role::Key, nullptr, context.table};
      case Role::Rows:
        return row_context(context, index);
      case Role::Row:
      case Role::GroupRow:
      case Role::GroupCell:
        return cell_context(array, index);
      case Role::Skip:
      case Role::Key:
      case Role::Cell:
        break;
    }
    return {Role::Skip};
  }

  void end_element(ArrayState&, Nothing&) {}

  bool end_array(ArrayState& array, const char*, Nothing&) {
    path_.leave();
    if (failure_) return false;
    const Context& context = array.context;
    switch (context.role) {
      case Role::Value:
      case Role::ListCell:
        context.out->push_back(']');
        break;
      case Role::Row:
      case Role::GroupRow:
      case Role::GroupCell:
        return end_row(array);
      case Role::Rows:
        context.table->rows = array.count;
        break;
      case Role::Skip:
      case Role::Keys:
      case Role::Key:
      case Role::Cell:
        break;
    }
    return true;
  }

  ObjectState begin_object(const Context& context, const char* brace) {
    ObjectState object;
    object.context = value_target(context, false);
    Context& target = object.context;
    if (target.role == Role::Value) begin_table_or_object(object, brace);
    if (const std::string_view wrong = wrong_kind(target.role); !wrong.empty()) {
      fail_here(wrong);
      target.role = Role::Skip;
    }
    path_.enter();
    return object;
  }

  bool read_key(ObjectState& object, const char* quote) {
    StringRead name;
    if (!parse_str(name, StringUse::Decoded)) return false;
    path_.at_name({quote + 1, static_cast<std::size_t>(pos_ - 1 - (quote + 1))}, name.had_escapes);
    if (failure_) return false;
    const Context& context = object.context;
    if (context.role == Role::Skip) {
      object.value = {Role::Skip};
    } else if (TableState* const table = object.table.get()) {
      object.value = name.text == "keys"   ? Context{Role::Keys, context.out, table}
                     : name.text == "rows" ? Context{Role::Rows, context.out, table}
                                           : Context{Role::Skip};
    } else {
      if (!std::exchange(object.first, false)) context.out->push_back(',');
      write_string(*context.out, name, quote);
      context.out->push_back(':');
      object.value = {Role::Value, context.out};
    }
    return true;
  }

  Context member_context(ObjectState& object) { return object.value; }
  void end_member(ObjectState&, Nothing&) {}

  bool end_object(ObjectState& object, const char*, Nothing&) {
    path_.leave();
    if (failure_) return false;
    const Context& context = object.context;
    if (context.role == Role::Skip) return true;
    if (TableState* const table = object.table.get()) {
      if (table->keyed && table->keys.size() != table->rows) {
        std::string path = path_.text(path_.depth());
        JsonPath::append_name(path, "keys");
        return fail(broken(
            path, counted(table->keys.size(), "key") + " for " + counted(table->rows, "row")));
      }
      context.out->push_back(table->keyed ? '}' : ']');
      return true;
    }
    context.out->push_back('}');
    return true;
  }

 private:
  // The role a value takes where `context` stands: a cell's value is written under its column's
  // name (unless null, which is left out), a group's null cell is left out.
  Context value_target(const Context& context, bool null) {
    switch (context.role) {
      case Role::Cell:
        if (null) return {Role::Skip};
        open_member(*context.row, context.column->member);
        return {Role::Value, context.out};
      case Role::GroupCell:
      case Role::ListCell:
        if (null) return {Role::Skip};
        open_member(*context.row, context.column->member);
        return context;
      default:
        return context;
    }
  }

  // `member` is a column's name as written, with its colon.
  static void open_member(RowState& row, std::string_view member) {
    if (!std::exchange(row.empty, false)) row.out->push_back(',');
    row.out->append(member);
  }

  // A row of a table, after its key in a keyed table.
  Context row_context(const Context& rows, std::uint64_t index) {
    TableState& table = *rows.table;
    if (index > 0) rows.out->push_back(',');
    if (table.keyed) {
      // Rows beyond the keys are counted at the table's end.
      if (index >= table.keys.size()) return {Role::Skip};
      rows.out->append(table.keys[index]);
      rows.out->push_back(':');
    }
    return {Role::Row, rows.out, &table, &table.header->table};
  }

  // A cell of a row (or of a group's cell): its column's form says how it is written.
  Context cell_context(ArrayState& array, std::uint64_t index) {
    const DecodedTable& header = *array.row.header;
    if (index >= header.columns.size()) return {Role::Skip};  // counted at the row's end
    const DecodedTable::Column& column = header.columns[index];
    Context cell{Role::Cell, array.row.out};
    cell.row = &array.row;
    cell.column = &column;
    if (column.form == ColumnForm::Group) cell.role = Role::GroupCell;
    if (column.form == ColumnForm::ListGroup) cell.role = Role::ListCell;
    return cell;
  }

  bool end_row(ArrayState& array) {
    const RowState& row = array.row;
    const std::size_t columns = row.header->columns.size();
    if (array.count != columns) {
      const bool group = array.context.table == nullptr;
      return fail_here(std::string(group ? "a group's row of " : "a row of ") +
                       counted(array.count, "cell") + " where the " +
                       (group ? "group has " : "table has ") + counted(columns, "column"));
    }
    if (!row.header->constants.empty()) {
      if (!row.empty) row.out->push_back(',');
      row.out->append(row.header->constants);
    }
    row.out->push_back('}');
    return true;
  }

  // The quick paths, over text the finder has read whole: a value that holds no table and is
  // spelt as the writer spells it is copied as it stands, a row's cells are written under their
  // names without the walk's bookkeeping. Each answers false where the walk must go over the text
  // (a table inside, a broken row); at text the writer spells otherwise (whitespace, escapes,
  // numbers) they are given up for the rest of the document.

  // The value at the read position, appended to `out` when it is in the writer's form and holds
  // no table, the read position then past it.
  bool copy_written(Buffer& out) {
    const char* const start = pos_;
    if (!pass_written()) return false;
    out.append(start, static_cast<std::size_t>(pos_ - start));
    return true;
  }

  bool pass_written() {
    switch (*pos_) {
      case '"':
        return pass_written_string();
      case '[':
        if (holds_table(pos_)) return false;
        if (*++pos_ == ']') break;
        for (;;) {
          if (!pass_written()) return false;
          if (*pos_ == ']') break;
          if (*pos_++ != ',') return given_up();
        }
        break;
      case '{':
        if (holds_table(pos_)) return false;
        if (*++pos_ == '}') break;
        for (;;) {
          if (*pos_ != '"' || !pass_written_string() || *pos_++ != ':' || !pass_written()) {
            return given_up();
          }
          if (*pos_ == '}') break;
          if (*pos_++ != ',') return given_up();
        }
        break;
      default:
        return pass_written_scalar();
    }
    ++pos_;
    return true;
  }

  bool pass_written_string() {
    ++pos_;
    StringRead string;
    if (!read_string(string, StringUse::Decoded)) throw_not_read_back();
    return string.escapes_as_written || given_up();
  }

  bool pass_written_scalar() {
    // The finder has read the text: a letter starts a literal.
    switch (*pos_) {
      case 'n':
      case 't':
        pos_ += 4;
        return true;
      case 'f':
        pos_ += 5;
        return true;
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        break;
      default:
        return given_up();
    }
    if (skip_plain_integer()) return true;
    Value value;
    if (!read_literal_or_number(value)) throw_not_read_back();
    return value.kind() != Kind::Number || value.as_number().form() != json::NumberForm::Float ||
           json::is_written_float(number_, pos_, value.as_number().as_float()) || given_up();
  }

  // A table's or group's row at the read position: its cells written as the object they stand
  // for, under their names, then the constants.
  bool write_row(const DecodedTable& header, Buffer& out) {
    out.push_back('{');
    bool empty = true;
    std::size_t cells = 0;
    if (*++pos_ != ']') {
      for (;;) {
        if (cells == header.columns.size()) return false;
        const DecodedTable::Column& column = header.columns[cells++];
        if (*pos_ == 'n') {
          if (!pass_written_scalar()) return false;  // null, left out
        } else if (column.form == ColumnForm::Plain) {
          const char* const value = pos_;
          if (!pass_written()) return false;
          write_member(out, empty, column.member, {value, static_cast<std::size_t>(pos_ - value)});
        } else {
          write_member(out, empty, column.member, {});
          const bool written = *pos_ == '[' && (column.form == ColumnForm::Group
                                                    ? write_row(*column.group, out)
                                                    : write_group_list(*column.group, out));
          if (!written) return false;
        }
        if (*pos_ == ']') break;
        if (*pos_++ != ',') return given_up();
      }
    }
    ++pos_;
    if (cells != header.columns.size()) return false;
    if (!header.constants.empty()) {
      if (!empty) out.push_back(',');
      out.append(header.constants);
    }
    out.push_back('}');
    return true;
  }

  // A list group's cell at the read position: an array of the group's rows.
  bool write_group_list(const DecodedTable& group, Buffer& out) {
    out.push_back('[');
    if (*++pos_ != ']') {
      for (;;) {
        if (*pos_ != '[' || !write_row(group, out)) return false;
        if (*pos_ == ']') break;
        if (*pos_++ != ',') return given_up();
        out.push_back(',');
      }
    }
    ++pos_;
    out.push_back(']');
    return true;
  }

  // Whether the container starting at `start` is a table or holds one; asked in the order of the
  // text, and again from the same place after a quick path gives way to the walk.
  bool holds_table(const char* start) {
    while (next_tabled_ != tabled_.end() && *next_tabled_ < start)
      ++next_tabled_;
    return next_tabled_ != tabled_.end() && *next_tabled_ == start;
  }

  bool given_up() {
    quick_ = false;
    return false;
  }

  [[noreturn]] static void throw_not_read_back() {
    throw std::logic_error("a document read once does not read back");
  }

  // An object written as itself, or, when shaped as a table, as the rows it stands for.
  void begin_table_or_object(ObjectState& object, const char* brace) {
    const auto found = std::ranges::lower_bound(shapes_, brace, {}, &TableShape::start);
    if (found == shapes_.end() || found->start != brace) {
      object.context.out->push_back('{');
      return;
    }
    auto table = std::make_unique<TableState>();
    table->keyed = !found->keys.empty();
    if (last_header_ == nullptr || last_header_->columns != found->columns ||
        last_header_->constants != found->constants) {
      auto known = std::make_shared<KnownHeader>();
      known->columns = found->columns;
      known->constants = found->constants;
      const Value columns = json::build_deferred(
          Value::deferred(Kind::Array, found->columns, json::TextForm::Other), known->arena);
      const Value constants = json::build_deferred(
          Value::deferred(Kind::Object, found->constants, json::TextForm::Other), known->arena);
      if (auto failed =
              decode_header(columns, constants, path_.text(path_.depth()), known->table)) {
        fail(std::move(*failed));
        object.context.role = Role::Skip;
        return;
      }
      last_header_ = std::move(known);
    }
    table->header = last_header_;
    object.context.out->push_back(table->keyed ? '{' : '[');
    object.table = std::move(table);
  }

  bool take_key(TableState& table, const StringRead& string, const char* quote) {
    if (table.key_names.find(string.text) != NameIndex::kAbsent) {
      return fail_here("the key " + quoted(string.text) + " stands twice");
    }
    table.key_names.add(table.arena.copy_string(string.text));
    Buffer written;
    write_string(written, string, quote);
    table.keys.emplace_back(written.view());
    return true;
  }

  void write_scalar(Buffer& out, const Value& value, const char* start) {
    if (value.kind() == Kind::Number && value.as_number().form() == json::NumberForm::Float &&
        !json::is_written_float(number_, pos_, value.as_number().as_float())) {
      out.reserve_more(json::kFloatRoom);
      out.commit(json::write_float_text(value.as_number().as_float(), out.write_position()));
      return;
    }
    out.append(start, static_cast<std::size_t>(pos_ - start));
  }

  void write_string(Buffer& out, const StringRead& string, const char* quote) {
    if (string.escapes_as_written) {
      out.append(quote, static_cast<std::size_t>(pos_ - quote));
    } else {
      json::serialize_value(Value::string(string.text), out);
    }
  }

  bool fail(Broken failure) {
    if (!failure_) failure_ = std::move(failure);
    return false;
  }
  // At the value being read.
  bool fail_here(std::string_view what) { return fail(broken(path_.text(path_.depth()), what)); }
  // At the array being begun, whose step is not yet entered.
  void fail_at_parent(std::string_view what) { fail(broken(path_.text(path_.depth() - 1), what)); }

  std::vector<TableShape> shapes_;
  std::shared_ptr<const KnownHeader> last_header_;  // of the table begun last
  std::vector<const char*> tabled_;                 // sorted
  std::vector<const char*>::const_iterator next_tabled_;
  bool quick_ = true;  // the quick paths are tried
  JsonPath path_;
  std::optional<Broken> failure_;
};

// The way back in one pass, over text spelt as the writer spells it (no whitespace, no other
// spelling of a string or number) that repeats no name, as columnarize_document writes it: the
// text is copied in runs, and each table met is turned back where it stands, its rows passed over
// by their brackets to reach its constants first. Any other text, and any error or broken table,
// is left to the two walks, which say what is wrong: the pass then answers false.
class QuickBack final : public json::reading::Walker<QuickBack> {
 public:
  QuickBack(std::string_view input, json::Arena& unused) : Walker(input, unused), run_(pos_) {}

  bool run(Buffer& out) {
    out_ = &out;
    if (!pass<true>() || pos_ != end_) return false;
    flush();
    return true;
  }

 private:
  // Deeper text is left to the walks, which bound its depth.
  static constexpr std::size_t kMostDepth = 64;

  // Where each row of the table being written ends (its "}"), and whether it has a member.
  struct RowEnd {
    std::size_t at;
    bool empty;
  };
  // The columns and constants of the table written last: the next mostly has the same.
  struct KnownColumns {
    std::string_view text;
    json::Arena arena;  // holds the names
    DecodedTable table;
    NameIndex names;
  };
  struct KnownConstants {
    const KnownColumns* columns = nullptr;
    std::string_view text;
    std::string written;
  };

  // The value at the read position, read and passed over; with kTurnBack, the tables in it are
  // written back in place of their text.
  template <bool kTurnBack>
  bool pass() {
    if (pos_ == end_) return false;
    switch (*pos_) {
      case '"':
        return pass_string();
      case '[':
        return pass_array<kTurnBack>();
      case '{':
        return pass_object<kTurnBack>();
      default:
        return pass_scalar();
    }
  }

  bool pass_string() {
    ++pos_;
    StringRead string;
    return read_string(string, StringUse::Checked) && string.escapes_as_written;
  }

  bool pass_scalar() {
    switch (*pos_) {
      case 'n':
        return pass_word("null");
      case 't':
        return pass_word("true");
      case 'f':
        return pass_word("false");
      default:
        break;
    }
    if (skip_plain_integer()) return true;
    Value value;
    return read_literal_or_number(value) &&
           (value.kind() != Kind::Number || value.as_number().form() != json::NumberForm::Float ||
            json::is_written_float(number_, pos_, value.as_number().as_float()));
  }

  bool pass_word(std::string_view word) {
    if (static_cast<std::size_t>(end_ - pos_) < word.size() ||
        std::string_view(pos_, word.size()) != word) {
      return false;
    }
    pos_ += word.size();
    return true;
  }

  // A comma, or the end of the container `close` ends: is there another element or member?
  bool next(char close, bool& more) {
    if (pos_ == end_) return false;
    more = *pos_ == ',';
    if (!more && *pos_ != close) return false;
    ++pos_;
    return true;
  }

  bool enter() {
    ++pos_;
    return ++depth_ <= kMostDepth && pos_ != end_;
  }

  template <bool kTurnBack>
  bool pass_array() {
    if (!enter()) return false;
    if (*pos_ == ']') {
      ++pos_;
    } else {
      for (bool more = true; more;) {
        if (!pass<kTurnBack>() || !next(']', more)) return false;
      }
    }
    --depth_;
    return true;
  }

  template <bool kTurnBack>
  bool pass_object() {
    const char* const brace = pos_;
    if (!enter()) return false;
    if (*pos_ == '}') {
      ++pos_;
      --depth_;
      return true;
    }
    if constexpr (kTurnBack) {
      if (starts_with("\"columns\":") || starts_with("\"keys\":")) {
        switch (turn_back(brace)) {
          case Shape::Table:
            --depth_;
            return true;
          case Shape::Object:
            break;
          case Shape::Failed:
            return false;
        }
      }
    }
    while (names_.size() < depth_)
      names_.push_back(std::make_unique<NameIndex>());
    NameIndex& names = *names_[depth_ - 1];
    names.clear();
    for (bool more = true; more;) {
      if (*pos_ != '"') return false;
      const char* const name = pos_ + 1;
      if (!pass_string()) return false;
      // Spelt as the writer spells them, two names are the same when their texts are.
      const std::string_view text(name, static_cast<std::size_t>(pos_ - 1 - name));
      if (names.find(text) != NameIndex::kAbsent) return false;
      names.add(text);
      if (pos_ == end_ || *pos_++ != ':' || !pass<kTurnBack>() || !next('}', more)) return false;
      if (more && pos_ == end_) return false;
    }
    --depth_;
    return true;
  }

  bool starts_with(std::string_view text) const {
    return static_cast<std::size_t>(end_ - pos_) >= text.size() &&
           std::string_view(pos_, text.size()) == text;
  }

  // Passes over `name` as written with its colon.
  bool take_name(std::string_view name) {
    if (!starts_with(name)) return false;
    pos_ += name.size();
    return true;
  }

  enum class Shape : std::uint8_t { Table, Object, Failed };

  // An object whose first member's name is "columns" or "keys", its "{" passed: written back when
  // its members are a table's, or left unread to be passed as an object. The rows come before the
  // constants that end each of them: they are written first, and the constants put in after.
  Shape turn_back(const char* brace) {
    // An object shaped so inside a row's cell (rare) is left to the walks.
    if (writing_rows_) return Shape::Failed;
    const char* const body = pos_;
    std::string_view keys;
    if (take_name("\"keys\":")) {
      keys = pass_text();
      if (keys.empty() || !take_name(",")) return not_a_table(body, keys.data());
    }
    if (!take_name("\"columns\":")) return not_a_table(body, pos_);
    const std::string_view columns = pass_text();
    if (columns.empty() || !take_name(",\"rows\":")) return not_a_table(body, columns.data());
    if (pos_ == end_ || *pos_ != '[') return Shape::Failed;  // rare: left to the walks
    // Most objects shaped so far are tables: written as one, unwritten if the shape ends otherwise.
    const KnownColumns* const header = columns_of(columns);
    std::vector<std::string_view> key_texts;
    if (header == nullptr || (!keys.empty() && !read_keys(keys, key_texts))) return Shape::Failed;
    Buffer& out = *out_;
    const std::size_t unwritten = out.size();
    const char* const run = run_;
    flush_to(brace);
    if (!enter()) return Shape::Failed;
    out.push_back(keys.empty() ? '[' : '{');
    row_ends_.clear();
    writing_rows_ = true;
    if (*pos_ == ']') {
      ++pos_;
    } else {
      for (bool more = true; more;) {
        if (!keys.empty()) {
          if (row_ends_.size() == key_texts.size()) return Shape::Failed;
          out.append(key_texts[row_ends_.size()]);
          out.push_back(':');
        }
        if (!write_row(header->table, true) || !next(']', more)) return Shape::Failed;
        if (more) out.push_back(',');
      }
    }
    writing_rows_ = false;
    --depth_;
    if (!take_name(",\"constants\":")) {
      out.cut_to(unwritten);
      run_ = run;
      return not_a_table(body, pos_);
    }
    const std::string_view constants = pass_text();
    if (constants.empty() || !take_name("}")) {
      out.cut_to(unwritten);
      run_ = run;
      return not_a_table(body, constants.data());
    }
    if (!keys.empty() && row_ends_.size() != key_texts.size()) return Shape::Failed;
    const std::string* const written = constants_of(constants, *header);
    if (written == nullptr) return Shape::Failed;
    if (!written->empty()) put_in_constants(*written);
    out.push_back(keys.empty() ? ']' : '}');
    run_ = pos_;
    return Shape::Table;
  }

  // Each row of the table being written ends with its constants, `written`.
  void put_in_constants(std::string_view written) {
    Buffer& out = *out_;
    std::size_t room = 0;
    for (const RowEnd& end : row_ends_)
      room += written.size() + (end.empty ? 0 : 1);
    out.reserve_more(room);
    char* const data = out.write_position() - out.size();
    // From the last row back, each piece moves once.
    std::size_t from = out.size();
    std::size_t to = from + room;
    for (auto end = row_ends_.rbegin(); end != row_ends_.rend(); ++end) {
      const std::size_t piece = from - end->at;
      to -= piece;
      std::memmove(data + to, data + end->at, piece);
      to -= written.size();
      std::memcpy(data + to, written.data(), written.size());
      if (!end->empty) data[--to] = ',';
      from = end->at;
    }
    out.commit(room);
  }

  // The object begun at `body` is read again as an object, unless the text at `stop` is not JSON.
  Shape not_a_table(const char* body, const char* stop) {
    if (stop == nullptr) return Shape::Failed;
    pos_ = body;
    return Shape::Object;
  }

  // The text of the value at the read position, passed over (empty when it is not one).
  std::string_view pass_text() {
    const char* const start = pos_;
    if (!pass<false>()) return {};
    return {start, static_cast<std::size_t>(pos_ - start)};
  }

  // The columns of the table whose "columns" are spelt so; null where they are broken.
  const KnownColumns* columns_of(std::string_view text) {
    if (columns_ != nullptr && columns_->text == text) return columns_.get();
    constants_ = {};
    auto known = std::make_unique<KnownColumns>();
    known->text = text;
    const Value columns = json::build_deferred(
        Value::deferred(Kind::Array, text, json::TextForm::Other), known->arena);
    // The place is named only in a message, which the walks give.
    if (decode_columns(columns, "$", known->table, known->names)) return nullptr;
    columns_ = std::move(known);
    return columns_.get();
  }

  // The constants, spelt `text`, of a table of `columns`, as written after a row's cells; null
  // where they are broken.
  const std::string* constants_of(std::string_view text, const KnownColumns& columns) {
    if (constants_.columns == &columns && constants_.text == text) return &constants_.written;
    constants_ = {};
    json::Arena arena;
    const Value constants =
        json::build_deferred(Value::deferred(Kind::Object, text, json::TextForm::Other), arena);
    if (decode_constants(constants, columns.names, "$", constants_.written)) return nullptr;
    constants_.columns = &columns;
    constants_.text = text;
    return &constants_.written;
  }

  // The keys of a keyed table, as written with their quotes, when they are distinct strings.
  static bool read_keys(std::string_view text, std::vector<std::string_view>& out) {
    NameIndex names;
    std::size_t at = 1;
    while (at < text.size() && text[at] == '"') {
      // Written as the writer writes them: each ends at the first quote not escaped.
      std::size_t end = at + 1;
      while (text[end] != '"')
        end += text[end] == '\\' ? 2 : 1;
      const std::string_view key = text.substr(at, end + 1 - at);
      if (names.find(key) != NameIndex::kAbsent) return false;
      names.add(key);
      out.push_back(key);
      at = end + 2;  // past the quote and the comma or bracket
    }
    return at >= text.size() || text == "[]";
  }

  // A row of `header` at the read position, written as the object of its cells; a table's row
  // (`top`) is noted to take the table's constants later, a group's takes the group's.
  bool write_row(const DecodedTable& header, bool top) {
    Buffer& out = *out_;
    if (pos_ == end_ || *pos_ != '[' || !enter()) return false;
    out.push_back('{');
    bool empty = true;
    std::size_t cells = 0;
    if (*pos_ == ']') {
      ++pos_;
    } else {
      for (bool more = true; more;) {
        if (cells == header.columns.size()) return false;
        const DecodedTable::Column& column = header.columns[cells++];
        if (pos_ == end_) return false;
        if (*pos_ == 'n') {
          if (!pass_word("null")) return false;
        } else if (column.form == ColumnForm::Plain) {
          const char* const value = pos_;
          if (!pass<true>()) return false;
          write_member(out, empty, column.member, {value, static_cast<std::size_t>(pos_ - value)});
        } else {
          write_member(out, empty, column.member, {});
          const bool written = column.form == ColumnForm::Group ? write_row(*column.group, false)
                                                                : write_group_list(*column.group);
          if (!written) return false;
        }
        if (!next(']', more)) return false;
      }
    }
    --depth_;
    if (cells != header.columns.size()) return false;
    if (top) {
      row_ends_.push_back({out.size(), empty});
    } else if (!header.constants.empty()) {
      if (!empty) out.push_back(',');
      out.append(header.constants);
    }
    out.push_back('}');
    return true;
  }

  // A list group's cell at the read position: an array of the group's rows.
  bool write_group_list(const DecodedTable& group) {
    Buffer& out = *out_;
    if (pos_ == end_ || *pos_ != '[' || !enter()) return false;
    out.push_back('[');
    if (*pos_ == ']') {
      ++pos_;
    } else {
      for (bool more = true; more;) {
        if (!write_row(group, false) || !next(']', more)) return false;
        if (more) out.push_back(',');
      }
    }
    --depth_;
    out.push_back(']');
    return true;
  }

  // The text passed over since the last write, copied.
  void flush_to(const char* end) {
    out_->append(run_, static_cast<std::size_t>(end - run_));
    run_ = end;
  }
  void flush() { flush_to(pos_); }

  Buffer* out_ = nullptr;
  const char* run_;  // the start of the text passed over and not yet copied
  std::size_t depth_ = 0;
  std::vector<std::unique_ptr<NameIndex>> names_;  // by depth; never moved
  std::vector<RowEnd> row_ends_;
  bool writing_rows_ = false;  // a table's rows are being written
  std::unique_ptr<KnownColumns> columns_;
  KnownConstants constants_;
};

Result<json::Buffer, std::string> decolumnarize_at(std::string_view payload, std::string root) {
  {
    Buffer out(Buffer::kInitialCapacity, 2 * payload.size());
    json::Arena unused;
    QuickBack quick(payload, unused);
    if (quick.run(out)) return out;
  }
  json::Arena unused;  // strings are decoded into the reader's own buffer
  TableFinder finder(payload, unused);
  if (!finder.run()) return failure("invalid JSON: " + finder.take_error().display());
  if (finder.repeats_a_name()) {
    // Each repeated name read as the reader reads it: the last value, at the first position.
    Buffer read(Buffer::kInitialCapacity, payload.size());
    write_without_repeated_names(payload, read);
    return decolumnarize_at(read.view(), std::move(root));
  }
  Buffer out(Buffer::kInitialCapacity, 2 * payload.size());
  TableDecoder decoder(payload, unused, finder.take_shapes(), finder.take_tabled(),
                       std::move(root));
  if (std::optional<Broken> failed = decoder.run(out)) return failure(std::move(failed->message));
  return out;
}

}  // namespace

Result<json::Buffer, std::string> decolumnarize(std::string_view payload) {
  return json::retried_after_memory_runs_out([&] { return decolumnarize_at(payload, "$"); });
}

}  // namespace tarvik
