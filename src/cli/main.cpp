// tarvik-columnarize: the command-line front end of the columnar transform, a Unix filter over
// files and standard input.
#include <algorithm>
#include <cerrno>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/jobs.hpp"
#include "cli/messages.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"
#include "cli/run_job.hpp"
#include "cli/signals.hpp"
#include "cli/standard_streams.hpp"

namespace {

using namespace tarvik::cli;

int usage_error(const std::string& message) {
  report(message);
  write_to_standard_error(usage_line());
  write_to_standard_error("Try 'tarvik-columnarize --help' for more information.\n");
  return kUsageOrFileError;
}

// --help and --version: their text on standard output.
int print(std::string_view text, const StandardStreams& streams) {
  const int error = streams.output_closed ? EBADF : Output::standard_output().write(text);
  if (error == EPIPE) die_of_closed_pipe();
  if (error == 0) return kSuccess;
  report_os_error("cannot write", "standard output", error);
  return kUsageOrFileError;
}

int run(int argc, char** argv) {
  const StandardStreams streams = guard_standard_streams();
  install_signal_handlers();
  const auto options = parse_options(std::span<const char* const>(argv + 1, argc - 1));
  if (!options.ok()) return usage_error(options.error());
  switch (options.value().action) {
    case Options::Action::Help:
      return print(help_text(), streams);
    case Options::Action::Version:
      return print(std::string(kProgram) + " " TARVIK_VERSION "\n", streams);
    case Options::Action::Columnarize:
      break;
  }
  const auto jobs = plan_jobs(options.value());
  if (!jobs.ok()) return usage_error(jobs.error());
  // Every input is tried; the status is the worst any of them earned.
  int status = kSuccess;
  const bool name_stats = jobs.value().size() > 1;
  for (const Job& job : jobs.value()) {
    status = std::max(status, run_job(job, options.value(), streams, name_stats));
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Outside a transform, which reports its own faults; said without allocating anything.
    write_to_standard_error("tarvik-columnarize: out of memory\n");
  } catch (...) {
    write_to_standard_error("tarvik-columnarize: internal error\n");
  }
  return kUsageOrFileError;
}
