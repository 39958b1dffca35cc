// The JSON reader's entry point: one forward pass over the payload, values built in the arena,
// positions computed only when an error is built.
#include "json/read/reader.hpp"

#include "json/read/value_reader.hpp"

namespace tarvik::json {

Result<std::vector<Value>, Error> parse_value_list(std::string_view input, Arena& arena,
                                                   Build build) {
  reading::Reader reader(input, arena, build);
  return reader.parse_value_list();
}

Result<std::vector<Value>, Error> parse_value_lines(std::string_view input, Arena& arena,
                                                    Build build) {
  reading::Reader reader(input, arena, build);
  return reader.parse_value_lines();
}

}  // namespace tarvik::json
