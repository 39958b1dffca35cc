// The JSON reader's entry point: one forward pass over the payload, values built in the arena,
// positions computed only when an error is built.
#include "json/read/reader.hpp"

#include <algorithm>
#include <cstddef>
#include <new>

#include "json/read/row_names.hpp"
#include "json/read/value_reader.hpp"

namespace tarvik::json {

Result<std::vector<Value>, Error> parse_value_list(std::string_view input, Arena& arena,
                                                   Build build) {
  reading::Reader reader(input, arena, build);
  return reader.parse_value_list();
}

Result<std::vector<Value>, Error> parse_value_lines(std::string_view input, Arena& arena,
                                                    Build build) {
  reading::Reader reader(input, arena, build);
  return reader.parse_value_lines();
}

std::size_t line_of_value(std::string_view input, std::size_t index) {
  std::size_t line = 1;
  for (std::size_t start = 0;; ++line) {
    const std::size_t end = std::min(input.find('\n', start), input.size());
    if (input.substr(start, end - start).find_first_not_of(" \t\r") != std::string_view::npos) {
      if (index == 0) return line;
      --index;
    }
    if (end == input.size()) return line;  // past the last value: the last line
    start = end + 1;
  }
}

struct TableRowReader::State {
  State(std::string_view input, Arena& arena, Layout input_layout)
      : reader(input, arena, Build::Rows), names(input), layout(input_layout) {
    reader.number_names_in(names);
  }
  reading::Reader reader;
  RowNames names;
  const Layout layout;
};

TableRowReader::State& TableRowReader::state() {
  return *std::launder(reinterpret_cast<State*>(state_));
}

const TableRowReader::State& TableRowReader::state() const {
  return *std::launder(reinterpret_cast<const State*>(state_));
}

TableRowReader::TableRowReader(std::string_view input, Arena& arena, Layout layout) {
  static_assert(sizeof(State) <= kStateBytes && alignof(State) <= alignof(std::max_align_t));
  new (state_) State(input, arena, layout);
}

TableRowReader::~TableRowReader() {
  state().~State();
}

bool TableRowReader::read_all(std::vector<RowCells>& rows, std::optional<NotARow>& not_a_row,
                              RowObserver* observer) {
  reading::Reader& reader = state().reader;
  return state().layout == Layout::Array ? reader.read_table(rows, not_a_row, observer)
                                         : reader.read_table_lines(rows, not_a_row, observer);
}

TableRowReader::Step TableRowReader::next(RowRead& out) {
  reading::Reader& reader = state().reader;
  const auto step =
      state().layout == Layout::Array ? reader.next_table_row(out) : reader.next_table_line(out);
  switch (step) {
    case reading::Reader::Step::Element:
      return Step::Element;
    case reading::Reader::Step::End:
      return Step::End;
    case reading::Reader::Step::Failed:
      break;
  }
  return Step::Failed;
}

const Error& TableRowReader::error() const {
  return state().reader.error();
}

std::span<const std::string_view> TableRowReader::names() const {
  return state().names.all();
}

void TableRowReader::forget_rows() {
  state().reader.forget_elements();
}

}  // namespace tarvik::json
