// libFuzzer target: parse_value_list on arbitrary bytes. Crashes, sanitizer reports, uncaught
// exceptions and misplaced error positions are findings.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarvik::fuzz::require(tarvik::fuzz::check_reader(tarvik::fuzz::as_text(data, size)));
  return 0;
}
