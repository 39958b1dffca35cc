// The memory the process may still take, read from its limits: getrlimit everywhere; on Linux
// also its address space in use (/proc/self/statm), its cgroups' limits and MemAvailable.
#include "json/platform/platform.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace tarvik::json::platform {

namespace {

constexpr std::size_t kUnlimited = SIZE_MAX;

// The start of a small file, or nothing when it cannot be read.
std::optional<std::string> read_small_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text(4096, '\0');
  std::size_t filled = 0;
  while (filled < text.size()) {
    const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  text.resize(filled);
  return text;
}

std::optional<std::size_t> leading_number(std::string_view text) {
  std::size_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return std::nullopt;
  return value;
}

std::size_t saturating_room(std::size_t limit, std::size_t used) {
  return limit > used ? limit - used : 0;
}

std::size_t address_space_room() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
  const auto statm = read_small_file("/proc/self/statm");
  const auto pages = statm ? leading_number(*statm) : std::nullopt;
  const std::size_t used = pages ? *pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) : 0;
  return saturating_room(static_cast<std::size_t>(limit.rlim_cur), used);
}

// The path of the process's cgroup in the hierarchy whose /proc/self/cgroup line starts with
// `prefix` ("0::" for the unified one, or the line's end ":memory:" for the memory controller's).
std::optional<std::string> cgroup_path(const std::string& membership, std::string_view prefix) {
  std::size_t line = 0;
  while (line < membership.size()) {
    const std::size_t end = std::min(membership.find('\n', line), membership.size());
    const std::string_view text(membership.data() + line, end - line);
    const std::size_t at =
        prefix == "0::" ? (text.starts_with(prefix) ? 0 : std::string::npos) : text.find(prefix);
    if (at != std::string::npos) return std::string(text.substr(at + prefix.size()));
    line = end + 1;
  }
  return std::nullopt;
}

// The least room left under the limit of the cgroup at `path` and of every cgroup above it.
std::size_t room_under(const std::string& root, std::string path, const char* limit_file,
                       const char* usage_file) {
  std::size_t room = kUnlimited;
  while (true) {
    const std::string directory = root + (path == "/" ? std::string() : path);
    const auto max = read_small_file(directory + limit_file);
    const auto limit = max ? leading_number(*max) : std::nullopt;  // "max" reads as no number
    if (limit) {
      const auto current = read_small_file(directory + usage_file);
      const auto used = current ? leading_number(*current) : std::nullopt;
      room = std::min(room, saturating_room(*limit, used.value_or(0)));
    }
    if (path == "/" || path.empty()) break;
    path.resize(std::max<std::size_t>(path.rfind('/'), 1));
  }
  return room;
}

// The room the process's cgroups leave: cgroup v2's memory.max, or the v1 memory controller's
// memory.limit_in_bytes, less what the cgroup uses.
std::size_t cgroup_room() {
  const auto membership = read_small_file("/proc/self/cgroup");
  if (!membership) return kUnlimited;
  std::size_t room = kUnlimited;
  if (const auto unified = cgroup_path(*membership, "0::")) {
    room = room_under("/sys/fs/cgroup", *unified, "/memory.max", "/memory.current");
  }
  if (const auto memory = cgroup_path(*membership, ":memory:")) {
    room = std::min(room, room_under("/sys/fs/cgroup/memory", *memory, "/memory.limit_in_bytes",
                                     "/memory.usage_in_bytes"));
  }
  return room;
}

std::size_t available_room() {
  const auto meminfo = read_small_file("/proc/meminfo");
  if (!meminfo) return kUnlimited;
  constexpr std::string_view kField = "MemAvailable:";
  const std::size_t at = meminfo->find(kField);
  if (at == std::string::npos) return kUnlimited;
  std::string_view rest = std::string_view(*meminfo).substr(at + kField.size());
  rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
  const auto kilobytes = leading_number(rest);
  if (!kilobytes || *kilobytes > kUnlimited / 1024) return kUnlimited;
  return *kilobytes * 1024;
}

}  // namespace

std::size_t memory_room() noexcept {
  try {
    return std::min({address_space_room(), cgroup_room(), available_room()});
  } catch (...) {
    return kUnlimited;  // nothing could be read: the allocations themselves will tell
  }
}

}  // namespace tarvik::json::platform
