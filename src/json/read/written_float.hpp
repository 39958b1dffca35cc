// Whether a float's text in the payload is exactly what the writer writes for its value, so that
// text kept as read needs no respelling.
#pragma once

#include "json/read/number_text.hpp"

namespace tarvik::json::reading {

// Whether the float text [number.digits, end) is exactly what write_float writes for the
// magnitude of `value`, which the text reads back as. The writer's text is fixed by the shortest
// decimal of the value: so the text must spell that decimal, in the writer's layout for it.
bool is_written_float(const NumberText& number, const char* end, double value);

}  // namespace tarvik::json::reading
