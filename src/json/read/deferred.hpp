// Deferred values: the text of an array or object below the rows standing for its value. Built
// on demand, respelled piece by piece for the writer, and compared as the value they stand for.
#pragma once

#include <string_view>

#include "json/memory/arena.hpp"
#include "json/model/value.hpp"

namespace tarvik::json {

// The value that a deferred value stands for, built in `arena` (strings may refer into the
// deferred text). Throws std::logic_error if the text is not one JSON value, which the reader
// never produces.
Value build_deferred(const Value& deferred, Arena& arena);

// Takes the text the writer writes for a value in pieces, in order.
class DeferredSpeller {
 public:
  virtual void copy(std::string_view text) = 0;    // bytes written as they are
  virtual void string(std::string_view text) = 0;  // a decoded string, to be written as one
  virtual void number(Number number) = 0;          // a number, to be written as one

 protected:
  ~DeferredSpeller() = default;
};

// Gives `out` what the writer writes for a deferred value of TextForm::Respelled or
// StringsRespelled, without building it: the text itself, less whitespace, with the strings and
// numbers that it spells otherwise than the writer handed over decoded. Throws std::logic_error if
// the text is not one JSON value, which the reader never produces.
void respell_deferred(const Value& deferred, DeferredSpeller& out);

// Deep equality: same kind and equal content. Numbers compare by form and value, arrays in
// order, objects by members regardless of their order. A deferred value equals the value it
// stands for: equal texts without being read, otherwise built and compared as usual.
bool operator==(const Value& a, const Value& b);

}  // namespace tarvik::json
