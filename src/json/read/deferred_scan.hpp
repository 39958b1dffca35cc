// The walks of deferred text: below the rows, arrays and objects are read with the same grammar
// and errors but not built, and kept as their text with a note of how near it is to the written
// text; later that text is respelled piece by piece for the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>

#include "json/read/deferred.hpp"
#include "json/read/reader.hpp"  // Build
#include "json/read/scratch_stack.hpp"
#include "json/read/walk.hpp"
#include "json/text/escaped_string_search.hpp"
#include "json/text/float_text.hpp"

namespace tarvik::json::reading {
// Internal to each file that includes it, like all reader layers: the compiler then inlines
// and specializes them as freely as code of that one file (in a named namespace it inlines
// less, and the reader is measurably slower).
namespace {  // NOLINT(cert-dcl59-cpp)

class Reader;

// What a walk of deferred text reports: nothing, its notes go to the scanner.
struct Unbuilt {};

// Deferred text being validated: nothing is built, and the text is judged canonical when the
// writer would write exactly it (no whitespace, no escape or number spelled otherwise, no
// repeated key); without a repeated key it can at least be respelled piece by piece.
struct Skim {
  static constexpr StringUse kStrings = StringUse::Checked;
  static constexpr bool kNumbersJudged = true;
};

// Deferred text, known to be one value without a repeated key, given to a speller in the pieces
// that make what the writer writes for it.
struct Respell {
  static constexpr StringUse kStrings = StringUse::Decoded;
};

class DeferredScanner : public Walker<Reader> {
 public:
  // The input, the text of a deferred value without a repeated key, given to `out` (copy, string,
  // number) in the pieces that make what the writer writes for its value: runs of the text that
  // stay as they are, and the strings and numbers that it spells otherwise. Whitespace is left out.
  template <class Speller>
  void respell_whole_value(Speller& out) {
    speller_ = &out;
    run_ = mark_ = pos_;
    Unbuilt done;
    if (!walk_value(Respell{}, done) || pos_ != end_) throw_not_one_value();
    copy_run(pos_);
  }

  // respell_whole_value for a text of TextForm::StringsRespelled: only its strings with escapes
  // are read, found by their quotes, and what lies between them is given as it is.
  template <class Speller>
  void respell_strings(Speller& out) {
    speller_ = &out;
    run_ = pos_;
    for (;;) {
      const char* const quote = find_escaped_string(pos_, end_);
      if (quote == end_) break;
      pos_ = quote + 1;
      StringRead string;
      if (!parse_str(string, StringUse::Decoded)) throw_not_one_value();
      if (!string.escapes_as_written) {
        copy_run(quote);
        speller_->string(string.text);
        run_ = pos_;
      }
    }
    copy_run(end_);
  }

  [[noreturn]] static void throw_not_one_value() {
    throw std::logic_error("deferred JSON text does not read back as one value");
  }

  // The hooks of the walks of deferred text.

  void skip_space(const Skim&) {
    const char* const before = pos_;
    skip_whitespace();
    if (pos_ != before) canonical_ = strings_only_ = false;
  }

  // Literals: written as they stand.
  bool scalar(const Skim&, const Value&, const char*, Unbuilt&) { return true; }

  bool number(const Skim&, bool written, const char*, Unbuilt&) {
    if (!written) canonical_ = strings_only_ = false;
    return true;
  }

  bool string(const Skim&, const StringRead& string, const char*, Unbuilt&) {
    if (!string.escapes_as_written) canonical_ = false;
    return true;
  }

  struct SkimArray {};
  SkimArray begin_array(const Skim&, const char*) { return {}; }
  Skim element_context(SkimArray&) { return {}; }
  void end_element(SkimArray&, Unbuilt&) {}
  bool end_array(SkimArray&, const char*, Unbuilt&) { return true; }

  // Objects that begin with the same key mostly go on with the same keys: those of the last such
  // object are expected, and taken without reading them again.
  struct SkimObject {
    std::size_t keys_base;
    KeyShape shape{};
    std::size_t expected = 1;
    bool as_shape = false;  // every key so far is the shape's, in the shape's order
  };

  SkimObject begin_object(const Skim&, const char*) { return {deferred_keys_.size()}; }

  bool read_key(SkimObject& object, const char*) {
    std::string_view key;
    if (!object.as_shape || !take_expected_key(shape_keys(object.shape), object.expected, key)) {
      const char* const key_start = pos_;
      StringRead read;
      if (!read_string(read, StringUse::Checked)) return false;
      // Keys are compared by their text in the input: two spellings of one key would need
      // decoding, so a key spelled otherwise than the writer spells it may repeat another.
      if (!read.escapes_as_written) canonical_ = keys_distinct_ = false;
      key = {key_start, static_cast<std::size_t>(pos_ - 1 - key_start)};
      object.as_shape = false;
      if (deferred_keys_.size() == object.keys_base) {
        object.shape = shape_beginning_with(key);
        object.as_shape = object.shape.count != 0;
      } else if (keys_distinct_) {
        note_key(key, object.keys_base);
      }
    }
    // A key taken from the shape differs from every key before it, all the shape's.
    deferred_keys_.push(key);
    return true;
  }

  Skim member_context(SkimObject&) { return {}; }
  void end_member(SkimObject&, Unbuilt&) {}

  bool end_object(SkimObject& object, const char*, Unbuilt&) {
    if (!object.as_shape && keys_distinct_ &&
        deferred_keys_.size() - object.keys_base >= kLeastShapeKeys) {
      remember_shape(deferred_keys_.from(object.keys_base));
    }
    deferred_keys_.cut_to(object.keys_base);
    return true;
  }

  // The hooks of respelling: tokens are copied in runs; a run ends at whitespace, or at a string
  // or number written otherwise than its text.

  bool scalar(const Respell&, const Value& value, const char* start, Unbuilt&) {
    respell_gap(start);
    if (value.kind() == Kind::Number && value.as_number().form() == NumberForm::Float &&
        !is_written_float(number_, pos_, value.as_number().as_float())) {
      copy_run(start);
      speller_->number(value.as_number());
      run_ = pos_;
    }
    mark_ = pos_;
    return true;
  }

  bool string(const Respell&, const StringRead& string, const char* quote, Unbuilt&) {
    respell_token(string, quote);
    return true;
  }

  struct RespellArray {};
  RespellArray begin_array(const Respell&, const char* bracket) {
    respell_gap(bracket);
    mark_ = bracket + 1;
    return {};
  }
  Respell element_context(RespellArray&) { return {}; }
  void end_element(RespellArray&, Unbuilt&) {}
  bool end_array(RespellArray&, const char* end, Unbuilt&) {
    respell_gap(end - 1);
    mark_ = end;
    return true;
  }

  struct RespellObject {};
  RespellObject begin_object(const Respell&, const char* brace) {
    respell_gap(brace);
    mark_ = brace + 1;
    return {};
  }
  bool read_key(RespellObject&, const char* quote) {
    StringRead key;
    if (!read_string(key, StringUse::Decoded)) return false;
    respell_token(key, quote);
    return true;
  }
  Respell member_context(RespellObject&) { return {}; }
  void end_member(RespellObject&, Unbuilt&) {}
  bool end_object(RespellObject&, const char* end, Unbuilt&) {
    respell_gap(end - 1);
    mark_ = end;
    return true;
  }

 protected:
  DeferredScanner(std::string_view input, Arena& arena, Build build)
      : Walker(input, arena), build_(build) {}

  bool defers_nested() const { return build_ == Build::Rows; }

  // An array or object at the read position, validated and kept as its text: canonical when the
  // writer would write exactly it, respellable piece by piece when it repeats no key.
  bool defer_container(Kind kind, Value& out) {
    const char* const start = pos_;
    canonical_ = true;
    keys_distinct_ = true;
    strings_only_ = true;
    Unbuilt skimmed;
    if (!walk_container(Skim{}, skimmed)) return false;
    const TextForm form = canonical_        ? TextForm::Written
                          : !keys_distinct_ ? TextForm::Other
                          : strings_only_   ? TextForm::StringsRespelled
                                            : TextForm::Respelled;
    out = Value::deferred(kind, {start, static_cast<std::size_t>(pos_ - start)}, form);
    return true;
  }

 private:
  // A repeated key makes the written object differ from its text (the last value moves to the
  // first position). Keys are compared as written; an object with very many keys is simply
  // taken as one that may repeat a key.
  void note_key(std::string_view key, std::size_t keys_base) {
    constexpr std::size_t kMostKeysCompared = 64;
    if (deferred_keys_.size() - keys_base >= kMostKeysCompared) {
      canonical_ = keys_distinct_ = false;
      return;
    }
    for (const std::string_view before : deferred_keys_.from(keys_base)) {
      if (same_key(before, key)) {
        canonical_ = keys_distinct_ = false;
        return;
      }
    }
  }

  // The run of text up to `until` given to the speller as it is.
  void copy_run(const char* until) {
    if (until > run_) speller_->copy({run_, static_cast<std::size_t>(until - run_)});
  }

  // Before the token at `token`: the text since the last token holds the separators between
  // them and perhaps whitespace; whitespace ends the run, the separators stay in it.
  void respell_gap(const char* token) {
    for (const char* p = mark_; p != token; ++p) {
      if (is_whitespace(static_cast<unsigned char>(*p))) {
        copy_run(p);
        run_ = p + 1;
      }
    }
  }

  // A string (or key) at `quote`, just read: its text when the writer writes it so, else the
  // decoded string.
  void respell_token(const StringRead& string, const char* quote) {
    respell_gap(quote);
    if (!string.escapes_as_written) {
      copy_run(quote);
      speller_->string(string.text);
      run_ = pos_;
    }
    mark_ = pos_;
  }

  const Build build_;
  bool canonical_ = true;      // of the deferred text being read
  bool keys_distinct_ = true;  // of the deferred text being read
  bool strings_only_ = true;   // no whitespace or number spelled otherwise in the text being read
  ScratchStack<std::string_view> deferred_keys_;  // keys of the deferred objects being read
  DeferredSpeller* speller_ = nullptr;            // of the text being respelled
  const char* run_ = nullptr;   // the start of the text not yet given to the speller
  const char* mark_ = nullptr;  // the end of the last token respelled
};

}  // namespace
}  // namespace tarvik::json::reading
