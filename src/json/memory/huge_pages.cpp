// The large blocks of calls (payload copies, arena chunks, outputs), kept across calls: calls on
// payloads of similar sizes, in any thread, then reuse memory that is already mapped.
#include "json/memory/huge_pages.hpp"
#include "json/memory/memory_room.hpp"

#include <pthread.h>
#include <sys/mman.h>

#include <cstdint>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace tarvik::json {

namespace {

// What is kept in total, and the largest block kept: enough for the blocks of a few calls on
// payloads of some megabytes, little beside what the process needs for such calls anyway.
constexpr std::size_t kMostKeptBytes = std::size_t{64} << 20;
constexpr std::size_t kLargestKeptBlock = std::size_t{32} << 20;
// A kept block is handed out for a request of at least half its size.
constexpr std::size_t kMostWaste = 2;

void unmap(LargeBlock block) noexcept {
  munmap(block.data, block.size);
}

class KeptBlocks {
 public:
  // The smallest kept block that fits `size` without wasting most of itself.
  bool take(std::size_t size, LargeBlock& out) {
    const std::scoped_lock lock(mutex_);
    std::size_t best = blocks_.size();
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
      const std::size_t kept = blocks_[i].size;
      if (kept >= size && kept / kMostWaste <= size &&
          (best == blocks_.size() || kept < blocks_[best].size)) {
        best = i;
      }
    }
    if (best == blocks_.size()) return false;
    out = blocks_[best];
    blocks_[best] = blocks_.back();
    blocks_.pop_back();
    kept_bytes_ -= out.size;
    return true;
  }

  bool keep(LargeBlock block) noexcept {
    if (block.size > kLargestKeptBlock) return false;
    const std::scoped_lock lock(mutex_);
    if (block.size > kMostKeptBytes - kept_bytes_ || blocks_.size() == blocks_.capacity()) {
      return false;
    }
    blocks_.push_back(block);
    kept_bytes_ += block.size;
    return true;
  }

  std::size_t free_all() noexcept {
    const std::scoped_lock lock(mutex_);
    for (const LargeBlock& block : blocks_)
      unmap(block);
    blocks_.clear();
    return std::exchange(kept_bytes_, 0);
  }

  // Room for every block that can be kept, reserved at once so that keeping never allocates.
  // A fork waits for the lock and both processes release it: a child forked while another
  // thread held it would otherwise find it locked forever.
  KeptBlocks() {
    blocks_.reserve(kMostKeptBytes / kHugePage);
    if (pthread_atfork(lock_for_fork, unlock_after_fork, unlock_after_fork) != 0) {
      throw std::bad_alloc();
    }
  }

 private:
  static void lock_for_fork() noexcept;
  static void unlock_after_fork() noexcept;

  std::mutex mutex_;
  std::vector<LargeBlock> blocks_;
  std::size_t kept_bytes_ = 0;
};

KeptBlocks& kept_blocks() {
  // Never destroyed: threads still inside a call may release blocks while the process exits.
  static KeptBlocks* const blocks = new KeptBlocks();
  return *blocks;
}

void KeptBlocks::lock_for_fork() noexcept {
  kept_blocks().mutex_.lock();
}

void KeptBlocks::unlock_after_fork() noexcept {
  kept_blocks().mutex_.unlock();
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

// A block the process has no room for fails before it is mapped: memory mapped now and touched
// later would bring the OOM killer instead of an error.
void* fresh_block(std::size_t size) {
  ensure_room_for(size);
  void* block = map_aligned(size);
  if (block == nullptr) {
    if (kept_blocks().free_all() > 0) block = map_aligned(size);
    if (block == nullptr) throw std::bad_alloc();
  }
  madvise(block, size, MADV_HUGEPAGE);
  return block;
}

}  // namespace

LargeBlock allocate_large_block(std::size_t size) {
  if (size > SIZE_MAX - kHugePage) throw std::bad_alloc();
  const std::size_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
  LargeBlock block{};
  if (kept_blocks().take(rounded, block)) return block;
  return {fresh_block(rounded), rounded};
}

std::size_t release_kept_blocks() noexcept {
  return kept_blocks().free_all();
}

void release_large_block(LargeBlock block) noexcept {
  if (block.data == nullptr) return;
  if (!kept_blocks().keep(block)) unmap(block);
}

}  // namespace tarvik::json
