// The position and the hint the tool adds to a codec message: the module's own message stays as
// the module gives it, so the tool finds the line of a row and the shape of JSON Lines itself.
#include "cli/codec_failure.hpp"

#include <cstddef>
#include <optional>
#include <vector>

#include "cli/messages.hpp"
#include "json/memory/arena.hpp"

namespace tarvik::cli {

namespace {

constexpr std::string_view kWhitespace = " \t\r\n";

// An object on the first line holding anything, then another value on a later line: JSON Lines,
// which read as one array fails at its first byte ("invalid type: map, expected a sequence").
bool looks_like_json_lines(std::string_view payload) {
  const std::size_t start = payload.find_first_not_of(kWhitespace);
  if (start == std::string_view::npos || payload[start] != '{') return false;
  const std::size_t line_end = payload.find('\n', start);
  if (line_end == std::string_view::npos ||
      payload.find_first_not_of(kWhitespace, line_end) == std::string_view::npos) {
    return false;
  }
  json::Arena arena;
  const auto first = json::parse_value_lines(payload.substr(0, line_end), arena, json::Build::Rows);
  return first.ok() && first.value().size() == 1 && first.value().front().is_object();
}

}  // namespace

std::string codec_failure_text(const TransformFailure& failure, std::string_view payload,
                               json::Layout layout) {
  std::string text;
  if (failure.row) {
    text = "row " + std::to_string(*failure.row + 1);
    if (layout == json::Layout::Lines) {
      text += " (line " + std::to_string(json::line_of_value(payload, *failure.row)) + ")";
    }
    text += ": ";
  }
  text += shortened(failure.message);
  if (layout == json::Layout::Array && looks_like_json_lines(payload)) {
    text += " (the input looks like JSON Lines: try --lines)";
  }
  return text;
}

}  // namespace tarvik::cli
