// Deferred values: built and respelled by the reader's layers, compared as what they stand for.
// Equality recurses once per nesting level; the reader bounds nesting at 127 levels.
#include "json/read/deferred.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "json/model/map.hpp"
#include "json/read/value_reader.hpp"

namespace tarvik::json {

Value build_deferred(const Value& deferred, Arena& arena) {
  reading::Reader reader(deferred.deferred_text(), arena, Build::Everything);
  return reader.read_whole_value();
}

void respell_deferred(const Value& deferred, DeferredSpeller& out) {
  Arena unused;  // nothing is built
  reading::Reader reader(deferred.deferred_text(), unused, Build::Everything);
  if (deferred.deferred_form() == TextForm::StringsRespelled) {
    reader.respell_strings(out);
  } else {
    reader.respell_whole_value(out);
  }
}

namespace {

// What comparing two texts token by token found.
enum class Verdict : std::uint8_t { Equal, Unequal, Undecided };

// The tokens of a valid JSON text, one at a time; only the comparison below reads them.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : pos_(text.data()), end_(text.data() + text.size()) {}

  // The first byte of the next token, whitespace skipped.
  char next() {
    if (reading::is_whitespace(static_cast<unsigned char>(*pos_))) {
      pos_ = reading::whitespace_end(pos_, end_);
    }
    return *pos_;
  }
  const char* position() const { return pos_; }
  void skip(std::size_t bytes) { pos_ += bytes; }

  // The string token at the read position, quotes included.
  std::string_view string() const {
    const char* from = pos_ + 1;
    for (;;) {
      const auto* quote =
          static_cast<const char*>(std::memchr(from, '"', static_cast<std::size_t>(end_ - from)));
      const char* run = quote;
      while (run[-1] == '\\')
        --run;
      // An even run of backslashes before it escapes itself, not the quote.
      if ((quote - run) % 2 == 0) return {pos_, static_cast<std::size_t>(quote + 1 - pos_)};
      from = quote + 1;
    }
  }

  // How many members the object being read holds from the read position, at one of its names,
  // to its end, where the read position is left.
  std::size_t members_to_end() {
    std::size_t members = 1;
    std::size_t depth = 0;  // of the arrays and objects inside it
    for (;;) {
      switch (next()) {
        case '"':
          skip(string().size());
          break;
        case '{':
        case '[':
          ++depth;
          skip(1);
          break;
        case '}':
        case ']':
          if (depth == 0) return members;
          --depth;
          skip(1);
          break;
        case ',':
          members += depth == 0 ? 1 : 0;
          skip(1);
          break;
        default:  // a colon, or a byte of a number or a literal
          skip(1);
          break;
      }
    }
  }

  // The number token at the read position.
  std::string_view number() const {
    const char* end = pos_;
    while (end != end_ && is_number_byte(*end))
      ++end;
    return {pos_, static_cast<std::size_t>(end - pos_)};
  }

  static bool is_number_byte(char byte) {
    return reading::is_digit(static_cast<unsigned char>(byte)) || byte == '-' || byte == '+' ||
           byte == '.' || (byte | 0x20) == 'e';
  }

 private:
  const char* pos_;
  const char* const end_;
};

// The value of one token, read as the reader reads it.
Value token_value(std::string_view token, Arena& arena) {
  reading::Reader reader(token, arena, Build::Everything);
  return reader.read_whole_value();
}

// An integer of at most 18 digits, which fits either integer form (or is "-0", a float that
// equals no integer): texts of two such integers differ exactly when their values do.
bool is_short_integer(std::string_view number) {
  const std::size_t sign = number[0] == '-' ? 1 : 0;
  if (number.size() - sign > 18) return false;
  for (std::size_t i = sign; i < number.size(); ++i) {
    if (!reading::is_digit(static_cast<unsigned char>(number[i]))) return false;
  }
  return true;
}

// Two strings (or two numbers) whose texts differ: equal values or not.
[[gnu::noinline]] bool equal_tokens(std::string_view left, std::string_view right) {
  Arena scratch;
  const Value a = token_value(left, scratch);
  const Value b = token_value(right, scratch);
  return a.kind() == Kind::String ? same_key(a.as_string(), b.as_string())
                                  : a.as_number() == b.as_number();
}

// Two texts of arrays or objects in which no object repeats a key, compared as they are read:
// members in the same order compare one by one, and the first difference decides, unless it is
// between two names (the members may come in another order), which leaves it undecided.
[[gnu::noinline]] Verdict compare_in_lockstep(std::string_view a, std::string_view b) {
  Tokens left(a);
  Tokens right(b);
  constexpr std::size_t kMostDepth = 128;  // the reader's nesting budget
  bool in_object[kMostDepth] = {};
  std::size_t depth = 0;
  bool name = false;  // a string here would be a member's name
  do {
    const char first = left.next();
    if (first != right.next() &&
        !(Tokens::is_number_byte(first) && Tokens::is_number_byte(right.next()))) {
      // Another kind of value, another length of array or another count of members.
      return Verdict::Unequal;
    }
    switch (first) {
      case '{':
      case '[':
        in_object[depth++] = first == '{';
        name = first == '{';
        left.skip(1);
        right.skip(1);
        break;
      case '}':
      case ']':
        --depth;
        name = false;
        left.skip(1);
        right.skip(1);
        break;
      case ',':
        // Deferred text is one array or object, so a separator is always inside one.
        name = depth != 0 && in_object[depth - 1];
        left.skip(1);
        right.skip(1);
        break;
      case ':':
        name = false;
        left.skip(1);
        right.skip(1);
        break;
      case '"': {
        const std::string_view one = left.string();
        const std::string_view other = right.string();
        if (one != other) {
          const bool escaped = one.find('\\') != std::string_view::npos ||
                               other.find('\\') != std::string_view::npos;
          if (!escaped || !equal_tokens(one, other)) {
            if (!name) return Verdict::Unequal;
            // Equal objects hold as many members; those before these two names matched.
            return left.members_to_end() == right.members_to_end() ? Verdict::Undecided
                                                                   : Verdict::Unequal;
          }
        }
        left.skip(one.size());
        right.skip(other.size());
        break;
      }
      case 't':
      case 'n':
        left.skip(4);
        right.skip(4);
        break;
      case 'f':
        left.skip(5);
        right.skip(5);
        break;
      default: {
        const std::string_view one = left.number();
        const std::string_view other = right.number();
        if (one != other &&
            ((is_short_integer(one) && is_short_integer(other)) || !equal_tokens(one, other))) {
          return Verdict::Unequal;
        }
        left.skip(one.size());
        right.skip(other.size());
        break;
      }
    }
  } while (depth > 0);
  return Verdict::Equal;
}

// Equal texts read as equal values; texts whose objects repeat no key are compared as they are
// read; otherwise the deferred side is built and compared as usual.
bool deferred_equal(const Value& a, const Value& b) {
  if (a.is_deferred() && b.is_deferred()) {
    if (same_key(a.deferred_text(), b.deferred_text())) return true;
    if (a.deferred_form() != TextForm::Other && b.deferred_form() != TextForm::Other) {
      const Verdict verdict = compare_in_lockstep(a.deferred_text(), b.deferred_text());
      if (verdict != Verdict::Undecided) return verdict == Verdict::Equal;
    }
  }
  Arena scratch;
  const Value left = a.is_deferred() ? build_deferred(a, scratch) : a;
  const Value right = b.is_deferred() ? build_deferred(b, scratch) : b;
  return left == right;
}

}  // namespace
bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  if (a.is_deferred() || b.is_deferred()) return deferred_equal(a, b);
  switch (a.kind()) {
    case Kind::Null:
      return true;
    case Kind::Bool:
      return a.as_bool() == b.as_bool();
    case Kind::Number:
      return a.as_number() == b.as_number();
    case Kind::String:
      return same_key(a.as_string(), b.as_string());
    case Kind::Array: {
      const auto left = a.as_array();
      const auto right = b.as_array();
      if (left.size() != right.size()) return false;
      for (std::size_t i = 0; i < left.size(); ++i) {
        if (!(left[i] == right[i])) return false;
      }
      return true;
    }
    case Kind::Object: {
      const Map& left = a.as_object();
      const Map& right = b.as_object();
      if (left.size() != right.size()) return false;
      for (const Map::Entry& entry : left) {
        const Value* other = right.get(entry.key);
        if (other == nullptr || !(entry.value == *other)) return false;
      }
      return true;
    }
  }
  return false;
}

}  // namespace tarvik::json
