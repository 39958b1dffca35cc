// The calling thread's number in fault reports: the kernel's thread id on Linux, the hash of the
// standard thread id elsewhere.
#include "json/platform/platform.hpp"

#if TARVIK_LINUX
#include <sys/syscall.h>
#include <unistd.h>
#else
#include <functional>
#include <thread>
#endif

namespace tarvik::json::platform {

unsigned long current_thread_id() noexcept {
#if TARVIK_LINUX
  // Through syscall: the gettid wrapper needs glibc 2.30, newer than the wheels' baseline.
  return static_cast<unsigned long>(syscall(SYS_gettid));
#else
  return static_cast<unsigned long>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
#endif
}

}  // namespace tarvik::json::platform
