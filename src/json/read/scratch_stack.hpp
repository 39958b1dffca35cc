// The reader's scratch stack of values or members of the containers being read, innermost on
// top: pushed onto in the hottest loops of the reader, so its common path is a store.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <type_traits>

namespace tarvik::json::reading {

template <class T>
class ScratchStack {
  static_assert(std::is_trivially_copyable_v<T>, "the stack grows by copying bytes");

 public:
  std::size_t size() const { return size_; }
  std::span<const T> from(std::size_t base) const { return {data_.get() + base, size_ - base}; }

  [[gnu::always_inline]] void push(const T& item) {
    if (size_ == capacity_) [[unlikely]]
      grow();
    data_[size_++] = item;
  }

  // The slot above the top, to be written in place and then pushed by commit.
  [[gnu::always_inline]] T& next() {
    if (size_ == capacity_) [[unlikely]]
      grow();
    return data_[size_];
  }
  void commit() { ++size_; }

  // Drops the items from `base` on.
  void cut_to(std::size_t base) { size_ = base; }

 private:
  [[gnu::noinline]] void grow() {
    constexpr std::size_t kLeastCapacity = 64;
    const std::size_t capacity = std::max(2 * capacity_, kLeastCapacity);
    auto data = std::make_unique_for_overwrite<T[]>(capacity);
    if (size_ != 0) std::memcpy(data.get(), data_.get(), size_ * sizeof(T));
    data_ = std::move(data);
    capacity_ = capacity;
  }

  std::unique_ptr<T[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tarvik::json::reading
