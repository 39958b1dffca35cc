// Equality and deep copy of document values. Both recurse once per nesting level; the reader
// bounds nesting at 127 levels.
#include "json/value.hpp"

#include "json/map.hpp"
#include "json/read/reader.hpp"

namespace tarvik::json {

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

std::span<const Value> deep_copy_elements(std::span<const Value> elements, Arena& arena) {
  if (elements.empty()) return {};
  Value* copy = arena.allocate_array<Value>(elements.size());
  for (std::size_t i = 0; i < elements.size(); ++i)
    copy[i] = elements[i].deep_copy(arena);
  return {copy, elements.size()};
}

Value Value::deep_copy(Arena& arena) const {
  if (is_deferred()) return deferred(kind(), arena.copy_string(deferred_text()), deferred_form());
  switch (kind()) {
    case Kind::String: {
      const std::string_view text = arena.copy_string(as_string());
      return is_plain_string() ? plain_string(text) : string(text);
    }
    case Kind::Array:
      return array(deep_copy_elements(as_array(), arena));
    case Kind::Object:
      return object(as_object().deep_copy(arena));
    case Kind::Null:
    case Kind::Bool:
    case Kind::Number:
      break;
  }
  return *this;
}

}  // namespace tarvik::json
