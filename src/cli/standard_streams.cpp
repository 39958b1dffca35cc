// Closed standard streams: detected at start and held open on /dev/null, so that the errors
// they cause are reported where the stream is used.
#include "cli/standard_streams.hpp"

#include <fcntl.h>

#include <cerrno>

namespace tarvik::cli {

namespace {

// Whether `fd` was closed; open() takes the lowest free number, so reopening the standard
// streams in order puts /dev/null on exactly the closed ones.
bool reopen_if_closed(int fd, int flags) {
  if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) return false;
  open("/dev/null", flags | O_CLOEXEC);
  return true;
}

}  // namespace

StandardStreams guard_standard_streams() {
  StandardStreams streams;
  streams.input_closed = reopen_if_closed(0, O_RDONLY);
  streams.output_closed = reopen_if_closed(1, O_WRONLY);
  // A closed standard error swallows the messages; the exit status still tells.
  reopen_if_closed(2, O_WRONLY);
  return streams;
}

}  // namespace tarvik::cli
