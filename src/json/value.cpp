// Equality and deep copy of document values. Both recurse once per nesting level; the reader
// bounds nesting at 127 levels.
#include "json/value.hpp"

#include "json/map.hpp"

namespace tarvik::json {

bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
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
  switch (kind()) {
    case Kind::String:
      return string(arena.copy_string(as_string()));
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
