// The guess ahead for the keys of a row: rows mostly repeat the keys of the row before them, in
// its order, so the key expected next is tried before any search. The reader and the rows
// transform both follow it.
#pragma once

#include <cstddef>

namespace tarvik::json {

// Whether `matches(i)` holds for i = `expected` or `expected + 1` (a member that the row before
// held is missing here), below `count`, trying them in that order; on a match `expected` moves
// past the index that matched. Keys found this way stand in the order of the row before.
template <class Matches>
[[gnu::always_inline]] inline bool take_guessed_key(std::size_t count, std::size_t& expected,
                                                    Matches matches) {
  constexpr std::size_t kGuesses = 2;
  for (std::size_t i = expected; i < count && i < expected + kGuesses; ++i) {
    if (matches(i)) {
      expected = i + 1;
      return true;
    }
  }
  return false;
}

}  // namespace tarvik::json
