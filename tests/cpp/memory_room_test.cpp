// The check that an output fits before it is built: it reads the process's limits, allocates
// nothing, and fails exactly when the size passes the least of them.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

#include "json/memory/huge_pages.hpp"
#include "transform/columnarize.hpp"
#include "transform_entry_points.hpp"

namespace tarvik::json {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

TEST(MemoryRoom, MoreThanTheMachineHasDoesNotFit) {
  EXPECT_THROW(ensure_room_for(std::size_t{1} << 62), std::bad_alloc);
  EXPECT_NO_THROW(ensure_room_for(kRoomCheckedSize));
}

std::size_t address_space_in_use() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Exits 0 when 128 MB fit and 512 MB do not under a limit 256 MB above what is in use.
[[noreturn]] void check_under_a_limit() {
  const rlimit limit{address_space_in_use() + 256 * kMiB, RLIM_INFINITY};
  if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
  ensure_room_for(128 * kMiB);
  try {
    ensure_room_for(512 * kMiB);
  } catch (const std::bad_alloc&) {
    std::_Exit(0);
  }
  std::_Exit(1);
}

// An address-space limit cannot be set under ASan, whose shadow memory takes terabytes of it.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_ASAN() GTEST_SKIP() << "ASan maps more address space than any limit leaves"
#else
#define SKIP_UNDER_ASAN() static_cast<void>(0)
#endif

// In a child process, so the limit stays there.
TEST(AddressSpaceLimit, BoundsTheMemoryRoom) {
  SKIP_UNDER_ASAN();
  EXPECT_EXIT(check_under_a_limit(), ::testing::ExitedWithCode(0), "");
}

// Exits 0 when a call succeeds under a limit that only the kept blocks, given back, make room
// for: they are too large to be handed out for any of the call's own blocks, all of them small
// (a 300 KB payload), so it is a small allocation that fails first.
[[noreturn]] void call_with_room_held_by_kept_blocks() {
  std::string payload = "[";
  for (int row = 0; row < 10'000; ++row)
    payload += (row == 0 ? "" : ",") + std::string(R"({"a":12345,"b":"some text"})");
  payload += ']';
  for (int block = 0; block < 2; ++block)
    release_large_block(allocate_large_block(32 * kMiB));
  const rlimit limit{address_space_in_use() + kMiB / 2, RLIM_INFINITY};
  if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
  std::_Exit(columnarize_json(payload).ok() ? 0 : 1);
}

TEST(AddressSpaceLimit, IsMetByGivingBackKeptBlocksWhenACallRunsOutOfMemory) {
  SKIP_UNDER_ASAN();
  EXPECT_EXIT(call_with_room_held_by_kept_blocks(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tarvik::json
