// Where each input's result goes: standard output, the file -o names, or DIR/NAME, with the
// usage errors found before anything is opened.
#include "cli/jobs.hpp"

#include <sys/stat.h>

#include <cstddef>
#include <set>
#include <string_view>
#include <utility>

#include "cli/messages.hpp"

namespace tarvik::cli {

namespace {

bool is_directory(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string_view file_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

Result<std::vector<Job>, std::string> plan_jobs(const Options& options) {
  std::vector<Job> jobs;
  if (!options.output || *options.output == kStandardStream) {
    if (options.inputs.size() > 1) {
      return failure(std::string("several inputs need -o DIR, a directory for their results"));
    }
    jobs.push_back({options.inputs.front(), std::nullopt});
    return jobs;
  }
  const std::string& output = *options.output;
  if (!is_directory(output)) {
    if (options.inputs.size() > 1) {
      return failure("several inputs need -o DIR, and " + quoted(output) + " is not a directory");
    }
    jobs.push_back({options.inputs.front(), output});
    return jobs;
  }
  std::set<std::string_view> names;
  const std::string directory = output.ends_with('/') ? output : output + '/';
  for (const std::string& input : options.inputs) {
    if (input == kStandardStream) {
      return failure("standard input has no name to write it under in " + quoted(output) +
                     "; give -o a file");
    }
    const std::string_view name = file_name(input);
    if (!names.insert(name).second) {
      return failure("two inputs would both be written to " +
                     quoted(directory + std::string(name)));
    }
    jobs.push_back({input, directory + std::string(name)});
  }
  return jobs;
}

}  // namespace tarvik::cli
