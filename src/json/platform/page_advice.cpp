// Advice on the pages of a block: transparent huge pages, faulting in at once and giving back,
// with madvise on Linux; other systems take ordinary pages on first touch, which costs speed, not
// correctness.
#include "json/platform/platform.hpp"

#include <cstddef>

#if TARVIK_LINUX
#include <sys/mman.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; C library headers before glibc 2.35 lack it
#endif
#endif

namespace tarvik::json::platform {

void advise_huge_pages([[maybe_unused]] void* block, [[maybe_unused]] std::size_t size) noexcept {
#if TARVIK_LINUX
  madvise(block, size, MADV_HUGEPAGE);
#endif
}

void populate_for_writing([[maybe_unused]] void* pages,
                          [[maybe_unused]] std::size_t size) noexcept {
#if TARVIK_LINUX
  // Kernels before 5.14 refuse the advice; the pages then fault in one by one as they are written.
  madvise(pages, size, MADV_POPULATE_WRITE);
#endif
}

void discard_pages([[maybe_unused]] void* pages, [[maybe_unused]] std::size_t size) noexcept {
#if TARVIK_LINUX
  madvise(pages, size, MADV_DONTNEED);
#endif
}

}  // namespace tarvik::json::platform
