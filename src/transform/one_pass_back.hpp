// The way back in one pass, for text spelt as the writer spells it: what columnarize_document
// writes is turned back without the two walks that any other text takes.
#pragma once

#include <string_view>

#include "json/memory/buffer.hpp"

namespace tarvik {

// Appends `payload` turned back (as decolumnarize turns it) to `out` and answers true when it is
// spelt as the writer spells it (no whitespace, no other spelling of a string or number), repeats
// no name, has whole tables and is not nested deeper than a document mostly is. Otherwise answers
// false, `out` then holding anything: the two walks read the payload and say what is wrong.
bool write_back_in_one_pass(std::string_view payload, json::Buffer& out);

}  // namespace tarvik
