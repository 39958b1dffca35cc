// One job: the destination is opened first, the result written to it in blocks as the transform
// makes them, then committed under its name.
#include "cli/run_job.hpp"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "cli/codec_failure.hpp"
#include "cli/input.hpp"
#include "cli/messages.hpp"
#include "cli/output.hpp"
#include "cli/signals.hpp"
#include "transform/columnarize.hpp"
#include "transform/columnarize_document.hpp"
#include "transform/decolumnarize.hpp"

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

json::Layout layout_of(const Options& options) {
  return options.lines ? json::Layout::Lines : json::Layout::Array;
}

// Document mode and the way back, which make their output whole, then write it.
Result<std::optional<ColumnarizeCounts>, TransformFailure> transform_document(
    std::string_view payload, const Options& options, OutputSink& sink) {
  constexpr std::uint64_t kDefaultMinRows = 2;
  const Result<json::Buffer, std::string> text =
      options.mode == Options::Mode::Document
          ? columnarize_document(payload, options.min_rows.value_or(kDefaultMinRows))
          : decolumnarize(payload);
  if (!text.ok()) return failure(TransformFailure{text.error(), std::nullopt});
  sink.write(text.value().view());
  return std::optional<ColumnarizeCounts>();
}

// The transform the options ask for, into `sink`, with the internal faults of the core turned
// into failures as the module turns them into exceptions. Memory exhaustion goes on as
// std::bad_alloc, for the job as a whole. The counts are those of the rows transform.
Result<std::optional<ColumnarizeCounts>, TransformFailure> transform(std::string_view payload,
                                                                     const Options& options,
                                                                     OutputSink& sink) {
  const std::size_t budget = std::min(kWholeRowsBudget, whole_rows_budget(payload.size()));
  try {
    if (options.mode != Options::Mode::Rows) return transform_document(payload, options, sink);
    Result<ColumnarizeCounts, TransformFailure> counts =
        columnarize_json_to(payload, layout_of(options), sink, budget);
    if (!counts.ok()) return failure(std::move(counts).error());
    return std::optional<ColumnarizeCounts>(counts.value());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& fault) {
    return failure(TransformFailure{
        "internal panic during columnarization: " + std::string(fault.what()), std::nullopt});
  }
}

// While it lives, SIGBUS from reading the mapped input `name` (none when empty) ends the run as
// a read error instead of a crash.
class CutShortReported {
 public:
  explicit CutShortReported(std::string_view name) { report_bus_error_as_cut_short(name); }
  ~CutShortReported() { report_bus_error_as_cut_short({}); }
  CutShortReported(const CutShortReported&) = delete;
  CutShortReported& operator=(const CutShortReported&) = delete;
};

// Transforms the job's input into `sink`. Returns the exit status of a failure to read or
// transform it, reported, or kSuccess; a failed write is left to the caller, in the sink.
int write_transformed(const Job& job, const Options& options, const StandardStreams& streams,
                      OutputSink& sink, Stats& stats) {
  const std::string source = input_name(job.input);
  const auto input = open_input(job.input, streams);
  if (!input.ok()) {
    report_os_error("cannot read", source, input.error());
    return kUsageOrFileError;
  }
  const std::string_view payload = input.value().bytes();
  stats.input_bytes = payload.size();
  const auto result = [&] {
    const CutShortReported reported(input.value().mapped() ? std::string_view(source) : "");
    return transform(payload, options, sink);
  }();
  // A file cut short to the middle of a page reads as zero bytes up to the page's end, not as
  // SIGBUS: whatever came of them, good or bad, came of bytes that were never the file's.
  if (input.value().cut_short()) {
    report("cannot read " + source + ": " + std::string(kCutShortWhileRead));
    return kUsageOrFileError;
  }
  if (result.ok()) {
    stats.counts = result.value();
  } else if (sink.error() == 0) {
    report(source + ": " + codec_failure_text(result.error(), payload, layout_of(options)));
    return kCodecError;
  }
  return kSuccess;
}

void report_stats(const Job& job, const Stats& stats, bool name_stats) {
  std::string text;
  if (name_stats) text = input_name(job.input) + ":\n";
  text += stats_text(stats);
  write_to_standard_error(text);
}

int write_job(const Job& job, const Options& options, const StandardStreams& streams,
              bool name_stats) {
  const std::string destination = output_name(job.output);
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
    stats.output_cut_short = true;
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

}  // namespace

int run_job(const Job& job, const Options& options, const StandardStreams& streams,
            bool name_stats) {
  try {
    return write_job(job, options, streams, name_stats);
  } catch (const std::bad_alloc&) {
    // By now the job's input, output and transform are released, so the report and the jobs
    // after it have memory again; the temporary file is gone.
    report(input_name(job.input) + ": out of memory");
    return kOutOfMemory;
  }
}

}  // namespace tarvik::cli
