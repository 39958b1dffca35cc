// libFuzzer target: columnarize_json on arbitrary bytes, checked against the reader and against
// the shape of the output document.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarvik::fuzz::require(tarvik::fuzz::check_pipeline(tarvik::fuzz::as_text(data, size)));
  return 0;
}
