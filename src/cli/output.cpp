// Writing a result: write(2) loops over the whole output in as few calls as the OS allows, and
// a file under -o only ever appears whole (temporary file, renamed when complete).
#include "cli/output.hpp"

#include <fcntl.h>
#include <limits.h>
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

// As many symbolic links as the kernel follows in one path (Linux's MAXSYMLINKS).
constexpr int kMostLinks = 40;

// What a newly created file gets: read and write for all, less the umask.
mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// The file that writing to `path` writes: `path` itself, or where the symbolic link it names
// leads, link after link, each relative to the link's own directory; the end of a dangling link
// is created there, as `>` creates it. Fails with ELOOP beyond kMostLinks links.
Result<std::string, int> link_target(std::string path) {
  for (int links = 0;; ++links) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    if (links == kMostLinks) return failure(ELOOP);
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length < 0) return failure(errno);
    if (static_cast<std::size_t>(length) == sizeof target) return failure(ENAMETOOLONG);
    const std::string_view next(target, static_cast<std::size_t>(length));
    if (next.starts_with('/')) {
      path = next;
    } else {
      path.erase(path.rfind('/') + 1);  // npos + 1: all of it, for a name without a directory
      path += next;
    }
  }
}

// Gives the new file `fd` the owner and group of the file `existing` that it replaces, as far as
// the caller may set them (root both, an owner the group among their own), and then its
// permissions; the set-ID bits only with both owner and group kept, as cp -p keeps them.
int take_over_ownership(int fd, const struct stat& existing) {
  struct stat made;
  if (fstat(fd, &made) != 0) return errno;
  bool kept = made.st_uid == existing.st_uid && made.st_gid == existing.st_gid;
  if (!kept) {
    kept = fchown(fd, existing.st_uid, existing.st_gid) == 0;
    if (!kept && made.st_gid != existing.st_gid)
      fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
  }
  const mode_t mode = existing.st_mode & (kept ? 07777 : 01777);
  return fchmod(fd, mode) == 0 ? 0 : errno;
}

}  // namespace

Output Output::standard_output() {
  return Output(kStandardOutput, {}, {});
}

Result<Output, int> Output::to_file(const std::string& name) {
  // Through a symbolic link, as `>` writes: the link stays, and its target is replaced.
  Result<std::string, int> target = link_target(name);
  if (!target.ok()) return failure(target.error());
  const std::string& path = target.value();
  struct stat existing;
  const bool exists = stat(path.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return failure(errno);
    return Output(fd, {}, path);
  }
  const bool replaces = exists && S_ISREG(existing.st_mode);
  // Renaming over a file needs only the directory's permission; the file's own is what `>`
  // would need, and what the caller is held to.
  if (replaces && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return failure(errno);
  const std::size_t name_start = path.rfind('/') + 1;  // 0 for a name without a directory
  std::string temporary = path.substr(0, name_start) + "." + path.substr(name_start) + ".XXXXXX";
  const TerminatingSignalsHeld held;
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return failure(errno);
  remove_on_signal(temporary);
  Output output(fd, std::move(temporary), path);
  const int error =
      replaces ? take_over_ownership(fd, existing) : (fchmod(fd, new_file_mode()) == 0 ? 0 : errno);
  if (error != 0) return failure(error);
  return output;
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
