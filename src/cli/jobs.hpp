// The jobs of a run: each input with the place its result goes, checked before anything is
// read, so that a usage error costs no work.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/options.hpp"
#include "json/model/result.hpp"

namespace tarvik::cli {

struct Job {
  std::string input;                  // a path, or "-" for standard input
  std::optional<std::string> output;  // a path; none for standard output
};

// One job per input. Without -o (or with -o -) the only input goes to standard output; -o names
// the file for the only input, or the directory that receives DIR/NAME for each input. Fails with a
// usage error: several inputs without -o DIR, standard input to a directory, two inputs of one
// NAME.
Result<std::vector<Job>, std::string> plan_jobs(const Options& options);

}  // namespace tarvik::cli
