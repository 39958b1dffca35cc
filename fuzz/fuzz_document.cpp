// libFuzzer target: document mode and the way back on arbitrary bytes, checked against the reader
// and against the document the output stands for.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = tarvik::fuzz::as_text(data, size);
  tarvik::fuzz::require(tarvik::fuzz::check_document(input, 0));
  tarvik::fuzz::require(tarvik::fuzz::check_document(input, 2));
  return 0;
}
