// Fresh memory about to be written whole (a large output): faulted in at once, on huge pages where
// the system allows, instead of one page fault per 4 KB page as the writing reaches it.
#pragma once

#include <cstddef>

namespace tarvik::json {

// Advises the whole pages of [data, data + size) to be backed by huge pages and faults them in
// writable with one system call. Only advice: the content is unchanged, and a kernel that refuses
// either advice (older than Linux 5.14 for the faulting) leaves the pages to fault as usual.
void prepare_output_pages(char* data, std::size_t size) noexcept;

}  // namespace tarvik::json
