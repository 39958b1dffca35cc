// The member names of the rows, numbered in the order they are first seen: a row's cells carry
// the numbers, and the table's columns are the names in that order.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/model/map.hpp"

namespace tarvik::json {

class RowNames {
 public:
  // Names whose text lies in `input` are kept as that text; others (decoded from escapes) are
  // copied, so the names outlive the arena of the rows they came from.
  explicit RowNames(std::string_view input) : input_(input), index_(Map::create(arena_)) {}
  RowNames(const RowNames&) = delete;
  RowNames& operator=(const RowNames&) = delete;

  std::span<const std::string_view> all() const { return names_; }
  std::string_view operator[](std::uint32_t number) const { return names_[number]; }

  // The number of `name`, a new one the first time it is seen. Throws std::length_error past
  // 2^32 - 1 names.
  std::uint32_t number_of(std::string_view name) {
    if (const Value* known = index_.get(name)) {
      return static_cast<std::uint32_t>(known->as_number().as_non_negative());
    }
    if (names_.size() >= kMostNames) throw std::length_error("too many columns");
    const auto number = static_cast<std::uint32_t>(names_.size());
    if (!in_input(name)) name = arena_.copy_string(name);
    index_.insert(name, Value::number(Number::non_negative(number)));
    names_.push_back(name);
    return number;
  }

 private:
  static constexpr std::size_t kMostNames = std::numeric_limits<std::uint32_t>::max();

  bool in_input(std::string_view text) const {
    const auto start = reinterpret_cast<std::uintptr_t>(text.data());
    const auto begin = reinterpret_cast<std::uintptr_t>(input_.data());
    return start >= begin && start + text.size() <= begin + input_.size();
  }

  std::string_view input_;
  // The index of a table of few columns fits in the first block, without a chunk of its own.
  alignas(16) char first_block_[1024];
  Arena arena_{first_block_, sizeof first_block_};
  Map& index_;
  std::vector<std::string_view> names_;
};

}  // namespace tarvik::json
