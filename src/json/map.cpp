// Insertion-ordered map: entry storage, the hashed index and lookups.
#include "json/map.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace tarvik::json {

Map& Map::create(Arena& arena, std::size_t capacity_hint) {
  void* storage = arena.allocate(sizeof(Map), alignof(Map));
  Map* map = new (storage) Map(arena, next_map_seed());
  if (capacity_hint > 0) map->grow_entries(capacity_hint);
  return *map;
}

namespace {

// A key's length with its first and last bytes. Equal keys have equal fingerprints and the
// different keys of one object rarely do, so only keys with matching fingerprints are compared.
std::uint64_t fingerprint(std::string_view key) {
  if (key.empty()) return 0;
  return (std::uint64_t{key.size()} << 16) |
         (std::uint64_t{static_cast<unsigned char>(key.front())} << 8) |
         static_cast<unsigned char>(key.back());
}

}  // namespace

Map& Map::from_members(Arena& arena, std::span<const Member> members) {
  Map& map = create(arena, members.size());
  if (members.size() > kPairwiseLimit) {
    for (const Member& member : members)
      map.insert(member.key, member.value);
    return map;
  }
  std::uint64_t prints[kPairwiseLimit];
  for (const Member& member : members) {
    const std::uint64_t print = fingerprint(member.key);
    std::size_t i = 0;
    while (i < map.size_ && !(prints[i] == print && same_key(map.entries_[i].key, member.key))) {
      ++i;
    }
    if (i < map.size_) {
      map.entries_[i].value = member.value;
    } else {
      prints[map.size_] = print;
      map.entries_[map.size_++] = Entry{0, member.key, member.value};
    }
  }
  return map;
}

const Map::Entry* Map::find_linear(std::string_view key) const {
  for (const Entry& entry : entries()) {
    if (same_key(entry.key, key)) return &entry;
  }
  return nullptr;
}

const Map::Entry* Map::find(std::string_view key) const {
  if (index_ == nullptr) {
    if (size_ <= kLinearLimit) return find_linear(key);
    build_index(size_);
  }
  return find_indexed(key, hash_key(seed_, key));
}

const Map::Entry* Map::find_indexed(std::string_view key, std::uint64_t hash) const {
  for (std::size_t slot = hash & index_mask_;; slot = (slot + 1) & index_mask_) {
    const std::uint32_t stored = index_[slot];
    if (stored == 0) return nullptr;
    const Entry& entry = entries_[stored - 1];
    if (entry.hash == hash && same_key(entry.key, key)) return &entry;
  }
}

Map::Inserted Map::insert(std::string_view key, Value value) {
  if (index_ == nullptr && size_ > kLinearLimit) build_index(size_);
  const std::uint64_t hash = index_ != nullptr ? hash_key(seed_, key) : 0;
  const Entry* existing = index_ != nullptr ? find_indexed(key, hash) : find_linear(key);
  if (existing != nullptr) {
    Entry& entry = entries_[existing - entries_];
    const Value previous = entry.value;
    entry.value = value;
    return {static_cast<std::size_t>(existing - entries_), previous};
  }
  if (size_ >= std::numeric_limits<std::uint32_t>::max() - 1) {
    throw std::length_error("map holds too many members");
  }
  if (size_ == capacity_) grow_entries(std::max<std::size_t>(4, capacity_ * 2));
  const std::size_t position = size_;
  entries_[position] = Entry{hash, key, value};
  ++size_;
  if (index_ == nullptr) {
    if (size_ > kLinearLimit) build_index(size_);
  } else if (size_ * 2 > index_mask_ + 1) {
    build_index(size_);
  } else {
    index_position(static_cast<std::uint32_t>(position));
  }
  return {position, std::nullopt};
}

void Map::grow_entries(std::size_t min_capacity) {
  Entry* grown = arena_->allocate_array<Entry>(min_capacity);
  if (size_ > 0) std::memcpy(static_cast<void*>(grown), entries_, size_ * sizeof(Entry));
  entries_ = grown;
  capacity_ = min_capacity;
}

void Map::build_index(std::size_t min_entries) const {
  if (index_ == nullptr) {
    for (Entry& entry : std::span<Entry>(entries_, size_))
      entry.hash = hash_key(seed_, entry.key);
  }
  const std::size_t slots = std::bit_ceil(std::max<std::size_t>(16, min_entries * 2));
  index_ = arena_->allocate_array<std::uint32_t>(slots);
  std::memset(index_, 0, slots * sizeof(std::uint32_t));
  index_mask_ = slots - 1;
  for (std::size_t position = 0; position < size_; ++position) {
    index_position(static_cast<std::uint32_t>(position));
  }
}

void Map::index_position(std::uint32_t position) const {
  std::size_t slot = entries_[position].hash & index_mask_;
  while (index_[slot] != 0)
    slot = (slot + 1) & index_mask_;
  index_[slot] = position + 1;
}

Map& Map::deep_copy(Arena& arena) const {
  void* storage = arena.allocate(sizeof(Map), alignof(Map));
  Map* copy = new (storage) Map(arena, seed_);
  if (size_ == 0) return *copy;
  copy->entries_ = arena.allocate_array<Entry>(size_);
  for (std::size_t i = 0; i < size_; ++i) {
    const Entry& entry = entries_[i];
    copy->entries_[i] =
        Entry{entry.hash, arena.copy_string(entry.key), entry.value.deep_copy(arena)};
  }
  copy->size_ = size_;
  copy->capacity_ = size_;
  if (index_ != nullptr) {
    copy->index_ = arena.allocate_array<std::uint32_t>(index_mask_ + 1);
    std::memcpy(copy->index_, index_, (index_mask_ + 1) * sizeof(std::uint32_t));
    copy->index_mask_ = index_mask_;
  }
  return *copy;
}

}  // namespace tarvik::json
