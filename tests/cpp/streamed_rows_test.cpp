// Rows read one at a time and transformed in two streaming passes agree with the whole-payload
// path on every sample payload and every conformance file: the same elements, output and errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/read/deferred.hpp"
#include "json/read/reader.hpp"
#include "transform/columnarize.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = fs::path(TARVIK_SOURCE_DIR) / "tests";

// Every sample payload and conformance file, each as it is and as the one member of one row.
std::vector<std::pair<std::string, std::string>> payloads() {
  std::vector<std::pair<std::string, std::string>> found;
  for (const fs::path& dir :
       {kSource / "data" / "rows", kSource / "conformance" / "json-test-suite"}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() != ".json") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const std::string name = entry.path().filename().string();
      found.emplace_back(name + " wrapped", R"([{"a":)" + text + "}]");
      found.emplace_back(name, std::move(text));
    }
  }
  // Escaped names and constants, which must outlive the rows they came from; errors after a
  // row that is not an object; rows enough for many batches, with columns that come late.
  std::string many = "[";
  for (int i = 0; i < 60000; ++i) {
    many += std::string(i == 0 ? "" : ",") + R"({"k\u0031":)" + std::to_string(i % 3) +
            R"(,"c":"\u00e9x","n)" + std::to_string(i % 7) + R"(\u0041":)" +
            (i % 5 == 0 ? "null" : "[1,{\"b\":2}]") + "}";
  }
  found.emplace_back("many rows", many + "]");
  found.emplace_back("many rows, then an error", many + ",]");
  found.emplace_back("many rows, then not an object", many + ",7]");
  found.emplace_back("not an object, then an error", R"([{"a":1},2,{"a":tru}])");
  found.emplace_back("escaped names", R"([{"a\u0062":"\u00e9"},{"ab":"\u00e9"},{"ab":"\u00e9"}])");
  std::ranges::sort(found);
  return found;
}

TEST(ElementCursor, ReadsTheElementsAndFirstErrorOfTheWholeRead) {
  for (const auto& [name, payload] : payloads()) {
    SCOPED_TRACE(name);
    json::Arena whole_arena;
    const auto whole = json::parse_value_list(payload, whole_arena, json::Build::Rows);
    // Each element into an arena released before the next: nothing may point into it after.
    json::Arena arena;
    json::ElementCursor cursor(payload, arena);
    std::size_t count = 0;
    json::Value element;
    json::ElementCursor::Step step;
    while ((step = cursor.next(element)) == json::ElementCursor::Step::Element) {
      // Elements before an error are read too.
      if (whole.ok()) {
        ASSERT_LT(count, whole.value().size());
        EXPECT_EQ(element, whole.value()[count]);
      }
      ++count;
      cursor.forget_elements();
      arena.release_all();
    }
    if (whole.ok()) {
      EXPECT_EQ(step, json::ElementCursor::Step::End);
      EXPECT_EQ(count, whole.value().size());
    } else {
      ASSERT_EQ(step, json::ElementCursor::Step::Failed);
      EXPECT_EQ(cursor.error().display(), whole.error().display());
    }
    EXPECT_EQ(cursor.next(element), step);
  }
}

TEST(StreamedTransform, WritesTheOutputAndErrorOfTheWholePath) {
  for (const auto& [name, payload] : payloads()) {
    SCOPED_TRACE(name);
    const auto whole = columnarize_json(payload);
    // No room for the rows at once: every payload that builds anything is streamed.
    const auto streamed = columnarize_json_within(payload, 0);
    ASSERT_EQ(streamed.ok(), whole.ok());
    if (whole.ok()) {
      EXPECT_EQ(streamed.value().view(), whole.value().view());
    } else {
      EXPECT_EQ(streamed.error(), whole.error());
    }
  }
}

}  // namespace
}  // namespace tarvik
