// The object map: members in insertion order over a contiguous entry sequence, with a hashed
// index of positions for lookup. Insert keeps an existing key's position; nothing is removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "json/memory/arena.hpp"
#include "json/model/hash.hpp"
#include "json/model/value.hpp"

namespace tarvik::json {

class Map {
 public:
  struct Entry {
    std::string_view key;
    Value value;
  };

  struct Inserted {
    std::size_t position;
    std::optional<Value> previous;  // the value the key held before, if it was present
  };

  struct Member {
    std::string_view key;
    Value value;
  };

  // An empty map in `arena`; its hash seed is drawn from the calling thread (see next_map_seed)
  // when it first builds its index, which most maps never do.
  static Map& create(Arena& arena, std::size_t capacity_hint = 0);

  // A map holding `members` as if each were inserted in turn: a repeated key keeps the position
  // where it first appeared and takes the last value. Key texts are not copied.
  static Map& from_members(Arena& arena, std::span<const Member> members);
  // The same for members whose keys are known to be distinct: they are taken as they are.
  static Map& from_distinct_members(Arena& arena, std::span<const Member> members);

  Map(const Map&) = delete;
  Map& operator=(const Map&) = delete;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // The entry whose key has exactly these bytes, or nullptr.
  const Entry* find(std::string_view key) const;
  const Value* get(std::string_view key) const {
    const Entry* entry = find(key);
    return entry != nullptr ? &entry->value : nullptr;
  }

  // Stores `value` under `key`. An existing key keeps its entry, stored key and position and
  // gets the new value; otherwise the entry is appended. The key's text is not copied: it must
  // live as long as the map. Throws std::bad_alloc when the arena cannot grow.
  Inserted insert(std::string_view key, Value value);
  // Stores `value` under `key` only when the key is absent; a present key's entry is left as it
  // is and reported as `previous`. The key is hashed once either way.
  Inserted insert_new(std::string_view key, Value value);

  std::span<const Entry> entries() const { return {entries_, size_}; }
  const Entry* begin() const { return entries_; }
  const Entry* end() const { return entries_ + size_; }

  // A copy with the same entries in the same order, the same seed and the same index,
  // whose storage (values included) belongs to `arena`.
  Map& deep_copy(Arena& arena) const;

 private:
  // Maps up to this size are searched by a linear scan, which beats hashing a key; larger
  // maps hash every key once and keep an open-addressing index of positions, built on the
  // first lookup (most maps of a payload are only ever iterated).
  static constexpr std::size_t kLinearLimit = 8;
  // Repeated keys among this many members are found by comparing each key's fingerprint with
  // those before it, which costs less than hashing every key; longer member lists are inserted
  // through the index.
  static constexpr std::size_t kPairwiseLimit = 64;

  Map(Arena& arena, HashSeed seed) : arena_(&arena), seed_(seed) {}

  // The hash of every entry's key, one per entry slot, and the open-addressing slots that
  // hold entry positions (position + 1; 0 marks an empty slot).
  struct Index {
    std::uint64_t* hashes;
    std::uint32_t* slots;
    std::size_t mask;  // slot count - 1
  };

  const Entry* find_indexed(std::string_view key, std::uint64_t hash) const;
  const Entry* find_linear(std::string_view key) const;
  void grow_entries(std::size_t min_capacity);
  void build_index(std::size_t min_entries) const;
  void index_position(std::uint32_t position) const;

  // The index is a cache of the entries, built by the first lookup that needs it; a map is used
  // by one thread at a time.
  Arena* arena_;
  Entry* entries_ = nullptr;
  mutable Index* index_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
  mutable HashSeed seed_;  // drawn with the index
};

// Whether the `size` bytes at `a` and at `b` are equal. Names and most texts are short: up to 32
// bytes they are compared inline, a few overlapping words covering any length, without a library
// call; longer ones go to memcmp.
inline bool same_bytes(const char* a, const char* b, std::size_t size) {
  const auto word = [](const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
  };
  const auto half_word = [](const char* p) {
    std::uint32_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
  };
  if (size > 32) return std::memcmp(a, b, size) == 0;
  if (size > 16) {
    return ((word(a) ^ word(b)) | (word(a + 8) ^ word(b + 8)) |
            (word(a + size - 16) ^ word(b + size - 16)) |
            (word(a + size - 8) ^ word(b + size - 8))) == 0;
  }
  if (size >= 8) return ((word(a) ^ word(b)) | (word(a + size - 8) ^ word(b + size - 8))) == 0;
  if (size >= 4) {
    return ((half_word(a) ^ half_word(b)) | (half_word(a + size - 4) ^ half_word(b + size - 4))) ==
           0;
  }
  if (size == 0) return true;
  // One to three bytes: the first, middle and last cover them all.
  return a[0] == b[0] && a[size / 2] == b[size / 2] && a[size - 1] == b[size - 1];
}

// Keys that share their text are equal without a look at their bytes.
[[gnu::always_inline]] inline bool same_key(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a.data() == b.data() || same_bytes(a.data(), b.data(), a.size()));
}

}  // namespace tarvik::json
