// Prefaulting an output's pages is advice only: whatever the range's alignment and size, the bytes
// around and inside it keep their content and stay writable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>

#include "json/memory/output_pages.hpp"

namespace tarvik::json {
namespace {

TEST(OutputPages, PreparingKeepsEveryByteAndLeavesThemWritable) {
  constexpr std::size_t kSize = std::size_t{5} << 20;
  const auto memory = std::make_unique<char[]>(kSize);
  for (std::size_t i = 0; i < kSize; ++i)
    memory[i] = static_cast<char>(i * 7 + 1);
  const struct {
    std::size_t offset, size;
  } ranges[] = {{0, kSize}, {3, 100}, {4095, 4098}, {12345, (std::size_t{4} << 20) + 17}, {9, 0}};
  for (const auto& range : ranges) {
    char* const data = memory.get() + range.offset;
    OutputPages pages(data, range.size);
    for (const std::size_t reached : {std::size_t{1}, range.size / 3, range.size, range.size / 2})
      pages.reach(data + std::min(reached, range.size));
  }
  for (std::size_t i = 0; i < kSize; ++i)
    ASSERT_EQ(memory[i], static_cast<char>(i * 7 + 1)) << i;
  memory[kSize - 1] = 'x';
  EXPECT_EQ(memory[kSize - 1], 'x');
}

}  // namespace
}  // namespace tarvik::json
