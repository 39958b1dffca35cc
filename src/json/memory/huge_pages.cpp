// The large blocks of calls (payload copies, arena chunks, outputs), kept across calls: calls on
// payloads of similar sizes, in any thread, then reuse memory that is already mapped.
#include "json/memory/huge_pages.hpp"

#include <pthread.h>
#include <sys/mman.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "json/platform/platform.hpp"

namespace tarvik::json {

namespace {

// The largest block kept.
constexpr std::size_t kLargestKeptBlock = std::size_t{32} << 20;
// A kept block is handed out for a request of at least half its size.
constexpr std::size_t kMostWaste = 2;

void unmap(LargeBlock block) noexcept {
  munmap(block.data, block.size);
}

class KeptBlocks {
 public:
  // Constant-initialized: no guard of a lazily built object that a fork could catch half-taken
  // in another thread and leave taken in the child forever. Nothing to destroy either, so threads
  // still inside a call may release blocks while the process exits.
  constexpr KeptBlocks() = default;

  // The smallest kept block that fits `size` without wasting most of itself.
  bool take(std::size_t size, LargeBlock& out) {
    if (disabled_) return false;
    const std::scoped_lock lock(mutex_);
    std::size_t best = count_;
    for (std::size_t i = 0; i < count_; ++i) {
      const std::size_t kept = blocks_[i].size;
      if (kept >= size && kept / kMostWaste <= size &&
          (best == count_ || kept < blocks_[best].size)) {
        best = i;
      }
    }
    if (best == count_) return false;
    out = blocks_[best];
    blocks_[best] = blocks_[--count_];
    kept_bytes_ -= out.size;
    return true;
  }

  bool keep(LargeBlock block) noexcept {
    if (block.size > kLargestKeptBlock || disabled_) return false;
    const std::scoped_lock lock(mutex_);
    if (block.size > kMostKeptBytes - kept_bytes_ || count_ == blocks_.size()) return false;
    blocks_[count_++] = block;
    kept_bytes_ += block.size;
    return true;
  }

  std::size_t free_all() noexcept {
    if (disabled_) return 0;
    const std::scoped_lock lock(mutex_);
    for (std::size_t i = 0; i < count_; ++i)
      unmap(blocks_[i]);
    count_ = 0;
    return std::exchange(kept_bytes_, 0);
  }

  // A fork waits for the lock and both processes release it: a child forked while another
  // thread held it would otherwise find it locked forever.
  void lock_for_fork() noexcept { mutex_.lock(); }
  void unlock_after_fork() noexcept { mutex_.unlock(); }
  void disable() noexcept { disabled_ = true; }

 private:
  std::mutex mutex_;
  // Room for every block that can be kept, so that keeping never allocates.
  std::array<LargeBlock, kMostKeptBytes / kLargeBlock> blocks_{};
  std::size_t count_ = 0;
  std::size_t kept_bytes_ = 0;
  bool disabled_ = false;  // set once, at load time
};

constinit KeptBlocks kept_blocks_of_process;

KeptBlocks& kept_blocks() {
  return kept_blocks_of_process;
}

// The fork handlers are registered when the library is loaded, before any thread can be inside
// it (a dlclose removes them with the library).
[[gnu::constructor]] void register_fork_handlers() {
  const int failed = pthread_atfork([] { kept_blocks_of_process.lock_for_fork(); },
                                    [] { kept_blocks_of_process.unlock_after_fork(); },
                                    [] { kept_blocks_of_process.unlock_after_fork(); });
  // Without them no block is kept, and the lock is never taken.
  if (failed != 0) kept_blocks_of_process.disable();
}

// A mapping of `size` bytes (a multiple of the huge page size) aligned to the huge page size,
// or null. Mapped directly, not taken from malloc, so that a freed block goes back to the system
// at once instead of staying in the allocator's heap.
void* map_aligned(std::size_t size) {
  const std::size_t span = size + kHugePage;
  void* const mapped =
      mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto first = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t start = (first + kHugePage - 1) & ~(kHugePage - 1);
  const std::size_t head = start - first;
  if (head != 0) munmap(mapped, head);
  if (span - head - size != 0) munmap(reinterpret_cast<char*>(start) + size, span - head - size);
  return reinterpret_cast<void*>(start);
}

// A mapping of `size` bytes, or null.
void* map_pages(std::size_t size) {
  void* const mapped =
      mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return mapped == MAP_FAILED ? nullptr : mapped;
}

// A block the process has no room for fails before it is mapped: memory mapped now and touched
// later would bring the OOM killer instead of an error.
void* fresh_block(std::size_t size) {
  ensure_room_for(size);
  const bool huge = size >= kHugePage;
  const auto map = [&] { return huge ? map_aligned(size) : map_pages(size); };
  void* block = map();
  if (block == nullptr) {
    if (kept_blocks().free_all() > 0) block = map();
    if (block == nullptr) throw std::bad_alloc();
  }
  if (huge) platform::advise_huge_pages(block, size);
  return block;
}

}  // namespace

LargeBlock allocate_large_block(std::size_t size) {
  if (size > SIZE_MAX - kHugePage) throw std::bad_alloc();
  // Kept blocks then fit the requests of calls of a similar size.
  const std::size_t rounded =
      size >= kHugePage ? (size + kHugePage - 1) & ~(kHugePage - 1) : std::bit_ceil(size);
  LargeBlock block{};
  if (kept_blocks().take(rounded, block)) return block;
  return {fresh_block(rounded), rounded};
}

LargeBlock grow_large_block(LargeBlock block, std::size_t size) {
  if (size > SIZE_MAX - kHugePage) throw std::bad_alloc();
  const std::size_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
#if TARVIK_LINUX
  // The pages move to the larger mapping as they are: nothing is copied, and the content is
  // never resident twice.
  if (block.size >= kHugePage) {
    ensure_room_for(rounded - block.size);
    void* const moved = mremap(block.data, block.size, rounded, MREMAP_MAYMOVE);
    if (moved != MAP_FAILED) {
      platform::advise_huge_pages(moved, rounded);
      return {moved, rounded};
    }
  }
#endif
  const LargeBlock grown = allocate_large_block(rounded);
  std::memcpy(grown.data, block.data, block.size);
  release_large_block(block);
  return grown;
}

void ensure_room_for(std::size_t bytes) {
  if (bytes < kRoomCheckedSize || bytes <= platform::memory_room()) return;
  if (release_kept_blocks() > 0 && bytes <= platform::memory_room()) return;
  throw std::bad_alloc();
}

std::size_t release_kept_blocks() noexcept {
  return kept_blocks().free_all();
}

void release_large_block(LargeBlock block) noexcept {
  if (block.data == nullptr) return;
  if (!kept_blocks().keep(block)) unmap(block);
}

}  // namespace tarvik::json
