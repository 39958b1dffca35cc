// The check that an output fits before it is built: it reads the process's limits, allocates
// nothing, and fails exactly when the size passes the least of them.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <new>

#include "json/memory_room.hpp"

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

// In a child process, so the limit stays there.
TEST(MemoryRoom, FollowsTheAddressSpaceLimit) {
  EXPECT_EXIT(check_under_a_limit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tarvik::json
