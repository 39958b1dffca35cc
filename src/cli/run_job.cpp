// One job: the destination is opened first, the input released as soon as it is transformed,
// and the result written whole, then committed under its name.
#include "cli/run_job.hpp"

#include <cerrno>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "cli/input.hpp"
#include "cli/messages.hpp"
#include "cli/output.hpp"
#include "cli/signals.hpp"
#include "transform/columnarize.hpp"

namespace tarvik::cli {

namespace {

Result<Input, int> open_input(const std::string& name, const StandardStreams& streams) {
  if (name != kStandardStream) return Input::from_file(name.c_str());
  if (streams.input_closed) return failure(EBADF);
  return Input::from_descriptor(0);
}

Result<Output, int> open_output(const Job& job, const StandardStreams& streams) {
  if (job.output) return Output::to_file(*job.output);
  if (streams.output_closed) return failure(EBADF);
  return Output::standard_output();
}

// The transform, with the faults of the core turned into messages as the module turns them
// into exceptions.
Result<json::Buffer, std::string> transform(std::string_view payload, bool lines,
                                            ColumnarizeCounts& counts) {
  try {
    return lines ? columnarize_json_lines(payload, &counts) : columnarize_json(payload, &counts);
  } catch (const std::bad_alloc&) {
    return failure(std::string("out of memory"));
  } catch (const std::exception& fault) {
    return failure("internal panic during columnarization: " + std::string(fault.what()));
  }
}

// The input's result bytes, or the exit status of the failure, reported. The input is released
// on return, so that the write holds only the output.
Result<json::Buffer, int> transformed_input(const Job& job, const Options& options,
                                            const StandardStreams& streams, Stats& stats) {
  const std::string_view source = input_name(job.input);
  const auto input = open_input(job.input, streams);
  if (!input.ok()) {
    report_os_error("cannot read", source, input.error());
    return failure(kUsageOrFileError);
  }
  stats.input_bytes = input.value().bytes().size();
  auto result = transform(input.value().bytes(), options.lines, stats.counts);
  if (!result.ok()) {
    report(std::string(source) + ": " + shortened(result.error()));
    return failure(kCodecError);
  }
  return std::move(result).value();
}

void report_stats(const Job& job, const Stats& stats, bool name_stats) {
  std::string text;
  if (name_stats) text = std::string(input_name(job.input)) + ":\n";
  text += stats_text(stats);
  write_to_standard_error(text);
}

}  // namespace

int run_job(const Job& job, const Options& options, const StandardStreams& streams,
            bool name_stats) {
  const std::string_view destination =
      job.output ? std::string_view(*job.output) : std::string_view("standard output");
  // Opened first, so that an unwritable destination costs no reading and no transform.
  auto output = open_output(job, streams);
  if (!output.ok()) {
    report_os_error("cannot write", destination, output.error());
    return kUsageOrFileError;
  }
  Stats stats;
  const auto result = transformed_input(job, options, streams, stats);
  if (!result.ok()) return result.error();
  Output& sink = output.value();
  int error = sink.write(result.value().view());
  if (error == 0 && options.newline) error = sink.write("\n");
  if (error == 0) error = sink.commit();
  stats.output_bytes = sink.written();
  if (error == EPIPE) {
    if (options.stats) report_stats(job, stats, name_stats);
    die_of_closed_pipe();
  }
  if (error != 0) {
    report_os_error("cannot write", destination, error);
    return kUsageOrFileError;
  }
  if (options.stats) report_stats(job, stats, name_stats);
  return kSuccess;
}

}  // namespace tarvik::cli
