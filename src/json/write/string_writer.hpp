// The writer's strings: a text written with its escapes, sixteen bytes at a time, and short texts
// copied with a few word moves; templates over the writer's output sink.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "json/text/simd.hpp"

#include "json/text/escape_text.hpp"
#include "json/text/first_bytes.hpp"

namespace tarvik::json {
// Internal to each file that includes it (the writer): inlined and specialized freely there.
namespace {  // NOLINT(cert-dcl59-cpp)

// Copies a short run with a few overlapping word moves instead of a call; long runs use memcpy.
inline void copy_bytes(char* to, const char* from, std::size_t count) {
  if (count > 16) {
    std::memcpy(to, from, count);
  } else if (count >= 8) {
    std::uint64_t head;
    std::uint64_t tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + count - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + count - 8, &tail, 8);
  } else if (count >= 4) {
    std::uint32_t head;
    std::uint32_t tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + count - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + count - 4, &tail, 4);
  } else if (count > 0) {
    to[0] = from[0];
    to[count / 2] = from[count / 2];
    to[count - 1] = from[count - 1];
  }
}

// The functions below take the output position `at` and the sink to ask for room before they
// store (see the writer's sinks).

// Writes the escape of `byte` (at most 6 bytes) at `at`.
inline char* write_char_escape(char escape, unsigned char byte, char* at) {
  at[0] = '\\';
  at[1] = escape;
  if (escape != 'u') return at + 2;
  const char hex[4] = {'0', '0', HEX_DIGITS[byte >> 4], HEX_DIGITS[byte & 0xF]};
  std::memcpy(at + 2, hex, 4);
  return at + 6;
}

// A high bit in each byte of the word that is below 0x20, a quotation mark or a backslash. Bits
// above the lowest may be false alarms (a borrow runs upwards), the lowest one never is.
inline std::uint64_t escape_mask(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x01010101'01010101ULL;
  constexpr std::uint64_t kHighBits = 0x80808080'80808080ULL;
  const std::uint64_t quote = word ^ (kOnes * '"');
  const std::uint64_t backslash = word ^ (kOnes * '\\');
  const std::uint64_t below_space = (word - kOnes * 0x20) & ~word;
  const std::uint64_t is_quote = (quote - kOnes) & ~quote;
  const std::uint64_t is_backslash = (backslash - kOnes) & ~backslash;
  return (below_space | is_quote | is_backslash) & kHighBits;
}

// The position of the first byte from `from` on that needs an escape, or `size` if none does,
// for the last bytes of a text (fewer than sixteen): a word of eight, then four to seven bytes as
// one word of two overlapping halves; only a word with an escape goes to the table byte by byte.
// Nothing is read past the end of the text.
inline std::size_t find_escape(const char* data, std::size_t from, std::size_t size) {
  std::size_t i = from;
  if (size - i >= 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, 8);
    const std::uint64_t mask = escape_mask(word);
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask) / 8);
    i += 8;
  }
  if (size - i >= 4) {
    std::uint32_t head;
    std::uint32_t tail;
    std::memcpy(&head, data + i, 4);
    std::memcpy(&tail, data + size - 4, 4);
    if (escape_mask(head | (static_cast<std::uint64_t>(tail) << 32)) == 0) return size;
  }
  for (; i < size; ++i) {
    if (ESCAPE[static_cast<unsigned char>(data[i])] != 0) return i;
  }
  return size;
}

// Copies fewer than sixteen bytes to `to` if none of them needs an escape, and says whether it
// did. The words that are checked are the words that are stored.
[[gnu::always_inline]] inline bool copy_if_plain(const char* from, std::size_t count, char* to) {
  if (count >= 8) {
    std::uint64_t head;
    std::uint64_t tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + count - 8, 8);
    if ((escape_mask(head) | escape_mask(tail)) != 0) return false;
    std::memcpy(to, &head, 8);
    std::memcpy(to + count - 8, &tail, 8);
    return true;
  }
  if (count >= 4) {
    std::uint32_t head;
    std::uint32_t tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + count - 4, 4);
    if (escape_mask(head | (static_cast<std::uint64_t>(tail) << 32)) != 0) return false;
    std::memcpy(to, &head, 4);
    std::memcpy(to + count - 4, &tail, 4);
    return true;
  }
  if (count == 0) return true;
  // One to three bytes: the first, middle and last cover them all.
  const char first = from[0];
  const char middle = from[count / 2];
  const char last = from[count - 1];
  if ((ESCAPE[static_cast<unsigned char>(first)] | ESCAPE[static_cast<unsigned char>(middle)] |
       ESCAPE[static_cast<unsigned char>(last)]) != 0)
    return false;
  to[0] = first;
  to[count / 2] = middle;
  to[count - 1] = last;
  return true;
}

// Writes the last bytes of a text, from `from` on (fewer than sixteen), with their escapes. `at`
// has room for them as they are.
template <class Sink>
char* write_escaped_tail(const char* data, std::size_t from, std::size_t size, char* at,
                         Sink& out) {
  std::size_t escape_at = find_escape(data, from, size);
  copy_bytes(at, data + from, escape_at - from);
  at += escape_at - from;
  while (escape_at < size) {
    const auto byte = static_cast<unsigned char>(data[escape_at]);
    const std::size_t run_start = escape_at + 1;
    at = out.room(at, 6 + (size - run_start) + 1);
    at = write_char_escape(ESCAPE[byte], byte, at);
    escape_at = find_escape(data, run_start, size);
    copy_bytes(at, data + run_start, escape_at - run_start);
    at += escape_at - run_start;
  }
  return at;
}

// Any text: blocks of sixteen, then the last bytes, with escapes. `at` has room for the quotes,
// the text as it is and one block stored past its end; each escape asks for its extra bytes.
template <class Sink>
[[gnu::noinline]] char* serialize_str_blocks(std::string_view text, char* at, Sink& out) {
  const char* const data = text.data();
  const std::size_t size = text.size();
  *at++ = '"';
  std::size_t i = 0;
#if TARVIK_SSE2
  if (size >= 16) {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i last_control = _mm_set1_epi8(0x1F);
    // Blocks of sixteen are stored as they are and then checked, so plain text is read once.
    while (size - i >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(at), bytes);
      const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(bytes, last_control), bytes);
      const __m128i special =
          _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash));
      const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, special)));
      if (mask == 0) {
        at += 16;
        i += 16;
        continue;
      }
      const int plain = std::countr_zero(mask);
      at += plain;
      i += static_cast<std::size_t>(plain);
      const auto byte = static_cast<unsigned char>(data[i]);
      ++i;
      at = out.room(at, 6 + (size - i) + 1 + 16);
      at = write_char_escape(ESCAPE[byte], byte, at);
    }
  }
  if (copy_if_plain(data + i, size - i, at)) {
    at += size - i;
  } else {
    at = write_escaped_tail(data, i, size, at, out);
  }
#else
  // Byte by byte; each escape asks for its extra bytes, as in write_escaped_tail.
  for (; i < size; ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    if (ESCAPE[byte] == 0) {
      *at++ = static_cast<char>(byte);
      continue;
    }
    at = out.room(at, 6 + (size - i - 1) + 1);
    at = write_char_escape(ESCAPE[byte], byte, at);
  }
#endif
  *at++ = '"';
  return at;
}

// Keys and most values are short and plain: those take the inline path, the rest the general one.
template <class Sink>
[[gnu::always_inline]] inline char* serialize_str(std::string_view text, char* at, Sink& out) {
  const std::size_t size = text.size();
  at = out.room(at, size + 2 + 16);
  if (size < 16 && copy_if_plain(text.data(), size, at + 1)) {
    at[0] = '"';
    at[size + 1] = '"';
    return at + size + 2;
  }
  return serialize_str_blocks(text, at, out);
}

// A text that needs no escape, copied within its bounds: sixteen bytes at a time, the last
// sixteen overlapping those before, or a few words for a short text.
template <class Sink>
[[gnu::always_inline]] inline char* serialize_plain_str(std::string_view text, char* at,
                                                        Sink& out) {
  const char* const data = text.data();
  const std::size_t size = text.size();
  at = out.room(at, size + 2);
  at[0] = '"';
#if TARVIK_SSE2
  if (size <= 16) {
    copy_bytes(at + 1, data, size);
  } else {
    for (std::size_t i = 0; i < size - 16; i += 16)
      store_16(at + 1 + i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)));
    store_16(at + 1 + size - 16,
             _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + size - 16)));
  }
#else
  copy_bytes(at + 1, data, size);
#endif
  at[size + 1] = '"';
  return at + size + 2;
}

}  // namespace
}  // namespace tarvik::json
