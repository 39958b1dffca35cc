// Large blocks: aligned to huge pages, at least as large as asked, and kept across calls so that
// the next call of a similar size reuses mapped memory instead of faulting in fresh pages.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <compare>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "json/memory/huge_pages.hpp"

namespace tarvik::json {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

TEST(LargeBlocks, AlignedAndAtLeastTheSizeAsked) {
  for (const std::size_t size :
       {kLargeBlock, 300 * std::size_t{1024}, 2 * kMiB - 1, 2 * kMiB, 2 * kMiB + 1, 33 * kMiB}) {
    const LargeBlock block = allocate_large_block(size);
    EXPECT_GE(block.size, size);
    if (size >= kHugePage) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.data) % kHugePage, 0u) << size;
      EXPECT_EQ(block.size % kHugePage, 0u);
    } else {
      EXPECT_LT(block.size, 2 * size) << size;
    }
    std::memset(block.data, 0xAB, block.size);  // every byte is usable
    release_large_block(block);
  }
}

TEST(LargeBlocks, AReleasedBlockServesTheNextRequestOfItsSize) {
  for (const std::size_t size : {3 * kMiB, 600 * std::size_t{1024}}) {
    const LargeBlock first = allocate_large_block(size);
    release_large_block(first);
    const LargeBlock again = allocate_large_block(size + 5);
    EXPECT_EQ(again.data, first.data) << size;
    EXPECT_EQ(again.size, first.size);
    release_large_block(again);
  }
}

TEST(LargeBlocks, AKeptBlockIsNotSpentOnAMuchSmallerRequest) {
  const LargeBlock large = allocate_large_block(16 * kMiB);
  release_large_block(large);
  const LargeBlock small = allocate_large_block(2 * kMiB);
  EXPECT_LE(small.size, 4 * kMiB);
  EXPECT_NE(small.data, large.data);
  release_large_block(small);
}

// Blocks pass between threads through the kept ones: each thread's block holds only what that
// thread wrote into it.
TEST(LargeBlocks, ThreadsNeverShareABlock) {
  std::vector<std::thread> threads;
  std::vector<int> faults(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &faults] {
      for (int round = 0; round < 50; ++round) {
        const LargeBlock block = allocate_large_block((2 + (round + t) % 4) * kMiB);
        auto* const bytes = static_cast<unsigned char*>(block.data);
        std::memset(bytes, t, block.size);
        std::this_thread::yield();
        for (std::size_t i = 0; i < block.size; i += 4096)
          faults[t] += bytes[i] != t;
        release_large_block(block);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(faults, std::vector<int>(8, 0));
}

// Threads take and keep blocks without pause, so the kept blocks' lock is often held when the
// main thread forks: each child must still take and release a block and exit. A child that has
// not exited after a minute is hung: it is killed and counted.
TEST(LargeBlocks, ChildrenForkedWhileThreadsUseTheKeptBlocksCanUseThem) {
  std::atomic<bool> stop = false;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&stop] {
      while (!stop)
        release_large_block(allocate_large_block(2 * kMiB));
    });
  }
  int hung = 0;
  int failed = 0;
  for (int fork_round = 0; fork_round < 300; ++fork_round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      release_large_block(allocate_large_block(4 * kMiB));
      _exit(0);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ++hung;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    failed += WIFEXITED(status) && WEXITSTATUS(status) != 0;
  }
  stop = true;
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(hung, 0);
  EXPECT_EQ(failed, 0);
}

}  // namespace
}  // namespace tarvik::json
