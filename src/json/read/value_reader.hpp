// The reader of values: the walk that builds arrays and objects in the arena, rows read with their
// keys guessed from the row before, and what lies below the rows kept as deferred text.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "json/model/cell.hpp"
#include "json/model/map.hpp"
#include "json/read/deferred_scan.hpp"
#include "json/read/reader.hpp"
#include "json/read/row_names.hpp"
#include "json/read/scratch_stack.hpp"
#include "json/text/float_text.hpp"

namespace tarvik::json::reading {
// Internal to each file that includes it, like all reader layers: the compiler then inlines
// and specializes them as freely as code of that one file (in a named namespace it inlines
// less, and the reader is measurably slower).
namespace {  // NOLINT(cert-dcl59-cpp)

// Values built whole, arrays and objects included.
struct Everything {
  static constexpr StringUse kStrings = StringUse::Kept;
};

// Values whose arrays and objects are kept as deferred text (below the rows).
struct Deferred {
  static constexpr StringUse kStrings = StringUse::Kept;
  static constexpr bool kContainersTaken = true;
};

// An element of the top-level array, or a line of JSON Lines: a row. An object is read with its
// keys guessed from the row before, its members as `Below` says; an array as `Below` reads one.
template <class Below>
struct Row {
  static constexpr StringUse kStrings = StringUse::Kept;
};

// An element of the top-level array, or a line of JSON Lines, read as a row of the table: an
// object's members become cells, any other element is kept as a value (deferred text when it is
// an array).
struct TableRow {
  static constexpr StringUse kStrings = StringUse::Kept;
  static constexpr bool kArraysTaken = true;
};

// The value of a member of a table row: arrays and objects kept as deferred text, and the text
// of a string or number noted when the writer writes exactly it.
struct CellValue {
  static constexpr StringUse kStrings = StringUse::Kept;
  static constexpr bool kContainersTaken = true;
  Cell* cell;  // where the value goes: the next cell of the scratch stack, its name set
};

// The top-level value when it has to be an array and is something else: what it is, for the
// error that says so.
struct Described {
  static constexpr StringUse kStrings = StringUse::Kept;
  static constexpr bool kContainersTaken = true;
};

class Reader : public DeferredScanner {
 public:
  Reader(std::string_view input, Arena& arena, Build build) : DeferredScanner(input, arena, build) {
    name_probes_[kProbedNames] = {};
  }

  // What a value walked under each context reports.
  template <class Context>
  using ResultOf =
      std::conditional_t<std::is_same_v<Context, Skim> || std::is_same_v<Context, Respell> ||
                             std::is_same_v<Context, CellValue>,
                         Unbuilt,
                         std::conditional_t<std::is_same_v<Context, TableRow>, RowRead, Value>>;

  // One value that fills the whole input, which is known to be valid JSON: the text of a
  // deferred value.
  Value read_whole_value() {
    Value value;
    if (!walk_value(Everything{}, value) || pos_ != end_) throw_not_one_value();
    return value;
  }

  Result<std::vector<Value>, Error> parse_value_list() {
    skip_whitespace();
    if (pos_ == end_) {
      fail_peek(ErrorCode::EofWhileParsingValue);
    } else if (*pos_ != '[') {
      peek_invalid_type();
    } else if (defers_nested() ? read_top_elements<Row<Deferred>>()
                               : read_top_elements<Row<Everything>>()) {
      skip_whitespace();
      // The top-level elements are the bottom of the scratch stack, and nothing is above them.
      if (pos_ == end_) return std::move(elements_);
      fail_peek(ErrorCode::TrailingCharacters);
    }
    return failure(std::move(*error_));
  }

  // The elements of the top-level array one at a time, with the errors and checks of
  // parse_value_list in the same order.
  enum class Step { Element, End, Failed };

  template <class Element, class Out>
  Step next_element_as(Out& out) {
    if (error_) return Step::Failed;
    switch (elements_state_) {
      case ElementsState::Done:
        return Step::End;
      case ElementsState::Before:
        skip_whitespace();
        if (pos_ == end_) return fail_step(ErrorCode::EofWhileParsingValue);
        if (*pos_ != '[') {
          peek_invalid_type();
          return Step::Failed;
        }
        --remaining_depth_;
        ++pos_;
        break;
      case ElementsState::Between:
        break;
    }
    switch (
        next_in_array(elements_state_ == ElementsState::Before, [this] { skip_whitespace(); })) {
      case ArrayStep::Element:
        break;
      case ArrayStep::End:
        return end_elements();
      case ArrayStep::Failed:
        return Step::Failed;
    }
    if (!walk_value(Element{}, out)) return Step::Failed;
    elements_state_ = ElementsState::Between;
    return Step::Element;
  }

  const Error& error() const { return *error_; }

  // Forgets what is kept of the elements read so far, which may lie in the arena, before the
  // arena is released.
  void forget_elements() {
    previous_row_ = nullptr;
    previous_cells_ = {};
    forget_shapes();
  }

  // The value of the next line holding one, read as an element of the top-level array with end_
  // at its line feed; the errors and checks of parse_value_lines in the same order.
  Step next_line(Value& out) {
    return defers_nested() ? next_line_as<Row<Deferred>>(out) : next_line_as<Row<Everything>>(out);
  }

  Result<std::vector<Value>, Error> parse_value_lines() {
    Value element;
    Step step = Step::Element;
    while ((step = next_line(element)) == Step::Element)
      elements_.push_back(element);
    if (step == Step::End) return std::move(elements_);
    return failure(std::move(*error_));
  }

  // The elements of the top-level array, or the lines, read as the rows of a table whose member
  // names `names` numbers: see TableRowReader.
  void number_names_in(RowNames& names) { names_ = &names; }

  bool read_table(std::vector<RowCells>& rows, std::optional<NotARow>& not_a_row,
                  RowObserver* observer) {
    skip_whitespace();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
    if (*pos_ != '[') {
      peek_invalid_type();
      return false;
    }
    --remaining_depth_;
    ++pos_;
    TableArray table{rows, not_a_row, observer};
    if (!walk_elements(Everything{}, table)) return false;
    observe_rows(table);
    ++remaining_depth_;
    skip_whitespace();
    if (pos_ != end_) return fail_peek(ErrorCode::TrailingCharacters);
    return true;
  }

  bool read_table_lines(std::vector<RowCells>& rows, std::optional<NotARow>& not_a_row,
                        RowObserver* observer) {
    TableArray table{rows, not_a_row, observer};
    RowRead row;
    Step step = Step::Element;
    while ((step = next_line_as<TableRow>(row)) == Step::Element)
      end_element(table, row);
    if (step != Step::End) return false;
    observe_rows(table);
    return true;
  }

  Step next_table_row(RowRead& out) { return next_element_as<TableRow>(out); }
  Step next_table_line(RowRead& out) { return next_line_as<TableRow>(out); }

  // The hooks of the walks that build values.

  template <class Context>
  bool scalar(const Context&, const Value& value, const char*, Value& out) {
    out = value;
    return true;
  }

  template <class Context>
  bool string(const Context&, const StringRead& string, const char*, Value& out) {
    out = string.had_escapes ? Value::string(string.text) : Value::plain_string(string.text);
    return true;
  }

  // Below the rows, arrays and objects are kept as their text; so is an element of the
  // top-level array that is an array.
  TakeOver take_over(const Deferred&, const char* bracket, Value& out) {
    return taken(defer_container(*bracket == '[' ? Kind::Array : Kind::Object, out));
  }
  TakeOver take_over(const Row<Deferred>&, const char* bracket, Value& out) {
    if (*bracket != '[') return TakeOver::Walk;
    return taken(defer_container(Kind::Array, out));
  }

  // Arrays are built on the scratch stack, then copied into the arena at their end.
  struct BuiltArray {
    std::size_t base;
  };
  template <class Context>
  BuiltArray begin_array(const Context&, const char*) {
    return {elements_.size()};
  }
  Everything element_context(BuiltArray&) { return {}; }
  void end_element(BuiltArray&, Value& element) { elements_.push_back(element); }
  bool end_array(BuiltArray& array, const char*, Value& out) {
    const std::size_t count = elements_.size() - array.base;
    Value* block = nullptr;
    if (count != 0) {
      block = arena_.allocate_array<Value>(count);
      std::copy(elements_.begin() + static_cast<std::ptrdiff_t>(array.base), elements_.end(),
                block);
      elements_.resize(array.base);
    }
    out = Value::array({block, count});
    return true;
  }

  // Objects are built once all their members are known, on the scratch stack meanwhile. A row's
  // keys are guessed from the row before: keys found in its entries, in its order, are taken
  // without reading them again.
  template <class Members>
  struct BuiltObject {
    std::size_t base;
    bool row;
    std::span<const Map::Entry> expected_keys{};
    std::size_t expected = 0;  // where in expected_keys the next key most likely stands
    bool keys_as_expected = true;
    std::string_view key{};  // of the member being read
  };

  BuiltObject<Everything> begin_object(const Everything&, const char*) {
    return {members_.size(), false};
  }
  template <class Below>
  BuiltObject<Below> begin_object(const Row<Below>&, const char*) {
    BuiltObject<Below> object{members_.size(), true};
    if (previous_row_ != nullptr) object.expected_keys = previous_row_->entries();
    return object;
  }

  template <class Members>
  bool read_key(BuiltObject<Members>& object, const char*) {
    if (take_expected_key(object.expected_keys, object.expected, object.key)) return true;
    object.keys_as_expected = false;
    StringRead read;
    if (!read_string(read, StringUse::Kept)) return false;
    object.key = read.text;
    return true;
  }

  template <class Members>
  Members member_context(BuiltObject<Members>&) {
    return {};
  }
  template <class Members>
  void end_member(BuiltObject<Members>& object, Value& value) {
    members_.push({object.key, value});
  }

  // A repeated key keeps the position where it first appeared and takes the last value. Keys
  // all taken from the previous row's, in its order, are distinct as the entries of that row are.
  template <class Members>
  bool end_object(BuiltObject<Members>& object, const char*, Value& out) {
    const std::span<const Member> members = members_.from(object.base);
    Map& map = object.keys_as_expected ? Map::from_distinct_members(arena_, members)
                                       : Map::from_members(arena_, members);
    members_.cut_to(object.base);
    if (object.row) previous_row_ = &map;
    out = Value::object(map);
    return true;
  }

  // The hooks of the rows of a table. An element that is no object is kept as a value.
  bool scalar(const TableRow&, const Value& value, const char*, RowRead& out) {
    out = {{}, value, false};
    return true;
  }
  bool string(const TableRow&, const StringRead& string, const char*, RowRead& out) {
    out = {{},
           string.had_escapes ? Value::string(string.text) : Value::plain_string(string.text),
           false};
    return true;
  }
  TakeOver take_over(const TableRow&, const char* bracket, RowRead& out) {
    if (*bracket != '[') return TakeOver::Walk;
    out = {};
    return taken(defer_container(Kind::Array, out.value));
  }

  // A row's members are read onto the scratch stack of cells, then copied into the arena. Its
  // names are guessed from the row before: names found in its cells, in its order, are taken
  // without reading them again, and are distinct as that row's are.
  struct CellRow {
    std::size_t base;
    std::size_t expected = 0;  // where in the previous row's cells the next name most likely is
    std::uint32_t name = 0;    // of the member being read
    bool names_as_expected = true;
  };

  // The names the rows before brought get their probes as a row begins: a table of one row, as a
  // small payload often is, makes none.
  CellRow begin_object(const TableRow&, const char*) {
    if (names_probed_ < kProbedNames && names_probed_ < names_->all().size()) [[unlikely]] {
      probe_names();
    }
    return {cells_.size()};
  }

  bool read_key(CellRow& row, const char*) {
    const RowCells expected = previous_cells_;
    if (take_guessed_key(expected.size(), row.expected, [&](std::size_t i) {
          const std::uint32_t name = expected[i].name;
          return take_probed_key(probes_of(name).key, [&] { return (*names_)[name]; });
        })) {
      row.name = expected[row.expected - 1].name;
      return true;
    }
    row.names_as_expected = false;
    StringRead read;
    if (!read_string(read, StringUse::Kept)) return false;
    row.name = names_->number_of(read.text);
    return true;
  }

  // Rows mostly repeat the row before: after a member, the next one's comma, key and colon are
  // those of the next name it held, taken at once.
  bool take_next_key(CellRow& row) {
    const RowCells expected = previous_cells_;
    if (row.expected >= expected.size()) return false;
    const std::uint32_t name = expected[row.expected].name;
    if (!take_member_key(probes_of(name).member, [&] { return (*names_)[name]; })) return false;
    ++row.expected;
    row.name = name;
    return true;
  }

  // A member's value is written straight into its cell on the scratch stack, which nothing else
  // grows meanwhile: copied from a result, a cell written piecemeal would be read back before its
  // stores have landed.
  CellValue member_context(CellRow& row) {
    Cell& cell = cells_.next();
    cell.text = nullptr;
    cell.text_size = 0;
    cell.name = row.name;
    return {&cell};
  }
  void end_member(CellRow&, Unbuilt&) { cells_.commit(); }

  bool end_object(CellRow& row, const char*, RowRead& out) {
    const std::span<const Cell> read = cells_.from(row.base);
    Cell* const cells = read.empty() ? nullptr : arena_.allocate_array<Cell>(read.size());
    const std::size_t count =
        row.names_as_expected ? copy_cells(read, cells) : copy_distinct_cells(read, cells);
    cells_.cut_to(row.base);
    previous_cells_ = {cells, count};
    out.cells = {cells, count};
    out.is_object = true;
    return true;
  }

  // A member's value. An integer in range is written as the digits it was read from; a float
  // or a string is written as its text when that is the writer's spelling of it.
  bool scalar(const CellValue& context, const Value& value, const char* start, Unbuilt&) {
    Cell& out = *context.cell;
    out.value = value;
    if (value.kind() == Kind::Number &&
        (value.as_number().form() != NumberForm::Float ||
         is_written_float(number_, pos_, value.as_number().as_float()))) {
      note_text(start, out);
    }
    return true;
  }
  bool string(const CellValue& context, const StringRead& string, const char* quote, Unbuilt&) {
    Cell& out = *context.cell;
    out.value = string.had_escapes ? Value::string(string.text) : Value::plain_string(string.text);
    if (string.escapes_as_written) note_text(quote, out);
    return true;
  }
  TakeOver take_over(const CellValue& context, const char* bracket, Unbuilt&) {
    return taken(
        defer_container(*bracket == '[' ? Kind::Array : Kind::Object, context.cell->value));
  }

  // The hooks that describe a top-level value that is not an array: its scalar, or the "{"
  // before which the error stands.
  bool scalar(const Described&, const Value& value, const char*, JsonUnexpected& out) {
    if (value.is_null()) {
      out.found = JsonUnexpected::Null{};
    } else if (value.kind() == Kind::Bool) {
      out.found = value.as_bool();
    } else {
      const Number n = value.as_number();
      switch (n.form()) {
        case NumberForm::NonNegative:
          out.found = n.as_non_negative();
          break;
        case NumberForm::Negative:
          out.found = n.as_negative();
          break;
        case NumberForm::Float:
          out.found = n.as_float();
          break;
      }
    }
    return true;
  }
  bool string(const Described&, const StringRead& string, const char*, JsonUnexpected& out) {
    out.found = string.text;
    return true;
  }
  TakeOver take_over(const Described&, const char*, JsonUnexpected& out) {
    out.found = JsonUnexpected::Object{};
    return TakeOver::Taken;
  }

  // The elements of the top-level array go to the scratch stack, which is the list returned.
  template <class Element>
  struct TopArray {};
  template <class Element>
  Element element_context(TopArray<Element>&) {
    return {};
  }
  template <class Element>
  void end_element(TopArray<Element>&, Value& element) {
    elements_.push_back(element);
  }

  // The rows of a table, up to the first element that is no object.
  struct TableArray {
    std::vector<RowCells>& rows;
    std::optional<NotARow>& not_a_row;
    RowObserver* observer;
    std::size_t observed = 0;  // the rows given to the observer
  };
  // The observer is given the rows a batch at a time, their cells still in the cache.
  static constexpr std::size_t kObservedBatch = 64;
  void observe_rows(TableArray& table) {
    if (table.observer == nullptr || table.observed == table.rows.size()) return;
    table.observer->rows(std::span<const RowCells>(table.rows).subspan(table.observed),
                         names_->all().size());
    table.observed = table.rows.size();
  }
  TableRow element_context(TableArray&) { return {}; }
  void end_element(TableArray& table, RowRead& element) {
    if (table.not_a_row) return;
    if (element.is_object) {
      // Copied by its parts, as they were stored: one load of both would wait for the stores.
      table.rows.emplace_back(element.cells.data(), element.cells.size());
      if (table.rows.size() - table.observed == kObservedBatch) observe_rows(table);
    } else {
      table.not_a_row = NotARow{table.rows.size(), element.value};
    }
  }

  using DeferredScanner::begin_array;
  using DeferredScanner::begin_object;
  using DeferredScanner::element_context;
  using DeferredScanner::end_array;
  using DeferredScanner::end_element;
  using DeferredScanner::end_member;
  using DeferredScanner::end_object;
  using DeferredScanner::member_context;
  using DeferredScanner::read_key;
  using DeferredScanner::scalar;
  using DeferredScanner::string;

 private:
  using Member = Map::Member;

  static TakeOver taken(bool read) { return read ? TakeOver::Taken : TakeOver::Failed; }

  // A name's probes. Every name a cell of the row before holds has them, or is past those probed:
  // all names numbered before a row begins are probed then.
  struct NameProbes {
    KeyProbe key;     // the name and its quote
    KeyProbe member;  // `,"name":`
  };

  // Every name numbered so far, up to kProbedNames, gets its probes.
  [[gnu::noinline]] void probe_names() {
    const std::span<const std::string_view> names = names_->all();
    for (; names_probed_ < std::min(names.size(), kProbedNames); ++names_probed_) {
      name_probes_[names_probed_] = {probe_of(names[names_probed_]),
                                     member_probe_of(names[names_probed_])};
    }
  }

  // Those of a name that has them, else the empty ones past the names probed, which match
  // nothing.
  const NameProbes& probes_of(std::uint32_t name) const {
    return name_probes_[std::min<std::size_t>(name, kProbedNames)];
  }

  // The text from `start` to the read position, when its length fits the cell.
  void note_text(const char* start, Cell& out) const {
    const auto size = static_cast<std::size_t>(pos_ - start);
    if (size > UINT32_MAX) return;
    out.text = start;
    out.text_size = static_cast<std::uint32_t>(size);
  }

  static std::size_t copy_cells(std::span<const Cell> read, Cell* to) {
    std::copy(read.begin(), read.end(), to);
    return read.size();
  }

  // A repeated name keeps the position where it first appeared and takes the last value: each
  // name notes the row it was last seen in and where its cell went.
  std::size_t copy_distinct_cells(std::span<const Cell> read, Cell* to) {
    if (name_marks_.size() < names_->all().size()) name_marks_.resize(names_->all().size());
    ++rows_marked_;
    std::size_t count = 0;
    for (const Cell& cell : read) {
      NameMark& mark = name_marks_[cell.name];
      if (mark.row == rows_marked_) {
        Cell& first = to[mark.cell];
        first.value = cell.value;
        first.text = cell.text;
        first.text_size = cell.text_size;
        continue;
      }
      mark = {rows_marked_, count};
      to[count++] = cell;
    }
    return count;
  }

  // The elements of the top-level array, its "[" at the read position, onto the scratch stack,
  // read as rows. The "[" takes the depth of one level without the check of nested ones.
  template <class Element>
  bool read_top_elements() {
    --remaining_depth_;
    ++pos_;
    TopArray<Element> array;
    if (!walk_elements(Everything{}, array)) return false;
    ++remaining_depth_;
    return true;
  }

  template <class Element, class Out>
  Step next_line_as(Out& out) {
    if (error_) return Step::Failed;
    if (elements_state_ == ElementsState::Before) {
      input_end_ = end_;
      next_line_ = begin_;
      --remaining_depth_;
      elements_state_ = ElementsState::Between;
    }
    while (next_line_ != input_end_) {
      pos_ = next_line_;
      end_ = static_cast<const char*>(
          std::memchr(pos_, '\n', static_cast<std::size_t>(input_end_ - pos_)));
      if (end_ == nullptr) end_ = input_end_;
      next_line_ = end_ + (end_ != input_end_);
      skip_whitespace();
      if (pos_ == end_) continue;
      if (!walk_value(Element{}, out)) return Step::Failed;
      skip_whitespace();
      if (pos_ != end_) return fail_step(ErrorCode::TrailingCharacters);
      return Step::Element;
    }
    return Step::End;
  }

  // The payload is not an array: reads what it is and stores the "invalid type" error, stamped
  // just past what was read (at the "{" for an object).
  [[gnu::cold, gnu::noinline]] void peek_invalid_type() {
    JsonUnexpected unexpected;
    if (!walk_value(Described{}, unexpected)) return;
    error_.emplace(fix_position(invalid_type(unexpected), input(), read_position()));
  }

  Step fail_step(ErrorCode code) {
    fail_peek(code);
    return Step::Failed;
  }

  // Past the "]" of the top-level array.
  Step end_elements() {
    ++remaining_depth_;
    skip_whitespace();
    if (pos_ != end_) return fail_step(ErrorCode::TrailingCharacters);
    elements_state_ = ElementsState::Done;
    return Step::End;
  }

  enum class ElementsState { Before, Between, Done };
  ElementsState elements_state_ = ElementsState::Before;
  std::vector<Value> elements_;        // elements of every open array, innermost on top
  ScratchStack<Member> members_;       // members of every open object, innermost on top
  const Map* previous_row_ = nullptr;  // the row read last
  // Of the rows of a table: their cells while read, the names' numbers and probes, the cells of the
  // row read last, and where each name was last seen, to find a repeated one.
  struct NameMark {
    std::uint64_t row = 0;
    std::size_t cell = 0;
  };
  ScratchStack<Cell> cells_;
  RowNames* names_ = nullptr;
  RowCells previous_cells_;
  // The probes of the first names, by their numbers, kept in the reader: kept on the heap, they
  // cost a call on a small table more than they saved. Later names are read without. Only those
  // made are set (many readers read no rows), and the last, which matches nothing.
  static constexpr std::size_t kProbedNames = 64;
  std::array<NameProbes, kProbedNames + 1> name_probes_;
  std::size_t names_probed_ = 0;
  std::vector<NameMark> name_marks_;
  std::uint64_t rows_marked_ = 0;
  // Of JSON Lines: the input's end, and the start of the line after the one being read.
  const char* input_end_ = nullptr;
  const char* next_line_ = nullptr;
};

}  // namespace
}  // namespace tarvik::json::reading
