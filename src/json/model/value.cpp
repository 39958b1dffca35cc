// Deep copy of document values. It recurses once per nesting level; the reader bounds nesting at
// 127 levels.
#include "json/model/value.hpp"

#include "json/model/map.hpp"

namespace tarvik::json {

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
