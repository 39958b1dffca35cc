// What the core asks of the operating system and the processor beyond standard C++: the whole of
// it, so that another POSIX system needs only the files of this folder.
#pragma once

#include <cstddef>

// TARVIK_LINUX is 1 where the Linux calls are used; 0 elsewhere, and with TARVIK_PORTABLE
// defined, so that the plain POSIX code is tested on Linux too.
#if defined(__linux__) && !defined(TARVIK_PORTABLE)
#define TARVIK_LINUX 1
#else
#define TARVIK_LINUX 0
#endif

namespace tarvik::json::platform {

// Whether the processor runs AVX2 code; false on every processor but x86-64 ones that have it.
bool cpu_has_avx2() noexcept;

// Whether the processor runs the carry-less multiply (PCLMULQDQ); false but on x86-64 ones that
// have it.
bool cpu_has_clmul() noexcept;

// Fills `size` bytes at `out` with random bytes from the kernel, and returns 0, or the errno of
// the failure. Linux: getrandom; elsewhere /dev/urandom.
int fill_random(void* out, std::size_t size) noexcept;

// The size of a transparent huge page: 2 MB on x86-64, and on aarch64 with 4 KB pages.
inline constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

// Advises that `size` bytes at `block` (aligned to kHugePageSize) be backed by huge pages. Only an
// advice: a refusal changes nothing. Linux: madvise; elsewhere nothing.
void advise_huge_pages(void* block, std::size_t size) noexcept;

// Faults in the `size` bytes of whole pages at `pages` at once, ready to be written: one call
// instead of a fault per page. Only an advice. Linux: madvise; elsewhere nothing.
void populate_for_writing(void* pages, std::size_t size) noexcept;

// The content of the `size` bytes of whole pages at `pages` is no longer needed: the memory is
// given back to the system, and reads as zeros if touched again. Only an advice. Linux: madvise;
// elsewhere nothing.
void discard_pages(void* pages, std::size_t size) noexcept;

// How many more bytes the process may take: the least of what its address-space limit leaves,
// what its cgroups' memory limits leave (cgroup v2 memory.max, or v1 memory.limit_in_bytes, less
// their use) and the system's MemAvailable; SIZE_MAX where no limit is known. The files of
// /proc and /sys are Linux's: elsewhere they are not found, and the address-space limit stands.
std::size_t memory_room() noexcept;

// A number for the calling thread in fault reports. Linux: the kernel's thread id, as ps and
// debuggers show it; elsewhere a number that tells the process's live threads apart.
unsigned long current_thread_id() noexcept;

}  // namespace tarvik::json::platform
