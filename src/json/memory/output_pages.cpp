// Prefaulting of large outputs: one madvise instead of a page fault per page, each of which takes
// the process's memory-map lock that the other threads' faults and unmappings contend for.
#include "json/memory/output_pages.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "json/memory/huge_pages.hpp"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; C library headers before glibc 2.35 lack it
#endif

namespace tarvik::json {

void prepare_output_pages(char* data, std::size_t size) noexcept {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
  if (end <= start) return;
  void* const pages = reinterpret_cast<void*>(start);
  if (end - start >= kHugePage) madvise(pages, end - start, MADV_HUGEPAGE);
  madvise(pages, end - start, MADV_POPULATE_WRITE);
}

}  // namespace tarvik::json
