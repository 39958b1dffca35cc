// Why a payload cannot be transformed into a table: the message a caller shows, and the row at
// fault for a caller that points at it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tarvik {

// The message, and the index (from 0) of the row that is not an object when that is the fault.
struct TransformFailure {
  std::string message;
  std::optional<std::size_t> row;
};

}  // namespace tarvik
