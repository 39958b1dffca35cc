// Large blocks, on transparent huge pages from 2 MB, and freed ones kept for the next calls: a
// block the kernel hands out afresh costs a page fault and the zeroing of every page it touches.
#pragma once

#include <cstddef>
#include <new>

#include "json/platform/platform.hpp"

namespace tarvik::json {

inline constexpr std::size_t kHugePage = platform::kHugePageSize;

// Blocks this large are mapped here and kept: malloc would map each afresh for every call and
// unmap it after (or trim its heap), a page fault for every page of every call.
inline constexpr std::size_t kLargeBlock = std::size_t{128} << 10;

inline bool is_large_block(std::size_t size) {
  return size >= kLargeBlock;
}

// What the freed blocks kept for later calls may take in total: enough for the blocks of a few
// calls on payloads of some megabytes, little beside what the process needs for such calls anyway.
inline constexpr std::size_t kMostKeptBytes = std::size_t{64} << 20;

// Below this size a block is not checked: the reading of the limits would cost more than the
// block's writing, and an allocation that fails still throws.
inline constexpr std::size_t kRoomCheckedSize = std::size_t{8} << 20;

// Throws std::bad_alloc when `bytes` more do not fit in what the process may still take
// (platform::memory_room), after giving back the kept blocks, which may be what is lacking.
void ensure_room_for(std::size_t bytes);

struct LargeBlock {
  void* data;
  std::size_t size;  // at least the size asked for; what release_large_block takes back
};

// A block of at least `size` bytes (kLargeBlock or more): from the huge page size up, a whole
// number of huge pages, aligned to them and advised to be backed by them (only an advice: a
// refusal changes nothing); below, a power of two. A kept block when one fits. Throws
// std::bad_alloc when memory runs out, or when a large fresh block does not fit in what the
// process may still use (see ensure_room_for), after giving back every kept block.
LargeBlock allocate_large_block(std::size_t size);

// `block` (from allocate_large_block) grown to at least `size` bytes, its content kept: on Linux
// its pages are moved, not copied, so the content is never resident twice. The block given is
// taken over. Throws std::bad_alloc as allocate_large_block does, leaving `block` as it was.
LargeBlock grow_large_block(LargeBlock block, std::size_t size);

// Frees every kept block and returns their total size: called when memory runs out, before an
// allocation is tried again. Safe to call from any thread.
std::size_t release_kept_blocks() noexcept;

// Runs `attempt` again once after a memory exhaustion that giving back the kept blocks may cure,
// unless `may_retry` says no (once some of an output has gone, say); its result, or the
// std::bad_alloc that ended it.
template <class Attempt, class MayRetry>
auto retried_after_memory_runs_out(Attempt&& attempt, MayRetry&& may_retry) {
  for (bool retried = false;; retried = true) {
    try {
      return attempt();
    } catch (const std::bad_alloc&) {
      // The blocks kept for later calls may be what this one lacks.
      if (retried || !may_retry() || release_kept_blocks() == 0) throw;
    }
  }
}

template <class Attempt>
auto retried_after_memory_runs_out(Attempt&& attempt) {
  return retried_after_memory_runs_out(attempt, [] { return true; });
}

// Takes back a block from allocate_large_block: kept for a later call while the kept blocks stay
// small in total, freed otherwise. Safe to call from any thread.
void release_large_block(LargeBlock block) noexcept;

}  // namespace tarvik::json
