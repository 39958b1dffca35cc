// One job from input to output: map or read, transform, write, report; and the exit statuses
// that jobs earn.
#pragma once

#include "cli/jobs.hpp"
#include "cli/options.hpp"
#include "cli/standard_streams.hpp"

namespace tarvik::cli {

inline constexpr int kSuccess = 0;
inline constexpr int kCodecError = 1;  // the payload could not be transformed
inline constexpr int kUsageOrFileError = 2;
inline constexpr int kOutOfMemory = 3;  // memory ran out for one input; the others are tried

// Runs `job` and returns its exit status. A closed output pipe ends the process (by SIGPIPE),
// after the --stats report. `name_stats` heads the report with the input's name. Memory that runs
// out anywhere in the job is reported as "NAME: out of memory", everything it held released.
int run_job(const Job& job, const Options& options, const StandardStreams& streams,
            bool name_stats);

}  // namespace tarvik::cli
