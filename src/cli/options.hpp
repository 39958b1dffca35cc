// The command line of tarvik-columnarize: what to read, where to write it and how, or the
// usage error that stops the run before anything is read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/model/result.hpp"

namespace tarvik::cli {

inline constexpr std::string_view kStandardStream = "-";

struct Options {
  enum class Action { Columnarize, Help, Version };
  // What becomes of each input: its rows as one table, the whole document shrunk (--document),
  // or every table turned back (--decode).
  enum class Mode { Rows, Document, Decode };
  Action action = Action::Columnarize;
  Mode mode = Mode::Rows;
  std::optional<std::uint64_t> min_rows;  // --min-rows N, of --document (2 by default)
  std::vector<std::string> inputs;        // in order; "-" is standard input, and none means "-"
  std::optional<std::string> output;      // -o PATH: a file, or a directory for each input
  bool lines = false;                     // --lines: JSON Lines, one row per line
  bool stats = false;                     // --stats: counts and sizes on standard error
  bool newline = true;                    // cleared by --no-newline
};

// Reads the arguments after the program name. Options may stand before, between and after the
// inputs; "--" makes every later argument an input. Fails with the message of a usage error.
Result<Options, std::string> parse_options(std::span<const char* const> arguments);

// The synopsis and the whole --help text, every line within 80 columns.
std::string_view usage_line();
std::string_view help_text();

}  // namespace tarvik::cli
