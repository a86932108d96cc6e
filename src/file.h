#ifndef CHARPIC_FILE_H_
#define CHARPIC_FILE_H_

#include <utility>

// An open file, held by its descriptor and closed when it goes out of scope.
// The platform source files implement close().
class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  File& operator=(File&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~File() { close(); }

  explicit operator bool() const { return fd_ >= 0; }
  [[nodiscard]] int fd() const { return fd_; }

  // Closes the file, if open. False, with errno set, when the system reports
  // that what was written to it could not be stored.
  bool close();

 private:
  int fd_ = -1;
};

#endif  // CHARPIC_FILE_H_
