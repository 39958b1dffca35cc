// The reused buffer that the text of a string with escapes is decoded into: written through a
// position with room asked for first, so that its short pieces are stored without a call.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

namespace tarvik::json::reading {

class DecodedText {
 public:
  void clear() { size_ = 0; }
  std::string_view view() const { return {data_.get(), size_}; }

  // The end of the text, with room for more than `count` bytes after it.
  char* room(std::size_t count) {
    if (capacity_ - size_ <= count) [[unlikely]]
      grow(count);
    return data_.get() + size_;
  }
  // Makes the bytes written from room() up to `end` part of the text.
  void commit(const char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }

  void append(const char* bytes, std::size_t count) {
    char* const at = room(count);
    std::memcpy(at, bytes, count);
    commit(at + count);
  }

 private:
  [[gnu::noinline]] void grow(std::size_t count) {
    constexpr std::size_t kLeastCapacity = 256;
    const std::size_t capacity = std::max(2 * capacity_, size_ + count + kLeastCapacity);
    auto data = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ != 0) std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
  }

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tarvik::json::reading
