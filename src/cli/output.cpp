// Writing a result: write(2) loops over the whole output in as few calls as the OS allows, and
// a file under -o only ever appears whole (temporary file, renamed when complete).
#include "cli/output.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "cli/signals.hpp"

namespace tarvik::cli {

namespace {

constexpr int kStandardOutput = 1;

// What a newly created file gets: read and write for all, less the umask.
mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

Output Output::standard_output() {
  return Output(kStandardOutput, {}, {});
}

Result<Output, int> Output::to_file(const std::string& path) {
  struct stat existing;
  const bool exists = stat(path.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return failure(errno);
    return Output(fd, {}, path);
  }
  // A file replaced keeps its permissions.
  const mode_t mode =
      exists && S_ISREG(existing.st_mode) ? existing.st_mode & 07777 : new_file_mode();
  const std::size_t slash = path.rfind('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  std::string temporary = path.substr(0, name_start) + "." + path.substr(name_start) + ".XXXXXX";
  const TerminatingSignalsHeld held;
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return failure(errno);
  remove_on_signal(temporary);
  if (fchmod(fd, mode) != 0) {
    const int error = errno;
    Output discarded(fd, std::move(temporary), path);
    return failure(error);
  }
  return Output(fd, std::move(temporary), path);
}

Output::Output(Output&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      temporary_(std::move(other.temporary_)),
      path_(std::move(other.path_)),
      written_(other.written_) {
  other.temporary_.clear();
}

Output::~Output() {
  if (fd_ < 0) return;
  if (fd_ != kStandardOutput) close(fd_);
  if (!temporary_.empty()) {
    const TerminatingSignalsHeld held;
    unlink(temporary_.c_str());
    remove_on_signal({});
  }
}

int Output::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t done = ::write(fd_, bytes.data(), bytes.size());
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    written_ += static_cast<std::size_t>(done);
    bytes.remove_prefix(static_cast<std::size_t>(done));
  }
  return 0;
}

int Output::commit() {
  if (fd_ == kStandardOutput) return 0;
  // A file system may report a failed write only when the file is closed.
  const int closed = close(std::exchange(fd_, -1));
  int error = closed == 0 ? 0 : errno;
  if (temporary_.empty()) return error;
  const TerminatingSignalsHeld held;
  if (error == 0 && rename(temporary_.c_str(), path_.c_str()) != 0) error = errno;
  if (error != 0) unlink(temporary_.c_str());
  remove_on_signal({});
  temporary_.clear();
  return error;
}

}  // namespace tarvik::cli
