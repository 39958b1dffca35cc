// One payload to transform: a file mapped into memory where the OS allows, otherwise read whole
// (standard input from a pipe or a terminal, files whose size the OS does not tell).
#pragma once

#include <cstddef>
#include <string_view>

#include "json/memory/buffer.hpp"
#include "json/model/result.hpp"

namespace tarvik::cli {

class Input {
 public:
  // The bytes of open descriptor `fd` from its current offset on; `fd` stays open, and is left at
  // the end of what it holds, as reading it would leave it. Fails with the errno of the failure.
  static Result<Input, int> from_descriptor(int fd);
  // The bytes of the file at `path`; its descriptor is closed before this returns.
  static Result<Input, int> from_file(const char* path);

  Input(Input&& other) noexcept;
  Input& operator=(Input&&) = delete;
  ~Input();

  std::string_view bytes() const { return bytes_; }
  // Whether the bytes are a mapping of the file, which a file cut short beneath it turns into
  // SIGBUS on reading, or into zero bytes up to the end of its last page.
  bool mapped() const { return map_ != nullptr; }
  // Whether the mapped file is now shorter than when it was mapped: its bytes past the new end
  // were not the file's.
  bool cut_short() const;

 private:
  Input() = default;

  void* map_ = nullptr;  // the mapping, when the bytes are mapped
  std::size_t map_size_ = 0;
  int mapped_file_ = -1;  // a descriptor of the mapped file, kept to see its size later
  json::Buffer buffer_;   // the bytes, when read
  std::string_view bytes_;
};

}  // namespace tarvik::cli
