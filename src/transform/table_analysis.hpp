// The columns of a table whose rows are read one member at a time, and of the groups inside it:
// what each column holds, which form writes it shortest, and the length of the table's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/model/value.hpp"
#include "transform/column_index.hpp"
#include "transform/document_names.hpp"
#include "transform/document_plan.hpp"

namespace tarvik {

// What a value read in full tells the tables it is a cell of.
struct ValueSummary {
  std::uint64_t size = 0;  // the length of its transformed text
  // A scalar itself (a string's text may be the reader's transient copy); an array or object as
  // a deferred value of its text. A number's value may be kUnreadNumber: tables read a number's
  // value from its text, only when the texts of two differ.
  json::Value value;
  std::string_view text;         // its text in the input
  std::uint64_t objects = 0;     // of an array whose elements are all objects: how many
  bool list_of_objects = false;  // an array whose elements are all objects (or none)
  bool copied = true;            // its text is its transformed text
  bool compact = true;           // its text is its compact text (tables or not)
};

// The value a number cell is summarized with before it is read: its kind alone is asked.
inline const json::Value kUnreadNumber = json::Value::number(json::Number::non_negative(0));

class AnalysisPool;

class TableAnalysis {
 public:
  // The lengths of a table's parts, once its columns' forms are decided.
  struct Sizes {
    std::uint64_t rows = 0;
    std::uint64_t columns_text = 0;    // the array of column entries
    std::uint64_t constants_text = 0;  // the object of constants
    std::uint64_t rows_body = 0;       // every row's array, without the commas between them

    std::uint64_t rows_text() const { return 2 + rows_body + (rows > 0 ? rows - 1 : 0); }
    // {"columns":…,"rows":…,"constants":…}
    std::uint64_t table_text() const { return 33 + columns_text + rows_text() + constants_text; }
  };

  explicit TableAnalysis(AnalysisPool& pool) : pool_(pool) {}
  TableAnalysis(const TableAnalysis&) = delete;
  TableAnalysis& operator=(const TableAnalysis&) = delete;

  void begin_row() {
    ++rows_;
    columns_index_.start_row();
  }
  void end_row() {
    if (!recording()) return;
    seen_.row_ends.push_back(static_cast<std::uint32_t>(seen_.cells.size()));
    count_kept(sizeof(std::uint32_t));
  }
  // The name of the row just begun, in a keyed table: its text with quotes.
  void name_row(std::string_view text, bool copied);
  std::uint64_t rows() const { return rows_; }
  // The column of a member of the current row whose name is numbered `name` in the document's
  // names, `written_size` long as a string; the member is then placed in it.
  std::uint32_t column_of(std::uint32_t name, std::uint64_t written_size) {
    std::uint32_t number = columns_index_.find_in_row(name, pool_names());
    if (number == ColumnIndex::kAbsent) number = add_column(name, written_size);
    return number;
  }
  // The column the row's next member was guessed to be in when `name` (its text may be
  // transient) is its name, else ColumnIndex::kAbsent.
  std::uint32_t guessed_column(std::string_view name) const {
    return columns_index_.guessed_column(name, pool_names());
  }
  std::uint32_t name_of(std::uint32_t column) const { return columns_index_.name(column); }
  std::uint64_t columns() const { return columns_.size(); }
  // The list group of a column made so far, else nullptr.
  const TableAnalysis* seen_list_group(std::uint32_t column) const {
    return columns_[column].list_group;
  }
  // Of a column's cells so far, while it may be a list group: the lists of objects, and the
  // objects in them.
  std::uint64_t lists_in(std::uint32_t column) const { return columns_[column].lists; }
  std::uint64_t objects_in_lists(std::uint32_t column) const {
    return columns_[column].list_objects;
  }
  // Places the member being read in `column`: whether the row already had one there.
  bool place(std::uint32_t column) {
    columns_index_.note_in_row(column);
    Column& held = columns_[column];
    const bool repeated = held.last_row == rows_;
    held.last_row = rows_;
    return repeated;
  }

  void observe(std::uint32_t number, const ValueSummary& cell) {
    Column& column = columns_[number];
    ++column.present;
    column.cells_size += cell.size;
    if (recording()) record(seen_.cells, number, cell.text, cell.copied);
    if (!column.settled) observe_unsettled(column, cell);
  }
  // The analysis of the column's objects (or of its lists' objects) while the column may be
  // written as a group (a list group), made on first call (for a list group, at its first
  // object); nullptr once it may not.
  TableAnalysis* group_of(std::uint32_t column);
  TableAnalysis* list_group_of(std::uint32_t column);
  // The analysis a column's cells feed as rows, made on first call while the column may take
  // that form.
  TableAnalysis* sub_analysis(TableAnalysis*& analysis, bool may);
  // Counts the rows of `later` (read after this one's, and observed there alone) as if each had
  // been observed here too: a list's objects are analyzed once, as its table's rows, and reach
  // the list groups the list is a cell of at its end, column by column.
  void take_rows_of(TableAnalysis& later);

  // Decides each column's form, the shortest, and gives the lengths it makes.
  Sizes measure();
  // The layout measure decided, made in `document`'s arena, the rows kept handed to it.
  const TablePlan* take_plan(DocumentPlan& document);

 private:
  friend class AnalysisPool;

  struct Column {
    std::uint64_t name_size = 0;  // written as a string
    std::uint64_t present = 0;    // rows holding the member, null or not
    std::uint64_t last_row = 0;   // the number of the last row holding it, counted from 1
    std::uint64_t cells_size = 0;
    json::Value reference;  // the first row's value
    std::string_view reference_text;
    std::uint64_t reference_size = 0;
    bool reference_copied = false;
    TableAnalysis* group = nullptr;
    TableAnalysis* list_group = nullptr;
    std::uint64_t objects = 0;        // cells that are objects
    std::uint64_t lists = 0;          // cells that are lists of objects
    std::uint64_t list_objects = 0;   // the objects in them
    std::uint64_t list_brackets = 0;  // the brackets and commas of their arrays of sub-cells
    std::uint32_t position = TablePlan::kNoCell;
    std::uint32_t taken_as = 0;  // its number in the analysis taking its rows
    bool non_null = false;
    bool constant = false;  // present in the first row and matched by every cell since
    bool may_group = true;
    bool may_list_group = true;
    // Nothing a cell can show changes the column any more: it is kept, plain, not constant.
    bool settled = false;
    ColumnForm form = ColumnForm::Plain;
  };

  static constexpr std::size_t kFirstColumns = 8;

  std::uint32_t add_column(std::uint32_t name, std::uint64_t written_size);
  const DocumentNames& pool_names() const;
  bool recording() const;
  void record(std::vector<SeenText>& into, std::uint32_t number, std::string_view text,
              bool copied);
  void observe_unsettled(Column& column, const ValueSummary& cell);
  static bool matches_reference(const Column& column, const ValueSummary& cell);
  // Whether `value` (with its text in the input) matches the reference of a column, numbers by
  // their values read from their texts.
  static bool matches(const json::Value& value, std::string_view text, const Column& column);
  // Whether every cell of `later`, constant, matches `column`'s reference.
  static bool later_matches(const Column& column, const Column& later);
  void take_column(Column& column, const Column& later);
  void take_seen_rows(const TableAnalysis& later);

  // Made at the first object of the column's lists: the lists before it were empty, and open
  // none (a column of empty lists, say), their lengths noted here.
  void open_list_group(Column& column);
  void drop_group(Column& column);
  void drop_list_group(Column& column);
  void clear();
  // Empties it for another document, whatever state a scan left it in; its groups are emptied
  // by the pool on their own.
  void reset();
  std::size_t held_bytes() const;
  // Forgets the rows' text spans kept so far, giving back their memory or keeping it for reuse.
  void forget_rows(bool give_back_memory);
  void count_kept(std::size_t bytes);
  // What the rows' text spans take, as count_kept counted them (none once handed to a plan).
  std::size_t kept_bytes() const {
    return (seen_.cells.size() + seen_.names.size()) * sizeof(SeenText) +
           (seen_.row_ends.size() + seen_.list_lengths.size()) * sizeof(std::uint32_t);
  }

  AnalysisPool& pool_;
  ColumnIndex columns_index_;
  std::vector<Column> columns_;  // by their number in columns_index_
  std::uint64_t rows_ = 0;
  SeenRows seen_;  // while the pool keeps rows
};

// The analyses of one document scan, reused as tables end, and the names and values they keep
// that are not text of the input.
class AnalysisPool {
 public:
  // Readies the pool for the scan of a document (strings not within `input` kept in `kept`):
  // every analysis free and empty, the room their vectors took in an earlier scan kept.
  void start(std::string_view input, json::Arena& kept);
  // The bytes its analyses and names hold, kept or not.
  std::size_t held_bytes() const;

  // Rows' vectors for an analysis whose rows a plan takes: emptied ones a written plan gave back
  // (keep_spare_rows), their room kept, else new ones.
  SeenRows spare_rows();
  void keep_spare_rows(SeenRows rows);

  DocumentNames& names() { return names_; }

  TableAnalysis* acquire();
  // Gives back `analysis` and the analyses of its columns.
  void release(TableAnalysis* analysis);

  // `text` itself when it lies in the input, else a copy that lives as long as the scan.
  std::string_view keep(std::string_view text);
  json::Value keep(const json::Value& value);

  // Whether the analyses keep their rows' text spans: until they would take more than
  // `budget` bytes (or the input is too long for them); then every analysis forgets them.
  bool keeping_rows() const { return keeping_rows_; }
  void set_rows_budget(std::size_t budget) { rows_budget_ = budget; }
  std::uint32_t offset_of(std::string_view text) const {
    return static_cast<std::uint32_t>(text.data() - input_.data());
  }
  // Counts `bytes` more kept, and stops keeping rows when they pass the budget.
  void count_kept_rows(std::size_t bytes) {
    rows_kept_ += bytes;
    if (rows_kept_ > rows_budget_) [[unlikely]]
      stop_keeping_rows();
  }
  void count_forgotten_rows(std::size_t bytes) { rows_kept_ -= bytes; }

 private:
  void stop_keeping_rows();

  std::string_view input_;
  json::Arena* kept_ = nullptr;
  DocumentNames names_;
  std::vector<std::unique_ptr<TableAnalysis>> made_;
  std::vector<TableAnalysis*> free_;
  std::vector<SeenRows> spare_rows_;
  bool keeping_rows_ = false;
  std::size_t rows_budget_ = SIZE_MAX;
  std::size_t rows_kept_ = 0;
};

inline void TableAnalysis::count_kept(std::size_t bytes) {
  pool_.count_kept_rows(bytes);
}

inline const DocumentNames& TableAnalysis::pool_names() const {
  return pool_.names();
}

inline TableAnalysis* TableAnalysis::sub_analysis(TableAnalysis*& analysis, bool may) {
  if (!may) return nullptr;
  if (analysis == nullptr) analysis = pool_.acquire();
  return analysis;
}

inline TableAnalysis* TableAnalysis::group_of(std::uint32_t number) {
  Column& column = columns_[number];
  return sub_analysis(column.group, column.may_group);
}

inline TableAnalysis* TableAnalysis::list_group_of(std::uint32_t number) {
  Column& column = columns_[number];
  if (column.list_group == nullptr && column.may_list_group) open_list_group(column);
  return column.list_group;
}

inline bool TableAnalysis::recording() const {
  return pool_.keeping_rows();
}

inline void TableAnalysis::record(std::vector<SeenText>& into, std::uint32_t number,
                                  std::string_view text, bool copied) {
  into.push_back({number | (copied ? 0 : SeenText::kRewritten), pool_.offset_of(text),
                  static_cast<std::uint32_t>(text.size())});
  count_kept(sizeof(SeenText));
}

}  // namespace tarvik
