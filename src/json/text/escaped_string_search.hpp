// The search of JSON text for its strings that hold escapes: strings are told apart by their
// quotes 64 bytes at a time, and those without a backslash passed over (AVX2, chosen at run time,
// or SSE2).
#pragma once

#include "json/text/simd.hpp"

namespace tarvik::json {

// The opening quote of the first string in [p, end) that holds a backslash, or `end` when none
// does. The text must begin outside any string and be valid JSON from there: a backslash then
// stands only in a string, and no quote before the first backslash of a string is escaped.
// Reads only bytes in [p, end).
// Threads: pure; the implementation is chosen once per process, on the first call.
const char* find_escaped_string(const char* p, const char* end);

// The implementations behind it, exposed so that tests can hold each one to the same answers.
// The AVX2 one (x86-64 only) may only be called when has_avx2() is true.
namespace escaped_string_search_detail {
bool has_avx2();
const char* find_escaped_string_portable(const char* p, const char* end);
#if TARVIK_AVX2
const char* find_escaped_string_avx2(const char* p, const char* end);
#endif
}  // namespace escaped_string_search_detail

}  // namespace tarvik::json
