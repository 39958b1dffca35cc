// The JSON reader: one forward pass over the payload, values built in the arena, positions
// computed only when an error is built.
#include "json/reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <emmintrin.h>  // SSE2, part of every x86-64 processor

#include "json/decimal_to_double.hpp"
#include "json/first_bytes.hpp"
#include "json/float_digits.hpp"
#include "json/map.hpp"
#include "json/pow10.hpp"
#include "json/string_scan.hpp"
#include "json/utf8.hpp"

namespace tarvik::json {

namespace {

// Digit values for \u escapes: HEX0[b] is the value of hex digit b, HEX1[b] that value shifted
// left by four; any other byte maps to -1, so or-ing two entries stays negative.
constexpr std::array<std::int16_t, 256> make_hex_table(int shift) {
  std::array<std::int16_t, 256> table{};
  for (int byte = 0; byte < 256; ++byte) {
    int digit = -1;
    if (byte >= '0' && byte <= '9') digit = byte - '0';
    if (byte >= 'a' && byte <= 'f') digit = byte - 'a' + 10;
    if (byte >= 'A' && byte <= 'F') digit = byte - 'A' + 10;
    table[byte] = static_cast<std::int16_t>(digit < 0 ? -1 : digit << shift);
  }
  return table;
}
constexpr std::array<std::int16_t, 256> HEX0 = make_hex_table(0);
constexpr std::array<std::int16_t, 256> HEX1 = make_hex_table(4);

// s * 10 + d overflows 64 bits exactly when s > this, or s == this and d > 5.
constexpr std::uint64_t kMaxSignificandDiv10 = std::numeric_limits<std::uint64_t>::max() / 10;
// x * 10 + d overflows 32 bits exactly when x > this, or x == this and d > 7.
constexpr std::int32_t kMaxExponentDiv10 = std::numeric_limits<std::int32_t>::max() / 10;
// A significand of at most this many digits stays below 10^19, so below 2^64.
constexpr std::ptrdiff_t kSafeSignificandDigits = 19;

// The reader's nesting budget: the 128th nested "[" or "{" on one path fails.
constexpr std::uint8_t kDepthBudget = 128;

inline bool is_digit(unsigned char byte) {
  return static_cast<unsigned char>(byte - '0') < 10;
}

inline bool is_whitespace(unsigned char byte) {
  constexpr std::uint64_t kWhitespace =
      (1ULL << ' ') | (1ULL << '\t') | (1ULL << '\n') | (1ULL << '\r');
  return byte <= ' ' && ((1ULL << byte) & kWhitespace) != 0;
}

inline std::int32_t saturate_exponent(std::int64_t exponent) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(exponent, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max()));
}

// INV_POW5[k] × 5^k = 1 modulo 2^64, so a multiple of 10^k divided by 10^k is a shift and a
// product.
constexpr std::array<std::uint64_t, 17> INV_POW5 = [] {
  std::array<std::uint64_t, 17> table{};
  std::uint64_t power = 1;
  for (std::uint64_t& entry : table) {
    // Newton's step x(2 - px) doubles the correct low bits; x = p is right to three bits.
    std::uint64_t inverse = power;
    for (int step = 0; step < 5; ++step)
      inverse *= 2 - power * inverse;
    entry = inverse;
    power *= 5;
  }
  return table;
}();

// The digits that start the sixteen bytes at `p`, at most `most` (0 to 16) of them: how many
// and their value.
struct DigitRun {
  int count;
  std::uint64_t value;
};

inline DigitRun read_digit_run(const char* p, int most) {
  const __m128i values =
      _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8('0'));
  // As an unsigned byte, a digit's value is at most 9 and every other byte's is above.
  const __m128i above_nine = _mm_subs_epu8(values, _mm_set1_epi8(9));
  const auto digits =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(above_nine, _mm_setzero_si128())));
  const int count = std::min(std::countr_zero(~digits), most);  // ~digits has bit 16 set
  // The run followed by zeros reads as a sixteen-digit number, the run's value × 10^(16-count):
  // neighbouring digits combine into pairs, fours and eights.
  const __m128i run = _mm_and_si128(values, first_bytes(count));
  const __m128i pairs =
      _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(run, _mm_set1_epi16(0xFF)), _mm_set1_epi16(10)),
                    _mm_srli_epi16(run, 8));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x0001'0064));  // × 100, × 1
  const __m128i eights =
      _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(0x0001'2710));  // × 10^4, × 1
  const auto halves = static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
  const std::uint64_t padded = (halves & 0xFFFF'FFFF) * 100'000'000 + (halves >> 32);
  const int zeros = 16 - count;
  return {count, (padded >> zeros) * INV_POW5[zeros]};
}

// The number of decimal digits of a value from 1 up: the bit width gives it to within one.
inline int decimal_digit_count(std::uint64_t value) {
  const int guess = (std::bit_width(value) * 1233) >> 12;  // 1233 / 2^12 is just above log10(2)
  return guess + (value >= POW10_U64[guess] ? 1 : 0);
}

// Whether a × 10^ea and b × 10^eb are the same decimal, for a and b from 1 up.
inline bool same_decimal(std::uint64_t a, int ea, std::uint64_t b, int eb) {
  if (ea < eb) {
    std::swap(a, b);
    std::swap(ea, eb);
  }
  // b has no more than 20 digits, so a × 10^(ea - eb) with a larger gap exceeds it.
  return ea - eb < static_cast<int>(POW10_U64.size()) &&
         static_cast<unsigned __int128>(a) * POW10_U64[ea - eb] == b;
}

// A number as the reader saw it: where its parts stand in the text and the decimal it spells.
// The marks are left from earlier numbers unless they lie past `digits`, which spares clearing
// them for every number: the read position only grows.
struct NumberText {
  explicit NumberText(const char* input)
      : digits(input), point(input), exponent_letter(input), truncation(input) {}
  bool has_point() const { return point > digits; }
  bool has_exponent() const { return exponent_letter > digits; }
  bool truncated() const { return truncation > digits; }

  const char* digits;           // the first digit, after any "-"
  const char* point;            // the "." if past `digits`
  const char* exponent_letter;  // the "e" or "E" if past `digits`
  const char* truncation;       // past `digits` when digits beyond 64 bits were dropped
  // Unless truncated, the number is significand × 10^exponent.
  std::uint64_t significand = 0;
  std::int32_t exponent = 0;
};

// 5^i for every i whose power fits 64 bits.
constexpr std::array<std::uint64_t, 28> POW5 = [] {
  std::array<std::uint64_t, 28> table{};
  std::uint64_t power = 1;
  for (std::uint64_t& entry : table) {
    entry = power;
    power *= 5;
  }
  return table;
}();

enum class Verdict { Written, NotWritten, Unknown };

// Whether the writer's digits for the double with bits `magnitude` are those of the text
// significand × 10^exponent that reads back as it, which has at least 16 digits, judged by the
// decimals next to the text; Unknown where that would take more than single correctly rounded
// operations on exact doubles and exact integer comparisons. (Within the exponents taken, the
// double is a normal one.)
//
// The decimals that read back as the double form an interval holding the text. The decimals
// with a digit less nearest to the text, just below and just above it, lie between it and any
// other shorter decimal, so if neither reads back, no shorter decimal does. Then the writer
// takes, among the decimals of the text's length that read back, the nearest to the double:
// the text, unless its neighbour on the double's side reads back and is nearer (a tie goes to
// the even last digit). A neighbour nearer to the double than the text always reads back, the
// interval reaching equally far to both sides, except below the lowest double of a binade.
Verdict judge_by_neighbours(std::uint64_t significand, int exponent, std::uint64_t magnitude) {
  using u128 = unsigned __int128;
  constexpr std::uint64_t kExactSignificand = std::uint64_t{1} << 53;
  constexpr int kExactPower = 22;
  constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
  const std::uint64_t last_digit = significand % 10;
  const std::uint64_t shorter = significand / 10;
  if (last_digit == 0 || shorter >= kExactSignificand || exponent < -kExactPower - 1 ||
      exponent >= kExactPower) {
    return Verdict::Unknown;
  }
  const auto reads_back = [magnitude](std::uint64_t decimal, int power) {
    const auto f = static_cast<double>(decimal);
    return std::bit_cast<std::uint64_t>(power >= 0 ? f * POW10[power] : f / POW10[-power]) ==
           magnitude;
  };
  if (reads_back(shorter, exponent + 1) || reads_back(shorter + 1, exponent + 1)) {
    return Verdict::NotWritten;
  }
  bool below_reads_back = true;
  bool above_reads_back = true;
  if (significand < kExactSignificand && exponent >= -kExactPower) {
    below_reads_back = reads_back(significand - 1, exponent);
    above_reads_back = reads_back(significand + 1, exponent);
    if (!below_reads_back && !above_reads_back) return Verdict::Written;
  } else if ((magnitude & kFraction) == 0) {
    return Verdict::Unknown;
  }
  // The double is m × 2^q; in units of the text's last digit it is D = m × 5^-exponent ×
  // 2^(q - exponent), compared with the significand scaled by 2^(exponent - q). With at least
  // 16 digits the scale stays within 64 bits.
  const int shift = static_cast<int>(magnitude >> 52) - 1075 - exponent;
  if (exponent >= 0 || shift >= 0 || shift < -64) return Verdict::Unknown;
  const std::uint64_t m = (magnitude & kFraction) | (kFraction + 1);
  const u128 scaled_double = static_cast<u128>(m) * POW5[-exponent];
  const u128 scaled_text = static_cast<u128>(significand) << -shift;
  const bool double_above = scaled_double > scaled_text;
  if (!(double_above ? above_reads_back : below_reads_back)) return Verdict::Written;
  const u128 distance = double_above ? scaled_double - scaled_text : scaled_text - scaled_double;
  const u128 half_step = static_cast<u128>(1) << (-shift - 1);
  return distance < half_step || (distance == half_step && significand % 2 == 0)
             ? Verdict::Written
             : Verdict::NotWritten;
}

// Whether significand × 10^exponent is the shortest decimal of the double with bits `magnitude`.
// Out of line: the judgements before it mostly decide without it.
[[gnu::noinline]] bool is_shortest_decimal(std::uint64_t significand, int exponent,
                                           std::uint64_t magnitude) {
  const DecimalFloat shortest = shortest_decimal(magnitude);
  return same_decimal(significand, exponent, shortest.significand, shortest.exponent);
}

// Whether the float text [number.digits, end) is exactly what write_float writes for the
// magnitude of `value`, which the text reads back as. The writer's text is fixed by the shortest
// decimal of the value: so the text must spell that decimal, in the writer's layout for it.
[[gnu::noinline]] bool is_written_float(const NumberText& number, const char* end, double value) {
  constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
  constexpr std::uint64_t kSmallestNormal = std::uint64_t{1} << 52;
  constexpr std::uint64_t kMostWrittenDigits = POW10_U64[17];
  const std::uint64_t magnitude = std::bit_cast<std::uint64_t>(value) & ~kSignBit;
  if (magnitude == 0) return end - number.digits == 3 && std::memcmp(number.digits, "0.0", 3) == 0;
  // A float always has a point or an exponent. Its digits, with the zeros of an integral plain
  // text, never reach 18.
  if ((!number.has_point() && !number.has_exponent()) || number.truncated() ||
      number.significand >= kMostWrittenDigits) {
    return false;
  }
  const int digit_count = decimal_digit_count(number.significand);
  // The exponent of the first digit; a non-zero double keeps the exponent far from its limits.
  const int first_exponent = digit_count + number.exponent - 1;
  if (number.has_exponent()) {
    const char* const letter = number.exponent_letter;
    // d[.ddd]e±x: one non-zero digit before any point, no zero last digit, a lowercase letter,
    // a sign always, no leading zero in the exponent, which is outside the plain range.
    const char* const integral_end = number.has_point() ? number.point : letter;
    if (integral_end - number.digits != 1 || *number.digits == '0' || letter[-1] == '0' ||
        letter[0] != 'e' || letter[1] != (first_exponent < 0 ? '-' : '+') || letter[2] == '0' ||
        (first_exponent >= -5 && first_exponent <= 15)) {
      return false;
    }
  } else {
    // ddd.ddd, 0.000ddd or ddd000.0: a zero last digit only in ".0".
    if (first_exponent < -5 || first_exponent > 15 || (end[-1] == '0' && end - number.point != 2)) {
      return false;
    }
  }
  // Distinct decimals of at most 15 digits never read back as one normal double (their spacing
  // exceeds the doubles' by a factor above 4), so such a text is the shortest of its value.
  if (digit_count <= 15 && magnitude >= kSmallestNormal) return true;
  if (const Verdict verdict = judge_by_neighbours(number.significand, number.exponent, magnitude);
      verdict != Verdict::Unknown) {
    return verdict == Verdict::Written;
  }
  return is_shortest_decimal(number.significand, number.exponent, magnitude);
}

// The reader's state for one parse. Every parse_* step returns false after storing the error of
// the first fault; callers then return false at once, so nothing more is read.
class Deserializer {
 public:
  Deserializer(std::string_view input, Arena& arena, Build build)
      : begin_(input.data()),
        end_(input.data() + input.size()),
        pos_(begin_),
        arena_(arena),
        build_(build) {}

  // One value that fills the whole input, which is known to be valid JSON: the text of a
  // deferred value.
  Value parse_whole_value() {
    Value value;
    if (!parse_any(value) || pos_ != end_) throw_not_one_value();
    return value;
  }

  // The input, the text of a deferred value without a repeated key, in the pieces that make
  // what the writer writes for its value: runs of the text that stay as they are, and the
  // strings and numbers that it spells otherwise. Whitespace is left out. No value is built and
  // nothing nests, so the depth of the text costs nothing here.
  void respell_whole_value(DeferredSpeller& out) {
    const char* run = pos_;
    const auto copy_run = [&](const char* until) {
      if (until != run) out.copy({run, static_cast<std::size_t>(until - run)});
    };
    while (pos_ != end_) {
      const char* const start = pos_;
      switch (*pos_) {
        case ' ':
        case '\t':
        case '\n':
        case '\r':
          copy_run(start);
          skip_whitespace();
          run = pos_;
          break;
        case '[':
        case ']':
        case '{':
        case '}':
        case ',':
        case ':':
          ++pos_;
          break;
        case '"': {
          ++pos_;
          std::string_view text;
          if (!parse_str(text, StringUse::Decoded)) throw_not_one_value();
          if (!escapes_as_written_) {
            copy_run(start);
            out.string(text);
            run = pos_;
          }
          break;
        }
        default: {
          Value scalar;
          if (!parse_any(scalar)) throw_not_one_value();
          if (scalar.kind() == Kind::Number && scalar.as_number().form() == NumberForm::Float &&
              !is_written_float(number_, pos_, scalar.as_number().as_float())) {
            copy_run(start);
            out.number(scalar.as_number());
            run = pos_;
          }
        }
      }
    }
    copy_run(pos_);
  }

  [[noreturn]] static void throw_not_one_value() {
    throw std::logic_error("deferred JSON text does not read back as one value");
  }

  Result<std::vector<Value>, Error> parse_value_list() {
    skip_whitespace();
    if (pos_ == end_) {
      fail_peek(ErrorCode::EofWhileParsingValue);
    } else if (*pos_ != '[') {
      peek_invalid_type();
    } else {
      --remaining_depth_;
      ++pos_;
      if (parse_elements()) {
        ++remaining_depth_;
        skip_whitespace();
        // The top-level elements are the bottom of the scratch stack, and nothing is above them.
        if (pos_ == end_) return std::move(elements_);
        fail_peek(ErrorCode::TrailingCharacters);
      }
    }
    return failure(std::move(*error_));
  }

  // Each line read as an element of the top-level array, with end_ at its line feed.
  Result<std::vector<Value>, Error> parse_value_lines() {
    const char* const input_end = end_;
    --remaining_depth_;
    for (const char* line = begin_; line != input_end; line = end_ + (end_ != input_end)) {
      end_ = static_cast<const char*>(std::memchr(line, '\n', input_end - line));
      if (end_ == nullptr) end_ = input_end;
      pos_ = line;
      skip_whitespace();
      if (pos_ == end_) continue;
      Value element;
      if (!parse_any(element)) break;
      skip_whitespace();
      if (pos_ != end_) {
        fail_peek(ErrorCode::TrailingCharacters);
        break;
      }
      elements_.push_back(element);
    }
    if (!error_) return std::move(elements_);
    return failure(std::move(*error_));
  }

 private:
  using Member = Map::Member;

  std::string_view input() const { return {begin_, static_cast<std::size_t>(end_ - begin_)}; }
  std::size_t read_position() const { return static_cast<std::size_t>(pos_ - begin_); }
  unsigned char peek() const { return static_cast<unsigned char>(*pos_); }

  // Compact text has no whitespace between tokens, so only its absence is checked inline;
  // laid-out text has runs of it (a line break and the indentation), taken a block at a time.
  void skip_whitespace() {
    if (pos_ != end_ && is_whitespace(peek())) skip_whitespace_run();
  }

  [[gnu::noinline]] void skip_whitespace_run() {
    while (end_ - pos_ >= 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos_));
      const __m128i blank = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(' ')),
                                                      _mm_cmpeq_epi8(block, _mm_set1_epi8('\n'))),
                                         _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\t')),
                                                      _mm_cmpeq_epi8(block, _mm_set1_epi8('\r'))));
      const auto other = static_cast<std::uint32_t>(_mm_movemask_epi8(blank)) ^ 0xFFFF;
      if (other != 0) {
        pos_ += std::countr_zero(other);
        return;
      }
      pos_ += 16;
    }
    while (pos_ != end_ && is_whitespace(peek()))
      ++pos_;
  }

  // Stamped with the read position (just past the byte consumed last).
  [[gnu::cold, gnu::noinline]] bool fail(ErrorCode code) {
    error_.emplace(error(input(), read_position(), code));
    return false;
  }

  // Stamped with the position of the next, unconsumed byte.
  [[gnu::cold, gnu::noinline]] bool fail_peek(ErrorCode code) {
    error_.emplace(peek_error(input(), read_position(), code));
    return false;
  }

  // deserialize_any: one value of any kind at the read position. Scalars are read in place;
  // arrays and objects, which recurse, out of line.
  [[gnu::always_inline]] bool parse_any(Value& out) {
    skip_whitespace();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
    switch (peek()) {
      case 'n':
      case 't':
      case 'f':
        return parse_literal(out);
      case '-':
        ++pos_;
        return parse_integer(false, out);
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        return parse_integer(true, out);
      case '"': {
        ++pos_;
        std::string_view text;
        if (!parse_str(text)) return false;
        out = string_had_escapes_ ? Value::string(text) : Value::plain_string(text);
        return true;
      }
      case '[':
      case '{':
        return parse_container(out);
      default:
        return fail_peek(ErrorCode::ExpectedSomeValue);
    }
  }

  // An array or object at the read position.
  [[gnu::noinline]] bool parse_container(Value& out) {
    if (*pos_ == '[') {
      if (defers_nested()) return defer_container(Kind::Array, out);
      return parse_array(out);
    }
    if (defers_nested() && remaining_depth_ != kRowDepth) {
      return defer_container(Kind::Object, out);
    }
    return parse_object(out);
  }

  // --- deferred values ------------------------------------------------------------------------
  // Below the rows nothing is built: arrays and objects are read with the same rules and
  // errors, and kept as their text. The text is canonical when the writer would write exactly
  // it: no whitespace, no escapes, every number in the form the writer gives it, no repeated
  // key. Without a repeated key it can at least be respelled piece by piece.

  // The depth budget left while the elements of the top-level array, the rows, are read.
  static constexpr std::uint8_t kRowDepth = kDepthBudget - 1;

  bool defers_nested() const { return build_ == Build::Rows; }

  bool defer_container(Kind kind, Value& out) {
    const char* const start = pos_;
    canonical_ = true;
    keys_distinct_ = true;
    if (!skip_container()) return false;
    const TextForm form = canonical_       ? TextForm::Written
                          : keys_distinct_ ? TextForm::Respelled
                                           : TextForm::Other;
    out = Value::deferred(kind, {start, static_cast<std::size_t>(pos_ - start)}, form);
    return true;
  }

  void skip_whitespace_noting() {
    const char* const before = pos_;
    skip_whitespace();
    if (pos_ != before) canonical_ = false;
  }

  // An array or object at the read position, validated like parse_array and parse_object.
  bool skip_container() {
    if (!enter_nested()) return false;
    const bool array = *pos_++ == '[';
    if (!(array ? skip_elements() : skip_members())) return false;
    ++remaining_depth_;
    return true;
  }

  bool skip_any() {
    skip_whitespace_noting();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
    switch (peek()) {
      case '[':
      case '{':
        return skip_container();
      case '"': {
        ++pos_;
        std::string_view text;
        if (!parse_str(text, StringUse::Checked)) return false;
        if (!escapes_as_written_) canonical_ = false;
        return true;
      }
      default: {
        Value scalar;
        if (!parse_any(scalar)) return false;
        if (canonical_ && scalar.kind() == Kind::Number) note_number_text(scalar);
        return true;
      }
    }
  }

  // An integer in range is written as the digits it was read from; any other number is written
  // by the float writer, which may spell it differently.
  void note_number_text(const Value& number) {
    if (number.as_number().form() != NumberForm::Float) return;
    if (!is_written_float(number_, pos_, number.as_number().as_float())) canonical_ = false;
  }

  bool skip_elements() {
    return read_elements<Whitespace::Noted>([this] { return skip_any(); });
  }

  bool skip_members() {
    skip_whitespace_noting();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
    const std::size_t keys_base = deferred_keys_.size();
    if (*pos_ != '}') {
      if (*pos_ != '"') return fail_peek(ErrorCode::KeyMustBeAString);
      // Objects that begin with the same key mostly go on with the same keys: those of the last
      // such object are expected, and taken without reading them again.
      KeyShape shape;
      std::size_t expected = 1;
      bool as_shape = false;  // every key so far is the shape's, in the shape's order
      for (;;) {
        ++pos_;
        std::string_view key;
        if (!as_shape || !take_expected_key(shape_keys(shape), expected, key)) {
          const char* const key_start = pos_;
          if (!parse_str(key, StringUse::Checked)) return false;
          // Keys are compared by their text in the input: two spellings of one key would need
          // decoding, so a key spelled otherwise than the writer spells it may repeat another.
          if (!escapes_as_written_) canonical_ = keys_distinct_ = false;
          key = {key_start, static_cast<std::size_t>(pos_ - 1 - key_start)};
          as_shape = false;
          if (deferred_keys_.size() == keys_base) {
            shape = shape_beginning_with(key);
            as_shape = shape.count != 0;
          } else if (keys_distinct_) {
            note_key(key, keys_base);
          }
        }
        // A key taken from the shape differs from every key before it, all the shape's.
        deferred_keys_.push_back(key);
        skip_whitespace_noting();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
        if (*pos_ != ':') return fail_peek(ErrorCode::ExpectedColon);
        ++pos_;
        if (!skip_any()) return false;
        skip_whitespace_noting();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
        if (*pos_ == '}') break;
        if (*pos_ != ',') return fail_peek(ErrorCode::ExpectedObjectCommaOrEnd);
        ++pos_;
        skip_whitespace_noting();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
        if (*pos_ == '"') continue;
        return fail_peek(*pos_ == '}' ? ErrorCode::TrailingComma : ErrorCode::KeyMustBeAString);
      }
      if (!as_shape && keys_distinct_ && deferred_keys_.size() - keys_base >= kLeastShapeKeys) {
        remember_shape(keys_base);
      }
    }
    deferred_keys_.resize(keys_base);
    ++pos_;
    return true;
  }

  // A repeated key makes the written object differ from its text (the last value moves to the
  // first position). Keys are compared as written; an object with very many keys is simply
  // taken as one that may repeat a key.
  void note_key(std::string_view key, std::size_t keys_base) {
    constexpr std::size_t kMostKeysCompared = 64;
    if (deferred_keys_.size() - keys_base >= kMostKeysCompared) {
      canonical_ = keys_distinct_ = false;
      return;
    }
    for (std::size_t i = keys_base; i < deferred_keys_.size(); ++i) {
      if (same_key(deferred_keys_[i], key)) {
        canonical_ = keys_distinct_ = false;
        return;
      }
    }
  }

  // The keys of an object below the rows, as written, kept as a run of shape_keys_ to be
  // expected in the next object that begins with the same key. Only objects whose keys are
  // known distinct are kept: their keys are also spelled as the writer spells them, so a key
  // taken from a shape changes neither.
  struct KeyShape {
    std::uint32_t begin = 0;
    std::uint32_t count = 0;
  };

  // Smaller objects are read as fast key by key: they have few keys to compare.
  static constexpr std::size_t kLeastShapeKeys = 8;
  // Shapes are found by their first key; one per slot, the last one seen.
  static constexpr int kShapeSlotBits = 6;
  // shape_keys_ only grows, so that a shape stays valid while its object is read; it stops
  // taking shapes at this many keys.
  static constexpr std::size_t kMostShapeKeys = std::size_t{1} << 16;

  static std::size_t shape_slot(std::string_view first_key) {
    const std::uint64_t print =
        first_key.empty()
            ? 0
            : (std::uint64_t{first_key.size()} << 16) |
                  (std::uint64_t{static_cast<unsigned char>(first_key.front())} << 8) |
                  static_cast<unsigned char>(first_key.back());
    return static_cast<std::size_t>((print * 0x9E3779B97F4A7C15ULL) >> (64 - kShapeSlotBits));
  }

  std::span<const std::string_view> shape_keys(const KeyShape& shape) const {
    return std::span<const std::string_view>(shape_keys_).subspan(shape.begin, shape.count);
  }

  KeyShape shape_beginning_with(std::string_view first_key) const {
    const KeyShape& shape = key_shapes_[shape_slot(first_key)];
    if (shape.count == 0 || !same_key(shape_keys_[shape.begin], first_key)) return {};
    return shape;
  }

  // Keeps the keys of the object just read, from keys_base on, as the shape of the objects
  // beginning with its first key.
  void remember_shape(std::size_t keys_base) {
    const std::span<const std::string_view> keys =
        std::span<const std::string_view>(deferred_keys_).subspan(keys_base);
    if (keys.size() > kMostShapeKeys - shape_keys_.size()) return;
    KeyShape& shape = key_shapes_[shape_slot(keys.front())];
    shape.begin = static_cast<std::uint32_t>(shape_keys_.size());
    shape.count = static_cast<std::uint32_t>(keys.size());
    shape_keys_.insert(shape_keys_.end(), keys.begin(), keys.end());
  }

  // null, true or false, starting at its first letter.
  bool parse_literal(Value& out) {
    switch (*pos_++) {
      case 'n':
        out = Value::null();
        return parse_ident("ull");
      case 't':
        out = Value::boolean(true);
        return parse_ident("rue");
      default:
        out = Value::boolean(false);
        return parse_ident("alse");
    }
  }

  // The remaining letters of a literal whose first letter has been consumed.
  bool parse_ident(std::string_view rest) {
    if (static_cast<std::size_t>(end_ - pos_) >= rest.size() &&
        std::memcmp(pos_, rest.data(), rest.size()) == 0) {
      pos_ += rest.size();
      return true;
    }
    return parse_ident_slow(rest);
  }

  // Letter by letter, so the error stands just past the first wrong byte.
  [[gnu::cold, gnu::noinline]] bool parse_ident_slow(std::string_view rest) {
    for (const char letter : rest) {
      if (pos_ == end_) return fail(ErrorCode::EofWhileParsingValue);
      if (*pos_++ != letter) return fail(ErrorCode::ExpectedSomeIdent);
    }
    return true;
  }

  bool enter_nested() {
    if (--remaining_depth_ == 0) {
      ++remaining_depth_;
      return fail_peek(ErrorCode::RecursionLimitExceeded);
    }
    return true;
  }

  bool parse_array(Value& out) {
    if (!enter_nested()) return false;
    ++pos_;
    const std::size_t base = elements_.size();
    if (!parse_elements()) return false;
    ++remaining_depth_;
    const std::size_t count = elements_.size() - base;
    Value* block = nullptr;
    if (count != 0) {
      block = arena_.allocate_array<Value>(count);
      std::copy(elements_.begin() + static_cast<std::ptrdiff_t>(base), elements_.end(), block);
      elements_.resize(base);
    }
    out = Value::array({block, count});
    return true;
  }

  // next_element and end_seq: pushes the elements of an array whose "[" has been consumed onto
  // the scratch stack, then consumes the "]".
  bool parse_elements() {
    return read_elements<Whitespace::Skipped>([this] {
      Value element;
      if (!parse_any(element)) return false;
      elements_.push_back(element);
      return true;
    });
  }

  // Whitespace between the tokens of text kept as written makes it differ from the written text.
  enum class Whitespace { Skipped, Noted };

  template <Whitespace kWhitespace>
  void skip_between_tokens() {
    if constexpr (kWhitespace == Whitespace::Noted) {
      skip_whitespace_noting();
    } else {
      skip_whitespace();
    }
  }

  // The elements of an array whose "[" has been consumed, each read by `read_element`, then
  // the "]".
  template <Whitespace kWhitespace, class ReadElement>
  bool read_elements(ReadElement read_element) {
    skip_between_tokens<kWhitespace>();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingList);
    if (*pos_ != ']') {
      for (;;) {
        if (!read_element()) return false;
        skip_between_tokens<kWhitespace>();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingList);
        if (*pos_ == ']') break;
        if (*pos_ != ',') return fail_peek(ErrorCode::ExpectedListCommaOrEnd);
        ++pos_;
        skip_between_tokens<kWhitespace>();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
        if (*pos_ == ']') return fail_peek(ErrorCode::TrailingComma);
      }
    }
    ++pos_;
    return true;
  }

  bool parse_object(Value& out) {
    if (!enter_nested()) return false;
    ++pos_;
    const std::size_t base = members_.size();
    // Rows mostly repeat the keys of the row before them, in the same order.
    const bool row = remaining_depth_ == kRowDepth - 1;
    const std::span<const Map::Entry> expected_keys =
        row && previous_row_ != nullptr ? previous_row_->entries() : std::span<const Map::Entry>();
    bool keys_as_expected = true;
    if (!parse_members(expected_keys, keys_as_expected)) return false;
    ++remaining_depth_;
    // Built once all members are known; a repeated key keeps the position where it first
    // appeared and takes the last value. Keys all taken from the previous row's, in its order,
    // are distinct as the entries of that row are.
    const auto members = std::span<const Member>(members_).subspan(base, members_.size() - base);
    Map& map = keys_as_expected ? Map::from_distinct_members(arena_, members)
                                : Map::from_members(arena_, members);
    members_.resize(base);
    if (row) previous_row_ = &map;
    out = Value::object(map);
    return true;
  }

  // has_next_key and next_value: pushes the members of an object whose "{" has been consumed
  // onto the scratch stack, then consumes the "}". Keys found in `expected_keys`, in its order,
  // are taken without reading them again; `keys_as_expected` is cleared by any other key.
  bool parse_members(std::span<const Map::Entry> expected_keys, bool& keys_as_expected) {
    skip_whitespace();
    if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
    if (*pos_ != '}') {
      if (*pos_ != '"') return fail_peek(ErrorCode::KeyMustBeAString);
      std::size_t expected = 0;  // where in expected_keys the next key most likely stands
      for (;;) {
        ++pos_;
        std::string_view key;
        if (!take_expected_key(expected_keys, expected, key)) {
          keys_as_expected = false;
          if (!parse_str(key)) return false;
        }
        skip_whitespace();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
        if (*pos_ != ':') return fail_peek(ErrorCode::ExpectedColon);
        ++pos_;
        Value value;
        if (!parse_any(value)) return false;
        members_.push_back({key, value});
        skip_whitespace();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingObject);
        if (*pos_ == '}') break;
        if (*pos_ != ',') return fail_peek(ErrorCode::ExpectedObjectCommaOrEnd);
        ++pos_;
        skip_whitespace();
        if (pos_ == end_) return fail_peek(ErrorCode::EofWhileParsingValue);
        if (*pos_ == '"') continue;
        return fail_peek(*pos_ == '}' ? ErrorCode::TrailingComma : ErrorCode::KeyMustBeAString);
      }
    }
    ++pos_;
    return true;
  }

  // The key at the read position when it is keys[expected], or keys[expected + 1] (a member
  // that the row before held is missing here): consumed with its closing quote, and `expected`
  // moves past it. Keys taken this way stand in the order of `keys`.
  template <class Keyed>
  bool take_expected_key(std::span<const Keyed> keys, std::size_t& expected,
                         std::string_view& key) {
    for (std::size_t i = expected; i < keys.size() && i < expected + 2; ++i) {
      if (take_known_key(key_of(keys[i]))) {
        key = key_of(keys[i]);
        expected = i + 1;
        return true;
      }
    }
    return false;
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
    const std::size_t size = key.size();
    const auto start = reinterpret_cast<std::uintptr_t>(key.data());
    const bool in_input = start >= reinterpret_cast<std::uintptr_t>(begin_) &&
                          start + size <= reinterpret_cast<std::uintptr_t>(end_);
    if (!in_input) return false;
    if (size < 16 && end_ - pos_ >= 16 && end_ - key.data() >= 16) {
      const __m128i same =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pos_)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(key.data())));
      const auto unequal = ~static_cast<std::uint32_t>(_mm_movemask_epi8(same));
      if ((unequal & ((std::uint32_t{2} << size) - 1)) != 0) return false;  // the quote too
    } else if (static_cast<std::size_t>(end_ - pos_) <= size || pos_[size] != '"' ||
               !same_bytes(pos_, key.data(), size)) {
      return false;
    }
    pos_ += size + 1;
    return true;
  }

  // The body of a string whose opening quote has been consumed, up to and including the closing
  // quote. Without escapes the text is the run in the input itself; with escapes it is decoded
  // into the reused buffer and copied into the arena.
  bool parse_str(std::string_view& out) { return parse_str(out, StringUse::Kept); }

  // What becomes of a string with escapes: Kept, decoded and copied into the arena; Decoded,
  // decoded into the reused buffer, so that `out` is valid until the next string; Checked, only
  // validated, and `out` is then empty. Afterwards `string_had_escapes_` tells whether the
  // string held any escape, and `escapes_as_written_` whether every escape is the one the
  // writer would write for its character.
  //
  // Most strings are short and plain: one whose closing quote lies within the next sixteen
  // bytes, after plain ASCII bytes only, is taken from that one block here. Any other string
  // (longer, with an escape, a control or non-ASCII byte, or within sixteen bytes of the end of
  // the input) is read by parse_long_str from its start.
  enum class StringUse { Checked, Decoded, Kept };

  [[gnu::always_inline]] bool parse_str(std::string_view& out, StringUse use) {
    if (end_ - pos_ >= 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos_));
      const std::uint32_t ends = string_scan_detail::run_ends(block);
      const auto high = static_cast<std::uint32_t>(_mm_movemask_epi8(block));
      if (ends != 0) {
        const int length = std::countr_zero(ends);
        if (pos_[length] == '"' && (high & (ends - 1)) == 0) {
          escapes_as_written_ = true;
          string_had_escapes_ = false;
          out = {pos_, static_cast<std::size_t>(length)};
          pos_ += length + 1;
          return true;
        }
      }
    }
    return parse_long_str(out, use);
  }

  // parse_str for any string.
  [[gnu::noinline]] bool parse_long_str(std::string_view& out, StringUse use) {
    switch (use) {
      case StringUse::Checked:
        return parse_long_str<StringUse::Checked>(out);
      case StringUse::Decoded:
        return parse_long_str<StringUse::Decoded>(out);
      case StringUse::Kept:
        break;
    }
    return parse_long_str<StringUse::Kept>(out);
  }

  template <StringUse kUse>
  bool parse_long_str(std::string_view& out) {
    constexpr bool kDecode = kUse != StringUse::Checked;
    const char* run = pos_;
    escapes_as_written_ = true;
    // Escapes decode to whole characters, so the decoded text is valid UTF-8 exactly when every
    // raw run between them is; the fault is reported at the closing quote all the same.
    bool valid_utf8 = true;
    bool escaped = false;
    for (;;) {
      const StringRun scanned = scan_string_run(pos_, end_);
      pos_ = scanned.stop;
      if (scanned.non_ascii && valid_utf8) {
        valid_utf8 = is_valid_utf8({run, static_cast<std::size_t>(pos_ - run)});
      }
      if (pos_ == end_) return fail(ErrorCode::EofWhileParsingString);
      const unsigned char byte = peek();
      if (byte == '"') {
        const std::string_view text(run, static_cast<std::size_t>(pos_ - run));
        ++pos_;
        if (!valid_utf8) return fail(ErrorCode::InvalidUnicodeCodePoint);
        string_had_escapes_ = escaped;
        if (!escaped) {
          out = text;
        } else if constexpr (kDecode) {
          buffer_.append(text);
          out = kUse == StringUse::Kept ? arena_.copy_string(buffer_) : std::string_view(buffer_);
        } else {
          out = {};
        }
        return true;
      }
      if (byte != '\\') {
        ++pos_;
        return fail(ErrorCode::ControlCharacterWhileParsingString);
      }
      if constexpr (kDecode) {
        if (!escaped) buffer_.clear();
        buffer_.append(run, static_cast<std::size_t>(pos_ - run));
      }
      escaped = true;
      // Escapes often come in runs (text spelled in \u escapes): read on without a scan.
      do {
        ++pos_;
        if (!parse_escape<kDecode>()) return false;
      } while (pos_ != end_ && *pos_ == '\\');
      run = pos_;
    }
  }

  // The escape after a consumed backslash, appended to the buffer when decoding.
  template <bool kDecode>
  bool parse_escape() {
    if (pos_ == end_) return fail(ErrorCode::EofWhileParsingString);
    char decoded;
    switch (*pos_++) {
      case '"':
        decoded = '"';
        break;
      case '\\':
        decoded = '\\';
        break;
      case '/':
        decoded = '/';
        escapes_as_written_ = false;  // the writer leaves the solidus unescaped
        break;
      case 'b':
        decoded = '\b';
        break;
      case 'f':
        decoded = '\f';
        break;
      case 'n':
        decoded = '\n';
        break;
      case 'r':
        decoded = '\r';
        break;
      case 't':
        decoded = '\t';
        break;
      case 'u':
        return parse_unicode_escape<kDecode>();
      default:
        return fail(ErrorCode::InvalidEscape);
    }
    if constexpr (kDecode) buffer_ += decoded;
    return true;
  }

  // Four hex digits into a 16-bit code unit. With fewer than four bytes left the read position
  // moves to the end.
  bool decode_hex_escape(std::uint16_t& unit) {
    if (end_ - pos_ < 4) {
      pos_ = end_;
      return fail(ErrorCode::EofWhileParsingString);
    }
    const auto* digits = reinterpret_cast<const unsigned char*>(pos_);
    pos_ += 4;
    const int high = HEX1[digits[0]] | HEX0[digits[1]];
    const int low = HEX1[digits[2]] | HEX0[digits[3]];
    if ((high | low) < 0) return fail(ErrorCode::InvalidEscape);
    unit = static_cast<std::uint16_t>((high << 8) | low);
    return true;
  }

  // peek_or_eof and the consumption of one byte of the second half of a surrogate pair.
  bool expect_pair_byte(char expected) {
    if (pos_ == end_) return fail(ErrorCode::EofWhileParsingString);
    if (*pos_++ != expected) return fail(ErrorCode::UnexpectedEndOfHexEscape);
    return true;
  }

  template <bool kDecode>
  bool parse_unicode_escape() {
    std::uint16_t unit = 0;
    const char* const digits = pos_;
    if (!decode_hex_escape(unit)) return false;
    if (escapes_as_written_ && !is_written_unicode_escape(unit, digits)) {
      escapes_as_written_ = false;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail(ErrorCode::LoneLeadingSurrogateInHexEscape);
    if (unit < 0xD800 || unit > 0xDBFF) {
      if constexpr (kDecode) append_utf8(unit);
      return true;
    }
    std::uint16_t trail = 0;
    if (!expect_pair_byte('\\') || !expect_pair_byte('u') || !decode_hex_escape(trail)) {
      return false;
    }
    if (trail < 0xDC00 || trail > 0xDFFF) return fail(ErrorCode::LoneLeadingSurrogateInHexEscape);
    if constexpr (kDecode) {
      append_utf8(0x10000 + ((static_cast<char32_t>(unit - 0xD800) << 10) | (trail - 0xDC00)));
    }
    return true;
  }

  // The writer spells a control character without a letter escape as \u00 and two lowercase
  // hex digits, and writes every other character itself.
  static bool is_written_unicode_escape(std::uint16_t unit, const char* digits) {
    const bool has_letter =
        unit == '\b' || unit == '\t' || unit == '\n' || unit == '\f' || unit == '\r';
    if (unit >= 0x20 || has_letter) return false;
    constexpr char kHex[] = "0123456789abcdef";
    const char expected[4] = {'0', '0', kHex[unit >> 4], kHex[unit & 0xF]};
    return std::memcmp(digits, expected, 4) == 0;
  }

  void append_utf8(char32_t c) {
    char bytes[4];
    std::size_t count;
    if (c < 0x80) {
      bytes[0] = static_cast<char>(c);
      count = 1;
    } else if (c < 0x800) {
      bytes[0] = static_cast<char>(0xC0 | (c >> 6));
      bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
      count = 2;
    } else if (c < 0x10000) {
      bytes[0] = static_cast<char>(0xE0 | (c >> 12));
      bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
      count = 3;
    } else {
      bytes[0] = static_cast<char>(0xF0 | (c >> 18));
      bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
      count = 4;
    }
    buffer_.append(bytes, count);
  }

  // parse_integer: a number after its optional "-" was consumed.
  bool parse_integer(bool positive, Value& out) {
    number_.digits = pos_;
    if (pos_ == end_) return fail(ErrorCode::EofWhileParsingValue);
    const unsigned char first = peek();
    ++pos_;
    if (first == '0') {
      if (pos_ != end_ && is_digit(peek())) return fail_peek(ErrorCode::InvalidNumber);
      return parse_number_tail(positive, 0, out);
    }
    if (!is_digit(first)) return fail(ErrorCode::InvalidNumber);
    std::uint64_t significand = first - '0';
    // Floats mostly have one or two integer digits: only a third digit calls for a run.
    if (pos_ != end_ && is_digit(peek())) {
      if (end_ - pos_ < 2 || !is_digit(pos_[1])) {
        significand = significand * 10 + (peek() - '0');
        ++pos_;
      } else {
        take_digit_run(significand, 1);
        while (pos_ != end_ && is_digit(peek())) {
          const unsigned digit = peek() - '0';
          if (significand > kMaxSignificandDiv10 ||
              (significand == kMaxSignificandDiv10 && digit > 5)) {
            return parse_long_integer(positive, significand, out);
          }
          ++pos_;
          significand = significand * 10 + digit;
        }
      }
    }
    return parse_number_tail(positive, significand, out);
  }

  // Takes up to sixteen digits at once, as many as keep the significand, which holds
  // `significand_digits` digits or fewer, below 19 digits; the digit-by-digit loops that follow
  // take the rest with the exact overflow test.
  void take_digit_run(std::uint64_t& significand, std::ptrdiff_t significand_digits) {
    if (end_ - pos_ < 16 || significand_digits >= kSafeSignificandDigits) return;
    const DigitRun run =
        read_digit_run(pos_, static_cast<int>(std::min<std::ptrdiff_t>(
                                 16, kSafeSignificandDigits - significand_digits)));
    significand = significand * POW10_U64[run.count] + run.value;
    pos_ += run.count;
  }

  // After the integer digits: a fraction, an exponent, or the end of an integer. This step, the
  // fraction and the exact scaling are inlined into parse_integer, the common path of a float.
  [[gnu::always_inline]] bool parse_number_tail(bool positive, std::uint64_t significand,
                                                Value& out) {
    if (pos_ != end_) {
      if (*pos_ == '.') return parse_decimal(positive, significand, 0, out);
      if ((*pos_ | 0x20) == 'e') return parse_exponent(positive, significand, 0, out);
    }
    if (positive) {
      out = Value::number(Number::non_negative(significand));
    } else if (significand == 0) {
      out = Value::number(Number::floating(-0.0));  // "-0" is a float, not the integer 0
    } else if (significand <= (1ULL << 63)) {
      out = Value::number(Number::negative(static_cast<std::int64_t>(0 - significand)));
    } else {
      out = Value::number(Number::floating(-static_cast<double>(significand)));
    }
    return true;
  }

  // Integer digits beyond 64 bits are dropped; each one raises the exponent instead.
  [[gnu::noinline]] bool parse_long_integer(bool positive, std::uint64_t significand, Value& out) {
    number_.truncation = pos_;
    const char* const first = pos_;
    while (pos_ != end_ && is_digit(peek()))
      ++pos_;
    const std::int32_t exponent = saturate_exponent(pos_ - first);
    if (pos_ != end_) {
      if (*pos_ == '.') return parse_decimal(positive, significand, exponent, out);
      if ((*pos_ | 0x20) == 'e') return parse_exponent(positive, significand, exponent, out);
    }
    return scale_by_power_of_ten(positive, significand, exponent, out);
  }

  [[gnu::always_inline]] bool parse_decimal(bool positive, std::uint64_t significand,
                                            std::int32_t exponent, Value& out) {
    number_.point = pos_;
    ++pos_;
    const char* const first = pos_;
    // The integer digits, leading zero included, bound those of the significand.
    take_digit_run(significand, first - 1 - number_.digits);
    while (pos_ != end_ && is_digit(peek())) {
      const unsigned digit = peek() - '0';
      if (significand > kMaxSignificandDiv10 ||
          (significand == kMaxSignificandDiv10 && digit > 5)) {
        return parse_decimal_overflow(
            positive, significand, saturate_exponent(std::int64_t{exponent} - (pos_ - first)), out);
      }
      ++pos_;
      significand = significand * 10 + digit;
    }
    if (pos_ == first) {
      return fail_peek(pos_ == end_ ? ErrorCode::EofWhileParsingValue : ErrorCode::InvalidNumber);
    }
    // Only a significand of 0 takes unboundedly many digits here, hence the saturation.
    const std::int32_t scaled = saturate_exponent(std::int64_t{exponent} - (pos_ - first));
    if (pos_ != end_ && (*pos_ | 0x20) == 'e') {
      return parse_exponent(positive, significand, scaled, out);
    }
    return scale_by_power_of_ten(positive, significand, scaled, out);
  }

  // Fraction digits beyond 64 bits are dropped without changing the exponent.
  [[gnu::noinline]] bool parse_decimal_overflow(bool positive, std::uint64_t significand,
                                                std::int32_t exponent, Value& out) {
    number_.truncation = pos_;
    while (pos_ != end_ && is_digit(peek()))
      ++pos_;
    if (pos_ != end_ && (*pos_ | 0x20) == 'e') {
      return parse_exponent(positive, significand, exponent, out);
    }
    return scale_by_power_of_ten(positive, significand, exponent, out);
  }

  bool parse_exponent(bool positive, std::uint64_t significand, std::int32_t exponent, Value& out) {
    number_.exponent_letter = pos_;
    ++pos_;
    bool positive_exponent = true;
    if (pos_ != end_ && (*pos_ == '+' || *pos_ == '-')) {
      positive_exponent = *pos_ == '+';
      ++pos_;
    }
    if (pos_ == end_) return fail(ErrorCode::EofWhileParsingValue);
    const unsigned char first = peek();
    ++pos_;
    if (!is_digit(first)) return fail(ErrorCode::InvalidNumber);
    std::int32_t written = first - '0';
    while (pos_ != end_ && is_digit(peek())) {
      const int digit = peek() - '0';
      ++pos_;
      if (written > kMaxExponentDiv10 || (written == kMaxExponentDiv10 && digit > 7)) {
        return parse_exponent_overflow(positive, significand, positive_exponent, out);
      }
      written = written * 10 + digit;
    }
    const std::int64_t total =
        positive_exponent ? std::int64_t{exponent} + written : std::int64_t{exponent} - written;
    return scale_by_power_of_ten(positive, significand, saturate_exponent(total), out);
  }

  // A written exponent beyond 32 bits: too large for any significand but 0, or else zero.
  [[gnu::noinline]] bool parse_exponent_overflow(bool positive, std::uint64_t significand,
                                                 bool positive_exponent, Value& out) {
    if (significand != 0 && positive_exponent) return fail(ErrorCode::NumberOutOfRange);
    while (pos_ != end_ && is_digit(peek()))
      ++pos_;
    out = Value::number(Number::floating(positive ? 0.0 : -0.0));
    return true;
  }

  // The double nearest to the number just read (ties to even), held as significand *
  // 10^exponent with digits past 64 bits dropped. When the significand and the power of ten are
  // both exact doubles, one multiplication or division rounds correctly.
  [[gnu::always_inline]] bool scale_by_power_of_ten(bool positive, std::uint64_t significand,
                                                    std::int32_t exponent, Value& out) {
    constexpr std::uint64_t kExactSignificand = std::uint64_t{1} << 53;
    constexpr std::int32_t kExactPower = 22;
    number_.significand = significand;
    number_.exponent = exponent;
    if (significand > kExactSignificand || exponent < -kExactPower || exponent > kExactPower) {
      return scale_by_large_power(positive, significand, exponent, out);
    }
    double f = static_cast<double>(significand);
    f = exponent >= 0 ? f * POW10[exponent] : f / POW10[-exponent];
    out = Value::number(Number::floating(positive ? f : -f));
    return true;
  }

  // The rest of scale_by_power_of_ten: one 128-bit product decides nearly always. When it
  // cannot, or digits were dropped, the number's whole text is converted, so no digit and no
  // rounding step is lost.
  [[gnu::noinline]] bool scale_by_large_power(bool positive, std::uint64_t significand,
                                              std::int32_t exponent, Value& out) {
    double f = 0.0;
    if (std::uint64_t bits = 0;
        significand != 0 && !number_.truncated() && nearest_double(significand, exponent, bits)) {
      f = std::bit_cast<double>(bits);
    } else {
      const auto [end, status] = std::from_chars(number_.digits, pos_, f);
      if (end != pos_) throw std::logic_error("number text not read to its end");
      if (status == std::errc::result_out_of_range) {
        // Out of range above for a non-negative exponent, below (towards zero) otherwise.
        if (exponent >= 0) return fail(ErrorCode::NumberOutOfRange);
        f = 0.0;
      }
    }
    out = Value::number(Number::floating(positive ? f : -f));
    return true;
  }

  // peek_invalid_type: the payload is not an array; reads what it is and stores the
  // "invalid type" error, stamped just past what was read (at the "{" for an object).
  [[gnu::cold, gnu::noinline]] void peek_invalid_type() {
    JsonUnexpected unexpected;
    switch (peek()) {
      case 'n':
      case 't':
      case 'f': {
        Value literal;
        if (!parse_literal(literal)) return;
        if (literal.is_null()) {
          unexpected.found = JsonUnexpected::Null{};
        } else {
          unexpected.found = literal.as_bool();
        }
        break;
      }
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9': {
        const bool positive = peek() != '-';
        if (!positive) ++pos_;
        Value number;
        if (!parse_integer(positive, number)) return;
        const Number n = number.as_number();
        switch (n.form()) {
          case NumberForm::NonNegative:
            unexpected.found = n.as_non_negative();
            break;
          case NumberForm::Negative:
            unexpected.found = n.as_negative();
            break;
          case NumberForm::Float:
            unexpected.found = n.as_float();
            break;
        }
        break;
      }
      case '"': {
        ++pos_;
        std::string_view text;
        if (!parse_str(text)) return;
        unexpected.found = text;
        break;
      }
      case '{':
        unexpected.found = JsonUnexpected::Object{};
        break;
      default:
        fail_peek(ErrorCode::ExpectedSomeValue);
        return;
    }
    error_.emplace(fix_position(invalid_type(unexpected), input(), read_position()));
  }

  const char* const begin_;
  const char* end_;  // the end of the input, or of the line being read
  const char* pos_;  // the read position: only grows
  Arena& arena_;
  std::uint8_t remaining_depth_ = kDepthBudget;
  const Build build_;
  bool canonical_ = true;                        // of the deferred text being read
  bool keys_distinct_ = true;                    // of the deferred text being read
  bool escapes_as_written_ = true;               // of the string read last
  bool string_had_escapes_ = false;              // of the string read last
  std::vector<std::string_view> deferred_keys_;  // keys of the deferred objects being read
  std::array<KeyShape, std::size_t{1} << kShapeSlotBits> key_shapes_{};
  std::vector<std::string_view> shape_keys_;  // the keys of every shape, run after run
  NumberText number_{begin_};                 // the number being read
  std::string buffer_;                        // the decoded text of a string with escapes
  std::vector<Value> elements_;               // elements of every open array, innermost on top
  std::vector<Member> members_;               // members of every open object, innermost on top
  const Map* previous_row_ = nullptr;         // the object read last at the depth of the rows
  std::optional<Error> error_;
};

}  // namespace

Result<std::vector<Value>, Error> parse_value_list(std::string_view input, Arena& arena,
                                                   Build build) {
  Deserializer deserializer(input, arena, build);
  return deserializer.parse_value_list();
}

Result<std::vector<Value>, Error> parse_value_lines(std::string_view input, Arena& arena,
                                                    Build build) {
  Deserializer deserializer(input, arena, build);
  return deserializer.parse_value_lines();
}

Value build_deferred(const Value& deferred, Arena& arena) {
  Deserializer deserializer(deferred.deferred_text(), arena, Build::Everything);
  return deserializer.parse_whole_value();
}

void respell_deferred(const Value& deferred, DeferredSpeller& out) {
  Arena unused;  // nothing is built
  Deserializer deserializer(deferred.deferred_text(), unused, Build::Everything);
  deserializer.respell_whole_value(out);
}

}  // namespace tarvik::json
