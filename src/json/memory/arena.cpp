// Chunk management of the document arena.
#include "json/memory/arena.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "json/memory/huge_pages.hpp"

namespace tarvik::json {

struct Arena::Chunk {
  Chunk* next;  // the chunk taken before it
  std::size_t size;
  // Whether it holds one request alone: the chunk that took the small requests meanwhile may
  // be older.
  bool dedicated;

  bool holds(const void* address) const {
    const auto start = reinterpret_cast<std::uintptr_t>(this);
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    return at >= start && at - start < size;
  }
};

namespace {
constexpr std::size_t kMaxChunkSize = 8 * 1024 * 1024;
constexpr std::size_t kHeaderSize = 32;  // keeps chunk payloads 16-byte aligned
static_assert(sizeof(void*) + sizeof(std::size_t) + sizeof(bool) <= kHeaderSize);
}  // namespace

Arena::~Arena() {
  release_all();
}

void Arena::release_all() {
  release_chunks(chunks_);
  chunks_ = nullptr;
  cursor_ = nullptr;
  end_ = nullptr;
  reserved_ = 0;
}

void Arena::release_before(const void* allocation) {
  Chunk* holder = chunks_;
  while (holder != nullptr && !holder->holds(allocation))
    holder = holder->next;
  // A dedicated chunk's request came while the latest shared chunk before it was in use, which
  // may have taken later requests too: only the chunks before that one are done with.
  while (holder != nullptr && holder->dedicated)
    holder = holder->next;
  if (holder == nullptr) return;
  release_chunks(holder->next);
  holder->next = nullptr;
}

void Arena::release_chunks(Chunk* chunk) noexcept {
  while (chunk != nullptr) {
    Chunk* const next = chunk->next;
    reserved_ -= chunk->size;
    if (is_large_block(chunk->size)) {
      release_large_block({chunk, chunk->size});
    } else {
      ::operator delete(chunk);
    }
    chunk = next;
  }
}

void* Arena::allocate_slow(std::size_t bytes, std::size_t align) {
  // A request larger than a quarter of the usual chunk gets a chunk of its own, so the
  // remainder of the current chunk stays usable for the small requests that follow.
  const bool dedicated = bytes > next_chunk_size_ / 4;
  if (bytes > SIZE_MAX - kHeaderSize - align) throw std::bad_alloc();
  // A shared chunk holds at least this request too, whatever the next chunk size has become.
  std::size_t size = std::max(dedicated ? 0 : next_chunk_size_, kHeaderSize + bytes + align);
  if (size > budget_ - std::min(budget_, reserved_)) throw OverBudget{};
  Chunk* chunk = nullptr;
  if (is_large_block(size)) {
    const LargeBlock block = allocate_large_block(size);
    chunk = static_cast<Chunk*>(block.data);
    size = block.size;
  } else {
    chunk = static_cast<Chunk*>(::operator new(size));
  }
  chunk->next = chunks_;
  chunk->size = size;
  chunk->dedicated = dedicated;
  chunks_ = chunk;
  reserved_ += size;
  char* const payload = reinterpret_cast<char*>(chunk) + kHeaderSize;
  const auto start = (reinterpret_cast<std::uintptr_t>(payload) + align - 1) & ~(align - 1);
  if (dedicated) return reinterpret_cast<void*>(start);
  next_chunk_size_ = std::min(next_chunk_size_ * 2, kMaxChunkSize);
  cursor_ = reinterpret_cast<char*>(start + bytes);
  end_ = reinterpret_cast<char*>(chunk) + size;
  return reinterpret_cast<void*>(start);
}

std::string_view Arena::copy_string(std::string_view text) {
  if (text.empty()) return {};
  char* const copy = allocate_array<char>(text.size());
  std::memcpy(copy, text.data(), text.size());
  return {copy, text.size()};
}

}  // namespace tarvik::json
