// Output text gathered into blocks of a megabyte, each given to a sink when full: a transform
// writes as it goes without ever holding its whole output.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace tarvik {

// Where an output written as it is made goes, in consecutive parts. write returns false when no
// more can go (a failed write): the transform then stops making the output and returns.
class TextSink {
 public:
  virtual bool write(std::string_view text) = 0;

 protected:
  ~TextSink() = default;
};

class TextBlocks {
 public:
  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

  explicit TextBlocks(TextSink& sink)
      : sink_(sink), block_(std::make_unique_for_overwrite<char[]>(kBlockSize)) {}

  void put(char c) {
    if (used_ == kBlockSize) flush();
    block_[used_++] = c;
  }

  void copy(const char* text, std::size_t length) {
    while (length > kBlockSize - used_) {
      const std::size_t room = kBlockSize - used_;
      std::memcpy(block_.get() + used_, text, room);
      used_ = kBlockSize;
      flush();
      text += room;
      length -= room;
    }
    std::memcpy(block_.get() + used_, text, length);
    used_ += length;
  }

  // Gives the block to the sink. Once the sink has refused a block, what follows is dropped.
  void flush() {
    if (used_ != 0 && !stopped_) stopped_ = !sink_.write({block_.get(), used_});
    given_ += used_;
    used_ = 0;
  }

  // Whether the sink refused a block: the rest of the output need not be made.
  bool stopped() const { return stopped_; }
  // Whether any of the output was written.
  bool started() const { return given_ + used_ != 0; }

 private:
  TextSink& sink_;
  std::unique_ptr<char[]> block_;
  std::size_t used_ = 0;
  std::size_t given_ = 0;
  bool stopped_ = false;
};

}  // namespace tarvik
