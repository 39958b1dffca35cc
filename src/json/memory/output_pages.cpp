// Prefaulting of large outputs: one madvise instead of a page fault per page, each of which takes
// the process's memory-map lock that the other threads' faults and unmappings contend for.
#include "json/memory/output_pages.hpp"

#include <unistd.h>

#include <cstdint>

#include "json/memory/huge_pages.hpp"
#include "json/platform/platform.hpp"

namespace tarvik::json {

void prepare_output_pages(char* data, std::size_t size) noexcept {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
  if (end <= start) return;
  void* const pages = reinterpret_cast<void*>(start);
  if (end - start >= kHugePage) platform::advise_huge_pages(pages, end - start);
  platform::populate_for_writing(pages, end - start);
}

}  // namespace tarvik::json
