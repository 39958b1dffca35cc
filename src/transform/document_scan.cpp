// The document scan: each value walked once reports its transformed length to its container,
// and every table it may belong to (as a row, or as a cell of a column) counts it as it goes.
#include "transform/document_scan.hpp"

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "json/read/walk.hpp"
#include "json/text/container_end.hpp"
#include "json/text/escape_text.hpp"
#include "json/text/float_text.hpp"
#include "transform/column_index.hpp"
#include "transform/columnarize.hpp"
#include "transform/document_names.hpp"
#include "transform/name_index.hpp"
#include "transform/per_depth.hpp"
#include "transform/table_analysis.hpp"

namespace tarvik {

namespace {

using json::Kind;
using json::Value;
using json::reading::StringRead;
using json::reading::StringUse;

std::uint64_t commas(std::uint64_t items) {
  return items > 0 ? items - 1 : 0;
}

// A column of a table that a value is a cell of.
struct CellSlot {
  TableAnalysis* table;
  std::uint32_t column;
};

// What an object nested at one depth keeps while it is read; reused by the objects that follow.
struct Level {
  std::vector<TableAnalysis*> rows;  // the tables the object is a row of
  std::vector<CellSlot> slots;       // the columns the member being read is a cell of
  NameIndex seen;                    // the names of an object that is no row, to find repeats
  std::uint32_t first_name = DocumentNames::kNone;  // the guess of an object's first name
  // Of the first object of a list whose table is new: a list group its list is a cell of, whose
  // columns (in the order of the lists before) guess its names by their places.
  const TableAnalysis* layout = nullptr;

  std::size_t held_bytes() const {
    // NOLINTNEXTLINE(bugprone-sizeof-expression): the size of the pointers `rows` holds.
    return rows.capacity() * sizeof(TableAnalysis*) + slots.capacity() * sizeof(CellSlot) +
           seen.held_bytes();
  }
};

// What a scan works in, kept for the thread's next scan while it holds little: most of a small
// document's scan was otherwise spent growing the same vectors from nothing and freeing them.
struct ScanMemory {
  // At most this many bytes are kept; a scan that grew more gives them back.
  static constexpr std::size_t kMostKept = std::size_t{1} << 20;

  AnalysisPool pool;
  PerDepth<Level> levels;                    // by the depth of objects
  std::vector<json::ContainerSpan> glanced;  // by the last glance ahead

  // Readies it for the scan of `input`: nothing of an earlier scan is left but room.
  void start(std::string_view input, json::Arena& kept) {
    pool.start(input, kept);
    levels.each([](Level& level) { level.first_name = DocumentNames::kNone; });
    glanced.clear();
  }

  std::size_t held_bytes() {
    std::size_t bytes = pool.held_bytes() + glanced.capacity() * sizeof(json::ContainerSpan);
    levels.each([&](const Level& level) { bytes += level.held_bytes(); });
    return bytes;
  }
};

// The memory of the thread's last scan; a scan takes it while it runs (a scan inside another,
// should there be one, makes its own).
thread_local std::unique_ptr<ScanMemory> kept_scan_memory;

std::unique_ptr<ScanMemory> take_scan_memory() {
  if (kept_scan_memory != nullptr) return std::move(kept_scan_memory);
  return std::make_unique<ScanMemory>();
}

void keep_scan_memory(std::unique_ptr<ScanMemory> memory) {
  if (memory->held_bytes() <= ScanMemory::kMostKept) kept_scan_memory = std::move(memory);
}

struct ArrayFrame {
  const char* start;
  std::span<const CellSlot> cells;  // the array's own: its objects may be a list group's
  TableAnalysis* table = nullptr;   // of its elements, while every one is an object
  bool one_element = false;         // seen ahead, at its first element: no table is analyzed
  std::uint64_t count = 0;
  std::uint64_t elements_size = 0;
  std::uint64_t elements_text = 0;  // the length of their text in the input
  bool all_objects = true;
  bool all_copied = true;
  bool all_compact = true;
};

struct ObjectFrame {
  const char* start = nullptr;
  Level* level = nullptr;
  std::uint32_t last_name = DocumentNames::kNone;  // the number of the name read last
  TableAnalysis* keyed = nullptr;                  // of its values, while every one is an object
  bool never_keyed =
      false;  // seen ahead at its first member: it holds one, or a second not an object
  std::uint64_t count = 0;
  std::uint64_t members_size = 0;  // names, colons and values
  std::uint64_t members_text = 0;  // the length of their text in the input
  std::uint64_t names_size = 0;
  std::uint64_t name_size = 0;  // of the member being read
  std::string_view name_text;   // of the member being read, with its quotes
  bool name_copied = true;
  bool all_objects = true;
  bool all_copied = true;
  bool all_compact = true;
};

// Where a value stands: a cell of some columns, an element of an array or a member's value.
struct ScanContext {
  std::span<const CellSlot> cells;
  ArrayFrame* array = nullptr;
  ObjectFrame* object = nullptr;
};

// A member's value, a cell of the tables its object is a row of: its number is judged against the
// writer's spelling, its value left unread (a table compares numbers by their texts first).
struct MemberContext : ScanContext {
  static constexpr bool kNumbersJudged = true;
  using ContainersWalkedAs = ScanContext;  // by the main walk
};

// An array that begins with a number, or with an array that does (points, coordinates): walked
// apart from the main walk, whose element loop stays as small as it was. Its elements' numbers
// are only judged against the writer's spelling (an element is never a cell, so its value is not
// needed), and runs of them are read in loops of their own.
struct NumbersFrame : ArrayFrame {};
struct ElementContext : ScanContext {
  static constexpr bool kNumbersJudged = true;
  using ContainersWalkedAs = ScanContext;  // by the main walk, whose hooks are inlined there alone
};

class DocumentScan final : public json::reading::Walker<DocumentScan> {
 public:
  template <class>
  using ResultOf = ValueSummary;

  DocumentScan(std::string_view input, json::Arena& unused, std::uint64_t min_rows,
               std::size_t least_planned, DocumentPlan& plan, ScanMemory& memory)
      : Walker(input, unused),
        plan_(plan),
        least_planned_(least_planned),
        pool_(memory.pool),
        least_rows_(std::max<std::uint64_t>(min_rows, 1)),
        least_members_(std::max<std::uint64_t>(min_rows, 2)),
        levels_(memory.levels),
        glanced_(memory.glanced) {
    memory.start(input, *plan.kept);
    plan.min_rows = min_rows;
    pool_.set_rows_budget(whole_rows_budget(input.size()));
  }

  bool run() {
    ValueSummary document;
    if (!walk_document(ScanContext{}, document)) return false;
    plan_.size = document.size;
    return true;
  }

  json::Error take_error() { return std::move(*error_); }

  bool scalar(const ScanContext&, const Value& value, const char* start, ValueSummary& out) {
    out.value = value;
    out.text = {start, pos_};
    out.size = static_cast<std::uint64_t>(pos_ - start);
    if (value.kind() == Kind::Number && value.as_number().form() == json::NumberForm::Float &&
        !json::is_written_float(number_, pos_, value.as_number().as_float())) {
      char text[json::kFloatRoom];
      out.size = json::write_float_text(value.as_number().as_float(), text);
      out.copied = out.compact = false;
    }
    return true;
  }

  // A number in the writer's spelling is counted into its array here, its text as its length;
  // end_element then finds its text empty, which no value's is.
  bool number(const ScanContext& context, bool written, const char* start, ValueSummary& out) {
    if (!written) return respelled_number(context, start, out);
    const auto size = static_cast<std::uint64_t>(pos_ - start);
    context.array->elements_size += size;
    context.array->elements_text += size;
    return true;
  }

  bool number(const MemberContext& context, bool written, const char* start, ValueSummary& out) {
    if (!written) return respelled_number(context, start, out);
    out.value = kUnreadNumber;
    out.text = {start, pos_};
    out.size = static_cast<std::uint64_t>(pos_ - start);
    return true;
  }

  bool string(const ScanContext&, const StringRead& string, const char* start, ValueSummary& out) {
    out.value = Value::string(string.text);
    out.text = {start, pos_};
    out.copied = out.compact = string.escapes_as_written;
    out.size = out.copied ? static_cast<std::uint64_t>(pos_ - start)
                          : json::written_string_size(string.text);
    return true;
  }

  ArrayFrame begin_array(const ScanContext& context, const char* bracket) {
    return ArrayFrame{bracket, context.cells};
  }

  ScanContext element_context(ArrayFrame& array) { return {{}, &array, nullptr}; }

  // An array of numbers (or of arrays of numbers) is taken from the main walk, and walked apart.
  template <class Context>
  requires std::same_as<Context, ScanContext> || std::same_as<Context, MemberContext>
      json::reading::TakeOver take_over(const Context& context, const char* bracket,
                                        ValueSummary& out) {
    if (*bracket != '[' || end_ - bracket < 3) return json::reading::TakeOver::Walk;
    const auto second = static_cast<unsigned char>(bracket[1]);
    if (!starts_number(second) &&
        (second != '[' || !starts_number(static_cast<unsigned char>(bracket[2])))) {
      return json::reading::TakeOver::Walk;
    }
    return walk_numbers(context, out) ? json::reading::TakeOver::Taken
                                      : json::reading::TakeOver::Failed;
  }
  ElementContext element_context(NumbersFrame& array) { return {{{}, &array, nullptr}}; }
  // The arrays inside (points) are walked so too.
  NumbersFrame begin_array(const ElementContext& context, const char* bracket) {
    return {begin_array(static_cast<const ScanContext&>(context), bracket)};
  }
  void end_element(NumbersFrame& array, ValueSummary& element) {
    if (element.text.empty()) {
      ++array.count;
      if (array.all_objects) {
        array.all_objects = false;
        release(array.table);
      }
      return;
    }
    end_element(static_cast<ArrayFrame&>(array), element);
  }

  void end_element(ArrayFrame& array, ValueSummary& element) {
    ++array.count;
    array.elements_size += element.size;
    array.elements_text += element.text.size();
    array.all_copied = array.all_copied && element.copied;
    array.all_compact = array.all_compact && element.compact;
    if (element.value.kind() != Kind::Object && array.all_objects) {
      array.all_objects = false;
      release(array.table);
    }
  }

  bool end_array(ArrayFrame& array, const char* end, ValueSummary& out) {
    const std::uint64_t size = 2 + array.elements_size + commas(array.count);
    out.text = {array.start, end};
    // Its text is its transformed text when it has no whitespace and its elements' texts are
    // theirs, and it stays an array.
    const bool tight = out.text.size() == 2 + array.elements_text + commas(array.count);
    out.compact = array.all_compact && tight;
    out.copied = array.all_copied && tight;
    out.size = size;
    if (array.table != nullptr) {
      out.size =
          end_table(*std::exchange(array.table, nullptr), array.cells, array.count, out.text, size);
      out.copied = out.copied && out.size == size;
    }
    out.value = Value::deferred(Kind::Array, out.text, text_form(out.compact));
    out.list_of_objects = array.all_objects;
    out.objects = array.count;
    return true;
  }

  ObjectFrame begin_object(const ScanContext& context, const char* brace) {
    Level& level = levels_.at(depth_++);
    level.rows.clear();
    level.layout = nullptr;
    ObjectFrame object;
    object.start = brace;
    object.level = &level;
    if (!analyzing_) return object;
    // The tables it is a row of: its array's (whose rows reach the list groups of the array's
    // cells when it ends), else those list groups, its container's keyed table, and the groups
    // of its own cells.
    if (ArrayFrame* const array = context.array) {
      if (array->count == 0) array->one_element = holds_one_element(*array, brace);
      if (array->all_objects && !array->one_element) {
        level.rows.push_back(acquire(array->table));
        if (array->count == 0) level.layout = seen_list_group(array->cells);
      } else {
        for (const CellSlot& slot : array->cells) {
          if (TableAnalysis* list = slot.table->list_group_of(slot.column)) {
            level.rows.push_back(list);
          }
        }
      }
    }
    TableAnalysis* keyed = nullptr;
    if (ObjectFrame* const parent = context.object; parent != nullptr && parent->all_objects) {
      if (parent->count == 0) parent->never_keyed = !second_value_is_object(brace);
      if (!parent->never_keyed) {
        keyed = acquire(parent->keyed);
        level.rows.push_back(keyed);
      }
    }
    for (const CellSlot& slot : context.cells) {
      if (TableAnalysis* group = slot.table->group_of(slot.column)) level.rows.push_back(group);
    }
    for (TableAnalysis* const table : level.rows)
      table->begin_row();
    if (!level.rows.empty()) ++open_rows_;
    level.slots.resize(level.rows.size());  // one a table, filled by each member's name
    if (keyed != nullptr) keyed->name_row(context.object->name_text, context.object->name_copied);
    if (level.rows.empty()) level.seen.clear();
    return object;
  }

  [[gnu::always_inline]] bool read_key(ObjectFrame& object, const char* quote) {
    StringRead name;
    if (!parse_str(name, StringUse::Decoded)) return false;
    object.name_text = {quote, pos_};
    object.name_copied = name.escapes_as_written;
    object.name_size = name.escapes_as_written ? static_cast<std::uint64_t>(pos_ - quote)
                                               : json::written_string_size(name.text);
    if (!analyzing_) return true;
    Level& level = *object.level;
    bool repeated = false;
    if (level.rows.empty()) {
      // Its names are not numbered: an object that is no row is mostly one of a kind, and one
      // of many names would keep them all twice.
      repeated = level.seen.find(name.text) != NameIndex::kAbsent;
      if (!repeated) level.seen.add(pool_.keep(name.text));
    } else {
      // The first table's guess of the column, when right, numbers the name without hashing it.
      TableAnalysis* const first = level.rows.front();
      std::uint32_t column = first->guessed_column(name.text);
      const std::uint32_t number = column != ColumnIndex::kAbsent
                                       ? first->name_of(column)
                                       : number_unguessed(object, name.text);
      object.last_name = number;
      if (column == ColumnIndex::kAbsent) column = first->column_of(number, object.name_size);
      level.slots[0] = {first, column};
      repeated = first->place(column);
      for (std::size_t row = 1; row < level.rows.size(); ++row) {
        TableAnalysis* const table = level.rows[row];
        column = table->column_of(number, object.name_size);
        level.slots[row] = {table, column};
        repeated = table->place(column) || repeated;
      }
    }
    if (repeated) {
      analyzing_ = false;
      plan_.repeats_a_name = true;
    }
    return true;
  }

  MemberContext member_context(ObjectFrame& object) {
    if (!analyzing_) return {{{}, nullptr, &object}};
    return {{object.level->slots, nullptr, &object}};
  }

  [[gnu::always_inline]] void end_member(ObjectFrame& object, ValueSummary& value) {
    ++object.count;
    object.members_size += object.name_size + 1 + value.size;
    object.members_text += object.name_text.size() + 1 + value.text.size();
    object.names_size += object.name_size;
    object.all_copied = object.all_copied && object.name_copied && value.copied;
    object.all_compact = object.all_compact && object.name_copied && value.compact;
    if (!analyzing_) return;
    for (const CellSlot& slot : object.level->slots)
      slot.table->observe(slot.column, value);
    if (value.value.kind() != Kind::Object && object.all_objects) {
      object.all_objects = false;
      release(object.keyed);
    }
  }

  [[gnu::always_inline]] bool end_object(ObjectFrame& object, const char* end, ValueSummary& out) {
    --depth_;
    for (TableAnalysis* const table : object.level->rows)
      table->end_row();
    std::uint64_t size = 2 + object.members_size + commas(object.count);
    out.text = {object.start, end};
    const bool tight = out.text.size() == 2 + object.members_text + commas(object.count);
    out.compact = object.all_compact && tight;
    out.copied = object.all_copied && tight;
    if (object.keyed != nullptr) {
      if (analyzing_ && object.count >= least_members_) {
        // {"keys":[…],"columns":…,"rows":…,"constants":…}
        const TableAnalysis::Sizes table = object.keyed->measure();
        const std::uint64_t keyed_size =
            8 + 2 + object.names_size + commas(object.count) + table.table_text();
        if (keyed_size < size) {
          add_table(*object.keyed, out.text);
          size = keyed_size;
          out.copied = false;
        }
      }
      release(object.keyed);
    }
    if (!object.level->rows.empty()) --open_rows_;
    out.size = size;
    out.value = Value::deferred(Kind::Object, out.text, text_form(out.compact));
    return true;
  }

 private:
  [[gnu::noinline]] bool walk_numbers(const ScanContext& context, ValueSummary& out) {
    if (!enter_nested()) return false;
    NumbersFrame array{begin_array(context, pos_)};
    ++pos_;
    if (!walk_elements(context, array)) return false;
    ++remaining_depth_;
    return end_array(array, pos_, out);
  }

  // The length of an array `size` long whose `count` elements were analyzed as the rows of
  // `table` (given back here): its table's when that is shorter. Its objects are rows of the
  // list groups the array is a cell of (in `cells`) too. Out of line, and told only what it
  // needs: the arrays of numbers end in end_array as well.
  [[gnu::noinline]] std::uint64_t end_table(TableAnalysis& table, std::span<const CellSlot> cells,
                                            std::uint64_t count, std::string_view text,
                                            std::uint64_t size) {
    if (analyzing_) {
      for (const CellSlot& slot : cells) {
        if (TableAnalysis* list = slot.table->list_group_of(slot.column)) list->take_rows_of(table);
      }
      if (count >= least_rows_) {
        const std::uint64_t table_size = table.measure().table_text();
        if (table_size < size) {
          add_table(table, text);
          size = table_size;
        }
      }
    }
    pool_.release(&table);
    return size;
  }

  // A number the writer spells otherwise, read again for its value: its length as written.
  [[gnu::noinline]] bool respelled_number(const ScanContext& context, const char* start,
                                          ValueSummary& out) {
    pos_ = start;
    Value value;
    if (!read_literal_or_number(value)) return false;
    return scalar(context, value, start, out);
  }

  // Whether the object whose first member's value is the object at `brace` has a second member
  // whose value is an object, as far as a glance ahead tells (when it cannot, true). Only such an
  // object may be a keyed table; most objects that start with an object member are no table
  // (an address first among a person's details, say), and their first members would be analyzed
  // as its rows for nothing.
  bool second_value_is_object(const char* brace) {
    // Only so far: a long first value is read at its own pace.
    constexpr std::size_t kLookAhead = 8192;
    const char* const until =
        static_cast<std::size_t>(end_ - brace) > kLookAhead ? brace + kLookAhead : end_;
    const char* p = glanced_end(brace, until, false);
    if (p == nullptr || (p = after_space(p, until)) == until) return true;
    if (*p != ',') return false;  // the object's end (or a fault the reader finds)
    if ((p = after_space(p + 1, until)) == until || *p != '"') return true;
    if ((p = json::string_end(p, until)) == nullptr || (p = after_space(p, until)) == until ||
        *p != ':' || (p = after_space(p + 1, until)) == until) {
      return true;
    }
    return *p == '{';
  }

  // Whether `array`, whose first element is the object at `brace`, holds no other, when a table
  // needs more than one: its table (and the groups inside) would be analyzed for nothing. Lists
  // of objects in tool outputs mostly hold one; the glance ahead is spared where it would mostly
  // find more: where the lists of the same column held more than two on average, or, for a list
  // in no column, where most glances so far found more.
  bool holds_one_element(const ArrayFrame& array, const char* brace) {
    if (least_rows_ < 2) return false;
    std::uint64_t lists = 0;
    std::uint64_t objects = 0;
    for (const CellSlot& slot : array.cells) {
      lists += slot.table->lists_in(slot.column);
      objects += slot.table->objects_in_lists(slot.column);
    }
    if (lists > 0 ? objects > 2 * lists : glances_ >= 8 && 2 * lone_found_ < glances_) {
      return false;
    }
    constexpr std::size_t kLookAhead = 16384;
    const char* const until =
        static_cast<std::size_t>(end_ - brace) > kLookAhead ? brace + kLookAhead : end_;
    const char* p = glanced_end(brace, until, true);
    if (p == nullptr || (p = after_space(p, until)) == until) return false;
    ++glances_;
    if (*p != ']') return false;
    ++lone_found_;
    return true;
  }

  // json::container_end(brace, until), read off the last glance when that passed over `brace`:
  // glances nest (a list's first object, then the lists inside it), and each would otherwise
  // read again what the one before it read. Glances come in the order of their braces.
  // Only the glances ahead of lists are noted, and only while a first few of them or half of
  // them spare a later one: those of keyed tables, and the lists of some payloads (short objects
  // with no list inside), mostly meet no other.
  const char* glanced_end(const char* brace, const char* until, bool noted) {
    while (next_glanced_ < glanced_.size() && glanced_[next_glanced_].open < brace)
      ++next_glanced_;
    if (next_glanced_ < glanced_.size() && glanced_[next_glanced_].open == brace) {
      const char* const end = glanced_[next_glanced_].end;
      if (end != nullptr && end <= until) {
        ++glances_spared_;
        return end;
      }
    }
    if (!noted || (glances_noted_ >= 16 && 2 * glances_spared_ < glances_noted_)) {
      return json::container_end(brace, until);
    }
    ++glances_noted_;
    glanced_.clear();
    next_glanced_ = 0;
    return json::container_end(brace, until, glanced_);
  }

  static const char* after_space(const char* p, const char* end) {
    if (p == end || !json::reading::is_whitespace(static_cast<unsigned char>(*p))) return p;
    return json::reading::whitespace_end(p, end);
  }

  // The number of a member's name that the first table of its object did not guess. That table
  // is often new (the first row of a list's table, say) where another one the object is a row of
  // has seen its names (the list group over every such list): its guess comes next, then the
  // names' own.
  std::uint32_t number_unguessed(ObjectFrame& object, std::string_view name) {
    Level& level = *object.level;
    for (const TableAnalysis* const table : std::span(level.rows).subspan(1)) {
      const std::uint32_t column = table->guessed_column(name);
      if (column != ColumnIndex::kAbsent) return table->name_of(column);
    }
    if (level.layout != nullptr && object.count < level.layout->columns()) {
      const std::uint32_t placed = level.layout->name_of(static_cast<std::uint32_t>(object.count));
      if (json::same_key(pool_.names().text(placed), name)) return placed;
    }
    return pool_.names().number(name, object.last_name, level.first_name);
  }

  // The list group of the first of `cells` that has one, else nullptr.
  static const TableAnalysis* seen_list_group(std::span<const CellSlot> cells) {
    for (const CellSlot& slot : cells) {
      if (const TableAnalysis* list = slot.table->seen_list_group(slot.column)) return list;
    }
    return nullptr;
  }

  // A long table is planned now, its rows kept for the writer, and so is one in no row of
  // another table, which is written as planned; a short one inside a row is planned again from
  // its text if it is written, which costs little, and its plan is mostly never written (it
  // stands in a group's cells, say).
  void add_table(TableAnalysis& analysis, std::string_view text) {
    const bool written = text.size() >= least_planned_ || open_rows_ == 0;
    plan_.add_table(text, written ? analysis.take_plan(plan_) : nullptr);
  }

  // While the scan analyzes, no object read so far repeats a name, which spares comparing
  // deferred values by building them.
  json::TextForm text_form(bool compact) const {
    if (!analyzing_) return json::TextForm::Other;
    return compact ? json::TextForm::Written : json::TextForm::Respelled;
  }

  TableAnalysis* acquire(TableAnalysis*& table) {
    if (table == nullptr) table = pool_.acquire();
    return table;
  }

  void release(TableAnalysis*& table) {
    if (table != nullptr) pool_.release(std::exchange(table, nullptr));
  }

  DocumentPlan& plan_;
  const std::size_t least_planned_;
  AnalysisPool& pool_;
  const std::uint64_t least_rows_;
  const std::uint64_t least_members_;
  PerDepth<Level>& levels_;
  std::size_t depth_ = 0;
  std::size_t open_rows_ = 0;                  // objects being read that are rows of some table
  std::vector<json::ContainerSpan>& glanced_;  // by the last glance ahead
  std::size_t next_glanced_ = 0;               // the first of them not before the last brace
  std::uint64_t glances_noted_ = 0;
  std::uint64_t glances_spared_ = 0;  // by what an earlier glance noted
  std::uint64_t glances_ = 0;         // ahead of arrays' first elements
  std::uint64_t lone_found_ = 0;      // of them finding the array's end
  bool analyzing_ = true;  // cleared by a repeated name, after which the walk only validates
};

}  // namespace

void recycle_rows(DocumentPlan& plan) {
  ScanMemory* const memory = kept_scan_memory.get();
  if (memory == nullptr) return;
  std::size_t held = memory->held_bytes();
  for (SeenRows& rows : plan.rows) {
    const std::size_t bytes = held_bytes(rows);
    if (held + bytes > ScanMemory::kMostKept) continue;
    held += bytes;
    memory->pool.keep_spare_rows(std::move(rows));
  }
}

Result<DocumentPlan, json::Error> scan_document(std::string_view input, std::uint64_t min_rows,
                                                std::size_t least_planned) {
  DocumentPlan plan;
  json::Arena unused;  // strings are decoded into the reader's own buffer
  std::unique_ptr<ScanMemory> memory = take_scan_memory();
  DocumentScan scan(input, unused, min_rows, least_planned, plan, *memory);
  const bool read = scan.run();
  keep_scan_memory(std::move(memory));
  if (!read) return failure(scan.take_error());
  return plan;
}

}  // namespace tarvik
