// The per-thread random seed behind every map's keyed hash.
#include "json/model/hash.hpp"

#include <system_error>

#include "json/platform/platform.hpp"

namespace tarvik::json {

namespace {

struct ThreadSeed {
  bool drawn = false;
  HashSeed next{0, 0};
};

// Initial-exec: read at a fixed offset from the thread pointer, not through __tls_get_addr as a
// shared object's thread_local otherwise is (once per map). The 24 bytes fit glibc's room for
// the static TLS of modules loaded later.
[[gnu::tls_model("initial-exec")]] thread_local ThreadSeed thread_seed;

HashSeed draw_seed() {
  std::uint64_t words[2];
  const int fault = platform::fill_random(words, sizeof words);
  if (fault != 0) {
    throw std::system_error(fault, std::generic_category(), "could not seed the member hash");
  }
  return {words[0], words[1]};
}

}  // namespace

HashSeed next_map_seed() {
  ThreadSeed& state = thread_seed;
  if (!state.drawn) {
    state.next = draw_seed();
    state.drawn = true;
  }
  const HashSeed seed = state.next;
  ++state.next.k0;
  return seed;
}

}  // namespace tarvik::json
