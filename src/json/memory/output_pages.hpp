// Fresh memory about to be written front to back (a large output): faulted in ahead of the
// writing, on huge pages where the system allows, instead of one page fault per 4 KB page.
#pragma once

#include <cstddef>

namespace tarvik::json {

// The whole pages of an output written front to back are advised onto huge pages at once and
// faulted in writable a step ahead of the writing, one system call per step, so that what the
// writer frees as it goes (the text it copies from) is given back before the whole output is
// resident. Only advice: the content is unchanged, and a kernel that refuses either advice (older
// than Linux 5.14 for the faulting) leaves the pages to fault as usual.
class OutputPages {
 public:
  OutputPages(char* data, std::size_t size) noexcept;

  // The writing is about to reach `end`: the pages up to a step past it are faulted in.
  void reach(char* end) noexcept {
    if (end > prepared_) prepare_through(end);
  }

  // The large block of `size` bytes at `block`, whose text is copied into the output, is about
  // to be freed. A freed block is kept for the next call with its pages, which that call then
  // need not fault in; but an output larger than the kept blocks may hold would stand beside as
  // much of its own text, for a next call that finds few of its blocks kept anyway: the block's
  // pages are then given back first, so that the output is never resident twice.
  void copied_from(const char* block, std::size_t size) noexcept;

 private:
  void prepare_through(char* end) noexcept;

  char* const end_;
  char* prepared_;  // where the pages faulted in so far end
  const bool gives_back_copied_;
};

// Copies the `size` bytes at `from` to `to`, fresh memory as for OutputPages, a step at a time:
// when `discard_source` (a source of whole pages of its own, soon freed), the source's pages
// copied are given back as the copy goes, so that a large text is never resident twice. The
// source then holds zeros where it was copied.
void copy_handing_back(char* from, std::size_t size, char* to, bool discard_source) noexcept;

}  // namespace tarvik::json
