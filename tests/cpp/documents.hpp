// Builders for documents in memory, so tests can state inputs the way JSON reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>

#include "json/memory/arena.hpp"
#include "json/model/map.hpp"
#include "json/model/value.hpp"

namespace tarvik::testing {

using json::Arena;
using json::Map;
using json::Number;
using json::Value;

inline Value uint_(std::uint64_t n) {
  return Value::number(Number::non_negative(n));
}
inline Value int_(std::int64_t n) {
  return n >= 0 ? uint_(static_cast<std::uint64_t>(n)) : Value::number(Number::negative(n));
}
inline Value float_(double d) {
  return Value::number(Number::floating(d));
}

class Builder {
 public:
  explicit Builder(Arena& arena) : arena_(arena) {}

  Value str(std::string_view text) const { return Value::string(arena_.copy_string(text)); }

  Value arr(std::initializer_list<Value> elements) const {
    Value* block = arena_.allocate_array<Value>(elements.size());
    std::size_t i = 0;
    for (const Value& element : elements)
      block[i++] = element;
    return Value::array({block, elements.size()});
  }

  // Members are inserted in order, so a repeated name keeps its first position.
  Value obj(std::initializer_list<std::pair<std::string_view, Value>> members) const {
    Map& map = Map::create(arena_);
    for (const auto& [key, value] : members)
      map.insert(arena_.copy_string(key), value);
    return Value::object(map);
  }

 private:
  Arena& arena_;
};

}  // namespace tarvik::testing
