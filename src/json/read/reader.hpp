// The JSON reader: the payload bytes, which must form one JSON array, to the list of its
// elements, or the first error with its line and column.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/model/cell.hpp"
#include "json/model/result.hpp"
#include "json/model/value.hpp"
#include "json/read/error.hpp"

namespace tarvik::json {

// Reads `input` as one JSON array with optional whitespace around it (space, tab, LF, CR only)
// and returns its elements in input order, whatever their kinds. Strict JSON: no comments, no
// byte-order mark, strings must be well-formed UTF-8, at most 127 nested levels counting the
// top-level array. Integers that fit 64 bits keep an integer form; every other number is a
// double, except that a magnitude too large for a double is an error. For a repeated object key
// the last value wins, at the position where the key first appeared.
//
// Ownership: a string without escapes refers directly into `input`, which is never copied;
// decoded strings, element blocks and maps are allocated in `arena`. Both `input` and `arena`
// must outlive the returned values.
// Errors: the first fault ends the parse and is returned as an Error with a line of 1 or more;
// nothing partial is returned. Memory exhaustion throws std::bad_alloc (the arena keeps what it
// handed out, and releases it when it dies).
// Threads: touches nothing but its arguments and the calling thread's map seed, so calls with
// distinct arenas may run at once.
//
// `build` says how much is built. Build::Everything builds every value. Build::Rows builds the
// elements and the members of the elements that are objects (the rows), and keeps every array
// and object below them, and every element that is an array, as a deferred value: its text,
// read with the same rules and errors, which equality, deep_copy and the writer treat as the
// value it stands for (read/deferred.hpp). Both give the same errors, equal values and the same
// written text.
enum class Build { Everything, Rows };
Result<std::vector<Value>, Error> parse_value_list(std::string_view input, Arena& arena,
                                                   Build build = Build::Everything);

// How the elements of an input are laid out: as one JSON array (parse_value_list) or as JSON
// Lines (parse_value_lines).
enum class Layout { Array, Lines };

// An element read as a row of a table: an object's members as cells, or any other value.
struct RowRead {
  RowCells cells;
  Value value;  // the element when it is not an object
  bool is_object = false;
};

// Told the object rows a whole read reads, a few at a time while their cells are still in the
// cache: the caller's pass over the rows is then made as they come, not over them all once read.
class RowObserver {
 public:
  // The next rows; `name_count`: the names numbered so far, the rows' among them.
  virtual void rows(std::span<const RowCells> rows, std::size_t name_count) = 0;

 protected:
  ~RowObserver() = default;
};

// The first element that is not an object, and its index among the elements.
struct NotARow {
  std::size_t index;
  Value value;
};

// The elements of `input` (one JSON array, or JSON Lines) read as the rows of a table, with the
// rules, errors and checks of parse_value_list (parse_value_lines) and Build::Rows: an object's
// members become cells in `arena`, their names numbered in first-seen order (names()); a repeated
// name keeps the position where it first appeared and takes the last value. Values refer into
// `input` and `arena` as parse_value_list's do.
// Keeps no pointer into `arena` once forget_rows is called, so the caller may then release it
// and read the next rows into it afresh; the names stay. Threads as for parse_value_list.
class TableRowReader {
 public:
  TableRowReader(std::string_view input, Arena& arena, Layout layout = Layout::Array);
  TableRowReader(const TableRowReader&) = delete;
  TableRowReader& operator=(const TableRowReader&) = delete;
  ~TableRowReader();

  // Every element: the cells of the object rows into `rows` up to the first element that is not
  // an object, which is noted in `not_a_row`; the elements after it are only read. The rows
  // kept are also given to `observer`, when there is one, in order. False at the first error,
  // which error() then holds.
  bool read_all(std::vector<RowCells>& rows, std::optional<NotARow>& not_a_row,
                RowObserver* observer = nullptr);

  enum class Step { Element, End, Failed };
  // Reads the next element into `out`; End after the last one, Failed at the first error. Either
  // stays the answer from then on.
  Step next(RowRead& out);
  const Error& error() const;
  // The names of the members of the rows read so far, each at its number.
  std::span<const std::string_view> names() const;
  void forget_rows();

 private:
  struct State;
  // The state lives in the reader, not on the heap: a call on a small payload spent more on
  // allocating its few kilobytes than on reading.
  static constexpr std::size_t kStateBytes = 6144;
  State& state();
  const State& state() const;
  alignas(std::max_align_t) std::byte state_[kStateBytes];
};

// Reads `input` as JSON Lines and returns the value of each line, exactly as parse_value_list
// returns the elements of an array holding them: the same rules, depth and `build`. A line ends
// at a line feed or at the end of the input. A line holding nothing but whitespace (a CR of a
// CRLF line end, say) is skipped; whitespace may stand around a value, but a value must end on
// its own line: a value cut by its line end is an EOF error there, and a second value on a line
// is "trailing characters". Errors name the line of the input and the byte column within it.
// Ownership, errors and threads as for parse_value_list.
Result<std::vector<Value>, Error> parse_value_lines(std::string_view input, Arena& arena,
                                                    Build build = Build::Everything);

// The line (from 1) that holds the value of index `index` (from 0) among those parse_value_lines
// reads from `input`: the index-th line holding more than whitespace. For a caller that points at
// a value found wanting after the read.
std::size_t line_of_value(std::string_view input, std::size_t index);

}  // namespace tarvik::json
