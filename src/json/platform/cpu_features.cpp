// Processor features that choose an implementation at run time: asked of the processor on
// x86-64, absent elsewhere.
#include "json/platform/platform.hpp"

namespace tarvik::json::platform {

bool cpu_has_avx2() noexcept {
#if defined(__x86_64__)
  __builtin_cpu_init();  // may run before the compiler runtime's own initialisation
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;  // an x86-64 extension
#endif
}

bool cpu_has_clmul() noexcept {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") != 0;
#else
  return false;  // an x86-64 extension
#endif
}

}  // namespace tarvik::json::platform
