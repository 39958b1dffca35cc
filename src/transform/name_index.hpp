// The names of a table's columns, numbered in first-seen order, found by their exact bytes: the
// row before's order is guessed first, then a keyed hash index (names chosen by a payload cannot
// make it collide).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "json/model/hash.hpp"
#include "json/model/map.hpp"

namespace tarvik {

class NameIndex {
 public:
  static constexpr std::uint32_t kAbsent = std::numeric_limits<std::uint32_t>::max();

  std::size_t size() const { return names_.size(); }
  std::string_view name(std::uint32_t number) const { return names_[number]; }

  // The number of `name`, or kAbsent.
  std::uint32_t find(std::string_view name) const {
    if (slots_.empty()) {
      for (std::size_t i = 0; i < names_.size(); ++i) {
        if (json::same_key(names_[i], name)) return static_cast<std::uint32_t>(i);
      }
      return kAbsent;
    }
    const std::uint64_t hash = json::hash_key(seed_, name);
    for (std::size_t slot = hash & mask();; slot = (slot + 1) & mask()) {
      const std::uint32_t held = slots_[slot];
      if (held == 0) return kAbsent;
      if (hashes_[held - 1] == hash && json::same_key(names_[held - 1], name)) return held - 1;
    }
  }

  // Numbers `name`, which is not yet here; its text must outlive the index.
  std::uint32_t add(std::string_view name) {
    if (names_.size() >= kRowStart) throw std::length_error("too many names in one table");
    const auto number = static_cast<std::uint32_t>(names_.size());
    names_.push_back(name);
    next_.push_back(kAbsent);
    if (!slots_.empty()) {
      hashes_.push_back(json::hash_key(seed_, name));
      if (2 * names_.size() > slots_.size()) {
        rebuild(2 * slots_.size());
      } else {
        place(number);
      }
    } else if (names_.size() > kLinearNames) {
      seed_ = json::next_map_seed();
      hashes_.reserve(names_.size());
      for (const std::string_view held : names_)
        hashes_.push_back(json::hash_key(seed_, held));
      rebuild(4 * kLinearNames);
    }
    return number;
  }

  // The number of `name` in a row, or kAbsent. Rows mostly repeat the names of the row before,
  // in its order: each name remembers the one that followed it there, and that one (or the one
  // after it, for a member the row lacks) is tried before the index. Each name found is noted
  // with note_in_row; start_row begins a row.
  std::uint32_t find_in_row(std::string_view name) const {
    const std::uint32_t guess = last_ == kRowStart ? row_first_ : next_[last_];
    if (guess != kAbsent) {
      if (json::same_key(names_[guess], name)) return guess;
      const std::uint32_t after = next_[guess];
      if (after != kAbsent && json::same_key(names_[after], name)) return after;
    }
    return find(name);
  }
  void note_in_row(std::uint32_t number) {
    (last_ == kRowStart ? row_first_ : next_[last_]) = number;
    last_ = number;
  }
  void start_row() { last_ = kRowStart; }

  // The bytes its vectors hold.
  std::size_t held_bytes() const {
    return names_.capacity() * sizeof(std::string_view) +
           hashes_.capacity() * sizeof(std::uint64_t) +
           (slots_.capacity() + next_.capacity()) * sizeof(std::uint32_t);
  }

  void clear() {
    names_.clear();
    hashes_.clear();
    slots_.clear();
    next_.clear();
    row_first_ = kAbsent;
    last_ = kRowStart;
  }

 private:
  // Up to this many names a scan beats hashing the one looked for.
  static constexpr std::size_t kLinearNames = 16;

  std::size_t mask() const { return slots_.size() - 1; }

  void rebuild(std::size_t slot_count) {
    slots_.assign(slot_count, 0);
    for (std::uint32_t number = 0; number < names_.size(); ++number)
      place(number);
  }

  void place(std::uint32_t number) {
    std::size_t slot = hashes_[number] & mask();
    while (slots_[slot] != 0)
      slot = (slot + 1) & mask();
    slots_[slot] = number + 1;
  }

  std::vector<std::string_view> names_;
  std::vector<std::uint64_t> hashes_;  // of every name, once the index is built
  std::vector<std::uint32_t> slots_;   // number + 1, 0 for an empty slot
  json::HashSeed seed_{};
  static constexpr std::uint32_t kRowStart = kAbsent - 1;
  std::vector<std::uint32_t> next_;    // of each name: the name after it in the last row holding it
  std::uint32_t row_first_ = kAbsent;  // the first name of the last row
  std::uint32_t last_ = kRowStart;     // the name found last in this row, kRowStart before any
};

}  // namespace tarvik
