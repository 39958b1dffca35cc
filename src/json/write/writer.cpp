// The JSON writer. One template over the output sink writes both the output buffer and message
// text, so the two can never differ by a byte.
#include "json/write/writer.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "json/text/simd.hpp"

#include "json/model/map.hpp"
#include "json/read/deferred.hpp"
#include "json/text/escape_text.hpp"
#include "json/text/first_bytes.hpp"
#include "json/text/float_text.hpp"

namespace tarvik::json {
namespace {

// "00", "01", ..., "99" back to back.
constexpr std::array<char, 200> DECIMAL_PAIRS = [] {
  std::array<char, 200> table{};
  for (int i = 0; i < 100; ++i) {
    table[2 * i] = static_cast<char>('0' + i / 10);
    table[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return table;
}();

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

// The writers below carry the output position in a local pointer `at` and ask the sink for room
// before they store. A sink's own fields are read only to check for room: bytes stored through a
// char pointer may alias any object in memory, so a position kept there would be reloaded and
// stored again after every byte.

// Output appended to the growable byte buffer, written in place.
class BufferSink {
 public:
  explicit BufferSink(Buffer& out) : out_(out), limit_(out.write_position() + room_left()) {}
  char* start() const { return out_.write_position(); }
  // `at`, or where it moved to when the buffer grew, with room for `count` more bytes.
  char* room(char* at, std::size_t count) {
    if (count <= static_cast<std::size_t>(limit_ - at)) [[likely]]
      return at;
    return grow(at, count);
  }
  // Makes the bytes before `at` part of the buffer.
  void finish(char* at) { out_.commit(static_cast<std::size_t>(at - out_.write_position())); }

 private:
  std::size_t room_left() const { return out_.capacity() - out_.size(); }
  char* grow(char* at, std::size_t count) {
    finish(at);
    out_.reserve_more(count);
    limit_ = out_.write_position() + room_left();
    return out_.write_position();
  }

  Buffer& out_;
  char* limit_;
};

// Output appended to message text, each piece passed on unchanged. The string's size serves as
// the room while writing and is cut back to the text at the end.
class WriterFormatter {
 public:
  explicit WriterFormatter(std::string& out) : out_(out), limit_(out.data() + out.size()) {}
  char* start() const { return limit_; }
  char* room(char* at, std::size_t count) {
    if (count <= static_cast<std::size_t>(limit_ - at)) return at;
    const auto used = static_cast<std::size_t>(at - out_.data());
    out_.resize(std::max(used + count, 2 * out_.size()));
    limit_ = out_.data() + out_.size();
    return out_.data() + used;
  }
  void finish(char* at) { out_.resize(static_cast<std::size_t>(at - out_.data())); }

 private:
  std::string& out_;
  char* limit_;
};

// Writes the escape of `byte` (at most 6 bytes) at `at`.
char* write_char_escape(char escape, unsigned char byte, char* at) {
  at[0] = '\\';
  at[1] = escape;
  if (escape != 'u') return at + 2;
  const char hex[4] = {'0', '0', HEX_DIGITS[byte >> 4], HEX_DIGITS[byte & 0xF]};
  std::memcpy(at + 2, hex, 4);
  return at + 6;
}

// A high bit in each byte of the word that is below 0x20, a quotation mark or a backslash. Bits
// above the lowest may be false alarms (a borrow runs upwards), the lowest one never is.
std::uint64_t escape_mask(std::uint64_t word) {
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
std::size_t find_escape(const char* data, std::size_t from, std::size_t size) {
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

// Formats from the end of a 20-byte scratch, four digits per step, then copies one block.
template <class Sink>
char* write_integer(std::uint64_t magnitude, bool negative, char* at, Sink& out) {
  char scratch[20];
  char* const end = scratch + sizeof scratch;
  char* p = end;
  while (magnitude >= 10000) {
    const auto four = static_cast<std::uint32_t>(magnitude % 10000);
    magnitude /= 10000;
    p -= 4;
    std::memcpy(p, &DECIMAL_PAIRS[2 * (four / 100)], 2);
    std::memcpy(p + 2, &DECIMAL_PAIRS[2 * (four % 100)], 2);
  }
  auto rest = static_cast<std::uint32_t>(magnitude);
  if (rest >= 100) {
    p -= 2;
    std::memcpy(p, &DECIMAL_PAIRS[2 * (rest % 100)], 2);
    rest /= 100;
  }
  if (rest >= 10) {
    p -= 2;
    std::memcpy(p, &DECIMAL_PAIRS[2 * rest], 2);
  } else {
    *--p = static_cast<char>('0' + rest);
  }
  if (negative) *--p = '-';
  const auto length = static_cast<std::size_t>(end - p);
  at = out.room(at, sizeof scratch);
  copy_bytes(at, p, length);
  return at + length;
}

template <class Sink>
char* write_number(Number number, char* at, Sink& out) {
  switch (number.form()) {
    case NumberForm::NonNegative:
      return write_integer(number.as_non_negative(), false, at, out);
    case NumberForm::Negative:
      // Two's complement negation gives the magnitude, including that of the smallest value.
      return write_integer(0 - static_cast<std::uint64_t>(number.as_negative()), true, at, out);
    case NumberForm::Float:
      break;
  }
  at = out.room(at, kFloatRoom);
  return at + write_float_text(number.as_float(), at);
}

template <class Sink>
char* write_byte(char byte, char* at, Sink& out) {
  at = out.room(at, 1);
  *at = byte;
  return at + 1;
}

template <class Sink>
char* write_container(const Value& value, char* at, Sink& out);

// Scalars are written in place; only arrays and objects cost a call.
template <class Sink>
[[gnu::always_inline]] inline char* write_value(const Value& value, char* at, Sink& out) {
  switch (value.kind()) {
    case Kind::Null:
      at = out.room(at, 4);
      std::memcpy(at, "null", 4);
      return at + 4;
    case Kind::Bool:
      at = out.room(at, 5);
      if (value.as_bool()) {
        std::memcpy(at, "true", 4);
        return at + 4;
      }
      std::memcpy(at, "false", 5);
      return at + 5;
    case Kind::Number:
      return write_number(value.as_number(), at, out);
    case Kind::String:
      if (value.is_plain_string()) return serialize_plain_str(value.as_string(), at, out);
      return serialize_str(value.as_string(), at, out);
    case Kind::Array:
    case Kind::Object:
      break;
  }
  return write_container(value, at, out);
}

// Writes the pieces of a respelled deferred text as they come.
template <class Sink>
class SpellingWriter final : public DeferredSpeller {
 public:
  SpellingWriter(char* at, Sink& out) : at_(at), out_(out) {}

  void copy(std::string_view text) override {
    at_ = out_.room(at_, text.size());
    std::memcpy(at_, text.data(), text.size());
    at_ += text.size();
  }
  void string(std::string_view text) override { at_ = serialize_str(text, at_, out_); }
  void number(Number number) override { at_ = write_number(number, at_, out_); }

  char* at() const { return at_; }

 private:
  char* at_;
  Sink& out_;
};

// A deferred array or object: its text when that is what the value would be written as, the
// text respelled piece by piece when it holds no repeated key, otherwise the value built from
// it, written as usual.
template <class Sink>
char* write_deferred(const Value& value, char* at, Sink& out) {
  switch (value.deferred_form()) {
    case TextForm::Written: {
      const std::string_view text = value.deferred_text();
      at = out.room(at, text.size());
      std::memcpy(at, text.data(), text.size());
      return at + text.size();
    }
    case TextForm::Respelled: {
      SpellingWriter<Sink> writer(at, out);
      respell_deferred(value, writer);
      return writer.at();
    }
    case TextForm::Other:
      break;
  }
  Arena scratch;
  return write_container(build_deferred(value, scratch), at, out);
}

// Recurses once per nesting level; the reader bounds the depth of every document.
template <class Sink>
[[gnu::noinline]] char* write_container(const Value& value, char* at, Sink& out) {
  if (value.is_deferred()) return write_deferred(value, at, out);
  if (value.kind() == Kind::Array) {
    at = write_byte('[', at, out);
    bool first = true;
    for (const Value& element : value.as_array()) {
      if (!first) at = write_byte(',', at, out);
      first = false;
      at = write_value(element, at, out);
    }
    return write_byte(']', at, out);
  }
  at = write_byte('{', at, out);
  bool first = true;
  for (const Map::Entry& entry : value.as_object()) {
    if (!first) at = write_byte(',', at, out);
    first = false;
    at = serialize_str(entry.key, at, out);
    at = write_byte(':', at, out);
    at = write_value(entry.value, at, out);
  }
  return write_byte('}', at, out);
}

template <class Sink>
void write_document(const Value& value, Sink& out) {
  out.finish(write_value(value, out.start(), out));
}

}  // namespace

void serialize_value(const Value& value, Buffer& out) {
  BufferSink sink(out);
  write_document(value, sink);
}

void display_value(const Value& value, std::string& out) {
  WriterFormatter sink(out);
  write_document(value, sink);
}

}  // namespace tarvik::json
