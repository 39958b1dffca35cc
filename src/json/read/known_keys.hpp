// Keys the reader already knows, matched as bytes instead of being read again: the keys of the
// row before for the next row, and the key shapes of objects below the rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

#include "json/text/simd.hpp"

#include "json/model/hash.hpp"
#include "json/model/map.hpp"
#include "json/read/key_guess.hpp"
#include "json/read/string_text.hpp"

namespace tarvik::json::reading {
// Internal to each file that includes it, like all reader layers: the compiler then inlines
// and specializes them as freely as code of that one file (in a named namespace it inlines
// less, and the reader is measurably slower).
namespace {  // NOLINT(cert-dcl59-cpp)

// The keys of an object below the rows, as written, kept as a run of the shape keys to be
// expected in the next object that begins with the same key. Only objects whose keys are known
// distinct are kept: their keys are also spelled as the writer spells them, so a key taken from
// a shape changes neither.
struct KeyShape {
  std::uint32_t begin;
  std::uint32_t count;
};

// Known text that comes before a value, as one block of bytes to be compared with the input at
// once: a key with its closing quote, or a member's comma, quoted key and colon. Made once per
// key, it spares each comparison finding where the key lies and how long it is. Only a key whose
// text is the input's own has one, and only while it fits the block (`mask` is 0 otherwise):
// the key's bytes then hold no quote, backslash or control byte. Left unset where it is declared
// alone: a reader keeps many, set only as they are made.
struct KeyProbe {
  std::array<char, 16> bytes;  // the text, then zeros
  std::uint32_t mask;          // the bytes compared, by position
  std::uint32_t size;          // of the text
};

class KeyReader : public StringReader {
 protected:
  KeyReader(std::string_view input, Arena& arena) : StringReader(input, arena) {}

  // The key at the read position when it is the one take_guessed_key expects from `keys`:
  // consumed with its closing quote, and `expected` moves past it.
  template <class Keyed>
  bool take_expected_key(std::span<const Keyed> keys, std::size_t& expected,
                         std::string_view& key) {
    return take_guessed_key(keys.size(), expected, [&](std::size_t i) {
      if (!take_known_key(key_of(keys[i]))) return false;
      key = key_of(keys[i]);
      return true;
    });
  }

  static std::string_view key_of(const Map::Entry& entry) { return entry.key; }
  static std::string_view key_of(std::string_view key) { return key; }

  // Consumes `key` and its closing quote if they come next. A key whose text lies in the input
  // was read without escapes, so it holds no quote, backslash or control byte and is valid
  // UTF-8: the same bytes before a quote are a string with that text, which reading it again
  // would find without fault. A key with escapes is not taken: its bytes in the input differ.
  // A short key is compared with its quote in one block: the key's text in the input is
  // followed by its own closing quote.
  bool take_known_key(std::string_view key) {
    if (!in_input(key) || !matches_known_key(pos_, key)) return false;
    pos_ += key.size() + 1;
    return true;
  }

  // Consumes a member's `,"key":` if it comes next: compared as its probe holds it where it can,
  // else as take_known_key compares the key, which `key_of()` gives only then.
  template <class KeyOf>
  [[gnu::always_inline]] bool take_member_key(const KeyProbe& member, KeyOf key_of) {
    if (TARVIK_SSE2 && member.mask != 0 && end_ - pos_ >= 16) [[likely]]
      return take_probe(member);
    const std::string_view key = key_of();
    const std::size_t size = key.size();
    if (static_cast<std::size_t>(end_ - pos_) <= size + 3 || pos_[0] != ',' || pos_[1] != '"' ||
        pos_[size + 3] != ':' || !in_input(key) || !matches_known_key(pos_ + 2, key)) {
      return false;
    }
    pos_ += size + 4;
    return true;
  }

  // The probe of `key` and its closing quote, and that of a member after another: `,"key":`.
  KeyProbe probe_of(std::string_view key) const { return probe_of(key, "", "\""); }
  KeyProbe member_probe_of(std::string_view key) const { return probe_of(key, ",\"", "\":"); }

  // Consumes the probe's text if it comes next; false where the probe cannot tell.
  [[gnu::always_inline]] bool take_probe([[maybe_unused]] const KeyProbe& probe) {
#if TARVIK_SSE2
    if (probe.mask != 0 && end_ - pos_ >= 16) {
      const __m128i same =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pos_)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(probe.bytes.data())));
      if ((~static_cast<std::uint32_t>(_mm_movemask_epi8(same)) & probe.mask) != 0) return false;
      pos_ += probe.size;
      return true;
    }
#endif
    return false;
  }

  // Consumes the key `key_of()` gives and its closing quote if they come next, comparing them as
  // `probe` holds them where it can (take_known_key otherwise, the only use of the key).
  template <class KeyOf>
  [[gnu::always_inline]] bool take_probed_key(const KeyProbe& probe, KeyOf key_of) {
    if (TARVIK_SSE2 && probe.mask != 0 && end_ - pos_ >= 16) return take_probe(probe);
    return take_known_key(key_of());
  }

  // Whether `key` and its closing quote stand at `at`. A short key is compared with its quote in
  // one block, where the input and the key's text (followed by its own quote) allow the loads.
  bool matches_known_key(const char* at, std::string_view key) const {
    const std::size_t size = key.size();
#if TARVIK_SSE2
    if (size < 16 && end_ - at >= 16 && end_ - key.data() >= 16) {
      const __m128i same =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(key.data())));
      const auto unequal = ~static_cast<std::uint32_t>(_mm_movemask_epi8(same));
      return (unequal & ((std::uint32_t{2} << size) - 1)) == 0;  // the quote too
    }
#endif
    return static_cast<std::size_t>(end_ - at) > size && at[size] == '"' &&
           same_bytes(at, key.data(), size);
  }

  // Whether `key` lies in the input, so that its text is the input's own.
  bool in_input(std::string_view key) const {
    const auto start = reinterpret_cast<std::uintptr_t>(key.data());
    return start >= reinterpret_cast<std::uintptr_t>(begin_) &&
           start + key.size() <= reinterpret_cast<std::uintptr_t>(end_);
  }

  // `before`, `key` and `after` as one probe.
  KeyProbe probe_of(std::string_view key, std::string_view before, std::string_view after) const {
    KeyProbe probe{};
    const std::size_t size = before.size() + key.size() + after.size();
    if (size > probe.bytes.size() || !in_input(key)) return probe;
    char* at = probe.bytes.data();
    for (const std::string_view part : {before, key, after}) {
      std::memcpy(at, part.data(), part.size());
      at += part.size();
    }
    probe.size = static_cast<std::uint32_t>(size);
    probe.mask = static_cast<std::uint32_t>((std::uint64_t{1} << size) - 1);
    return probe;
  }

  // Smaller objects are read as fast key by key: they have few keys to compare.
  static constexpr std::size_t kLeastShapeKeys = 8;
  // Shapes are found by their first key; one per slot, the last one seen.
  static constexpr int kShapeSlotBits = 6;
  // shape_keys_ only grows, so that a shape stays valid while its object is read; it stops
  // taking shapes at this many keys.
  static constexpr std::size_t kMostShapeKeys = std::size_t{1} << 16;

  static std::size_t shape_slot(std::string_view first_key) {
    return static_cast<std::size_t>((key_fingerprint(first_key) * 0x9E3779B97F4A7C15ULL) >>
                                    (64 - kShapeSlotBits));
  }

  std::span<const std::string_view> shape_keys(const KeyShape& shape) const {
    return std::span<const std::string_view>(shape_keys_).subspan(shape.begin, shape.count);
  }

  KeyShape shape_beginning_with(std::string_view first_key) const {
    if (shape_keys_.empty()) return {};
    const KeyShape& shape = key_shapes_[shape_slot(first_key)];
    if (shape.count == 0 || !same_key(shape_keys_[shape.begin], first_key)) return {};
    return shape;
  }

  // Keeps `keys`, those of the object just read, as the shape of the objects beginning with its
  // first key.
  void remember_shape(std::span<const std::string_view> keys) {
    if (keys.size() > kMostShapeKeys - shape_keys_.size()) return;
    if (shape_keys_.empty()) key_shapes_ = {};
    KeyShape& shape = key_shapes_[shape_slot(keys.front())];
    shape.begin = static_cast<std::uint32_t>(shape_keys_.size());
    shape.count = static_cast<std::uint32_t>(keys.size());
    shape_keys_.insert(shape_keys_.end(), keys.begin(), keys.end());
  }

  // Before the arena the shapes' keys may lie in is released.
  void forget_shapes() {
    shape_keys_.clear();
  }

  // Cleared when the first shape is kept: a reader that never meets a large object never pays
  // for it, and no slot is read while no shape is kept.
  std::array<KeyShape, std::size_t{1} << kShapeSlotBits> key_shapes_;
  std::vector<std::string_view> shape_keys_;  // the keys of every shape, run after run
};

}  // namespace
}  // namespace tarvik::json::reading
