// The JSON writer. One template over the output sink writes both the output buffer and message
// text, so the two can never differ by a byte.
#include "json/write/writer.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "json/model/map.hpp"
#include "json/read/deferred.hpp"
#include "json/text/float_text.hpp"
#include "json/text/simd.hpp"
#include "json/write/string_writer.hpp"

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

// The writers below carry the output position in a local pointer `at` and ask the sink for room
// before they store. A sink's own fields are read only to check for room: bytes stored through a
// char pointer may alias any object in memory, so a position kept there would be reloaded and
// stored again after every byte.

// Output appended to the growable byte buffer, written in place.
class BufferSink {
 public:
  explicit BufferSink(Buffer& out) : out_(out), limit_(out.write_position() + room_left()) {}
  char* start() const { return out_.write_position(); }
  // `at`, or where it moved to when the buffer grew, with room for `count` more bytes. Asked
  // before every store, so kept to a comparison where it is asked.
  [[gnu::always_inline]] char* room(char* at, std::size_t count) {
    if (count <= static_cast<std::size_t>(limit_ - at)) [[likely]]
      return at;
    return grow(at, count);
  }
  // Makes the bytes before `at` part of the buffer.
  void finish(char* at) { out_.commit(static_cast<std::size_t>(at - out_.write_position())); }

 private:
  std::size_t room_left() const { return out_.capacity() - out_.size(); }
  [[gnu::noinline]] char* grow(char* at, std::size_t count) {
    finish(at);
    out_.reserve_more(count);
    limit_ = out_.write_position() + room_left();
    return out_.write_position();
  }

  Buffer& out_;
  char* limit_;
};

// Output appended to the byte buffer, its long texts of the input left out and noted instead.
class SplicingSink : public BufferSink {
 public:
  SplicingSink(Buffer& out, std::string_view input, std::vector<TextSplice>& splices)
      : BufferSink(out), out_(out), input_(input), splices_(splices) {}

  // Whether `text`, to be written at `at`, is left out: noted, and nothing written. Most texts
  // are short: only the length is asked of them here.
  bool leaves_out(std::string_view text, char* at) {
    return text.size() >= kSplicedText && leaves_out_long(text, at);
  }
  std::size_t left_out() const { return left_out_; }

 private:
  [[gnu::noinline]] bool leaves_out_long(std::string_view text, char* at) {
    const auto start = reinterpret_cast<std::uintptr_t>(text.data());
    const auto input = reinterpret_cast<std::uintptr_t>(input_.data());
    if (start < input || start - input > input_.size() ||
        text.size() > input_.size() - (start - input)) {
      return false;
    }
    splices_.push_back({static_cast<std::size_t>(at - out_.data()), text});
    left_out_ += text.size();
    return true;
  }

  const Buffer& out_;
  std::string_view input_;
  std::vector<TextSplice>& splices_;
  std::size_t left_out_ = 0;
};

// Whether `text`, to be written at `at`, is left out by the sink (noted instead): only a sink
// that splices leaves any out.
template <class Sink>
[[gnu::always_inline]] inline bool left_out(std::string_view text, char* at, Sink& out) {
  if constexpr (requires { out.leaves_out(text, at); }) {
    return out.leaves_out(text, at);
  } else {
    return false;
  }
}

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
      if (left_out(text, at, out)) return at;
      at = out.room(at, text.size());
      std::memcpy(at, text.data(), text.size());
      return at + text.size();
    }
    case TextForm::Respelled:
    case TextForm::StringsRespelled: {
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

// Text known to be written as it is: a few word moves for a short one, blocks of sixteen, the
// last overlapping those before, for a longer one.
template <class Sink>
[[gnu::always_inline]] inline char* write_text(std::string_view text, char* at, Sink& out) {
  const char* const data = text.data();
  const std::size_t size = text.size();
#if TARVIK_SSE2
  if (size <= 16) {
    at = out.room(at, size);
    copy_bytes(at, data, size);
    return at + size;
  }
  if (left_out(text, at, out)) return at;
  at = out.room(at, size);
  for (std::size_t i = 0; i < size - 16; i += 16)
    store_16(at + i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)));
  store_16(at + size - 16, _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + size - 16)));
#else
  if (left_out(text, at, out)) return at;
  at = out.room(at, size);
  copy_bytes(at, data, size);
#endif
  return at + size;
}

template <class Sink>
[[gnu::always_inline]] inline char* write_cell(const Cell& cell, char* at, Sink& out) {
  if (cell.text != nullptr) return write_text(cell.written_text(), at, out);
  return write_value(cell.value, at, out);
}

template <class Sink>
void write_row(std::span<const Cell* const> cells, Sink& sink) {
  char* at = write_byte('[', sink.start(), sink);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i != 0) at = write_byte(',', at, sink);
    if (cells[i] != nullptr) {
      at = write_cell(*cells[i], at, sink);
    } else {
      at = sink.room(at, 4);
      std::memcpy(at, "null", 4);
      at += 4;
    }
  }
  sink.finish(write_byte(']', at, sink));
}

}  // namespace

void serialize_cell(const Cell& cell, Buffer& out) {
  BufferSink sink(out);
  sink.finish(write_cell(cell, sink.start(), sink));
}

void serialize_row(std::span<const Cell* const> cells, Buffer& out) {
  BufferSink sink(out);
  write_row(cells, sink);
}

std::size_t serialize_row(std::span<const Cell* const> cells, Buffer& out, std::string_view input,
                          std::vector<TextSplice>& splices) {
  const std::size_t start = out.size();
  SplicingSink sink(out, input, splices);
  write_row(cells, sink);
  return out.size() - start + sink.left_out();
}

void serialize_value(const Value& value, Buffer& out) {
  BufferSink sink(out);
  write_document(value, sink);
}

void display_value(const Value& value, std::string& out) {
  WriterFormatter sink(out);
  write_document(value, sink);
}

}  // namespace tarvik::json
