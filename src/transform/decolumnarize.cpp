// Decolumnarize: text in the writer's form in one pass (one_pass_back); any other read once to
// find its table-shaped objects, then walked again and written, each table's rows turned back into
// objects as they come, its header (columns, groups and constants) read before its rows.
#include "transform/decolumnarize.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/memory/huge_pages.hpp"
#include "json/model/value.hpp"
#include "json/read/deferred.hpp"
#include "json/read/walk.hpp"
#include "json/text/float_text.hpp"
#include "json/write/writer.hpp"
#include "transform/document_plan.hpp"
#include "transform/json_path.hpp"
#include "transform/name_index.hpp"
#include "transform/one_pass_back.hpp"
#include "transform/table_header.hpp"
#include "transform/without_repeated_names.hpp"

namespace tarvik {

namespace {

using json::Buffer;
using json::Kind;
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
    return true;
  }
  json::Error take_error() { return std::move(*error_); }
  std::vector<TableShape> take_shapes() { return std::move(shapes_); }
  bool repeats_a_name() const { return repeats_a_name_; }

  struct Object {
    const char* start = nullptr;
    NameIndex* names = nullptr;
    std::size_t members = 0;
    bool keyed = false;
    bool shaped = true;
    std::string_view values[4];
  };
  struct Array {
    const char* start;
  };

  bool scalar(const Nothing&, const Value&, const char* start, std::string_view& out) {
    out = {start, pos_};
    return true;
  }
  bool string(const Nothing&, const StringRead&, const char* start, std::string_view& out) {
    out = {start, pos_};
    return true;
  }
  Array begin_array(const Nothing&, const char* bracket) { return {bracket}; }
  Nothing element_context(Array&) { return {}; }
  void end_element(Array&, std::string_view&) {}
  bool end_array(Array& array, const char* end, std::string_view& out) {
    out = {array.start, end};
    return true;
  }

  Object begin_object(const Nothing&, const char* brace) {
    if (depth_ == names_.size()) names_.push_back(std::make_unique<NameIndex>());
    NameIndex* const names = names_[depth_++].get();
    names->clear();
    Object object;
    object.start = brace;
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
    if (object.shaped && object.members == (object.keyed ? 4U : 3U)) {
      const std::size_t first = object.keyed ? 1 : 0;
      shapes_.push_back({object.start, object.keyed ? object.values[0] : std::string_view(),
                         object.values[first], object.values[first + 2]});
    }
    return true;
  }

 private:
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
  std::vector<std::unique_ptr<NameIndex>> names_;  // by depth; never moved
  std::size_t depth_ = 0;
  json::Arena kept_;
  bool repeats_a_name_ = false;
};

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
  json::Arena arena;  // holds the names and the table
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
               std::string root)
      : Walker(input, unused), shapes_(std::move(shapes)), path_(std::move(root)) {}

  // The document written back to `out`, or what is broken in it.
  std::optional<Broken> run(Buffer& out) {
    Nothing done;
    if (walk_value(Context{Role::Value, &out}, done)) return std::nullopt;
    if (!failure_) throw std::logic_error("a document read once does not read back");
    return std::move(failure_);
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

  // `member` is a column's, with its comma.
  static void open_member(RowState& row, std::string_view member) {
    row.out->append(std::exchange(row.empty, false) ? member.substr(1) : member);
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
      DecodedTableMaker maker(known->arena);
      if (auto failed =
              decode_header(columns, constants, path_.text(path_.depth()), maker, known->table)) {
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
  JsonPath path_;
  std::optional<Broken> failure_;
};

// The room first given to the one pass's output. A table's rows restored write their column
// names and constants again, mostly 1 to 3.5 times the payload: room beyond the output is only
// address space (a large block's untouched pages are never resident), so below the size whose
// room is checked against what the process may take, 4 times the payload spares the copy that a
// growth past twice makes; above, twice.
std::size_t expected_output_size(std::size_t payload_size) {
  return payload_size < json::kRoomCheckedSize / 4 ? 4 * payload_size : 2 * payload_size;
}

}  // namespace

Result<json::Buffer, std::string> decolumnarize_at(std::string_view payload, std::string root) {
  {
    Buffer out(Buffer::kInitialCapacity, expected_output_size(payload.size()));
    if (write_back_in_one_pass(payload, out)) return out;
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
  TableDecoder decoder(payload, unused, finder.take_shapes(), std::move(root));
  if (std::optional<Broken> failed = decoder.run(out)) return failure(std::move(failed->message));
  return out;
}

Result<json::Buffer, std::string> decolumnarize(std::string_view payload) {
  return json::retried_after_memory_runs_out([&] { return decolumnarize_at(payload, "$"); });
}

}  // namespace tarvik
