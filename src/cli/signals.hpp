// Signals: an interrupted run removes the temporary file it was writing and then dies of the
// signal as if it had no handler; a closed output pipe ends the run the way it ends `cat`.
#pragma once

#include <signal.h>

#include <string>
#include <string_view>

namespace tarvik::cli {

// Installs the handler for SIGINT, SIGTERM and SIGHUP (unless the caller ignores them), and
// ignores SIGPIPE so that a closed pipe is seen as EPIPE: the run can still report its counts.
void install_signal_handlers();

// Holds the terminating signals back while it lives, so that creating or renaming a temporary
// file and noting it for the handler happen as one step.
class TerminatingSignalsHeld {
 public:
  TerminatingSignalsHeld();
  ~TerminatingSignalsHeld();
  TerminatingSignalsHeld(const TerminatingSignalsHeld&) = delete;
  TerminatingSignalsHeld& operator=(const TerminatingSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// The temporary file that a terminating signal removes; empty for none. Call with the signals
// held, so that the handler never reads half a path.
void remove_on_signal(const std::string& path);

// While `name` is not empty, SIGBUS, which reading a mapped file that was cut short raises, ends
// the run as a failure to read `name` (status 2, the temporary file removed) instead of a crash.
// Call with the input's name before reading a mapped input, and with nothing after.
void report_bus_error_as_cut_short(std::string_view name);

// Ends the process as SIGPIPE with its default action ends it: quietly, with the status that
// shells show as 141.
[[noreturn]] void die_of_closed_pipe();

}  // namespace tarvik::cli
