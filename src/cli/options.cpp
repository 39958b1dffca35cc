// Parsing of tarvik-columnarize's arguments, GNU style: long options with "=" or a separate
// value, -o with an attached or a separate value, "--" to end the options.
#include "cli/options.hpp"

#include <cstddef>
#include <string>

namespace tarvik::cli {

namespace {

enum class Flag { Lines, Stats, NoNewline, Help, Version };

struct LongFlag {
  std::string_view name;
  Flag flag;
};

constexpr LongFlag kLongFlags[] = {
    {"--lines", Flag::Lines}, {"--stats", Flag::Stats},     {"--no-newline", Flag::NoNewline},
    {"--help", Flag::Help},   {"--version", Flag::Version},
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
    case Flag::Help:
      options.action = Options::Action::Help;
      break;
    case Flag::Version:
      // --help wins over --version, whatever their order, as in most GNU tools.
      if (options.action != Options::Action::Help) options.action = Options::Action::Version;
      break;
  }
}

}  // namespace

Result<Options, std::string> parse_options(std::span<const char* const> arguments) {
  Options options;
  bool options_ended = false;
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
  if (options.inputs.empty()) options.inputs.emplace_back(kStandardStream);
  return options;
}

std::string_view usage_line() {
  return "usage: tarvik-columnarize [-o PATH] [--lines] [--stats] [--no-newline] [FILE ...]\n";
}

std::string_view help_text() {
  return R"(usage: tarvik-columnarize [-o PATH] [--lines] [--stats] [--no-newline] [FILE ...]

Turns row-oriented JSON (an array of objects, one object per row) into compact column-oriented
JSON {"columns":[...],"rows":[[...],...],"constants":{...}}, followed by a newline. Each FILE is
transformed on its own; "-" or no FILE reads standard input.

options:
  -o, --output PATH  write to PATH instead of standard output; PATH appears only when complete.
                     With several FILEs, or when PATH is a directory, each result goes to
                     PATH/NAME, NAME being the FILE's own name.
      --lines        read JSON Lines: one row per line, blank lines ignored; a row must fit on
                     its line
      --stats        print rows, columns, constants, input and output bytes and the share saved
                     to standard error
      --no-newline   no newline after the output: exactly the bytes tarvik_codec.columnarize
                     returns
  -h, --help         print this help and exit
      --version      print the version and exit

examples:
  tarvik-columnarize --stats rows.json > rows.columnar.json
  tarvik-columnarize --lines -o out/ logs/*.jsonl

exit status: 0 on success, 1 when a payload cannot be transformed, 2 for a usage error or a
file that cannot be read or written. A closed output pipe ends the run quietly, by SIGPIPE.
)";
}

}  // namespace tarvik::cli
