// The column analysis of the document transform: a column's cells counted as they come, its
// constant test, the groups over its objects, and the choice of the shortest form.
#include "transform/table_analysis.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "json/model/map.hpp"
#include "json/read/number_text.hpp"
#include "transform/constant_rule.hpp"
#include "transform/name_index.hpp"

namespace tarvik {

namespace {

constexpr std::uint64_t kNullText = 4;

// {"NAME":{"columns":…,"constants":…}} and {"NAME":[{"columns":…,"constants":…}]} around the
// name and the two parts.
constexpr std::uint64_t kGroupHeader = 28;
constexpr std::uint64_t kListGroupHeader = 30;

std::uint64_t commas(std::uint64_t items) {
  return items > 0 ? items - 1 : 0;
}

bool is_short_digits(std::string_view text) {
  return text.size() <= 19 &&
         std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

// A number's exact value, read again from its text (which the scan found valid).
class NumberText final : json::reading::NumberReader {
 public:
  explicit NumberText(std::string_view text) : NumberReader(text) {}

  json::Number value() {
    json::Value value;
    if (!read_literal_or_number(value) || value.kind() != json::Kind::Number || pos_ != end_) {
      throw std::logic_error("a number's text does not read back as that number");
    }
    return value.as_number();
  }
};

}  // namespace

void TableAnalysis::name_row(std::string_view text, bool copied) {
  if (recording()) record(seen_.names, 0, text, copied);
}

std::uint32_t TableAnalysis::add_column(std::uint32_t name, std::uint64_t written_size) {
  // A fresh analysis takes room for a few columns at once: most tables and groups have several,
  // and growing from one column at a time cost a reallocation at each doubling.
  if (columns_.capacity() == 0) {
    columns_.reserve(kFirstColumns);
    columns_index_.reserve(kFirstColumns);
  }
  const std::uint32_t number = columns_index_.add(name, pool_.names());
  columns_.emplace_back().name_size = written_size;
  return number;
}

[[gnu::always_inline]] inline bool TableAnalysis::matches_reference(const Column& column,
                                                                    const ValueSummary& cell) {
  // Equal texts are equal values. Texts of two lengths may be too, even compact ones: 0.0 and
  // -0.0 are equal wherever they are nested.
  if ((cell.value.is_deferred() || cell.value.kind() == json::Kind::Number) &&
      json::same_key(cell.text, column.reference_text)) {
    return true;
  }
  return matches(cell.value, cell.text, column);
}

// Out of line: the texts of most cells decide alone.
[[gnu::noinline]] bool TableAnalysis::matches(const json::Value& value, std::string_view text,
                                              const Column& column) {
  if (value.kind() == json::Kind::Number && column.reference.kind() == json::Kind::Number) {
    // Texts of digits alone that fit 64 bits are integers spelt one way (JSON has no leading
    // zeros): of two such texts, differing ones differ in value.
    if (is_short_digits(text) && is_short_digits(column.reference_text)) return false;
    return NumberText(text).value().same_value(NumberText(column.reference_text).value());
  }
  return matches_constant(value, column.reference);
}

bool TableAnalysis::later_matches(const Column& column, const Column& later) {
  // Every later cell equals the later reference, so each equals this reference when that one
  // does.
  if ((later.reference.is_deferred() || later.reference.kind() == json::Kind::Number) &&
      json::same_key(later.reference_text, column.reference_text)) {
    return true;
  }
  return matches(later.reference, later.reference_text, column);
}

void TableAnalysis::observe_unsettled(Column& column, const ValueSummary& cell) {
  const json::Kind kind = cell.value.kind();
  if (rows_ == 1) {
    column.constant = true;
    column.reference = pool_.keep(cell.value);
    column.reference_text = cell.text;
    column.reference_size = cell.size;
    column.reference_copied = cell.copied;
  } else if (column.constant && !matches_reference(column, cell)) {
    column.constant = false;
  }
  // A null cell leaves the column's forms as they were.
  if (kind == json::Kind::Null) return;
  column.non_null = true;
  if (kind == json::Kind::Object) {
    ++column.objects;
  } else if (column.may_group) {
    drop_group(column);
  }
  if (kind == json::Kind::Array && cell.list_of_objects && column.may_list_group) {
    if (column.list_group != nullptr && recording()) {
      column.list_group->seen_.list_lengths.push_back(static_cast<std::uint32_t>(cell.objects));
      column.list_group->count_kept(sizeof(std::uint32_t));
    }
    ++column.lists;
    column.list_objects += cell.objects;
    column.list_brackets += 2 + commas(cell.objects);
  } else if (column.may_list_group) {
    drop_list_group(column);
  }
  column.settled = !column.constant && !column.may_group && !column.may_list_group;
}

void TableAnalysis::take_rows_of(TableAnalysis& later) {
  for (std::uint32_t number = 0; number < later.columns_.size(); ++number) {
    Column& from = later.columns_[number];
    const std::uint32_t name = later.columns_index_.name(number);
    // Mostly the same number here: the lists of a column hold objects of one layout.
    std::uint32_t column = number < columns_index_.size() && columns_index_.name(number) == name
                               ? number
                               : columns_index_.find(name, pool_names());
    if (column == ColumnIndex::kAbsent) column = add_column(name, from.name_size);
    from.taken_as = column;
    take_column(columns_[column], from);
  }
  rows_ += later.rows_;
  if (recording()) take_seen_rows(later);
}

// A column new here after rows without it stays not constant, as observe_unsettled leaves it.
void TableAnalysis::take_column(Column& column, const Column& later) {
  column.present += later.present;
  column.cells_size += later.cells_size;
  if (rows_ == 0) {
    column.constant = later.constant;
    column.reference = later.reference;
    column.reference_text = later.reference_text;
    column.reference_size = later.reference_size;
    column.reference_copied = later.reference_copied;
  } else if (column.constant) {
    if (!later.constant || !later_matches(column, later)) column.constant = false;
  }
  column.non_null = column.non_null || later.non_null;
  column.objects += later.objects;
  if (column.may_group && !later.may_group) drop_group(column);
  if (column.may_group && later.group != nullptr) {
    sub_analysis(column.group, true)->take_rows_of(*later.group);
  }
  if (column.may_list_group && !later.may_list_group) drop_list_group(column);
  if (column.may_list_group) {
    if (later.list_group != nullptr) {
      if (column.list_group == nullptr) open_list_group(column);
      column.list_group->take_rows_of(*later.list_group);
    } else if (column.list_group != nullptr && recording()) {
      // The later lists were all empty.
      std::vector<std::uint32_t>& lengths = column.list_group->seen_.list_lengths;
      lengths.insert(lengths.end(), later.lists, 0);
      column.list_group->count_kept(later.lists * sizeof(std::uint32_t));
    }
  }
  column.lists += later.lists;
  column.list_objects += later.list_objects;
  column.list_brackets += later.list_brackets;
  column.settled = !column.constant && !column.may_group && !column.may_list_group;
}

void TableAnalysis::take_seen_rows(const TableAnalysis& later) {
  const std::size_t kept_before = kept_bytes();
  const auto cells_before = static_cast<std::uint32_t>(seen_.cells.size());
  seen_.cells.insert(seen_.cells.end(), later.seen_.cells.begin(), later.seen_.cells.end());
  // The columns mostly keep their numbers (a list group's columns come in the order of its first
  // list's): the cells copied as they are are then right.
  for (std::uint32_t number = 0; number < later.columns_.size(); ++number) {
    if (later.columns_[number].taken_as == number) continue;
    for (SeenText& cell : std::span(seen_.cells).subspan(cells_before)) {
      const std::uint32_t rewritten = cell.name & SeenText::kRewritten;
      cell.name = later.columns_[cell.name & ~SeenText::kRewritten].taken_as | rewritten;
    }
    break;
  }
  const std::size_t ends_before = seen_.row_ends.size();
  seen_.row_ends.insert(seen_.row_ends.end(), later.seen_.row_ends.begin(),
                        later.seen_.row_ends.end());
  for (std::uint32_t& end : std::span(seen_.row_ends).subspan(ends_before))
    end += cells_before;
  seen_.list_lengths.insert(seen_.list_lengths.end(), later.seen_.list_lengths.begin(),
                            later.seen_.list_lengths.end());
  count_kept(kept_bytes() - kept_before);
}

void TableAnalysis::open_list_group(Column& column) {
  column.list_group = pool_.acquire();
  if (recording()) {
    column.list_group->seen_.list_lengths.assign(column.lists, 0);
    column.list_group->count_kept(column.lists * sizeof(std::uint32_t));
  }
}

void TableAnalysis::drop_group(Column& column) {
  column.may_group = false;
  if (column.group != nullptr) pool_.release(std::exchange(column.group, nullptr));
}

void TableAnalysis::drop_list_group(Column& column) {
  column.may_list_group = false;
  if (column.list_group != nullptr) pool_.release(std::exchange(column.list_group, nullptr));
}

TableAnalysis::Sizes TableAnalysis::measure() {
  // A column is written plain unless a group's text is strictly shorter; a column is never both
  // a group and a list group, whose cells are objects and arrays.
  const bool constants_possible = rows_ >= 2;
  std::uint64_t kept = 0;
  std::uint64_t constants = 0;
  std::uint64_t cells = 0;
  Sizes sizes;
  sizes.rows = rows_;
  sizes.columns_text = 2;
  sizes.constants_text = 2;
  for (Column& column : columns_) {
    column.position = TablePlan::kNoCell;
    if (!column.non_null) continue;
    if (constants_possible && column.constant && column.present == rows_) {
      sizes.constants_text +=
          (constants++ > 0 ? 1 : 0) + column.name_size + 1 + column.reference_size;
      continue;
    }
    column.form = ColumnForm::Plain;
    std::uint64_t entry = column.name_size;
    std::uint64_t body = column.cells_size + kNullText * (rows_ - column.present);
    if (column.group != nullptr && column.objects >= 2) {
      const Sizes group = column.group->measure();
      const std::uint64_t group_entry =
          kGroupHeader + column.name_size + group.columns_text + group.constants_text;
      const std::uint64_t group_body = kNullText * (rows_ - column.objects) + group.rows_body;
      if (group_entry + group_body < entry + body) {
        column.form = ColumnForm::Group;
        entry = group_entry;
        body = group_body;
      }
    }
    if (column.list_group != nullptr && column.list_objects >= 2) {
      const Sizes group = column.list_group->measure();
      const std::uint64_t group_entry =
          kListGroupHeader + column.name_size + group.columns_text + group.constants_text;
      const std::uint64_t group_body =
          kNullText * (rows_ - column.lists) + column.list_brackets + group.rows_body;
      if (group_entry + group_body < entry + body) {
        column.form = ColumnForm::ListGroup;
        entry = group_entry;
        body = group_body;
      }
    }
    sizes.columns_text += (kept > 0 ? 1 : 0) + entry;
    cells += body;
    column.position = static_cast<std::uint32_t>(kept++);
  }
  sizes.rows_body = rows_ * (2 + commas(kept)) + cells;
  return sizes;
}

const TablePlan* TableAnalysis::take_plan(DocumentPlan& document) {
  json::Arena& arena = *document.kept;
  auto* const plan = new (arena.allocate(sizeof(TablePlan), alignof(TablePlan))) TablePlan();
  std::uint32_t* const positions = arena.allocate_array<std::uint32_t>(columns_.size());
  std::size_t kept = 0;
  std::size_t constants = 0;
  std::size_t groups = 0;
  for (std::uint32_t number = 0; number < columns_.size(); ++number) {
    const Column& column = columns_[number];
    positions[number] = column.position;
    kept += column.position != TablePlan::kNoCell ? 1 : 0;
    constants += column.position == TablePlan::kNoCell && column.non_null ? 1 : 0;
    groups += column.position != TablePlan::kNoCell && column.form != ColumnForm::Plain ? 1 : 0;
  }
  auto* const planned_columns = arena.allocate_array<PlannedColumn>(kept);
  auto* const planned_constants = arena.allocate_array<PlannedConstant>(constants);
  auto* const planned_groups = arena.allocate_array<const TablePlan*>(groups);
  std::size_t constant = 0;
  std::size_t group_count = 0;
  for (std::uint32_t number = 0; number < columns_.size(); ++number) {
    Column& column = columns_[number];
    const std::string_view name = pool_.names().text(columns_index_.name(number));
    if (column.position == TablePlan::kNoCell) {
      if (column.non_null) {
        planned_constants[constant++] = {name, column.reference_text, column.reference_copied};
      }
      continue;
    }
    PlannedColumn& planned = planned_columns[column.position];
    planned = {name, column.form, nullptr};
    TableAnalysis* const group = column.form == ColumnForm::Group       ? column.group
                                 : column.form == ColumnForm::ListGroup ? column.list_group
                                                                        : nullptr;
    if (group != nullptr)
      planned.group = planned_groups[group_count++] = group->take_plan(document);
  }
  plan->positions = {positions, columns_.size()};
  plan->columns = {planned_columns, kept};
  plan->constants = {planned_constants, constants};
  plan->groups = {planned_groups, groups};
  plan->rows_seen = recording();
  if (plan->rows_seen) {
    // Handed over, not copied: only a long table is planned during the scan.
    const SeenRows& rows = document.rows.emplace_back(std::exchange(seen_, pool_.spare_rows()));
    plan->rows = {rows.cells, rows.row_ends, rows.list_lengths, rows.names};
  } else {
    // Without rows the writer finds each member's column by its name.
    plan->names = document.name_indexes.emplace_back(std::make_unique<NameIndex>()).get();
    for (std::uint32_t number = 0; number < columns_.size(); ++number)
      plan->names->add(pool_.names().text(columns_index_.name(number)));
  }
  return plan;
}

void TableAnalysis::clear() {
  for (Column& column : columns_) {
    if (column.group != nullptr) pool_.release(column.group);
    if (column.list_group != nullptr) pool_.release(column.list_group);
  }
  columns_.clear();
  columns_index_.clear();
  rows_ = 0;
  forget_rows(false);
}

void TableAnalysis::reset() {
  columns_.clear();
  columns_index_.clear();
  rows_ = 0;
  seen_.cells.clear();
  seen_.row_ends.clear();
  seen_.list_lengths.clear();
  seen_.names.clear();
}

std::size_t TableAnalysis::held_bytes() const {
  return sizeof(TableAnalysis) + columns_.capacity() * sizeof(Column) +
         columns_index_.held_bytes() + tarvik::held_bytes(seen_);
}

void TableAnalysis::forget_rows(bool give_back_memory) {
  pool_.count_forgotten_rows(kept_bytes());
  if (give_back_memory) {
    seen_ = SeenRows();
    return;
  }
  seen_.cells.clear();
  seen_.row_ends.clear();
  seen_.list_lengths.clear();
  seen_.names.clear();
}

void AnalysisPool::start(std::string_view input, json::Arena& kept) {
  input_ = input;
  kept_ = &kept;
  names_.start(input, kept);
  keeping_rows_ = input.size() < SeenText::kRewritten;
  rows_budget_ = SIZE_MAX;
  rows_kept_ = 0;
  free_.clear();
  for (const std::unique_ptr<TableAnalysis>& analysis : made_) {
    analysis->reset();
    free_.push_back(analysis.get());
  }
}

std::size_t AnalysisPool::held_bytes() const {
  std::size_t bytes = names_.held_bytes() + (made_.capacity() + free_.capacity()) * sizeof(void*);
  for (const std::unique_ptr<TableAnalysis>& analysis : made_)
    bytes += analysis->held_bytes();
  for (const SeenRows& rows : spare_rows_)
    bytes += tarvik::held_bytes(rows);
  return bytes;
}

SeenRows AnalysisPool::spare_rows() {
  if (spare_rows_.empty()) return {};
  SeenRows rows = std::move(spare_rows_.back());
  spare_rows_.pop_back();
  return rows;
}

void AnalysisPool::keep_spare_rows(SeenRows rows) {
  rows.cells.clear();
  rows.row_ends.clear();
  rows.list_lengths.clear();
  rows.names.clear();
  spare_rows_.push_back(std::move(rows));
}

TableAnalysis* AnalysisPool::acquire() {
  if (free_.empty()) {
    made_.push_back(std::make_unique<TableAnalysis>(*this));
    return made_.back().get();
  }
  TableAnalysis* const analysis = free_.back();
  free_.pop_back();
  return analysis;
}

void AnalysisPool::stop_keeping_rows() {
  keeping_rows_ = false;
  for (const std::unique_ptr<TableAnalysis>& analysis : made_)
    analysis->forget_rows(true);
}

// Out of line: the columns that drop a group mostly never made one, and the test is all they
// need inlined.
[[gnu::noinline]] void AnalysisPool::release(TableAnalysis* analysis) {
  analysis->clear();
  free_.push_back(analysis);
}

std::string_view AnalysisPool::keep(std::string_view text) {
  const auto start = reinterpret_cast<std::uintptr_t>(text.data());
  const auto begin = reinterpret_cast<std::uintptr_t>(input_.data());
  if (start >= begin && start + text.size() <= begin + input_.size()) return text;
  return kept_->copy_string(text);
}

json::Value AnalysisPool::keep(const json::Value& value) {
  if (value.kind() != json::Kind::String || value.is_deferred()) return value;
  return json::Value::string(keep(value.as_string()));
}

}  // namespace tarvik
