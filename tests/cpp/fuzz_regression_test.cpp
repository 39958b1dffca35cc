// Replays every input under tests/fuzz_regressions (crashes and broken properties the fuzz
// targets once found, and hand-made hostile inputs) through the checks of every target.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/fuzz_checks.hpp"

namespace tarvik::fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> regression_inputs() {
  std::vector<fs::path> paths;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(fs::path(TARVIK_SOURCE_DIR) / "tests" / "fuzz_regressions")) {
    if (entry.is_regular_file()) paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FuzzRegressions, EveryInputKeepsEveryProperty) {
  const std::vector<fs::path> inputs = regression_inputs();
  ASSERT_FALSE(inputs.empty());
  for (const fs::path& path : inputs) {
    SCOPED_TRACE(path.filename().string());
    const std::string input = read_file(path);
    EXPECT_EQ(check_reader(input), "");
    EXPECT_EQ(check_pipeline(input), "");
    EXPECT_EQ(check_writer_round_trip(input), "");
    EXPECT_EQ(check_lines(input), "");
    EXPECT_EQ(check_document(input, 0), "");
    EXPECT_EQ(check_document(input, 2), "");
  }
}

}  // namespace
}  // namespace tarvik::fuzz
