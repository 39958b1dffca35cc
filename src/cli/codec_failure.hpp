// What the tool says of a payload it cannot transform: the module's message, led by the number of
// the row at fault (and its line, in JSON Lines), with a hint where JSON Lines was read as JSON.
#pragma once

#include <string>
#include <string_view>

#include "json/read/reader.hpp"
#include "transform/transform_failure.hpp"

namespace tarvik::cli {

// "row N (line L): " when a row is at fault, rows counted from 1 and the line given for JSON
// Lines, then the message as `shortened` cuts it; for an input read as one array that looks like
// JSON Lines, " (the input looks like JSON Lines: try --lines)" after it.
std::string codec_failure_text(const TransformFailure& failure, std::string_view payload,
                               json::Layout layout);

}  // namespace tarvik::cli
