// The columns of one table in the document scan (or the names of one object), numbered in
// first-seen order and found by the numbers of their names: the row before's order is guessed
// first, then a scan of a few, then an index by the names' keyed hashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "json/model/map.hpp"
#include "transform/document_names.hpp"

namespace tarvik {

class ColumnIndex {
 public:
  static constexpr std::uint32_t kAbsent = std::numeric_limits<std::uint32_t>::max();

  std::size_t size() const { return names_.size(); }
  // The number of the column's name in the document's names.
  std::uint32_t name(std::uint32_t column) const { return names_[column]; }

  // The column of the name numbered `name`, or kAbsent.
  std::uint32_t find(std::uint32_t name, const DocumentNames& names) const {
    if (slots_.empty()) {
      for (std::size_t column = 0; column < names_.size(); ++column) {
        if (names_[column] == name) return static_cast<std::uint32_t>(column);
      }
      return kAbsent;
    }
    for (std::size_t slot = names.hash(name) & mask();; slot = (slot + 1) & mask()) {
      const std::uint32_t held = slots_[slot];
      if (held == 0) return kAbsent;
      if (names_[held - 1] == name) return held - 1;
    }
  }

  // The column of the name numbered `name` in a row, or kAbsent. Rows mostly repeat the names of
  // the row before, in its order: each column remembers the one that followed it there, and that
  // one (or the one after it, for a member the row lacks) is tried first. Each column found is
  // noted with note_in_row; start_row begins a row.
  std::uint32_t find_in_row(std::uint32_t name, const DocumentNames& names) const {
    const std::uint32_t guess = last_ == kRowStart ? row_first_ : next_[last_];
    if (guess != kAbsent) {
      if (names_[guess] == name) return guess;
      const std::uint32_t after = next_[guess];
      if (after != kAbsent && names_[after] == name) return after;
    }
    return find(name, names);
  }
  // The column find_in_row would try first when `name` (its text may be transient) is its name,
  // else kAbsent: a row's names are mostly found so, without numbering them first.
  std::uint32_t guessed_column(std::string_view name, const DocumentNames& names) const {
    const std::uint32_t guess = last_ == kRowStart ? row_first_ : next_[last_];
    if (guess == kAbsent) return kAbsent;
    if (json::same_key(names.text(names_[guess]), name)) return guess;
    const std::uint32_t after = next_[guess];
    if (after != kAbsent && json::same_key(names.text(names_[after]), name)) return after;
    return kAbsent;
  }
  void note_in_row(std::uint32_t column) {
    (last_ == kRowStart ? row_first_ : next_[last_]) = column;
    last_ = column;
  }
  void start_row() { last_ = kRowStart; }

  // Numbers a column for the name numbered `name`, which has none yet.
  std::uint32_t add(std::uint32_t name, const DocumentNames& names) {
    if (names_.size() >= kRowStart) throw std::length_error("too many names in one table");
    const auto column = static_cast<std::uint32_t>(names_.size());
    names_.push_back(name);
    next_.push_back(kAbsent);
    if (!slots_.empty()) {
      if (2 * names_.size() > slots_.size()) {
        rebuild(2 * slots_.size(), names);
      } else {
        place(column, names);
      }
    } else if (names_.size() > kLinearNames) {
      rebuild(4 * kLinearNames, names);
    }
    return column;
  }

  void reserve(std::size_t columns) {
    names_.reserve(columns);
    next_.reserve(columns);
  }

  // The bytes its vectors hold.
  std::size_t held_bytes() const {
    return (names_.capacity() + next_.capacity() + slots_.capacity()) * sizeof(std::uint32_t);
  }

  void clear() {
    names_.clear();
    next_.clear();
    slots_.clear();
    row_first_ = kAbsent;
    last_ = kRowStart;
  }

 private:
  // Up to this many columns comparing every number beats probing the index.
  static constexpr std::size_t kLinearNames = 16;
  static constexpr std::uint32_t kRowStart = kAbsent - 1;

  std::size_t mask() const { return slots_.size() - 1; }

  void rebuild(std::size_t slot_count, const DocumentNames& names) {
    slots_.assign(slot_count, 0);
    for (std::uint32_t column = 0; column < names_.size(); ++column)
      place(column, names);
  }

  void place(std::uint32_t column, const DocumentNames& names) {
    std::size_t slot = names.hash(names_[column]) & mask();
    while (slots_[slot] != 0)
      slot = (slot + 1) & mask();
    slots_[slot] = column + 1;
  }

  std::vector<std::uint32_t> names_;  // by column
  std::vector<std::uint32_t> next_;   // of each column: the one after it in the last row holding it
  std::vector<std::uint32_t> slots_;  // column + 1, 0 for an empty slot
  std::uint32_t row_first_ = kAbsent;  // the first column of the last row
  std::uint32_t last_ = kRowStart;     // the column found last in this row, kRowStart before any
};

}  // namespace tarvik
