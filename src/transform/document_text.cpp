// The document writer: the document walked again in order, each value written where its role
// puts it: as itself, as a row of a table (its cells gathered, then put in column order), as the
// rows of a list group, or nowhere (a constant's cells after the first).
#include "transform/document_text.hpp"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "json/read/walk.hpp"
#include "json/text/float_text.hpp"
#include "json/write/writer.hpp"
#include "transform/document_scan.hpp"
#include "transform/per_depth.hpp"

namespace tarvik {

namespace {

using json::Buffer;
using json::Kind;
using json::Value;
using json::reading::StringRead;

enum class Role : std::uint8_t {
  Value,  // written as itself, transformed
  Row,    // an object written as the array of its cells in the table's column order
  Rows,   // an array of objects written as the array of their rows
  Names,  // an object whose member names are written, comma-separated
  Skip,   // read only
};

struct WriteContext {
  Role role = Role::Value;
  const TablePlan* table = nullptr;  // of a row or rows
  Buffer* out = nullptr;
};

struct Nothing {};

struct ArrayState {
  WriteContext context;
  WriteContext element;
  const TablePlan* table = nullptr;  // when the array is written as a table
  bool first = true;
};

// The cells of a row being written, each as its text, placed in column order at its end.
struct RowCells {
  static constexpr std::size_t kAbsent = SIZE_MAX;
  Buffer text{0};
  std::vector<std::pair<std::size_t, std::size_t>> cells;  // [start, end) in text, by position
};

struct ObjectState {
  WriteContext context;
  const TablePlan* keyed = nullptr;  // when the object is written as a keyed table
  WriteContext value;                // of the member being read
  RowCells* row = nullptr;           // of an object written as a row
  std::uint32_t position = TablePlan::kNoCell;
  bool first = true;
};

void append(Buffer& out, std::string_view text) {
  out.append(text);
}

void append_string(Buffer& out, std::string_view text) {
  json::serialize_value(Value::string(text), out);
}

[[noreturn]] void fault(const char* what) {
  throw std::logic_error(std::string("document writer: ") + what);
}

class DocumentWriter final : public json::reading::Walker<DocumentWriter> {
 public:
  template <class>
  using ResultOf = Nothing;

  // `origin`: where the whole input starts, which the plan's offsets count from.
  DocumentWriter(std::string_view input, json::Arena& unused, const DocumentPlan& plan,
                 const char* origin)
      : Walker(input, unused), plan_(plan), origin_(origin) {}

  // The value at the start of the input, written as `context` says.
  void write(const WriteContext& context) {
    Nothing done;
    if (!walk_value(context, done)) fault("a planned text does not read back");
  }

  // A table whose rows the scan kept is written from them, its text not read again; a short
  // table that was not planned is planned from its text, and written as its own document.
  json::reading::TakeOver take_over(const WriteContext& context, const char* bracket, Nothing&) {
    if (context.role != Role::Value) return json::reading::TakeOver::Walk;
    const DocumentPlan::Table* const table = plan_.table_at(bracket);
    if (table == nullptr) return json::reading::TakeOver::Walk;
    if (table->plan == nullptr) {
      write_replanned(*table, *context.out);
    } else if (table->plan->rows_seen) {
      write_seen_table(*table->plan, *bracket == '{', *context.out);
    } else {
      return json::reading::TakeOver::Walk;
    }
    pos_ = table->end;
    return json::reading::TakeOver::Taken;
  }

  bool scalar(const WriteContext& context, const Value& value, const char* start, Nothing&) {
    switch (context.role) {
      case Role::Skip:
        return true;
      case Role::Value:
        break;
      case Role::Row:
      case Role::Rows:
        // A group's cell that holds no object (or list) is null.
        if (!value.is_null()) fault("a group cell is neither null nor an object");
        break;
      case Role::Names:
        fault("names of a scalar");
    }
    if (value.kind() == Kind::Number && value.as_number().form() == json::NumberForm::Float &&
        !json::is_written_float(number_, pos_, value.as_number().as_float())) {
      Buffer& out = *context.out;
      out.reserve_more(json::kFloatRoom);
      out.commit(json::write_float_text(value.as_number().as_float(), out.write_position()));
      return true;
    }
    append(*context.out, {start, pos_});
    return true;
  }

  bool string(const WriteContext& context, const StringRead& string, const char* start, Nothing&) {
    if (context.role == Role::Skip) return true;
    if (context.role != Role::Value) fault("a string where a group's cell stands");
    write_string(*context.out, string, start);
    return true;
  }

  ArrayState begin_array(const WriteContext& context, const char* bracket) {
    ArrayState array{context, {Role::Skip, nullptr, context.out}};
    switch (context.role) {
      case Role::Skip:
        return array;
      case Role::Value:
        if (const DocumentPlan::Table* planned = plan_.table_at(bracket)) {
          const TablePlan* const table = planned->plan;
          array.table = table;
          write_table_head(*table, *context.out);
          array.element = {Role::Row, table, context.out};
          return array;
        }
        array.element = {Role::Value, nullptr, context.out};
        break;
      case Role::Rows:
        array.element = {Role::Row, context.table, context.out};
        break;
      case Role::Row:
      case Role::Names:
        fault("an array where an object stands");
    }
    context.out->push_back('[');
    return array;
  }

  WriteContext element_context(ArrayState& array) {
    if (!array.first && array.context.role != Role::Skip) array.context.out->push_back(',');
    array.first = false;
    return array.element;
  }

  void end_element(ArrayState&, Nothing&) {}

  bool end_array(ArrayState& array, const char*, Nothing&) {
    if (array.context.role == Role::Skip) return true;
    if (array.table != nullptr) {
      write_table_tail(*array.table, *array.context.out);
    } else {
      array.context.out->push_back(']');
    }
    return true;
  }

  ObjectState begin_object(const WriteContext& context, const char* brace) {
    ObjectState object{context, nullptr, {Role::Skip, nullptr, context.out}};
    switch (context.role) {
      case Role::Skip:
      case Role::Names:
        return object;
      case Role::Value:
        if (const DocumentPlan::Table* planned = plan_.table_at(brace)) {
          const TablePlan* const table = planned->plan;
          object.keyed = table;
          Buffer& out = *context.out;
          append(out, R"({"keys":[)");
          DocumentWriter names({brace, static_cast<std::size_t>(end_ - brace)}, arena_, plan_,
                               origin_);
          names.write({Role::Names, nullptr, &out});
          append(out, "],");
          write_table_head(*table, out, false);
          return object;
        }
        context.out->push_back('{');
        return object;
      case Role::Row: {
        RowCells& row = rows_.at(row_depth_++);
        row.text.clear();
        row.cells.assign(context.table->columns.size(), {RowCells::kAbsent, RowCells::kAbsent});
        context.table->names->start_row();
        object.row = &row;
        return object;
      }
      case Role::Rows:
        break;
    }
    fault("an object where an array stands");
  }

  bool read_key(ObjectState& object, const char* quote) {
    StringRead name;
    if (!parse_str(name, json::reading::StringUse::Decoded)) return false;
    const WriteContext& context = object.context;
    const bool first = std::exchange(object.first, false);
    switch (context.role) {
      case Role::Skip:
        break;
      case Role::Names:
        if (!first) context.out->push_back(',');
        write_string(*context.out, name, quote);
        break;
      case Role::Value:
        if (!first) context.out->push_back(',');
        if (object.keyed != nullptr) {
          object.value = {Role::Row, object.keyed, context.out};
          break;
        }
        write_string(*context.out, name, quote);
        context.out->push_back(':');
        object.value = {Role::Value, nullptr, context.out};
        break;
      case Role::Row:
        enter_cell(object, name.text);
        break;
      case Role::Rows:
        fault("a key of an array");
    }
    return true;
  }

  WriteContext member_context(ObjectState& object) { return object.value; }

  void end_member(ObjectState& object, Nothing&) {
    if (object.row != nullptr && object.position != TablePlan::kNoCell) {
      object.row->cells[object.position].second = object.row->text.size();
    }
  }

  bool end_object(ObjectState& object, const char*, Nothing&) {
    const WriteContext& context = object.context;
    switch (context.role) {
      case Role::Skip:
      case Role::Names:
        break;
      case Role::Value:
        if (object.keyed != nullptr) {
          write_table_tail(*object.keyed, *context.out);
        } else {
          context.out->push_back('}');
        }
        break;
      case Role::Row:
        write_row(*object.row, *context.out);
        --row_depth_;
        break;
      case Role::Rows:
        fault("an object where an array stands");
    }
    return true;
  }

 private:
  // A string as the writer spells it: its own text when that is already the spelling.
  void write_string(Buffer& out, const StringRead& string, const char* quote) {
    if (string.escapes_as_written) {
      append(out, {quote, pos_});
    } else {
      append_string(out, string.text);
    }
  }

  // The member `name` of a row: its cell's text goes to the row's text, in its column's form.
  void enter_cell(ObjectState& object, std::string_view name) {
    const TablePlan& table = *object.context.table;
    const std::uint32_t number = table.names->find_in_row(name);
    if (number == NameIndex::kAbsent) fault("a row holds a name its table never saw");
    table.names->note_in_row(number);
    object.position = table.positions[number];
    if (object.position == TablePlan::kNoCell) {
      object.value = {Role::Skip, nullptr, nullptr};
      return;
    }
    RowCells& row = *object.row;
    row.cells[object.position].first = row.text.size();
    const PlannedColumn& column = table.columns[object.position];
    switch (column.form) {
      case ColumnForm::Plain:
        object.value = {Role::Value, nullptr, &row.text};
        break;
      case ColumnForm::Group:
        object.value = {Role::Row, column.group, &row.text};
        break;
      case ColumnForm::ListGroup:
        object.value = {Role::Rows, column.group, &row.text};
        break;
    }
  }

  // The row's cells in column order, null where it has none.
  static void write_row(const RowCells& row, Buffer& out) {
    out.push_back('[');
    bool first = true;
    for (const auto& [start, end] : row.cells) {
      if (!std::exchange(first, false)) out.push_back(',');
      if (start == RowCells::kAbsent) {
        append(out, "null");
      } else {
        out.append(row.text.data() + start, end - start);
      }
    }
    out.push_back(']');
  }

  // {"columns":[…],"rows":[ before the rows, without the brace for a keyed table.
  void write_table_head(const TablePlan& table, Buffer& out, bool brace = true) {
    if (brace) out.push_back('{');
    append(out, R"("columns":)");
    write_columns(table, out);
    append(out, R"(,"rows":[)");
  }

  // ],"constants":{…}} after the rows.
  void write_table_tail(const TablePlan& table, Buffer& out) {
    append(out, R"(],"constants":)");
    write_constants(table, out);
    out.push_back('}');
  }

  void write_columns(const TablePlan& table, Buffer& out) {
    out.push_back('[');
    bool first = true;
    for (const PlannedColumn& column : table.columns) {
      if (!std::exchange(first, false)) out.push_back(',');
      if (column.form == ColumnForm::Plain) {
        append_string(out, column.name);
        continue;
      }
      const bool list = column.form == ColumnForm::ListGroup;
      out.push_back('{');
      append_string(out, column.name);
      append(out, list ? R"(:[{"columns":)" : R"(:{"columns":)");
      write_columns(*column.group, out);
      append(out, R"(,"constants":)");
      write_constants(*column.group, out);
      append(out, list ? "}]}" : "}}");
    }
    out.push_back(']');
  }

  void write_constants(const TablePlan& table, Buffer& out) {
    out.push_back('{');
    bool first = true;
    for (const PlannedConstant& constant : table.constants) {
      if (!std::exchange(first, false)) out.push_back(',');
      append_string(out, constant.name);
      out.push_back(':');
      write_value_text(constant.value, constant.copied, out);
    }
    out.push_back('}');
  }

  void write_replanned(const DocumentPlan::Table& table, Buffer& out) {
    const std::string_view text(table.start, static_cast<std::size_t>(table.end - table.start));
    Result<DocumentPlan, json::Error> replanned = scan_document(text, plan_.min_rows, 0);
    if (!replanned.ok() || replanned.value().table_at(table.start) == nullptr) {
      fault("a short table planned again is no table");
    }
    write_document(text, replanned.value(), out);
    recycle_rows(replanned.value());
  }

  // A value's transformed text: its own text when that is it, else the text read and written.
  void write_value_text(std::string_view text, bool copied, Buffer& out) {
    if (copied) {
      append(out, text);
      return;
    }
    DocumentWriter value(text, arena_, plan_, origin_);
    value.write({Role::Value, nullptr, &out});
  }

  std::string_view seen_text(const SeenText& seen) const {
    return {origin_ + seen.start, seen.size};
  }

  // A table from the rows the scan kept: each row's cells put in column order.
  void write_seen_table(const TablePlan& table, bool keyed, Buffer& out) {
    if (keyed) {
      append(out, R"({"keys":[)");
      bool first = true;
      for (const SeenText& name : table.rows.names) {
        if (!std::exchange(first, false)) out.push_back(',');
        write_value_text(seen_text(name), (name.name & SeenText::kRewritten) == 0, out);
      }
      append(out, "],");
    }
    write_table_head(table, out, !keyed);
    start_rows(table);
    for (std::size_t row = 0; row < table.rows.row_ends.size(); ++row) {
      if (row > 0) out.push_back(',');
      write_seen_row(table, row, out);
    }
    write_table_tail(table, out);
  }

  // Before a table is written: each of its groups is written from its first row on.
  static void start_rows(const TablePlan& table) {
    table.next_row = 0;
    table.next_list = 0;
    for (const TablePlan* group : table.groups)
      start_rows(*group);
  }

  void write_seen_row(const TablePlan& table, std::size_t row, Buffer& out) {
    const KeptRows& rows = table.rows;
    if (row >= rows.row_ends.size()) fault("a group has fewer rows than its cells");
    const std::uint32_t first = row == 0 ? 0 : rows.row_ends[row - 1];
    const std::span<const SeenText> cells = rows.cells.subspan(first, rows.row_ends[row] - first);
    if (table.rows_in_order && in_column_order(table, cells)) {
      write_ordered_row(table, cells, out);
      return;
    }
    std::vector<std::uint32_t>& slots = cell_slots_.at(cell_depth_++);
    slots.assign(table.columns.size(), kNoSlot);
    std::uint32_t in_order = 0;  // of the cells placed, those in the columns' order
    for (std::uint32_t cell = first; cell < rows.row_ends[row]; ++cell) {
      const std::uint32_t position = table.positions[rows.cells[cell].name & ~SeenText::kRewritten];
      if (position == TablePlan::kNoCell) continue;
      slots[position] = cell;
      in_order += position == in_order ? 1 : 0;
    }
    table.rows_in_order = in_order == slots.size();
    out.push_back('[');
    for (std::size_t position = 0; position < slots.size(); ++position) {
      if (position > 0) out.push_back(',');
      if (slots[position] == kNoSlot) {
        append(out, "null");
      } else {
        write_seen_cell(table.columns[position], rows.cells[slots[position]], out);
      }
    }
    out.push_back(']');
    --cell_depth_;
  }

  // Whether a row's cells fill every column of `table` in its order, constants aside, as the rows
  // of many tables do: they are then written as they come, without being placed first. Only
  // asked while the table's rows before were so.
  static bool in_column_order(const TablePlan& table, std::span<const SeenText> cells) {
    std::uint32_t next = 0;
    for (const SeenText& cell : cells) {
      const std::uint32_t position = table.positions[cell.name & ~SeenText::kRewritten];
      if (position == TablePlan::kNoCell) continue;
      if (position != next) return false;
      ++next;
    }
    return next == table.columns.size();
  }

  void write_ordered_row(const TablePlan& table, std::span<const SeenText> cells, Buffer& out) {
    out.push_back('[');
    std::uint32_t position = 0;
    for (const SeenText& cell : cells) {
      if (table.positions[cell.name & ~SeenText::kRewritten] == TablePlan::kNoCell) continue;
      if (position > 0) out.push_back(',');
      write_seen_cell(table.columns[position++], cell, out);
    }
    out.push_back(']');
  }

  [[gnu::always_inline]] void write_seen_cell(const PlannedColumn& column, const SeenText& cell,
                                              Buffer& out) {
    const std::string_view text = seen_text(cell);
    if (column.form == ColumnForm::Plain) {
      write_value_text(text, (cell.name & SeenText::kRewritten) == 0, out);
      return;
    }
    if (text == "null") {
      append(out, "null");
      return;
    }
    const TablePlan& group = *column.group;
    if (column.form == ColumnForm::Group) {
      write_seen_row(group, group.next_row++, out);
      return;
    }
    if (group.next_list >= group.rows.list_lengths.size()) fault("a list group lost a list");
    const std::uint32_t length = group.rows.list_lengths[group.next_list++];
    out.push_back('[');
    for (std::uint32_t i = 0; i < length; ++i) {
      if (i > 0) out.push_back(',');
      write_seen_row(group, group.next_row++, out);
    }
    out.push_back(']');
  }

  static constexpr std::uint32_t kNoSlot = UINT32_MAX;

  const DocumentPlan& plan_;
  const char* const origin_;
  PerDepth<std::vector<std::uint32_t>> cell_slots_;  // by the depth of the rows being written
  std::size_t cell_depth_ = 0;
  PerDepth<RowCells> rows_;  // by the depth of the rows being written
  std::size_t row_depth_ = 0;
};

}  // namespace

void write_document(std::string_view input, const DocumentPlan& plan, json::Buffer& out) {
  const std::size_t start = out.size();
  json::Arena unused;  // strings are decoded into the reader's own buffer
  DocumentWriter writer(input, unused, plan, input.data());
  writer.write({Role::Value, nullptr, &out});
  if (out.size() - start != plan.size) {
    throw std::logic_error("document text is " + std::to_string(out.size() - start) +
                           " bytes where " + std::to_string(plan.size) + " were counted");
  }
}

}  // namespace tarvik
