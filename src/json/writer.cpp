// The JSON writer. One template over the output sink writes both the output buffer and message
// text, so the two can never differ by a byte.
#include "json/writer.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "json/float_digits.hpp"
#include "json/map.hpp"

namespace tarvik::json {
namespace {

static_assert(std::endian::native == std::endian::little, "digit words put the first digit low");

// The escape letter of each byte; 0 copies the byte unchanged, 'u' writes \u00XX.
constexpr std::array<char, 256> ESCAPE = [] {
  std::array<char, 256> table{};
  for (int byte = 0; byte < 0x20; ++byte)
    table[byte] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}();

constexpr char HEX_DIGITS[] = "0123456789abcdef";

// "00", "01", ..., "99" back to back.
constexpr std::array<char, 200> DECIMAL_PAIRS = [] {
  std::array<char, 200> table{};
  for (int i = 0; i < 100; ++i) {
    table[2 * i] = static_cast<char>('0' + i / 10);
    table[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return table;
}();

// "e-324" to "e+308": the exponent part of a float, indexed by the exponent + 324.
struct ExponentText {
  char bytes[7];
  std::uint8_t length;
};
constexpr int kMinDecimalExponent = -324;
constexpr int kMaxDecimalExponent = 308;
constexpr std::array<ExponentText, kMaxDecimalExponent - kMinDecimalExponent + 1> EXPONENT_TEXT =
    [] {
      std::array<ExponentText, kMaxDecimalExponent - kMinDecimalExponent + 1> table{};
      for (int e = kMinDecimalExponent; e <= kMaxDecimalExponent; ++e) {
        ExponentText& entry = table[e - kMinDecimalExponent];
        int magnitude = e < 0 ? -e : e;
        const int digits = magnitude >= 100 ? 3 : magnitude >= 10 ? 2 : 1;
        entry.bytes[0] = 'e';
        entry.bytes[1] = e < 0 ? '-' : '+';
        for (int i = digits - 1; i >= 0; --i) {
          entry.bytes[2 + i] = static_cast<char>('0' + magnitude % 10);
          magnitude /= 10;
        }
        entry.length = static_cast<std::uint8_t>(2 + digits);
      }
      return table;
    }();

// The eight decimal digits of n < 10^8 as byte values 0..9, the first digit in the lowest byte.
// Both halves are split in parallel: four digits into two pairs, each pair into two digits, with
// multiply-shift divisions exact in their ranges (v < 10^4 for /100, v < 100 for /10).
[[gnu::always_inline]] inline std::uint64_t eight_digit_values(std::uint32_t n) {
  const std::uint64_t quads = (n / 10000) | (static_cast<std::uint64_t>(n % 10000) << 32);
  const std::uint64_t hundreds = ((quads * 10486) >> 20) & 0x0000007F'0000007FULL;
  const std::uint64_t pairs = hundreds | ((quads - hundreds * 100) << 16);
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F'000F000FULL;
  return tens | ((pairs - tens * 10) << 8);
}

using u128 = unsigned __int128;

// Room write_float_text needs: the text is at most kMaxFloatText bytes, but it is laid out with
// fixed-width stores that may reach past its end.
constexpr std::size_t kFloatRoom = 40;

void store_16(char* at, u128 bytes) {
  std::memcpy(at, &bytes, 16);
}

// Lays out significand × 10^exponent at `p` and returns the end of the text. The digits stay in
// registers and reach memory only through stores at their final place; reading back a staged
// copy would stall on store forwarding. Needs 34 bytes of room at `p`.
char* write_decimal(DecimalFloat decimal, char* p) {
  constexpr std::uint64_t kTen8 = 100'000'000;
  constexpr std::uint64_t kTen16 = kTen8 * kTen8;
  constexpr std::uint64_t kAsciiZeros = 0x30303030'30303030ULL;
  // At most 17 digits: the first alone, then two words of eight. Digit values sit one per byte,
  // the first digit in the lowest byte, so leading zeros are low bytes and trailing zeros high.
  const std::uint64_t first = decimal.significand / kTen16;
  const std::uint64_t rest = decimal.significand - first * kTen16;
  const std::uint64_t high = eight_digit_values(static_cast<std::uint32_t>(rest / kTen8));
  const std::uint64_t low = eight_digit_values(static_cast<std::uint32_t>(rest % kTen8));
  const int trailing_zeros = low != 0    ? std::countl_zero(low) / 8
                             : high != 0 ? 8 + std::countl_zero(high) / 8
                                         : 16;

  // The significant digits d1..d16 in `head`, d17 (or a zero) in `last`.
  u128 head = 0;
  std::uint64_t last = 0;
  int n = 0;  // number of significant digits
  int e = 0;  // exponent of d1
  if (first != 0) {
    head = first | (static_cast<u128>(high) << 8) | (static_cast<u128>(low) << 72);
    last = low >> 56;
    n = 17 - trailing_zeros;
    e = decimal.exponent + 16;
  } else {
    const int leading_zeros =
        high != 0 ? std::countr_zero(high) / 8 : 8 + std::countr_zero(low) / 8;
    head = (high | (static_cast<u128>(low) << 64)) >> (8 * leading_zeros);
    n = 16 - trailing_zeros - leading_zeros;
    e = decimal.exponent + 15 - leading_zeros;
  }
  head |= kAsciiZeros | (static_cast<u128>(kAsciiZeros) << 64);
  last |= '0';

  if (e < 0 && e >= -5) {
    std::memcpy(p, "0.000000", 8);
    store_16(p + 1 - e, head);
    p[17 - e] = static_cast<char>(last);
    return p + 1 - e + n;
  }
  if (e >= n - 1 && e <= 15) {
    // Integral: the digits, then zeros up to the point; head holds '0' past the digits.
    store_16(p, head);
    std::memcpy(p + e + 1, ".0", 2);
    return p + e + 3;
  }
  // A point after the first `split` digits: after the units digit, or after d1 before an exponent.
  const bool plain = e >= 0 && e <= 15;
  const int split = plain ? e + 1 : 1;
  const u128 tail =
      ((head >> 8) >> (8 * (split - 1))) | (static_cast<u128>(last) << (128 - 8 * split));
  store_16(p, head);
  p[split] = '.';
  store_16(p + split + 1, tail);
  if (plain) return p + n + 1;
  p += n > 1 ? n + 1 : 1;
  const ExponentText& exponent = EXPONENT_TEXT[e - kMinDecimalExponent];
  std::memcpy(p, exponent.bytes, sizeof exponent.bytes);
  return p + exponent.length;
}

// Writes the text of a float at `out`, which has kFloatRoom bytes, and returns its length.
std::size_t write_float_text(double value, char* out) {
  constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
  constexpr std::uint64_t kExponentBits = std::uint64_t{0x7FF} << 52;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if ((bits & kExponentBits) == kExponentBits) {
    std::memcpy(out, "null", 4);
    return 4;
  }
  char* p = out;
  if ((bits & kSignBit) != 0) *p++ = '-';
  const std::uint64_t magnitude = bits & ~kSignBit;
  if (magnitude == 0) {
    std::memcpy(p, "0.0", 3);
    return static_cast<std::size_t>(p + 3 - out);
  }
  return static_cast<std::size_t>(write_decimal(shortest_decimal(magnitude), p) - out);
}

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

// Output appended to the growable byte buffer, written in place.
class BufferSink {
 public:
  explicit BufferSink(Buffer& out) : out_(out) {}
  void put(char byte) { out_.push_back(byte); }
  void append(const char* bytes, std::size_t count) {
    out_.reserve_more(count);
    copy_bytes(out_.write_position(), bytes, count);
    out_.commit(count);
  }
  // Room for `count` bytes at the end; commit says how many were written.
  char* claim(std::size_t count) {
    out_.reserve_more(count);
    return out_.write_position();
  }
  void commit(std::size_t count) { out_.commit(count); }

 private:
  Buffer& out_;
};

// Output appended to message text, each piece passed on unchanged.
class WriterFormatter {
 public:
  explicit WriterFormatter(std::string& out) : out_(out) {}
  void put(char byte) { out_.push_back(byte); }
  void append(const char* bytes, std::size_t count) { out_.append(bytes, count); }
  char* claim(std::size_t count) {
    claimed_at_ = out_.size();
    out_.resize(claimed_at_ + count);
    return out_.data() + claimed_at_;
  }
  void commit(std::size_t count) { out_.resize(claimed_at_ + count); }

 private:
  std::string& out_;
  std::size_t claimed_at_ = 0;
};

template <class Sink>
void write_char_escape(char escape, unsigned char byte, Sink& out) {
  if (escape != 'u') {
    const char text[2] = {'\\', escape};
    out.append(text, 2);
    return;
  }
  const char text[6] = {'\\', 'u', '0', '0', HEX_DIGITS[byte >> 4], HEX_DIGITS[byte & 0xF]};
  out.append(text, 6);
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

// The position of the first byte from `from` on that needs an escape, or `size` if none does.
// Plain text is skipped eight bytes at a time; the table decides the tail byte by byte.
std::size_t find_escape(const char* data, std::size_t from, std::size_t size) {
  std::size_t i = from;
  for (; size - i >= 8; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, 8);
    const std::uint64_t mask = escape_mask(word);
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask) / 8);
  }
  for (; i < size; ++i) {
    if (ESCAPE[static_cast<unsigned char>(data[i])] != 0) return i;
  }
  return size;
}

template <class Sink>
void serialize_str(std::string_view text, Sink& out) {
  const char* const data = text.data();
  const std::size_t size = text.size();
  std::size_t escape_at = find_escape(data, 0, size);
  // Most strings need no escape: quotes and text then take one claim of the output.
  char* const at = out.claim(size + 2);
  at[0] = '"';
  copy_bytes(at + 1, data, escape_at);
  if (escape_at == size) {
    at[size + 1] = '"';
    out.commit(size + 2);
    return;
  }
  out.commit(escape_at + 1);
  while (escape_at < size) {
    const auto byte = static_cast<unsigned char>(data[escape_at]);
    write_char_escape(ESCAPE[byte], byte, out);
    const std::size_t run_start = escape_at + 1;
    escape_at = find_escape(data, run_start, size);
    out.append(data + run_start, escape_at - run_start);
  }
  out.put('"');
}

// Formats from the end of a 20-byte scratch, four digits per step, then copies one block.
template <class Sink>
void write_integer(std::uint64_t magnitude, bool negative, Sink& out) {
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
  out.append(p, static_cast<std::size_t>(end - p));
}

template <class Sink>
void write_number(Number number, Sink& out) {
  switch (number.form()) {
    case NumberForm::NonNegative:
      write_integer(number.as_non_negative(), false, out);
      return;
    case NumberForm::Negative:
      // Two's complement negation gives the magnitude, including that of the smallest value.
      write_integer(0 - static_cast<std::uint64_t>(number.as_negative()), true, out);
      return;
    case NumberForm::Float:
      break;
  }
  char* const at = out.claim(kFloatRoom);
  out.commit(write_float_text(number.as_float(), at));
}

// Recurses once per nesting level; the reader bounds the depth of every document.
template <class Sink>
void write_value(const Value& value, Sink& out) {
  switch (value.kind()) {
    case Kind::Null:
      out.append("null", 4);
      return;
    case Kind::Bool:
      if (value.as_bool()) {
        out.append("true", 4);
      } else {
        out.append("false", 5);
      }
      return;
    case Kind::Number:
      write_number(value.as_number(), out);
      return;
    case Kind::String:
      serialize_str(value.as_string(), out);
      return;
    case Kind::Array: {
      out.put('[');
      bool first = true;
      for (const Value& element : value.as_array()) {
        if (!first) out.put(',');
        first = false;
        write_value(element, out);
      }
      out.put(']');
      return;
    }
    case Kind::Object: {
      out.put('{');
      bool first = true;
      for (const Map::Entry& entry : value.as_object()) {
        if (!first) out.put(',');
        first = false;
        serialize_str(entry.key, out);
        out.put(':');
        write_value(entry.value, out);
      }
      out.put('}');
      return;
    }
  }
}

}  // namespace

std::size_t write_float(double value, char* out) {
  char text[kFloatRoom];
  const std::size_t length = write_float_text(value, text);
  std::memcpy(out, text, length);
  return length;
}

void serialize_value(const Value& value, Buffer& out) {
  BufferSink sink(out);
  write_value(value, sink);
}

void display_value(const Value& value, std::string& out) {
  WriterFormatter sink(out);
  write_value(value, sink);
}

}  // namespace tarvik::json
