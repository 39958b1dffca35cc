// The vector instructions the core is built with: SSE2 on x86-64, where every processor has it,
// and an AVX2 path chosen at run time; none elsewhere, or with TARVIK_PORTABLE defined.
#pragma once

// TARVIK_SSE2 is 1 where the sixteen-byte blocks are SSE2 vectors; where it is 0 each such site
// runs its scalar code, which gives the same results (TARVIK_PORTABLE builds test that on x86-64).
#if defined(__SSE2__) && !defined(TARVIK_PORTABLE)
#define TARVIK_SSE2 1
#include <emmintrin.h>
#else
#define TARVIK_SSE2 0
#endif

// TARVIK_AVX2 is 1 where the AVX2 code is compiled in, for processors that report AVX2.
#if defined(__x86_64__) && !defined(TARVIK_PORTABLE)
#define TARVIK_AVX2 1
#else
#define TARVIK_AVX2 0
#endif
