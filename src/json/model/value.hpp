// The JSON document model: six kinds of value, three forms of number.
// A Value is a small immutable handle; the storage it refers to belongs to an Arena.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>

#include "json/memory/arena.hpp"

namespace tarvik::json {

class Map;

enum class Kind : std::uint8_t { Null, Bool, Number, String, Array, Object };

// The form of a number is part of its value: it survives copying, decides equality and decides
// how the writer writes the number.
enum class NumberForm : std::uint8_t { NonNegative, Negative, Float };

class Number {
 public:
  static Number non_negative(std::uint64_t value) noexcept {
    return Number(NumberForm::NonNegative, value);
  }
  // Throws std::invalid_argument unless value < 0: the negative form never holds 0.
  static Number negative(std::int64_t value) {
    if (value >= 0) throw std::invalid_argument("negative number form needs a value below 0");
    return Number(NumberForm::Negative, static_cast<std::uint64_t>(value));
  }
  // Throws std::invalid_argument for NaN or an infinity, which the model never holds.
  static Number floating(double value) {
    if (value - value != 0.0) throw std::invalid_argument("float number form needs a finite value");
    return Number(NumberForm::Float, std::bit_cast<std::uint64_t>(value));
  }

  NumberForm form() const { return form_; }
  std::uint64_t as_non_negative() const { return bits_; }
  std::int64_t as_negative() const { return static_cast<std::int64_t>(bits_); }
  double as_float() const { return std::bit_cast<double>(bits_); }

  // Whether the two stand for the same exact value, whatever their forms: 1, 1.0 and 1e0 do, and
  // so do 0 and -0.0; two different integers never do, whatever double they round to. An integer
  // equals a float only when the float is integral and converts back to that very integer.
  bool same_value(const Number& other) const {
    if (form_ == other.form_) return *this == other;
    if (form_ == NumberForm::Float) return other.same_value(*this);
    if (other.form_ != NumberForm::Float) return false;  // the integer forms never share a value
    const double f = other.as_float();
    if (form_ == NumberForm::NonNegative) {
      return f >= 0.0 && f < 0x1p64 && static_cast<std::uint64_t>(f) == as_non_negative() &&
             static_cast<double>(as_non_negative()) == f;
    }
    return f < 0.0 && f >= -0x1p63 && static_cast<std::int64_t>(f) == as_negative() &&
           static_cast<double>(as_negative()) == f;
  }

  // Same form and same value; floats compare with IEEE equality, so 0.0 == -0.0.
  bool operator==(const Number& other) const {
    if (form_ != other.form_) return false;
    if (form_ == NumberForm::Float) return as_float() == other.as_float();
    return bits_ == other.bits_;
  }

 private:
  friend class Value;
  Number(NumberForm form, std::uint64_t bits) : form_(form), bits_(bits) {}

  NumberForm form_;
  std::uint64_t bits_;  // the unsigned value, the two's complement value or the IEEE bits
};

// How the text of a deferred value stands to the text the writer writes for its value.
enum class TextForm : std::uint8_t {
  Written,           // the very same text
  Respelled,         // the same once whitespace is dropped and strings and numbers are spelled as
                     // the writer spells them: no object in it repeats a key
  Other,             // may repeat a key, which moves a value when the text is read
  StringsRespelled,  // Respelled, with neither whitespace nor a number spelled otherwise: only
                     // some strings with escapes differ
};

// A JSON value. Copying a Value copies the handle: the text, elements or members it refers to
// are immutable once built and live in an Arena that must outlive every handle to them.
// `deep_copy` makes a copy whose storage belongs to another arena.
class Value {
 public:
  Value() : tag_(static_cast<std::uint64_t>(Kind::Null)), bits_(0) {}

  static Value null() { return Value(); }
  static Value boolean(bool value) { return Value(Kind::Bool, 0, value ? 1 : 0); }
  static Value number(Number n) noexcept {
    return Value(Kind::Number, static_cast<std::uint64_t>(n.form_) << kFormShift, n.bits_);
  }
  // The text is not copied: it must live as long as the value (arena or payload storage).
  static Value string(std::string_view text) {
    return Value(Kind::String, text.size() << kSizeShift,
                 reinterpret_cast<std::uintptr_t>(text.data()));
  }
  // A string known to hold no quote, backslash or byte below 0x20, as a string read without
  // escapes does: the writer copies its text as it is. Otherwise the same as `string`.
  static Value plain_string(std::string_view text) {
    return Value(Kind::String, kPlainBit | (text.size() << kSizeShift),
                 reinterpret_cast<std::uintptr_t>(text.data()));
  }
  // The elements are not copied: they must live as long as the value.
  static Value array(std::span<const Value> elements) {
    return Value(Kind::Array, elements.size() << kSizeShift,
                 reinterpret_cast<std::uintptr_t>(elements.data()));
  }
  static Value object(const Map& members) {
    return Value(Kind::Object, 0, reinterpret_cast<std::uintptr_t>(&members));
  }
  // An array or object kept as its validated JSON text instead of being built: the reader
  // defers what lies below the rows, so a cell that is only carried from input to output costs
  // no allocation. `form` says how the text stands to what the writer would write for it.
  // The text is not copied: it must live as long as the value.
  static Value deferred(Kind kind, std::string_view text, TextForm form) {
    return Value(kind,
                 kDeferredBit | (static_cast<std::uint64_t>(form) << kTextFormShift) |
                     (text.size() << kSizeShift),
                 reinterpret_cast<std::uintptr_t>(text.data()));
  }

  Kind kind() const { return static_cast<Kind>(tag_ & kKindMask); }
  bool is_null() const { return kind() == Kind::Null; }
  bool is_object() const { return kind() == Kind::Object; }
  // A deferred array or object: its content is reached through build_deferred (read/deferred.hpp);
  // as_array and as_object must not be called on it.
  bool is_deferred() const { return (tag_ & kDeferredBit) != 0; }
  std::string_view deferred_text() const { return as_string(); }
  TextForm deferred_form() const {
    return static_cast<TextForm>((tag_ >> kTextFormShift) & kTextFormMask);
  }
  // A string made by `plain_string`, whose text needs no escape.
  bool is_plain_string() const { return (tag_ & kPlainBit) != 0; }

  // Borrowed access to the payload; each requires the matching kind.
  bool as_bool() const { return bits_ != 0; }
  Number as_number() const {
    return Number(static_cast<NumberForm>((tag_ >> kFormShift) & kFormMask), bits_);
  }
  std::string_view as_string() const {
    return {reinterpret_cast<const char*>(bits_), static_cast<std::size_t>(tag_ >> kSizeShift)};
  }
  std::span<const Value> as_array() const {
    return {reinterpret_cast<const Value*>(bits_), static_cast<std::size_t>(tag_ >> kSizeShift)};
  }
  const Map& as_object() const { return *reinterpret_cast<const Map*>(bits_); }

  // A copy of the whole tree whose storage belongs to `arena`; numbers keep their form and bits,
  // maps keep their entry order, stored hashes and seed.
  Value deep_copy(Arena& arena) const;

 private:
  static constexpr std::uint64_t kKindMask = 0x7;
  static constexpr int kFormShift = 3;
  static constexpr std::uint64_t kFormMask = 0x3;
  static constexpr std::uint64_t kDeferredBit = 0x20;
  static constexpr int kTextFormShift = 6;
  static constexpr std::uint64_t kTextFormMask = 0x3;
  static constexpr std::uint64_t kPlainBit = 0x100;
  static constexpr int kSizeShift = 9;

  Value(Kind kind, std::uint64_t extra, std::uint64_t bits)
      : tag_(static_cast<std::uint64_t>(kind) | extra), bits_(bits) {}

  std::uint64_t tag_;   // kind, number form, flags, and the size of a string, array or text
  std::uint64_t bits_;  // bool, number bits, or the address of the text, elements or map
};

static_assert(sizeof(Value) == 16);

// A copy of an element sequence whose storage belongs to `arena`.
std::span<const Value> deep_copy_elements(std::span<const Value> elements, Arena& arena);

}  // namespace tarvik::json
