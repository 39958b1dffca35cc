// The growable byte buffer that the writer appends to; it becomes the call's output bytes.
// Growth never zero-fills, and a failed allocation throws std::bad_alloc leaving it unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "json/memory/huge_pages.hpp"
#include "json/memory/output_pages.hpp"

namespace tarvik::json {

class Buffer {
 public:
  static constexpr std::size_t kInitialCapacity = 128;

  // `expected_size`: what the content will probably grow to. The first growth past `capacity`
  // goes straight there, so a large content is not copied from block to block as it grows.
  explicit Buffer(std::size_t capacity = kInitialCapacity, std::size_t expected_size = 0)
      : expected_size_(expected_size) {
    reserve(capacity);
  }
  Buffer(Buffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        expected_size_(other.expected_size_) {}
  Buffer& operator=(Buffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(expected_size_, other.expected_size_);
    return *this;
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() { release(); }

  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  std::string_view view() const { return {data_, size_}; }

  void push_back(char byte) {
    if (size_ == capacity_) grow(1);
    data_[size_++] = byte;
  }

  void append(const char* bytes, std::size_t count) {
    if (count > capacity_ - size_) grow(count);
    char* const to = data_ + size_;
    size_ += count;
    if (count <= 16) {
      copy_short(to, bytes, count);
    } else {
      std::memcpy(to, bytes, count);
    }
  }
  void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
  // Two pieces at once, with one reservation: a name and its value, say.
  void append_pair(std::string_view first, std::string_view second) {
    reserve_more(first.size() + second.size());
    char* const to = data_ + size_;
    size_ += first.size() + second.size();
    copy_any(to, first.data(), first.size());
    copy_any(to + first.size(), second.data(), second.size());
  }

  // Empties the buffer and keeps its storage.
  void clear() { size_ = 0; }
  // Keeps only the first `size` bytes (at most size()) and the storage.
  void cut_to(std::size_t size) { size_ = size; }

  // Copies the content to `to` (fresh memory of at least size() bytes) and frees the storage.
  // A `large` output is copied a step at a time into pages faulted in ahead, the pages of a
  // content in a large block given back as they are copied, so that it is never resident twice.
  // A smaller one is copied at once: its pages stay with its block, kept for the next call, which
  // then need not fault them in again, and the result's few pages need no advice.
  void hand_over(char* to, bool large) {
    if (large) {
      copy_handing_back(data_, size_, to, is_large_block(capacity_));
    } else if (size_ != 0) {
      std::memcpy(to, data_, size_);
    }
    release();
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

  // Room for at least `count` more bytes without further growth.
  void reserve_more(std::size_t count) {
    if (count > capacity_ - size_) grow(count);
  }

  // Direct writing: after reserve_more(n), up to n bytes may be written at write_position()
  // and then made part of the buffer with commit().
  char* write_position() { return data_ + size_; }
  void commit(std::size_t count) { size_ += count; }

  void reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    if (is_large_block(capacity) && is_large_block(capacity_)) {
      const LargeBlock grown = grow_large_block({data_, capacity_}, capacity);
      data_ = static_cast<char*>(grown.data);
      capacity_ = grown.size;
    } else if (is_large_block(capacity)) {
      const LargeBlock grown = allocate_large_block(capacity);
      if (size_ > 0) std::memcpy(grown.data, data_, size_);
      release();
      data_ = static_cast<char*>(grown.data);
      capacity_ = grown.size;
    } else {
      void* const grown = std::realloc(data_, capacity);
      if (grown == nullptr) throw std::bad_alloc();
      data_ = static_cast<char*>(grown);
      capacity_ = capacity;
    }
  }

 private:
  // A large capacity is that of a large block; a smaller one, of a block from realloc. Moved-from
  // buffers hold none, and are destroyed without a call.
  void release() noexcept {
    if (data_ == nullptr) return;
    if (is_large_block(capacity_)) {
      release_large_block({data_, capacity_});
    } else {
      std::free(data_);
    }
  }

  static void copy_any(char* to, const char* from, std::size_t count) {
    if (count <= 16) {
      copy_short(to, from, count);
    } else {
      std::memcpy(to, from, count);
    }
  }

  // Most appends are a cell, a name or a comma: up to 16 bytes are copied as two overlapping
  // words (or halves, or three bytes), without a call.
  static void copy_short(char* to, const char* from, std::size_t count) {
    if (count >= 8) {
      copy_word<std::uint64_t>(to, from);
      copy_word<std::uint64_t>(to + count - 8, from + count - 8);
    } else if (count >= 4) {
      copy_word<std::uint32_t>(to, from);
      copy_word<std::uint32_t>(to + count - 4, from + count - 4);
    } else if (count > 0) {
      to[0] = from[0];
      to[count / 2] = from[count / 2];
      to[count - 1] = from[count - 1];
    }
  }
  template <class Word>
  static void copy_word(char* to, const char* from) {
    Word word;
    std::memcpy(&word, from, sizeof word);
    std::memcpy(to, &word, sizeof word);
  }

  void grow(std::size_t extra) {
    if (extra > SIZE_MAX / 2 - size_) throw std::bad_alloc();
    const std::size_t needed = size_ + extra;
    std::size_t target = capacity_ < kInitialCapacity ? kInitialCapacity : capacity_ * 2;
    if (target < expected_size_) target = expected_size_;
    if (target < needed) target = needed;
    reserve(target);
  }

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t expected_size_;
};

}  // namespace tarvik::json
