// What the tool says on standard error: one line per failure, led by its name, and the --stats
// report.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "cli/options.hpp"
#include "transform/table_text.hpp"

namespace tarvik::cli {

inline constexpr std::string_view kProgram = "tarvik-columnarize";

// Why a mapped input could not be read: another process cut it short.
inline constexpr std::string_view kCutShortWhileRead = "the file was cut short while it was read";

// A codec message longer than this is cut: an offending row can run to megabytes.
inline constexpr std::size_t kMessageKept = 300;

// Writes `text` to standard error as it is; a failure to do so is ignored, having nowhere to go.
void write_to_standard_error(std::string_view text);

// "tarvik-columnarize: " and `message` with a line feed, in one write to standard error.
void report(std::string_view message);

// "tarvik-columnarize: " and what went wrong with `name` (as input_name or output_name show it),
// with the OS reason `error`: "cannot read NAME: No such file or directory".
void report_os_error(std::string_view what, std::string_view name, int error);

// `message` whole when it has at most kMessageKept bytes; otherwise its first kMessageKept bytes
// (fewer, to end on a whole UTF-8 character), then "… (N bytes)", N being the whole length.
std::string shortened(std::string_view message);

// A file name as messages show it: as it is when made only of characters a shell takes
// literally (letters, digits and %+,-./:=@_), otherwise quoted as a shell would read it back:
// '' for the empty name, 'a b', 'it'\''s', 'a'$'\n''b' for a control character (and for each
// byte of a name that is not UTF-8).
std::string quoted(std::string_view name);

// How an input is named in messages: "standard input" for "-", else its quoted name.
std::string input_name(std::string_view name);

// How a destination is named in messages: "standard output" for none, else its quoted name.
std::string output_name(const std::optional<std::string>& path);

struct Stats {
  std::optional<ColumnarizeCounts> counts;  // of the rows transform
  std::size_t input_bytes = 0;
  std::size_t output_bytes = 0;   // as written, the newline included
  bool output_cut_short = false;  // a closed pipe ended the output early: no saving is known
};

// The --stats lines, each with its line feed.
std::string stats_text(const Stats& stats);

}  // namespace tarvik::cli
