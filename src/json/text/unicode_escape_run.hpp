// Runs of \u escapes: text spelled in escapes comes in long runs of them, so a run is read a
// block of eight escapes at a time, digits checked, code units made and UTF-8 written with a few
// vector steps (AVX2, chosen at run time), or escape by escape on other processors.
#pragma once

#include <cstddef>

#include "json/text/simd.hpp"

namespace tarvik::json {

// The escapes a run is made of: \uXXXX, hex digits of either case, of a character from U+0020 on,
// either alone or as the two halves of a surrogate pair (a lead, D800-DBFF, then a trail,
// DC00-DFFF). The writer writes none of them: it writes those characters themselves. A run never
// ends between the halves of a pair.

// The most escapes one call reads; a longer run takes more calls.
inline constexpr std::size_t kMostRunEscapes = 32;
// The room for the UTF-8 of one call: three bytes an escape, and what a store may write past it
// (a block's stores of 28 bytes may begin after up to kMostRunEscapes - 1 escapes).
inline constexpr std::size_t kRunUtf8Room = 3 * kMostRunEscapes + 32;

// How many escapes of a run stand at the start of [p, end), kMostRunEscapes at most (0 when the
// bytes at p begin no run). Reads only bytes in [p, end).
// Threads: pure; the implementation is chosen once per process, on the first call.
std::size_t count_unicode_escape_run(const char* p, const char* end);

struct DecodedRun {
  std::size_t escapes;  // as count_unicode_escape_run
  char* utf8_end;       // the end of their UTF-8
};

// count_unicode_escape_run, with the UTF-8 of the escapes' characters written at `out`, which
// has kRunUtf8Room bytes of room (bytes past the returned end may be overwritten).
DecodedRun decode_unicode_escape_run(const char* p, const char* end, char* out);

// The implementations behind both, exposed so that tests can hold each one to the same answers.
// The AVX2 ones (x86-64 only) may only be called when has_avx2() is true.
namespace unicode_escape_run_detail {
bool has_avx2();
std::size_t count_run_scalar(const char* p, const char* end);
DecodedRun decode_run_scalar(const char* p, const char* end, char* out);
#if TARVIK_AVX2
std::size_t count_run_avx2(const char* p, const char* end);
DecodedRun decode_run_avx2(const char* p, const char* end, char* out);
#endif
}  // namespace unicode_escape_run_detail

}  // namespace tarvik::json
