// The large blocks of calls (payload copies, arena chunks, outputs), kept across calls: calls on
// payloads of similar sizes, in any thread, then reuse memory that is already mapped.
#include "json/memory/huge_pages.hpp"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "json/platform/platform.hpp"

namespace tarvik::json {

namespace {

// What is kept in total, and the largest block kept: enough for the blocks of a few calls on
// payloads of some megabytes, little beside what the process needs for such calls anyway.
constexpr std::size_t kMostKeptBytes = std::size_t{64} << 20;
constexpr std::size_t kLargestKeptBlock = std::size_t{32} << 20;
// A kept block is handed out for a request of at least half its size.
constexpr std::size_t kMostWaste = 2;

class KeptBlocks {
 public:
  // The smallest kept block that fits `size` without wasting most of itself.
  bool take(std::size_t size, LargeBlock& out) {
    const std::scoped_lock lock(mutex_);
    std::size_t best = blocks_.size();
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
      const std::size_t kept = blocks_[i].size;
      if (kept >= size && kept / kMostWaste <= size &&
          (best == blocks_.size() || kept < blocks_[best].size)) {
        best = i;
      }
    }
    if (best == blocks_.size()) return false;
    out = blocks_[best];
    blocks_[best] = blocks_.back();
    blocks_.pop_back();
    kept_bytes_ -= out.size;
    return true;
  }

  bool keep(LargeBlock block) noexcept {
    if (block.size > kLargestKeptBlock) return false;
    const std::scoped_lock lock(mutex_);
    if (block.size > kMostKeptBytes - kept_bytes_ || blocks_.size() == blocks_.capacity()) {
      return false;
    }
    blocks_.push_back(block);
    kept_bytes_ += block.size;
    return true;
  }

  void free_all() noexcept {
    const std::scoped_lock lock(mutex_);
    for (const LargeBlock& block : blocks_)
      std::free(block.data);
    blocks_.clear();
    kept_bytes_ = 0;
  }

  // Room for every block that can be kept, reserved at once so that keeping never allocates.
  KeptBlocks() { blocks_.reserve(kMostKeptBytes / kHugePage); }

 private:
  std::mutex mutex_;
  std::vector<LargeBlock> blocks_;
  std::size_t kept_bytes_ = 0;
};

KeptBlocks& kept_blocks() {
  // Never destroyed: threads still inside a call may release blocks while the process exits.
  static KeptBlocks* const blocks = new KeptBlocks();
  return *blocks;
}

void* fresh_block(std::size_t size) {
  void* block = std::aligned_alloc(kHugePage, size);
  if (block == nullptr) {
    kept_blocks().free_all();
    block = std::aligned_alloc(kHugePage, size);
    if (block == nullptr) throw std::bad_alloc();
  }
  platform::advise_huge_pages(block, size);
  return block;
}

}  // namespace

LargeBlock allocate_large_block(std::size_t size) {
  if (size > SIZE_MAX - kHugePage) throw std::bad_alloc();
  const std::size_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
  LargeBlock block{};
  if (kept_blocks().take(rounded, block)) return block;
  return {fresh_block(rounded), rounded};
}

void release_large_block(LargeBlock block) noexcept {
  if (block.data == nullptr) return;
  if (!kept_blocks().keep(block)) std::free(block.data);
}

}  // namespace tarvik::json
