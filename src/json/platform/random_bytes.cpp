// Random bytes from the kernel: getrandom on Linux (no file descriptor, and it blocks only until
// the kernel's pool is first seeded), /dev/urandom on other POSIX systems.
#include <cerrno>
#include <cstddef>

#include "json/platform/platform.hpp"

#if TARVIK_LINUX
#include <sys/random.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarvik::json::platform {

namespace {

// Fills `size` bytes at `out` by calls of `read_some`, which returns the bytes it wrote or -1
// with errno set; returns 0 or the errno of the failure.
template <class ReadSome>
int fill_by(ReadSome read_some, unsigned char* out, std::size_t size) {
  std::size_t filled = 0;
  while (filled < size) {
    const auto got = read_some(out + filled, size - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) return EIO;  // a file that ends: nothing more will come
    filled += static_cast<std::size_t>(got);
  }
  return 0;
}

}  // namespace

int fill_random(void* out, std::size_t size) noexcept {
  auto* const bytes = static_cast<unsigned char*>(out);
#if TARVIK_LINUX
  return fill_by([](unsigned char* at, std::size_t n) { return getrandom(at, n, 0); }, bytes, size);
#else
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int fault =
      fill_by([fd](unsigned char* at, std::size_t n) { return read(fd, at, n); }, bytes, size);
  close(fd);
  return fault;
#endif
}

}  // namespace tarvik::json::platform
