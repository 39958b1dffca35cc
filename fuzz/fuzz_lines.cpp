// libFuzzer target: parse_value_lines and columnarize_json_lines on arbitrary bytes, checked
// against the array of the lines read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarvik::fuzz::require(tarvik::fuzz::check_lines(tarvik::fuzz::as_text(data, size)));
  return 0;
}
