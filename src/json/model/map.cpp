// Insertion-ordered map: entry storage, the hashed index and lookups.
#include "json/model/map.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "json/model/hash.hpp"

namespace tarvik::json {

namespace {

constexpr std::size_t kMostEntries = std::numeric_limits<std::uint32_t>::max() - 1;

}  // namespace

Map& Map::create(Arena& arena, std::size_t capacity_hint) {
  void* storage = arena.allocate(sizeof(Map), alignof(Map));
  Map* map = new (storage) Map(arena, HashSeed{});
  if (capacity_hint > 0) map->grow_entries(capacity_hint);
  return *map;
}

Map& Map::from_members(Arena& arena, std::span<const Member> members) {
  Map& map = create(arena, members.size());
  if (members.size() > kPairwiseLimit) {
    for (const Member& member : members)
      map.insert(member.key, member.value);
    return map;
  }
  std::uint64_t prints[kPairwiseLimit] = {};
  for (const Member& member : members) {
    const std::uint64_t print = key_fingerprint(member.key);
    std::size_t i = 0;
    while (i < map.size_ && !(prints[i] == print && same_key(map.entries_[i].key, member.key))) {
      ++i;
    }
    if (i < map.size_) {
      map.entries_[i].value = member.value;
    } else {
      prints[map.size_] = print;
      map.entries_[map.size_++] = Entry{member.key, member.value};
    }
  }
  return map;
}

Map& Map::from_distinct_members(Arena& arena, std::span<const Member> members) {
  Map& map = create(arena, members.size());
  for (const Member& member : members)
    map.entries_[map.size_++] = Entry{member.key, member.value};
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
  for (std::size_t slot = hash & index_->mask;; slot = (slot + 1) & index_->mask) {
    const std::uint32_t stored = index_->slots[slot];
    if (stored == 0) return nullptr;
    if (index_->hashes[stored - 1] == hash && same_key(entries_[stored - 1].key, key)) {
      return &entries_[stored - 1];
    }
  }
}

Map::Inserted Map::insert(std::string_view key, Value value) {
  Inserted inserted = insert_new(key, value);
  if (inserted.previous) entries_[inserted.position].value = value;
  return inserted;
}

Map::Inserted Map::insert_new(std::string_view key, Value value) {
  if (index_ == nullptr && size_ > kLinearLimit) build_index(size_);
  const std::uint64_t hash = index_ != nullptr ? hash_key(seed_, key) : 0;
  const Entry* existing = index_ != nullptr ? find_indexed(key, hash) : find_linear(key);
  if (existing != nullptr) return {static_cast<std::size_t>(existing - entries_), existing->value};
  if (size_ >= kMostEntries) throw std::length_error("map holds too many members");
  if (size_ == capacity_) grow_entries(std::max<std::size_t>(4, std::size_t{capacity_} * 2));
  const std::uint32_t position = size_;
  entries_[position] = Entry{key, value};
  ++size_;
  if (index_ == nullptr) {
    if (size_ > kLinearLimit) build_index(size_);
  } else {
    index_->hashes[position] = hash;
    if (std::size_t{size_} * 2 > index_->mask + 1) {
      build_index(size_);
    } else {
      index_position(position);
    }
  }
  return {position, std::nullopt};
}

void Map::grow_entries(std::size_t min_capacity) {
  if (min_capacity > kMostEntries) throw std::length_error("map holds too many members");
  Entry* grown = arena_->allocate_array<Entry>(min_capacity);
  if (size_ > 0) std::memcpy(static_cast<void*>(grown), entries_, size_ * sizeof(Entry));
  entries_ = grown;
  if (index_ != nullptr) {
    std::uint64_t* hashes = arena_->allocate_array<std::uint64_t>(min_capacity);
    std::memcpy(hashes, index_->hashes, size_ * sizeof(std::uint64_t));
    index_->hashes = hashes;
  }
  capacity_ = static_cast<std::uint32_t>(min_capacity);
}

// Hashes every key the first time; a rebuild for more entries reuses the stored hashes.
void Map::build_index(std::size_t min_entries) const {
  if (index_ == nullptr) {
    seed_ = next_map_seed();
    Index* index = arena_->allocate_array<Index>(1);
    index->hashes = arena_->allocate_array<std::uint64_t>(capacity_);
    for (std::uint32_t i = 0; i < size_; ++i)
      index->hashes[i] = hash_key(seed_, entries_[i].key);
    index_ = index;
  }
  const std::size_t slots = std::bit_ceil(std::max<std::size_t>(16, min_entries * 2));
  index_->slots = arena_->allocate_array<std::uint32_t>(slots);
  std::memset(index_->slots, 0, slots * sizeof(std::uint32_t));
  index_->mask = slots - 1;
  for (std::uint32_t position = 0; position < size_; ++position)
    index_position(position);
}

void Map::index_position(std::uint32_t position) const {
  std::size_t slot = index_->hashes[position] & index_->mask;
  while (index_->slots[slot] != 0)
    slot = (slot + 1) & index_->mask;
  index_->slots[slot] = position + 1;
}

Map& Map::deep_copy(Arena& arena) const {
  void* storage = arena.allocate(sizeof(Map), alignof(Map));
  Map* copy = new (storage) Map(arena, seed_);
  if (size_ == 0) return *copy;
  copy->entries_ = arena.allocate_array<Entry>(size_);
  for (std::uint32_t i = 0; i < size_; ++i) {
    const Entry& entry = entries_[i];
    copy->entries_[i] = Entry{arena.copy_string(entry.key), entry.value.deep_copy(arena)};
  }
  copy->size_ = size_;
  copy->capacity_ = size_;
  if (index_ != nullptr) {
    Index* index = arena.allocate_array<Index>(1);
    index->hashes = arena.allocate_array<std::uint64_t>(size_);
    std::memcpy(index->hashes, index_->hashes, size_ * sizeof(std::uint64_t));
    index->slots = arena.allocate_array<std::uint32_t>(index_->mask + 1);
    std::memcpy(index->slots, index_->slots, (index_->mask + 1) * sizeof(std::uint32_t));
    index->mask = index_->mask;
    copy->index_ = index;
  }
  return *copy;
}

}  // namespace tarvik::json
