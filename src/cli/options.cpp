// Parsing of tarvik-columnarize's arguments, GNU style: long options with "=" or a separate
// value, -o with an attached or a separate value, "--" to end the options.
#include "cli/options.hpp"

#include <charconv>
#include <cstddef>
#include <string>
#include <system_error>
#include <utility>

namespace tarvik::cli {

namespace {

enum class Flag { Lines, Stats, NoNewline, Document, Decode, Help, Version };

struct LongFlag {
  std::string_view name;
  Flag flag;
};

constexpr LongFlag kLongFlags[] = {
    {"--lines", Flag::Lines},       {"--stats", Flag::Stats},     {"--no-newline", Flag::NoNewline},
    {"--document", Flag::Document}, {"--decode", Flag::Decode},   {"-d", Flag::Decode},
    {"--help", Flag::Help},         {"--version", Flag::Version},
};

void set(Options& options, Flag flag) {
  switch (flag) {
    case Flag::Lines:
      options.lines = true;
      break;
    case Flag::Stats:
      options.stats = true;
      break;
    case Flag::NoNewline:
      options.newline = false;
      break;
    case Flag::Document:
      options.mode = Options::Mode::Document;
      break;
    case Flag::Decode:
      options.mode = Options::Mode::Decode;
      break;
    case Flag::Help:
      options.action = Options::Action::Help;
      break;
    case Flag::Version:
      // --help wins over --version, whatever their order, as in most GNU tools.
      if (options.action != Options::Action::Help) options.action = Options::Action::Version;
      break;
  }
}

// N of --min-rows: a decimal integer from 0 to 2**64 - 1.
std::optional<std::uint64_t> min_rows_of(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  return value;
}

// The options that do not go together, or only with another.
std::optional<std::string> conflict(const Options& options, bool document, bool decode) {
  if (document && decode) return "--document and --decode do not go together";
  if (options.lines && options.mode != Options::Mode::Rows) {
    return "--lines reads rows; it does not go with --document or --decode";
  }
  if (options.min_rows && options.mode != Options::Mode::Document) {
    return "--min-rows goes with --document";
  }
  return std::nullopt;
}

}  // namespace

Result<Options, std::string> parse_options(std::span<const char* const> arguments) {
  Options options;
  bool options_ended = false;
  bool document = false;
  bool decode = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (options_ended || argument == kStandardStream || !argument.starts_with('-')) {
      options.inputs.emplace_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    std::string_view output;
    if (argument == "--min-rows" || argument.starts_with("--min-rows=")) {
      std::string_view count;
      if (argument.size() > 10) {
        count = argument.substr(11);
      } else if (i + 1 < arguments.size()) {
        count = arguments[++i];
      }
      options.min_rows = min_rows_of(count);
      if (!options.min_rows) {
        return failure("option '--min-rows' needs a whole number from 0 to 2**64 - 1, not '" +
                       std::string(count) + "'");
      }
      continue;
    }
    if (argument == "-o" || argument == "--output") {
      if (i + 1 < arguments.size()) output = arguments[++i];
    } else if (argument.starts_with("--output=")) {
      output = argument.substr(9);
    } else if (argument.starts_with("-o")) {
      output = argument.substr(2);
    } else if (argument == "-h") {
      set(options, Flag::Help);
      continue;
    } else {
      bool known = false;
      for (const LongFlag& candidate : kLongFlags) {
        if (argument == candidate.name) {
          set(options, candidate.flag);
          document = document || candidate.flag == Flag::Document;
          decode = decode || candidate.flag == Flag::Decode;
          known = true;
        }
      }
      if (!known) return failure("unknown option '" + std::string(argument) + "'");
      continue;
    }
    if (output.empty()) return failure(std::string("option '-o' needs a PATH"));
    if (options.output) return failure(std::string("option '-o' given twice"));
    options.output = std::string(output);
  }
  if (std::optional<std::string> refused = conflict(options, document, decode)) {
    return failure(std::move(*refused));
  }
  if (options.inputs.empty()) options.inputs.emplace_back(kStandardStream);
  return options;
}

std::string_view usage_line() {
  return "usage: tarvik-columnarize [--document [--min-rows N] | -d | --lines] [-o PATH]\n"
         "                          [--stats] [--no-newline] [FILE ...]\n";
}

std::string_view help_text() {
  return R"(usage: tarvik-columnarize [--document [--min-rows N] | -d | --lines] [-o PATH]
                          [--stats] [--no-newline] [FILE ...]

Turns row-oriented JSON (an array of objects, one object per row) into compact
column-oriented JSON {"columns":[...],"rows":[[...],...],"constants":{...}},
followed by a newline. Each FILE is transformed on its own; "-" or no FILE
reads standard input.

modes:
      --document     shrink a whole JSON document of any kind: every array of
                     objects, and every object of objects, that a table writes
                     shorter becomes that table, at any depth, with nested
                     objects and lists of objects as column groups
      --min-rows N   the fewest rows a --document table is made of (2)
  -d, --decode       the way back: every table of the document (from either
                     mode) turned back into its objects

options:
  -o, --output PATH  write to PATH instead of standard output ("-" is standard
                     output); PATH appears only when complete, and a symbolic
                     link is written through. With several FILEs, or when
                     PATH is a directory, each result goes to PATH/NAME, NAME
                     being the FILE's own name.
      --lines        read JSON Lines: one row per line, blank lines ignored; a
                     row must fit on its line
      --stats        print rows, columns, constants (of rows), input and
                     output bytes and the share saved to standard error
      --no-newline   no newline after the output: exactly the bytes the
                     module's function returns
  -h, --help         print this help and exit
      --version      print the version and exit

examples:
  tarvik-columnarize --stats rows.json > rows.columnar.json
  tarvik-columnarize --lines -o out/ logs/*.jsonl
  gh api search/issues?q=bug | tarvik-columnarize --document
  tarvik-columnarize --document response.json | tarvik-columnarize -d

exit status: 0 on success, 1 when a payload cannot be transformed, 2 for a
usage error or a file that cannot be read or written, 3 when memory ran out.
Every FILE is tried; the status is the highest any of them earned. A closed
output pipe ends the run quietly, by SIGPIPE.
)";
}

}  // namespace tarvik::cli
