// Message texts and the --stats report. Standard error is unbuffered, so each message is built
// whole and written at once: lines from different sources never interleave mid-line.
#include "cli/messages.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "json/text/utf8.hpp"

namespace tarvik::cli {

namespace {

bool is_continuation_byte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

bool is_literal_in_shell(char byte) {
  const bool letter_or_digit =
      (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
  return letter_or_digit || std::string_view("%+,-./:=@_").find(byte) != std::string_view::npos;
}

// A byte that a quoted name shows as an escape: a control character, or any byte of a name that
// is not UTF-8 (which would garble the terminal).
bool needs_escape(char byte, bool utf8) {
  const auto code = static_cast<unsigned char>(byte);
  return code < 0x20 || code == 0x7F || (code >= 0x80 && !utf8);
}

// The letter of a control character's C escape (\n), or 0 for one written in octal.
char escape_letter(char byte) {
  switch (byte) {
    case '\a':
      return 'a';
    case '\b':
      return 'b';
    case '\t':
      return 't';
    case '\n':
      return 'n';
    case '\v':
      return 'v';
    case '\f':
      return 'f';
    case '\r':
      return 'r';
    default:
      return 0;
  }
}

// The ANSI-C quoted form of one byte: $'\n', or $'\ooo' in octal.
void append_escape(std::string& out, char byte) {
  out += "$'\\";
  if (const char letter = escape_letter(byte)) {
    out += letter;
  } else {
    const auto code = static_cast<unsigned char>(byte);
    out += static_cast<char>('0' + (code >> 6));
    out += static_cast<char>('0' + ((code >> 3) & 7));
    out += static_cast<char>('0' + (code & 7));
  }
  out += '\'';
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

std::string quoted(std::string_view name) {
  if (name.empty()) return "''";
  if (std::ranges::all_of(name, is_literal_in_shell)) return std::string(name);
  const bool utf8 = json::is_valid_utf8(name);
  std::string out;
  bool quoting = false;  // inside single quotes
  for (const char byte : name) {
    const bool literal = byte != '\'' && !needs_escape(byte, utf8);
    if (literal != quoting) out += '\'';
    quoting = literal;
    if (byte == '\'') {
      out += "\\'";
    } else if (literal) {
      out += byte;
    } else {
      append_escape(out, byte);
    }
  }
  if (quoting) out += '\'';
  return out;
}

std::string input_name(std::string_view name) {
  return name == kStandardStream ? std::string("standard input") : quoted(name);
}

std::string output_name(const std::optional<std::string>& path) {
  return path ? quoted(*path) : std::string("standard output");
}

std::string stats_text(const Stats& stats) {
  char counts[256] = "";
  if (stats.counts) {
    std::snprintf(counts, sizeof counts,
                  "rows:         %zu\n"
                  "columns:      %zu\n"
                  "constants:    %zu\n",
                  stats.counts->rows, stats.counts->columns, stats.counts->constants);
  }
  char input[64];
  std::snprintf(input, sizeof input, "input bytes:  %zu\n", stats.input_bytes);
  char sizes[256];
  if (stats.output_cut_short) {
    // What was written is no measure of the output, whose end was never made.
    std::snprintf(sizes, sizeof sizes,
                  "output bytes: %zu written before the output was closed\n"
                  "saved:        unknown: the output was cut short\n",
                  stats.output_bytes);
  } else {
    const auto saved =
        static_cast<long long>(stats.input_bytes) - static_cast<long long>(stats.output_bytes);
    const double share =
        stats.input_bytes == 0 ? 0.0 : static_cast<double>(saved) / stats.input_bytes;
    std::snprintf(sizes, sizeof sizes,
                  "output bytes: %zu\n"
                  "saved:        %lld bytes (%.1f%%)\n",
                  stats.output_bytes, saved, share * 100);
  }
  return std::string(counts) + input + sizes;
}

}  // namespace tarvik::cli
