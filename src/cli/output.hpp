// Where one result goes: standard output, or a file that appears under its name only when
// complete. A regular file is written under a temporary name beside it and renamed at the end.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "json/model/result.hpp"

namespace tarvik::cli {

class Output {
 public:
  // Descriptor 1, which stays open.
  static Output standard_output();
  // The temporary file beside `path`, or beside the file a symbolic link `path` leads to, with
  // the permissions, owner and group of the file it replaces (as far as the caller may set them)
  // or those of a new file; `path` itself when it is a device, pipe or socket, which is not
  // replaced. Fails with the errno of the failure, EACCES for a file the caller may not write.
  static Result<Output, int> to_file(const std::string& path);

  Output(Output&& other) noexcept;
  Output& operator=(Output&&) = delete;
  // Removes the temporary file unless committed.
  ~Output();

  // Writes all of `bytes`, however the OS splits them. Returns 0 or the errno of the failure;
  // written() counts what went out before it.
  [[nodiscard]] int write(std::string_view bytes);
  // Closes the file and renames the temporary file to its name. Returns 0 or the errno.
  [[nodiscard]] int commit();

  std::size_t written() const { return written_; }

 private:
  Output(int fd, std::string temporary, std::string path)
      : fd_(fd), temporary_(std::move(temporary)), path_(std::move(path)) {}

  int fd_;
  std::string temporary_;  // empty when writing to the destination directly
  std::string path_;
  std::size_t written_ = 0;
};

}  // namespace tarvik::cli
