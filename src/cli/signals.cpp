// The handlers of the terminating signals and of SIGBUS, and the end by SIGPIPE. The handlers
// only unlink, write and end the process, all async-signal-safe, so Ctrl-C ends the run at once
// even inside a transform.
#include "cli/signals.hpp"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "cli/messages.hpp"

namespace tarvik::cli {

namespace {

constexpr std::array kTerminatingSignals = {SIGINT, SIGTERM, SIGHUP};

// Read by the handler; a path too long to fit could not have been created either.
std::array<char, PATH_MAX> pending_removal{};

// The line written on SIGBUS, empty while no mapped input is read.
std::array<char, PATH_MAX + 128> bus_error_line{};
std::size_t bus_error_length = 0;

void on_bus_error(int signal_number) {
  if (bus_error_length == 0) {
    signal(signal_number, SIG_DFL);
    return;  // the fault recurs on return, now with the default action
  }
  if (pending_removal[0] != '\0') unlink(pending_removal.data());
  [[maybe_unused]] const ssize_t written = write(2, bus_error_line.data(), bus_error_length);
  _exit(2);  // the status of an input that cannot be read
}

void on_terminating_signal(int signal_number) {
  if (pending_removal[0] != '\0') unlink(pending_removal.data());
  signal(signal_number, SIG_DFL);
  raise(signal_number);  // delivered when the handler returns, since it is blocked until then
}

sigset_t terminating_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : kTerminatingSignals)
    sigaddset(&set, signal_number);
  return set;
}

}  // namespace

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = on_terminating_signal;
  action.sa_mask = terminating_set();
  for (const int signal_number : kTerminatingSignals) {
    struct sigaction inherited {};
    sigaction(signal_number, nullptr, &inherited);
    // A signal ignored by the caller (nohup, a background shell job) stays ignored.
    if (inherited.sa_handler != SIG_IGN) sigaction(signal_number, &action, nullptr);
  }
  signal(SIGPIPE, SIG_IGN);
  struct sigaction bus_action {};
  bus_action.sa_handler = on_bus_error;
  sigaction(SIGBUS, &bus_action, nullptr);
}

void report_bus_error_as_cut_short(std::string_view name) {
  const std::string_view parts[] = {"tarvik-columnarize: cannot read ", name, ": ",
                                    kCutShortWhileRead, "\n"};
  std::size_t length = 0;
  for (const std::string_view part : parts)
    length += part.size();
  bus_error_length = 0;
  if (name.empty() || length > bus_error_line.size()) return;
  char* out = bus_error_line.data();
  for (const std::string_view part : parts) {
    std::memcpy(out, part.data(), part.size());
    out += part.size();
  }
  bus_error_length = length;
}

TerminatingSignalsHeld::TerminatingSignalsHeld() {
  const sigset_t held = terminating_set();
  pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

TerminatingSignalsHeld::~TerminatingSignalsHeld() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void remove_on_signal(const std::string& path) {
  const std::size_t length = path.size() < pending_removal.size() ? path.size() : 0;
  std::memcpy(pending_removal.data(), path.data(), length);
  pending_removal[length] = '\0';
}

void die_of_closed_pipe() {
  signal(SIGPIPE, SIG_DFL);
  sigset_t pipe_set;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &pipe_set, nullptr);
  raise(SIGPIPE);
  _exit(128 + SIGPIPE);  // not reached: SIGPIPE's default action ends the process
}

}  // namespace tarvik::cli
