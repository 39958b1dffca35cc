// Scratch kept for each depth of a nested walk, made when a depth is first reached and reused by
// the values that follow; an item stays where it is, so a frame may hold a reference to it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace tarvik {

template <class Item>
class PerDepth {
 public:
  Item& at(std::size_t depth) {
    while (depth >= items_.size())
      items_.push_back(std::make_unique<Item>());
    return *items_[depth];
  }

  // Calls `visit` on each item made so far.
  template <class Visit>
  void each(Visit visit) {
    for (const std::unique_ptr<Item>& item : items_)
      visit(*item);
  }

 private:
  std::vector<std::unique_ptr<Item>> items_;  // none made for a call that never nests
};

}  // namespace tarvik
