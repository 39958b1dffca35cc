// The reader's position in the payload and its first error: whitespace, the literals, the nesting
// budget and the loop over an array's elements. The other reader layers build on it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "json/text/simd.hpp"

#include "json/model/value.hpp"
#include "json/read/error.hpp"

namespace tarvik::json::reading {
// Internal to each file that includes it, like all reader layers: the compiler then inlines
// and specializes them as freely as code of that one file (in a named namespace it inlines
// less, and the reader is measurably slower).
namespace {  // NOLINT(cert-dcl59-cpp)

// The reader's nesting budget: the 128th nested "[" or "{" on one path fails.
inline constexpr std::uint8_t kDepthBudget = 128;

inline bool is_digit(unsigned char byte) {
  return static_cast<unsigned char>(byte - '0') < 10;
}

inline bool is_whitespace(unsigned char byte) {
  constexpr std::uint64_t kWhitespace =
      (1ULL << ' ') | (1ULL << '\t') | (1ULL << '\n') | (1ULL << '\r');
  return byte <= ' ' && ((1ULL << byte) & kWhitespace) != 0;
}

// The end of the run of whitespace that starts at `p`, which is before `end`.
inline const char* whitespace_end(const char* p, const char* end) {
  if (*p == ' ' && end - p >= 2 && static_cast<unsigned char>(p[1]) > ' ') {
    return p + 1;  // the space after a colon
  }
#if TARVIK_SSE2
  // Laid-out text is mostly a line break and an indentation of spaces, which are passed over
  // comparing each block with spaces alone; anything else is left to the general loop.
  if (*p == '\n') {
    ++p;
    while (end - p >= 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const auto other =
          static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(' ')))) ^
          0xFFFF;
      if (other != 0) {
        p += std::countr_zero(other);
        if (is_whitespace(static_cast<unsigned char>(*p))) break;
        return p;
      }
      p += 16;
    }
  }
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i blank = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(' ')),
                                                    _mm_cmpeq_epi8(block, _mm_set1_epi8('\n'))),
                                       _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\t')),
                                                    _mm_cmpeq_epi8(block, _mm_set1_epi8('\r'))));
    const auto other = static_cast<std::uint32_t>(_mm_movemask_epi8(blank)) ^ 0xFFFF;
    if (other != 0) {
      return p + std::countr_zero(other);
    }
    p += 16;
  }
#endif
  while (p != end && is_whitespace(static_cast<unsigned char>(*p)))
    ++p;
  return p;
}

#if TARVIK_SSE2
// Just past a line break at `p` and the indentation of fewer than 32 spaces after it, when a byte
// other than whitespace follows; else nullptr, for the general loop. Most whitespace in indented
// text is such a run, taken here in one step without a call.
[[gnu::always_inline]] inline const char* after_indentation(const char* p, const char* end) {
  if (*p != '\n' || end - p < 33) return nullptr;
  const __m128i spaces = _mm_set1_epi8(' ');
  const auto first = static_cast<std::uint32_t>(_mm_movemask_epi8(
      _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)), spaces)));
  const auto second = static_cast<std::uint32_t>(_mm_movemask_epi8(
      _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 17)), spaces)));
  const std::uint32_t other = ~(first | (second << 16));
  if (other == 0) return nullptr;
  const char* const next = p + 1 + std::countr_zero(other);
  return static_cast<unsigned char>(*next) > ' ' ? next : nullptr;
}
#endif

// Every read_* and parse_* step returns false after storing the error of the first fault;
// callers then return false at once, so nothing more is read.
class Cursor {
 protected:
  explicit Cursor(std::string_view input)
      : begin_(input.data()), end_(input.data() + input.size()), pos_(begin_) {}

  std::string_view input() const { return {begin_, static_cast<std::size_t>(end_ - begin_)}; }
  std::size_t read_position() const { return static_cast<std::size_t>(pos_ - begin_); }
  unsigned char peek() const { return static_cast<unsigned char>(*pos_); }

  // Compact text has no whitespace between tokens, so only its absence is checked inline;
  // laid-out text has runs of it (a line break and the indentation), taken a block at a time.
  void skip_whitespace() {
    if (pos_ != end_ && is_whitespace(peek())) {
#if TARVIK_SSE2
      if (const char* const next = after_indentation(pos_, end_)) {
        pos_ = next;
        return;
      }
#endif
      skip_whitespace_run();
    }
  }

  [[gnu::noinline]] void skip_whitespace_run() {
    pos_ = whitespace_end(pos_, end_);
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

  // null, true or false, starting at its first letter.
  bool read_literal(Value& out) {
    switch (*pos_++) {
      case 'n':
        out = Value::null();
        return read_ident("ull");
      case 't':
        out = Value::boolean(true);
        return read_ident("rue");
      default:
        out = Value::boolean(false);
        return read_ident("alse");
    }
  }

  // The remaining letters of a literal whose first letter has been consumed.
  bool read_ident(std::string_view rest) {
    if (static_cast<std::size_t>(end_ - pos_) >= rest.size() &&
        std::memcmp(pos_, rest.data(), rest.size()) == 0) {
      pos_ += rest.size();
      return true;
    }
    return read_ident_slow(rest);
  }

  // Letter by letter, so the error stands just past the first wrong byte.
  [[gnu::cold, gnu::noinline]] bool read_ident_slow(std::string_view rest) {
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

  // Where an array's reading stands before its next element.
  enum class ArrayStep { Element, End, Failed };

  // Reads what stands before the next element of an array whose "[" (and elements before, when
  // not `first`) have been read: the "," between elements, or the "]" that ends it, which is
  // consumed. `skip_between` takes the whitespace between the tokens. Element when the read
  // position is at an element; End past the "]"; Failed with the error stored.
  template <class SkipBetween>
  [[gnu::always_inline]] ArrayStep next_in_array(bool first, SkipBetween skip_between) {
    // Compact text first: "]", or an element (after its "," unless first) that is neither
    // whitespace nor "]"; a byte below a space is left to the element, which refuses it.
    if (pos_ != end_) {
      if (*pos_ == ']') {
        ++pos_;
        return ArrayStep::End;
      }
      const char* const element = first ? pos_ : pos_ + 1;
      if ((first || *pos_ == ',') && element != end_ &&
          static_cast<unsigned char>(*element) > ' ' && *element != ']') {
        pos_ = element;
        return ArrayStep::Element;
      }
    }
    skip_between();
    if (pos_ == end_) return failed_step(ErrorCode::EofWhileParsingList);
    if (*pos_ == ']') {
      ++pos_;
      return ArrayStep::End;
    }
    if (first) return ArrayStep::Element;
    if (*pos_ != ',') return failed_step(ErrorCode::ExpectedListCommaOrEnd);
    ++pos_;
    skip_between();
    if (pos_ == end_) return failed_step(ErrorCode::EofWhileParsingValue);
    if (*pos_ == ']') return failed_step(ErrorCode::TrailingComma);
    return ArrayStep::Element;
  }

  [[gnu::cold, gnu::noinline]] ArrayStep failed_step(ErrorCode code) {
    fail_peek(code);
    return ArrayStep::Failed;
  }

  const char* const begin_;
  const char* end_;  // the end of the input, or of the line being read
  const char* pos_;  // the read position: only grows
  std::uint8_t remaining_depth_ = kDepthBudget;
  std::optional<Error> error_;
};

}  // namespace
}  // namespace tarvik::json::reading
