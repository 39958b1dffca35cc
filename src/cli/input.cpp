// Mapping or reading a payload. A private read-only mapping costs no copy and lets the kernel
// page the file in as the reader goes; reading is the fallback where mapping is not possible.
#include "cli/input.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace tarvik::cli {

namespace {

constexpr std::size_t kReadBlock = std::size_t{1} << 16;

}  // namespace

Input::Input(Input&& other) noexcept
    : map_(std::exchange(other.map_, nullptr)),
      map_size_(std::exchange(other.map_size_, 0)),
      mapped_file_(std::exchange(other.mapped_file_, -1)),
      buffer_(std::move(other.buffer_)),
      bytes_(std::exchange(other.bytes_, {})) {}

Input::~Input() {
  if (map_ != nullptr) munmap(map_, map_size_);
  if (mapped_file_ >= 0) close(mapped_file_);
}

bool Input::cut_short() const {
  struct stat status;
  return mapped_file_ >= 0 && fstat(mapped_file_, &status) == 0 &&
         static_cast<std::size_t>(status.st_size) < map_size_;
}

Result<Input, int> Input::from_descriptor(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0) return failure(errno);
  Input input;
  // A regular file of size 0 may still have contents (the files of procfs), so it is read.
  if (S_ISREG(status.st_mode) && status.st_size > 0) {
    const auto size = static_cast<std::size_t>(status.st_size);
    // Standard input may have been read partway by an earlier command.
    const off_t offset = lseek(fd, 0, SEEK_CUR);
    const std::size_t start = offset > 0 ? std::min(static_cast<std::size_t>(offset), size) : 0;
    void* const map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      input.map_ = map;
      input.map_size_ = size;
      input.bytes_ = {static_cast<const char*>(map) + start, size - start};
      // Without it, a file cut short to the middle of a page would read as zero bytes, not fail.
      input.mapped_file_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
      // As a command reading standard input to its end leaves it, for the commands after it.
      lseek(fd, static_cast<off_t>(size), SEEK_SET);
      return input;
    }
  }
  json::Buffer& buffer = input.buffer_;
  for (;;) {
    // The buffer doubles as it fills, so a large input is copied only a few times.
    buffer.reserve_more(kReadBlock);
    const ssize_t got = read(fd, buffer.write_position(), buffer.capacity() - buffer.size());
    if (got > 0) {
      buffer.commit(static_cast<std::size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      return failure(errno);
    }
  }
  input.bytes_ = buffer.view();
  return input;
}

Result<Input, int> Input::from_file(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failure(errno);
  auto input = from_descriptor(fd);
  close(fd);
  return input;
}

}  // namespace tarvik::cli
