// Several threads run columnarize_json at once, on payloads they share and on payloads of their
// own, and must get exactly the bytes of a single-threaded run. Built with TARVIK_SANITIZE=thread
// this is also the ThreadSanitizer driver of the core.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "transform/columnarize.hpp"
#include "transform_entry_points.hpp"

namespace tarvik {
namespace {

std::string run(std::string_view payload) {
  auto result = columnarize_json(payload);
  return result.ok() ? std::string(result.value().view()) : "error: " + result.error();
}

// Payloads of different shapes: many small rows with escapes and floats, wide rows (maps with
// an index), nested values, constants, and each kind of failure.
std::vector<std::string> make_payloads() {
  std::vector<std::string> payloads;
  std::string rows = "[";
  for (int i = 0; i < 2000; ++i) {
    if (i > 0) rows += ',';
    rows += R"({"id":)" + std::to_string(i) + R"(,"name":"n\u00e9\n)" + std::to_string(i % 13) +
            R"(","x":)" + std::to_string(i) + R"(.25,"c":[1,{"d":null}],"z":null})";
  }
  payloads.push_back(rows + "]");

  std::string wide = "[";
  for (int row = 0; row < 40; ++row) {
    wide += row > 0 ? ",{" : "{";
    for (int column = 0; column < 300; ++column) {
      if (column > 0) wide += ',';
      wide += "\"c" + std::to_string((column * 7 + row) % 300) +
              "\":" + std::to_string(row % 3 == 0 ? column : column + row);
    }
    wide += '}';
  }
  payloads.push_back(wide + "]");

  payloads.push_back(
      R"([{"o":{"p":[1,2,{"q":"r"}],"s":-0},"t":true},{"o":{"s":0.0,"p":[1,2,{"q":"r"}]},"t":false}])");
  payloads.push_back(std::string(200, '[') + std::string(200, ']'));
  payloads.push_back(rows.substr(0, rows.size() / 2));
  payloads.push_back(R"([{"a":1},[2],{"b":3}])");
  payloads.push_back("[{\"a\":\"\xff\"}]");
  return payloads;
}

TEST(Threads, ConcurrentCallsGiveTheSingleThreadedBytes) {
  const std::vector<std::string> shared = make_payloads();
  std::vector<std::string> expected;
  for (const std::string& payload : shared)
    expected.push_back(run(payload));
  ASSERT_EQ(std::count_if(expected.begin(), expected.end(),
                          [](const std::string& text) { return text.starts_with("error: "); }),
            4);

  constexpr int kThreads = 8;
  constexpr int kRounds = 6;
  std::atomic<int> mismatches{0};
  std::atomic<int> calls{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // A private copy of each payload, so distinct buffers are read as well as shared ones.
      const std::vector<std::string> own = shared;
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < shared.size(); ++i) {
          const std::size_t pick = (i + static_cast<std::size_t>(t)) % shared.size();
          const std::string& payload = round % 2 == 0 ? shared[pick] : own[pick];
          if (run(payload) != expected[pick]) mismatches.fetch_add(1);
          calls.fetch_add(1);
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(calls.load(), kThreads * kRounds * static_cast<int>(shared.size()));
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace tarvik
