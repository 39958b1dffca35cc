// The advice that a block be backed by transparent huge pages: madvise on Linux; other systems
// give a block ordinary pages, which costs speed, not correctness.
#include "json/platform/platform.hpp"

#if TARVIK_LINUX
#include <sys/mman.h>
#endif

namespace tarvik::json::platform {

void advise_huge_pages([[maybe_unused]] void* block, [[maybe_unused]] std::size_t size) noexcept {
#if TARVIK_LINUX
  madvise(block, size, MADV_HUGEPAGE);
#endif
}

}  // namespace tarvik::json::platform
