// When a column is constant: every cell matches the first row's value. The one rule, shared by the
// table transform and the document transform.
#pragma once

#include "json/model/map.hpp"
#include "json/model/value.hpp"
#include "json/read/deferred.hpp"

namespace tarvik {

// A cell matches the constant's reference when both are numbers of the same exact value (so 1, 1.0
// and 1e0 match, and distinct integers never do), and otherwise when the two are equal values.
// Scalars are compared here; arrays and objects by the document model's deep equality, in which
// numbers of different forms differ.
inline bool matches_constant(const json::Value& cell, const json::Value& reference) {
  if (cell.kind() != reference.kind()) return false;
  switch (cell.kind()) {
    case json::Kind::Null:
      return true;
    case json::Kind::Bool:
      return cell.as_bool() == reference.as_bool();
    case json::Kind::Number:
      return cell.as_number().same_value(reference.as_number());
    case json::Kind::String:
      return json::same_key(cell.as_string(), reference.as_string());
    case json::Kind::Array:
    case json::Kind::Object:
      break;
  }
  return cell == reference;
}

}  // namespace tarvik
