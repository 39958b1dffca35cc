// Large blocks on transparent huge pages: a block the kernel has to hand out afresh then costs
// one page fault per 2 MB instead of one per 4 KB.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace tarvik::json {

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Blocks this large are worth aligning to huge pages.
inline bool is_large_block(std::size_t size) {
  return size >= kHugePage;
}

// A block of at least `size` bytes aligned to the huge page size, advised to be backed by huge
// pages (only an advice: a refusal changes nothing). Released with std::free. Throws
// std::bad_alloc when memory runs out.
inline void* allocate_large_block(std::size_t size) {
  if (size > SIZE_MAX - kHugePage) throw std::bad_alloc();
  const std::size_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
  void* block = std::aligned_alloc(kHugePage, rounded);
  if (block == nullptr) throw std::bad_alloc();
  madvise(block, rounded, MADV_HUGEPAGE);
  return block;
}

}  // namespace tarvik::json
