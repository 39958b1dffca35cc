// JSONTestSuite through the reader: y_ arrays must parse, other y_ values fail only with the
// "invalid type" error, n_ files must be rejected, and the i_ files get this reader's answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/read/reader.hpp"

namespace tarvik::json {
namespace {

namespace fs = std::filesystem;

const fs::path kSuite = fs::path(TARVIK_SOURCE_DIR) / "tests" / "conformance" / "json-test-suite";

std::vector<std::string> suite_files() {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(kSuite)) {
    if (entry.path().extension() == ".json") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The reader's answer ("accepted" or the error's display text) for every implementation-defined
// case: numbers too large for a double are rejected, tiny ones become zero, long integers become
// doubles, and strings must be well-formed UTF-8 without lone surrogates.
const std::map<std::string, std::string> kImplementationDefined = {
    {"i_number_double_huge_neg_exp.json", "accepted"},
    {"i_number_huge_exp.json", "number out of range at line 1 column 17"},
    {"i_number_neg_int_huge_exp.json", "number out of range at line 1 column 9"},
    {"i_number_pos_double_huge_exp.json", "number out of range at line 1 column 10"},
    {"i_number_real_neg_overflow.json", "number out of range at line 1 column 15"},
    {"i_number_real_pos_overflow.json", "number out of range at line 1 column 14"},
    {"i_number_real_underflow.json", "accepted"},
    {"i_number_too_big_neg_int.json", "accepted"},
    {"i_number_too_big_pos_int.json", "accepted"},
    {"i_number_very_big_negative_int.json", "accepted"},
    {"i_object_key_lone_2nd_surrogate.json",
     "invalid type: map, expected a sequence at line 1 column 0"},
    {"i_string_1st_surrogate_but_2nd_missing.json",
     "unexpected end of hex escape at line 1 column 9"},
    {"i_string_1st_valid_surrogate_2nd_invalid.json",
     "lone leading surrogate in hex escape at line 1 column 14"},
    {"i_string_UTF-16LE_with_BOM.json", "expected value at line 1 column 1"},
    {"i_string_UTF-8_invalid_sequence.json", "invalid unicode code point at line 1 column 9"},
    {"i_string_UTF8_surrogate_U+D800.json", "invalid unicode code point at line 1 column 6"},
    {"i_string_incomplete_surrogate_and_escape_valid.json",
     "unexpected end of hex escape at line 1 column 10"},
    {"i_string_incomplete_surrogate_pair.json",
     "lone leading surrogate in hex escape at line 1 column 8"},
    {"i_string_incomplete_surrogates_escape_valid.json",
     "lone leading surrogate in hex escape at line 1 column 14"},
    {"i_string_invalid_lonely_surrogate.json", "unexpected end of hex escape at line 1 column 9"},
    {"i_string_invalid_surrogate.json", "unexpected end of hex escape at line 1 column 9"},
    {"i_string_invalid_utf-8.json", "invalid unicode code point at line 1 column 4"},
    {"i_string_inverted_surrogates_U+1D11E.json",
     "lone leading surrogate in hex escape at line 1 column 8"},
    {"i_string_iso_latin_1.json", "invalid unicode code point at line 1 column 4"},
    {"i_string_lone_second_surrogate.json",
     "lone leading surrogate in hex escape at line 1 column 8"},
    {"i_string_lone_utf8_continuation_byte.json", "invalid unicode code point at line 1 column 4"},
    {"i_string_not_in_unicode_range.json", "invalid unicode code point at line 1 column 7"},
    {"i_string_overlong_sequence_2_bytes.json", "invalid unicode code point at line 1 column 5"},
    {"i_string_overlong_sequence_6_bytes.json", "invalid unicode code point at line 1 column 9"},
    {"i_string_overlong_sequence_6_bytes_null.json",
     "invalid unicode code point at line 1 column 9"},
    {"i_string_truncated-utf-8.json", "invalid unicode code point at line 1 column 5"},
    {"i_string_utf16BE_no_BOM.json", "expected value at line 1 column 1"},
    {"i_string_utf16LE_no_BOM.json", "expected value at line 1 column 2"},
    {"i_structure_500_nested_arrays.json", "recursion limit exceeded at line 1 column 128"},
    {"i_structure_UTF-8_BOM_empty_object.json", "expected value at line 1 column 1"},
};

bool top_level_is_array(const std::string& input) {
  const auto first = input.find_first_not_of(" \t\r\n");
  return first != std::string::npos && input[first] == '[';
}

class Conformance : public ::testing::TestWithParam<std::string> {};

TEST_P(Conformance, FollowsTheExpectationInTheFileName) {
  const std::string& name = GetParam();
  const std::string input = read_file(kSuite / name);
  Arena arena;
  const auto result = parse_value_list(input, arena);
  const std::string outcome = result.ok() ? "accepted" : result.error().display();
  if (!result.ok()) {
    EXPECT_GE(result.error().line(), 1u) << outcome;
  }

  switch (name[0]) {
    case 'y':
      if (top_level_is_array(input)) {
        EXPECT_TRUE(result.ok()) << outcome;
      } else {
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().code(), ErrorCode::Message);
        EXPECT_TRUE(outcome.starts_with("invalid type: ")) << outcome;
      }
      break;
    case 'n':
      EXPECT_FALSE(result.ok()) << "accepted a malformed document";
      break;
    default: {
      const auto expected = kImplementationDefined.find(name);
      ASSERT_NE(expected, kImplementationDefined.end()) << "no expectation for " << name;
      EXPECT_EQ(outcome, expected->second);
    }
  }
}

std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.substr(0, info.param.size() - 5);  // without ".json"
  std::replace_if(
      name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
  return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(JsonTestSuite, Conformance, ::testing::ValuesIn(suite_files()), test_name);

// Every prefix of every small suite file, and each byte replaced by a few others, read from an
// exact-size heap copy so that a sanitizer build catches any read past the end. The reader must
// answer each with a value list or a positioned error that stays within the input.
TEST(ConformanceSuite, CutAndMutatedInputsGetAnAnswer) {
  const char replacements[] = {'\0', '"', '\\', '[', '{', ']', ',', '0', 'e', '\x80', '\xFF'};
  std::size_t inputs = 0;
  const auto check = [&inputs](const std::string& text) {
    const std::unique_ptr<char[]> exact(new char[text.size()]);
    std::copy(text.begin(), text.end(), exact.get());
    Arena arena;
    const auto result = parse_value_list({exact.get(), text.size()}, arena);
    ++inputs;
    if (!result.ok()) {
      EXPECT_GE(result.error().line(), 1u) << ::testing::PrintToString(text);
      EXPECT_LE(result.error().column(), text.size()) << ::testing::PrintToString(text);
    }
  };
  for (const std::string& name : suite_files()) {
    const std::string input = read_file(kSuite / name);
    if (input.size() > 256) continue;
    for (std::size_t cut = 0; cut <= input.size(); ++cut)
      check(input.substr(0, cut));
    for (std::size_t at = 0; at < input.size(); ++at) {
      for (const char replacement : replacements) {
        std::string mutated = input;
        mutated[at] = replacement;
        check(mutated);
      }
    }
  }
  EXPECT_GT(inputs, 10000u);
}

TEST(ConformanceSuite, IsPresent) {
  EXPECT_GT(suite_files().size(), 300u) << kSuite;
}

}  // namespace
}  // namespace tarvik::json
