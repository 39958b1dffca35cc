// Deferred values: built and respelled by the reader's layers, compared as what they stand for.
// Equality recurses once per nesting level; the reader bounds nesting at 127 levels.
#include "json/read/deferred.hpp"

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

// Equal texts read as equal values; otherwise the deferred side is built and compared as usual.
bool deferred_equal(const Value& a, const Value& b) {
  if (a.is_deferred() && b.is_deferred() && same_key(a.deferred_text(), b.deferred_text())) {
    return true;
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
