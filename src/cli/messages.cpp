// Message texts and the --stats report. Standard error is unbuffered, so each message is built
// whole and written at once: lines from different sources never interleave mid-line.
#include "cli/messages.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarvik::cli {

namespace {

bool is_continuation_byte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

void write_to_standard_error(std::string_view text) {
  while (!text.empty()) {
    const ssize_t done = write(2, text.data(), text.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(done));
  }
}

void report(std::string_view message) {
  std::string line(kProgram);
  line += ": ";
  line += message;
  line += '\n';
  write_to_standard_error(line);
}

void report_os_error(std::string_view what, std::string_view name, int error) {
  std::string message(what);
  message += ' ';
  message += name;
  message += ": ";
  char text[256];
  message += strerror_r(error, text, sizeof text);  // the GNU form: returns the text
  report(message);
}

std::string shortened(std::string_view message) {
  if (message.size() <= kMessageKept) return std::string(message);
  std::size_t kept = kMessageKept;
  while (kept > 0 && is_continuation_byte(message[kept]))
    --kept;
  std::string cut(message.substr(0, kept));
  cut += "\u2026 (";
  cut += std::to_string(message.size());
  cut += " bytes)";
  return cut;
}

std::string_view input_name(std::string_view name) {
  return name == kStandardStream ? "standard input" : name;
}

std::string stats_text(const Stats& stats) {
  const auto saved =
      static_cast<long long>(stats.input_bytes) - static_cast<long long>(stats.output_bytes);
  const double share =
      stats.input_bytes == 0 ? 0.0 : static_cast<double>(saved) / stats.input_bytes;
  char text[512];
  std::snprintf(text, sizeof text,
                "rows:         %zu\n"
                "columns:      %zu\n"
                "constants:    %zu\n"
                "input bytes:  %zu\n"
                "output bytes: %zu\n"
                "saved:        %lld bytes (%.1f%%)\n",
                stats.counts.rows, stats.counts.columns, stats.counts.constants, stats.input_bytes,
                stats.output_bytes, saved, share * 100);
  return text;
}

}  // namespace tarvik::cli
