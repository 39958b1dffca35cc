// The handler of the terminating signals and the end by SIGPIPE. The handler only unlinks and
// re-raises, both async-signal-safe, so Ctrl-C ends the run at once even inside a transform.
#include "cli/signals.hpp"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace tarvik::cli {

namespace {

constexpr std::array kTerminatingSignals = {SIGINT, SIGTERM, SIGHUP};

// Read by the handler; a path too long to fit could not have been created either.
std::array<char, PATH_MAX> pending_removal{};

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
