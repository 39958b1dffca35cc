// Strict UTF-8 validation of string contents, 32 bytes at a time with AVX2 where the processor
// has it and sequence by sequence otherwise; both give the same answer for every input.
#pragma once

#include <string_view>

#include "json/text/simd.hpp"

namespace tarvik::json {

// Whether `text` is well-formed UTF-8: every sequence complete, in its shortest form, no encoded
// surrogate (U+D800 to U+DFFF) and nothing above U+10FFFF. The empty text is valid.
//
// Reads exactly the bytes of `text`, never one past its end, so the text need not be padded.
// Threads: pure; the implementation is chosen once per process, on the first call, from what
// the processor supports (a thread-safe one-time initialisation).
bool is_valid_utf8(std::string_view text);

// The implementations behind is_valid_utf8, exposed so that tests can hold each one to the
// same answers. `is_valid_utf8_avx2` (x86-64 only) may only be called when `has_avx2()` is true.
namespace utf8_detail {
bool has_avx2();
bool is_valid_utf8_scalar(std::string_view text);
#if TARVIK_AVX2
bool is_valid_utf8_avx2(std::string_view text);
#endif
}  // namespace utf8_detail

}  // namespace tarvik::json
