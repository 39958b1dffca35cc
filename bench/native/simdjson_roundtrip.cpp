// The benchmark's native limit: parses a payload into simdjson's DOM and writes it back compactly,
// timing itself, driven line by line by bench/run.py over a pipe. Never part of the module.
//
// Protocol (one command per line on stdin, one reply line on stdout):
//   load N     then N raw bytes: the payload of the next commands        -> "ok N"
//   time [R]   R parse + minify runs in a row on this thread (default 1)
//              -> "NS PARSE_NS OUTBYTES", the nanoseconds per run
//   threads T  T threads, each with its own parser, parse + minify at once -> "NS" (wall time)
// A failure replies "error TEXT". With the argument --memory it instead reads one payload from
// stdin to its end, runs one parse + minify with a fresh parser and prints the peak resident bytes
// that the call added, and the resident bytes still added once the parser is gone.
#include <simdjson.h>

#include <algorithm>
#include <barrier>
#include <chrono>
#include <cstddef>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long elapsed_ns(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

struct Roundtrip {
  std::size_t written = 0;  // bytes of compact text
  long long parse_ns = 0;   // the parse alone, out of the whole roundtrip
};

// One parse + minify, or throws on malformed input.
Roundtrip roundtrip(simdjson::dom::parser& parser, const simdjson::padded_string& payload) {
  const auto start = Clock::now();
  simdjson::dom::element document;
  if (const auto error = parser.parse(payload).get(document); error) {
    throw std::runtime_error(simdjson::error_message(error));
  }
  const long long parse_ns = elapsed_ns(start);
  return {simdjson::minify(document).size(), parse_ns};
}

// Wall time per round of `threads` threads released together, each running kCallsPerThread
// roundtrips in a row with its own parser: from the first worker's start to the last one's end, as
// the workers clock themselves (the releasing thread may be descheduled while they run), divided
// by the rounds. Parsers persist across calls, as a server thread would keep its own.
constexpr int kCallsPerThread = 4;

long long time_threads(std::vector<simdjson::dom::parser>& parsers,
                       const simdjson::padded_string& payload, std::size_t threads) {
  if (parsers.size() < threads) parsers.resize(threads);
  std::barrier start_line(static_cast<std::ptrdiff_t>(threads));
  std::vector<std::string> failures(threads);
  std::vector<Clock::time_point> starts(threads);
  std::vector<Clock::time_point> ends(threads);
  {
    std::vector<std::jthread> workers;
    workers.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) {
      workers.emplace_back([&, i] {
        start_line.arrive_and_wait();
        starts[i] = Clock::now();
        try {
          for (int call = 0; call < kCallsPerThread; ++call)
            roundtrip(parsers[i], payload);
        } catch (const std::exception& fault) {
          failures[i] = fault.what();
        }
        ends[i] = Clock::now();
      });
    }
  }  // joins every worker
  for (const auto& failure : failures) {
    if (!failure.empty()) throw std::runtime_error(failure);
  }
  const auto first = *std::min_element(starts.begin(), starts.end());
  const auto last = *std::max_element(ends.begin(), ends.end());
  return std::chrono::duration_cast<std::chrono::nanoseconds>(last - first).count() /
         kCallsPerThread;
}

// Reads a kB figure ("VmRSS", "VmHWM") of this process from /proc/self/status, in bytes.
std::size_t status_bytes(std::string_view field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':') {
      return std::stoull(line.substr(field.size() + 1)) * 1024;
    }
  }
  throw std::runtime_error("no " + std::string(field) + " in /proc/self/status");
}

int measure_memory() {
  const std::string text{std::istreambuf_iterator<char>(std::cin), {}};
  const simdjson::padded_string payload(text);
  // Writing 5 resets the peak (VmHWM) to the current resident size, so the peak after the call is
  // what the call itself added on top of the payload already in memory.
  std::ofstream("/proc/self/clear_refs") << "5";
  const std::size_t before = status_bytes("VmRSS");
  {
    simdjson::dom::parser parser;
    roundtrip(parser, payload);
  }
  // Signed: the allocator may give back pages that were resident before the call.
  const auto kept = static_cast<long long>(status_bytes("VmRSS")) - static_cast<long long>(before);
  std::cout << status_bytes("VmHWM") - before << ' ' << kept << '\n';
  return 0;
}

int serve() {
  std::ios::sync_with_stdio(false);
  std::cout << "ready " << simdjson::get_active_implementation()->name() << std::endl;
  simdjson::padded_string payload;
  simdjson::dom::parser parser;
  std::vector<simdjson::dom::parser> thread_parsers;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    try {
      if (command == "load") {
        std::size_t size = 0;
        words >> size;
        std::string text(size, '\0');
        if (!std::cin.read(text.data(), static_cast<std::streamsize>(size))) {
          throw std::runtime_error("payload cut short");
        }
        payload = simdjson::padded_string(text);
        std::cout << "ok " << size << std::endl;
      } else if (command == "time") {
        long long runs = 1;
        if (!(words >> runs)) runs = 1;  // "time" alone: one run
        if (runs < 1) throw std::runtime_error("time needs a run count above 0");
        long long parse_ns = 0;
        std::size_t written = 0;
        const auto start = Clock::now();
        for (long long run = 0; run < runs; ++run) {
          const Roundtrip done = roundtrip(parser, payload);
          parse_ns += done.parse_ns;
          written = done.written;
        }
        const long long ns = elapsed_ns(start);
        std::cout << ns / runs << ' ' << parse_ns / runs << ' ' << written << std::endl;
      } else if (command == "threads") {
        std::size_t threads = 0;
        words >> threads;
        if (threads == 0) throw std::runtime_error("threads needs a count above 0");
        std::cout << time_threads(thread_parsers, payload, threads) << std::endl;
      } else {
        throw std::runtime_error("unknown command: " + command);
      }
    } catch (const std::exception& fault) {
      std::cout << "error " << fault.what() << std::endl;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 2 && std::string_view(argv[1]) == "--memory") return measure_memory();
    return serve();
  } catch (const std::exception& fault) {
    std::cerr << "simdjson_roundtrip: " << fault.what() << '\n';
    return 1;
  }
}
