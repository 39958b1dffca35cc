// One job: the destination is opened first, the result written to it in blocks as the transform
// makes them, then committed under its name.
#include "cli/run_job.hpp"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
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

// The rows are built at once while they take at most this much; beyond, they are read twice, one
// at a time, and the tool's memory stays within a constant besides the mapped input.
constexpr std::size_t kWholeRowsBudget = std::size_t{64} << 20;

// The output's blocks, written as they come; the first failed write ends the output.
class OutputSink final : public TextSink {
 public:
  explicit OutputSink(Output& output) : output_(output) {}
  bool write(std::string_view text) override {
    error_ = output_.write(text);
    return error_ == 0;
  }
  int error() const { return error_; }

 private:
  Output& output_;
  int error_ = 0;
};

// The transform into `sink`, with the faults of the core turned into messages as the module
// turns them into exceptions.
Result<ColumnarizeCounts, std::string> transform(std::string_view payload, bool lines,
                                                 OutputSink& sink) {
  const json::Layout layout = lines ? json::Layout::Lines : json::Layout::Array;
  const std::size_t budget = std::min(kWholeRowsBudget, whole_rows_budget(payload.size()));
  try {
    return columnarize_json_to(payload, layout, sink, budget);
  } catch (const std::bad_alloc&) {
    return failure(std::string("out of memory"));
  } catch (const std::exception& fault) {
    return failure("internal panic during columnarization: " + std::string(fault.what()));
  }
}

// Transforms the job's input into `sink`. Returns the exit status of a failure to read or
// transform it, reported, or kSuccess; a failed write is left to the caller, in the sink.
int write_transformed(const Job& job, const Options& options, const StandardStreams& streams,
                      OutputSink& sink, Stats& stats) {
  const std::string_view source = input_name(job.input);
  const auto input = open_input(job.input, streams);
  if (!input.ok()) {
    report_os_error("cannot read", source, input.error());
    return kUsageOrFileError;
  }
  stats.input_bytes = input.value().bytes().size();
  if (input.value().mapped()) report_bus_error_as_cut_short(source);
  const auto result = transform(input.value().bytes(), options.lines, sink);
  report_bus_error_as_cut_short({});
  if (result.ok()) {
    stats.counts = result.value();
  } else if (sink.error() == 0) {
    report(std::string(source) + ": " + shortened(result.error()));
    return kCodecError;
  }
  return kSuccess;
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
  Output& sink = output.value();
  OutputSink blocks(sink);
  const int status = write_transformed(job, options, streams, blocks, stats);
  if (status != kSuccess) return status;
  int error = blocks.error();
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
