// The reader's strings: the short plain string taken from one block, the scan to the next quote,
// backslash or control byte, the escapes and the UTF-8 they decode to.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "json/text/simd.hpp"

#include "json/memory/arena.hpp"
#include "json/read/decoded_text.hpp"
#include "json/read/number_text.hpp"
#include "json/text/escape_text.hpp"
#include "json/text/string_scan.hpp"
#include "json/text/unicode_escape_run.hpp"
#include "json/text/utf8.hpp"

namespace tarvik::json::reading {
// Internal to each file that includes it, like all reader layers: the compiler then inlines
// and specializes them as freely as code of that one file (in a named namespace it inlines
// less, and the reader is measurably slower).
namespace {  // NOLINT(cert-dcl59-cpp)

// A string as read: its text (see StringUse), whether it held any escape, and whether every
// escape is the one the writer would write for its character.
struct StringRead {
  std::string_view text;
  bool had_escapes = false;
  bool escapes_as_written = true;
};

// What becomes of a string with escapes: Kept, decoded and copied into the arena; Decoded,
// decoded into the reused buffer, so that the text is valid until the next string; Checked, only
// validated, and the text is then empty.
enum class StringUse { Checked, Decoded, Kept };

class StringReader : public NumberReader {
 protected:
  StringReader(std::string_view input, Arena& arena) : NumberReader(input), arena_(arena) {}

  // The body of a string whose opening quote has been consumed, up to and including the closing
  // quote. Without escapes the text is the run in the input itself; with escapes it is decoded
  // into the reused buffer and, when kept, copied into the arena.
  //
  // Most strings are short and plain: one whose closing quote lies within the next sixteen
  // bytes, after plain ASCII bytes only, is taken from that one block here. Any other string
  // (longer, with an escape, a control or non-ASCII byte, or within sixteen bytes of the end of
  // the input) is read by parse_long_str from its start.
  [[gnu::always_inline]] bool parse_str(StringRead& out, StringUse use = StringUse::Kept) {
#if TARVIK_SSE2
    if (end_ - pos_ >= 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos_));
      const std::uint32_t ends = string_scan_detail::run_ends(block);
      const auto high = static_cast<std::uint32_t>(_mm_movemask_epi8(block));
      if (ends != 0) {
        const int length = std::countr_zero(ends);
        if (pos_[length] == '"' && (high & (ends - 1)) == 0) {
          out.escapes_as_written = true;
          out.had_escapes = false;
          out.text = {pos_, static_cast<std::size_t>(length)};
          pos_ += length + 1;
          return true;
        }
      }
    }
#endif
    return parse_long_str(out, use);
  }

  // parse_str for any string.
  [[gnu::noinline]] bool parse_long_str(StringRead& out, StringUse use) {
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
  bool parse_long_str(StringRead& out) {
    constexpr bool kDecode = kUse != StringUse::Checked;
    const char* run = pos_;
    out.escapes_as_written = true;
    // Escapes decode to whole characters, so the decoded text is valid UTF-8 exactly when every
    // raw run between them is; the fault is reported at the closing quote all the same.
    bool valid_utf8 = true;
    bool escaped = false;
    for (;;) {
      const StringRun scanned = scan_string_run(pos_, end_);
      pos_ = scanned.stop;
      if (scanned.non_ascii && valid_utf8) {
        valid_utf8 = is_valid_utf8_scanned({run, static_cast<std::size_t>(pos_ - run)}, end_);
      }
      if (pos_ == end_) return fail(ErrorCode::EofWhileParsingString);
      const unsigned char byte = peek();
      if (byte == '"') {
        const std::string_view text(run, static_cast<std::size_t>(pos_ - run));
        ++pos_;
        if (!valid_utf8) return fail(ErrorCode::InvalidUnicodeCodePoint);
        out.had_escapes = escaped;
        if (!escaped) {
          out.text = text;
        } else if constexpr (kDecode) {
          append_run(run, text.data() + text.size());
          out.text =
              kUse == StringUse::Kept ? arena_.copy_string(decoded_.view()) : decoded_.view();
        } else {
          out.text = {};
        }
        return true;
      }
      if (byte != '\\') {
        ++pos_;
        return fail(ErrorCode::ControlCharacterWhileParsingString);
      }
      if constexpr (kDecode) {
        if (!escaped) decoded_.clear();
        append_run(run, pos_);
      }
      escaped = true;
      // Escapes often come in runs (text spelled in \u escapes): read on without a scan, the
      // runs of \u escapes a block at a time.
      do {
        if (end_ - pos_ > 1 && pos_[1] == 'u' && take_unicode_escape_run<kDecode>()) {
          out.escapes_as_written = false;
          continue;
        }
        ++pos_;
        if (!parse_escape<kDecode>(out.escapes_as_written)) return false;
      } while (pos_ != end_ && *pos_ == '\\');
      run = pos_;
    }
  }

  // A run of \u escapes at the read position (see unicode_escape_run.hpp): consumed, and their
  // UTF-8 appended when decoding. False when the escape there begins no run (another escape, a
  // control character, a lone surrogate, a fault): parse_escape tells it apart.
  template <bool kDecode>
  bool take_unicode_escape_run() {
    const char* const start = pos_;
    for (;;) {
      std::size_t escapes;
      if constexpr (kDecode) {
        const DecodedRun run = decode_unicode_escape_run(pos_, end_, decoded_.room(kRunUtf8Room));
        decoded_.commit(run.utf8_end);
        escapes = run.escapes;
      } else {
        escapes = count_unicode_escape_run(pos_, end_);
      }
      pos_ += 6 * escapes;
      if (escapes < kMostRunEscapes) return pos_ != start;
    }
  }

  // The escape after a consumed backslash, appended to the buffer when decoding; `as_written`
  // is cleared by an escape the writer would not write.
  template <bool kDecode>
  bool parse_escape(bool& as_written) {
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
        as_written = false;  // the writer leaves the solidus unescaped
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
        return parse_unicode_escape<kDecode>(as_written);
      default:
        return fail(ErrorCode::InvalidEscape);
    }
    if constexpr (kDecode) decoded_.append(&decoded, 1);
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

  // One byte of the second half of a surrogate pair, which must come next.
  bool expect_pair_byte(char expected) {
    if (pos_ == end_) return fail(ErrorCode::EofWhileParsingString);
    if (*pos_++ != expected) return fail(ErrorCode::UnexpectedEndOfHexEscape);
    return true;
  }

  template <bool kDecode>
  bool parse_unicode_escape(bool& as_written) {
    std::uint16_t unit = 0;
    const char* const digits = pos_;
    if (!decode_hex_escape(unit)) return false;
    if (as_written && !is_written_unicode_escape(unit, digits)) as_written = false;
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

  void append_utf8(char32_t c) {
    decoded_.commit(write_utf8(c, decoded_.room(4)));
  }

  // Appends the raw bytes [from, to) of a string with escapes to its decoded text; a run of
  // sixteen bytes or fewer, the most common between escapes, as one fixed-size move.
  void append_run(const char* from, const char* to) {
    const auto count = static_cast<std::size_t>(to - from);
    char* const at = decoded_.room(count + 16);
    if (count <= 16 && end_ - from >= 16) {
      std::memcpy(at, from, 16);
    } else {
      std::memcpy(at, from, count);
    }
    decoded_.commit(at + count);
  }

  Arena& arena_;
  DecodedText decoded_;  // the decoded text of a string with escapes
};

}  // namespace
}  // namespace tarvik::json::reading
