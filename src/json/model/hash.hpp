// Keyed hashing of member names: SipHash with a random per-thread seed, so that a payload
// cannot choose keys that collide in a map's index.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarvik::json {

struct HashSeed {
  std::uint64_t k0;
  std::uint64_t k1;
  bool operator==(const HashSeed&) const = default;
};

namespace detail {

inline std::uint64_t rotl(std::uint64_t x, int b) {
  return (x << b) | (x >> (64 - b));
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
};

inline std::uint64_t load_le64(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;  // x86-64 is little-endian
}

}  // namespace detail

// SipHash-c-d of `message` followed by the optional byte `suffix` (pass -1 for none).
template <int CompressionRounds, int FinalRounds>
std::uint64_t siphash(HashSeed seed, std::string_view message, int suffix) {
  detail::SipState s{seed.k0 ^ 0x736f6d6570736575ULL, seed.k1 ^ 0x646f72616e646f6dULL,
                     seed.k0 ^ 0x6c7967656e657261ULL, seed.k1 ^ 0x7465646279746573ULL};
  const auto absorb = [&s](std::uint64_t m) {
    s.v3 ^= m;
    for (int i = 0; i < CompressionRounds; ++i)
      s.round();
    s.v0 ^= m;
  };
  const char* p = message.data();
  const std::size_t full_words = message.size() / 8;
  for (std::size_t i = 0; i < full_words; ++i, p += 8)
    absorb(detail::load_le64(p));

  const std::size_t total = message.size() + (suffix >= 0 ? 1 : 0);
  const std::size_t rest = message.size() % 8;
  std::uint64_t tail = 0;
  for (std::size_t i = 0; i < rest; ++i) {
    tail |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  }
  if (suffix >= 0) {
    const std::uint64_t byte = static_cast<unsigned char>(suffix);
    if (rest == 7) {  // the suffix completes a word of its own
      absorb(tail | (byte << 56));
      tail = 0;
    } else {
      tail |= byte << (8 * rest);
    }
  }
  absorb(tail | (std::uint64_t{total & 0xff} << 56));
  s.v2 ^= 0xff;
  for (int i = 0; i < FinalRounds; ++i)
    s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

// The hash of a member name: SipHash-1-3 of its bytes followed by one 0xFF byte.
inline std::uint64_t hash_key(HashSeed seed, std::string_view key) {
  return siphash<1, 3>(seed, key, 0xFF);
}

// A key's length with its first and last bytes: cheap, unkeyed. Equal keys have equal
// fingerprints and the different keys of one object rarely do, so only keys with matching
// fingerprints need comparing.
inline std::uint64_t key_fingerprint(std::string_view key) {
  if (key.empty()) return 0;
  return (std::uint64_t{key.size()} << 16) |
         (std::uint64_t{static_cast<unsigned char>(key.front())} << 8) |
         static_cast<unsigned char>(key.back());
}

// The seed for a new map created on the calling thread. The first call on a thread draws two
// words from getrandom; each call hands out the current pair and then increases the first word,
// so no two maps of a thread share a seed. Throws std::system_error if the random source fails.
HashSeed next_map_seed();

}  // namespace tarvik::json
