// Where a value stands in a document, kept as the walk goes down and up, and spelt as a JSONPath
// ($.items.rows[3][2], $["a b"]) for the messages that name a place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/model/value.hpp"
#include "json/write/writer.hpp"

namespace tarvik {

class JsonPath {
 public:
  // `root` names the document itself: "$", or the path of the value it was taken from.
  explicit JsonPath(std::string root = "$") : root_(std::move(root)) {}

  // A step into an array (at element 0) or an object (at no member yet).
  void enter() { steps_.push_back({}); }
  void leave() { steps_.pop_back(); }
  // The current step is the element at `index`, or the member whose name is spelt `spelling`
  // between its quotes in the input (with its escapes, if `escaped`).
  void at_index(std::uint64_t index) { steps_.back() = {index, {}, Step::Index}; }
  void at_name(std::string_view spelling, bool escaped) {
    steps_.back() = {0, spelling, escaped ? Step::EscapedName : Step::Name};
  }
  std::size_t depth() const { return steps_.size(); }

  // The path of the value at the first `depth` steps.
  std::string text(std::size_t depth) const {
    std::string path = root_;
    for (std::size_t i = 0; i < depth; ++i)
      append_step(path, steps_[i]);
    return path;
  }

  // A step written after the path `path`: [index], .name, or ["name"] for a name that is not an
  // identifier.
  static void append_index(std::string& path, std::uint64_t index) {
    path += '[' + std::to_string(index) + ']';
  }
  static void append_name(std::string& path, std::string_view name) {
    if (is_identifier(name)) {
      path += '.';
      path += name;
      return;
    }
    path += '[';
    json::display_value(json::Value::string(name), path);
    path += ']';
  }

 private:
  struct Step {
    enum Kind : std::uint8_t { Index, Name, EscapedName };
    std::uint64_t index = 0;
    std::string_view name;
    Kind kind = Index;
  };

  static bool is_identifier(std::string_view name) {
    if (name.empty() || (name.front() >= '0' && name.front() <= '9')) return false;
    for (const char c : name) {
      const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
      if (!letter && !(c >= '0' && c <= '9')) return false;
    }
    return true;
  }

  static void append_step(std::string& path, const Step& step) {
    switch (step.kind) {
      case Step::Index:
        append_index(path, step.index);
        break;
      case Step::Name:
        append_name(path, step.name);
        break;
      case Step::EscapedName:
        // Its escapes are a valid JSON spelling of it already.
        path += "[\"";
        path += step.name;
        path += "\"]";
        break;
    }
  }

  std::string root_;
  std::vector<Step> steps_;
};

}  // namespace tarvik
