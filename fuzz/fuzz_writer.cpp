// libFuzzer target: a document read from the input is written, read back and written again;
// without floats the second text must equal the first.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarvik::fuzz::require(tarvik::fuzz::check_writer_round_trip(tarvik::fuzz::as_text(data, size)));
  return 0;
}
