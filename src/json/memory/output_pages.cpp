// Prefaulting of large outputs: one madvise instead of a page fault per page, each of which takes
// the process's memory-map lock that the other threads' faults and unmappings contend for.
#include "json/memory/output_pages.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "json/memory/huge_pages.hpp"
#include "json/platform/platform.hpp"

namespace tarvik::json {

namespace {

// Faulted in at a time ahead of the writing: two huge pages.
constexpr std::size_t kStep = 2 * kHugePage;

// The whole pages of [data, data + size): their start and length, the length 0 when none.
struct WholePages {
  void* start;
  std::size_t length;
};

WholePages whole_pages(const char* data, std::size_t size) {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
  if (end <= start) return {nullptr, 0};
  return {reinterpret_cast<void*>(start), end - start};
}

void advise_huge(const char* data, std::size_t size) {
  const WholePages pages = whole_pages(data, size);
  if (pages.length >= kHugePage) platform::advise_huge_pages(pages.start, pages.length);
}

void populate(const char* data, std::size_t size) {
  const WholePages pages = whole_pages(data, size);
  if (pages.length != 0) platform::populate_for_writing(pages.start, pages.length);
}

}  // namespace

OutputPages::OutputPages(char* data, std::size_t size) noexcept
    : end_(data + size), prepared_(data), gives_back_copied_(size > kMostKeptBytes) {
  advise_huge(data, size);
}

void OutputPages::prepare_through(char* end) noexcept {
  char* const next = end_ - end <= static_cast<std::ptrdiff_t>(kStep) ? end_ : end + kStep;
  populate(prepared_, static_cast<std::size_t>(next - prepared_));
  prepared_ = next;
}

void OutputPages::copied_from(const char* block, std::size_t size) noexcept {
  if (!gives_back_copied_) return;
  const WholePages pages = whole_pages(block, size);
  if (pages.length != 0) platform::discard_pages(pages.start, pages.length);
}

void copy_handing_back(char* from, std::size_t size, char* to, bool discard_source) noexcept {
  OutputPages pages(to, size);
  for (std::size_t done = 0; done < size;) {
    const std::size_t step = std::min(kStep, size - done);
    pages.reach(to + done + step);
    std::memcpy(to + done, from + done, step);
    if (discard_source) {
      const WholePages copied = whole_pages(from + done, step);
      if (copied.length != 0) platform::discard_pages(copied.start, copied.length);
    }
    done += step;
  }
}

}  // namespace tarvik::json
