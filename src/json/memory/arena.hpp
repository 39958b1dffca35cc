// Bump allocator that owns every node of a document: strings, element blocks and maps.
// Everything is released at once when the arena dies, so no document is ever freed recursively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string_view>
#include <type_traits>

namespace tarvik::json {

// Not thread-safe: an arena belongs to one document, used by one thread at a time.
// Allocation failure throws std::bad_alloc; nothing allocated before it is lost or leaked.
class Arena {
 public:
  Arena() = default;
  // An arena whose first allocations go to `first_block`, storage of the caller that outlives
  // the arena: a small document then costs no allocation at all.
  Arena(char* first_block, std::size_t size) noexcept
      : cursor_(first_block), end_(first_block + size) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  // Uninitialised storage for `bytes` bytes aligned to `align` (a power of two, at most 16).
  void* allocate(std::size_t bytes, std::size_t align) {
    const auto start = (reinterpret_cast<std::uintptr_t>(cursor_) + align - 1) & ~(align - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(end_);
    if (start <= end && bytes <= end - start && cursor_ != nullptr) {
      cursor_ = reinterpret_cast<char*>(start + bytes);
      return reinterpret_cast<void*>(start);
    }
    return allocate_slow(bytes, align);
  }

  // Uninitialised room for `count` objects of a trivially destructible type.
  template <class T>
  T* allocate_array(std::size_t count) {
    static_assert(std::is_trivially_destructible_v<T>, "the arena never runs destructors");
    // T may itself be a pointer (a table's plans of its groups): its size is the one meant.
    // NOLINTNEXTLINE(bugprone-sizeof-expression)
    if (count > SIZE_MAX / sizeof(T)) throw std::length_error("arena allocation size overflow");
    // NOLINTNEXTLINE(bugprone-sizeof-expression)
    return static_cast<T*>(allocate(count * sizeof(T), alignof(T)));
  }

  // An arena-owned copy of `text`.
  std::string_view copy_string(std::string_view text);

  // Bytes taken from the system so far (chunks included, a caller's first block not), for memory
  // accounting.
  std::size_t reserved_bytes() const { return reserved_; }

  // Thrown by an allocation that would take the reserved bytes past the budget; what was
  // allocated before stays valid.
  struct OverBudget {};
  // At most `bytes` reserved from now on; the default is no limit.
  void set_budget(std::size_t bytes) { budget_ = bytes; }

  // Gives every chunk back: whatever was allocated is gone, and the arena is as new.
  void release_all();

  // Gives back the chunks that hold only allocations made before `allocation`, one of this
  // arena's: for a caller done with what it allocated first (the rows it has written, say). What
  // was allocated since stays valid; so may some of what came before, which shares a chunk with
  // it (an allocation in the caller's first block gives nothing back).
  void release_before(const void* allocation);

 private:
  struct Chunk;

  void* allocate_slow(std::size_t bytes, std::size_t align);
  // Frees `chunk` and every chunk older than it, the list's tail from there.
  void release_chunks(Chunk* chunk) noexcept;

  char* cursor_ = nullptr;
  char* end_ = nullptr;
  Chunk* chunks_ = nullptr;
  std::size_t next_chunk_size_ = 16 * 1024;
  std::size_t reserved_ = 0;
  std::size_t budget_ = SIZE_MAX;
};

}  // namespace tarvik::json
