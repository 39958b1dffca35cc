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
  explicit RowNames(std::string_view input) : input_(input) {}
  RowNames(const RowNames&) = delete;
  RowNames& operator=(const RowNames&) = delete;

  std::span<const std::string_view> all() const { return names_; }
  std::string_view operator[](std::uint32_t number) const { return names_[number]; }

  // The number of `name`, a new one the first time it is seen. Throws std::length_error past
  // 2^32 - 1 names.
  std::uint32_t number_of(std::string_view name) {
    const std::size_t count = names_.size();
    if (count <= kScannedNames) {
      // Comparing a few names costs less than hashing one.
      for (std::size_t number = 0; number < count; ++number) {
        if (same_key(names_[number], name)) return static_cast<std::uint32_t>(number);
      }
      // Made before the name is added, so a failure leaves no names beyond scanning unindexed.
      if (count + 1 > kScannedNames) index_ = &Map::create(arena_);
      add(kept(name));
      if (count + 1 > kScannedNames) {
        for (std::size_t number = 0; number <= count; ++number)
          index_->insert(names_[number], Value::number(Number::non_negative(number)));
      }
      return static_cast<std::uint32_t>(count);
    }
    // A name from escapes is looked up before it is copied: copied on every row it stands in,
    // it would grow the arena with the rows.
    if (count >= kMostNames || !in_input(name)) {
      if (const Value* known = index_->get(name)) return number_in(*known);
      if (count >= kMostNames) throw std::length_error("too many columns");
      name = kept(name);
    }
    const Map::Inserted inserted =
        index_->insert_new(name, Value::number(Number::non_negative(count)));
    if (inserted.previous) return number_in(*inserted.previous);
    add(name);
    return static_cast<std::uint32_t>(count);
  }

 private:
  static constexpr std::size_t kMostNames = std::numeric_limits<std::uint32_t>::max();
  // Up to this many names are found by comparing them; beyond, by the keyed hash index.
  static constexpr std::size_t kScannedNames = 32;

  // `name` itself when its text is the input's, else a copy that lives as long as the names.
  std::string_view kept(std::string_view name) {
    return in_input(name) ? name : arena_.copy_string(name);
  }

  void add(std::string_view name) {
    // Most tables have few columns: room for them at once costs one allocation, not several.
    if (names_.empty()) names_.reserve(kScannedNames);
    names_.push_back(name);
  }

  static std::uint32_t number_in(const Value& value) {
    return static_cast<std::uint32_t>(value.as_number().as_non_negative());
  }

  bool in_input(std::string_view text) const {
    const auto start = reinterpret_cast<std::uintptr_t>(text.data());
    const auto begin = reinterpret_cast<std::uintptr_t>(input_.data());
    return start >= begin && start + text.size() <= begin + input_.size();
  }

  std::string_view input_;
  // Copied names and the index of a table of not many more columns than are scanned fit in the
  // first block, without a chunk of their own.
  alignas(16) char first_block_[1024];
  Arena arena_{first_block_, sizeof first_block_};
  // Made once the names outgrow scanning: most tables never need it.
  Map* index_ = nullptr;
  std::vector<std::string_view> names_;
};

}  // namespace tarvik::json
