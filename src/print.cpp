#include "print.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

int firstError = 0;

}  // namespace

void print(std::string_view text) {
  while (!text.empty() && firstError == 0) {
    const ssize_t written = write(STDOUT_FILENO, text.data(), text.size());
    if (written > 0)
      text.remove_prefix(static_cast<size_t>(written));
    else if (written == 0)
      firstError = EIO;
    else if (errno != EINTR)
      firstError = errno;
  }
}

void printLine(std::string_view line) {
  // The line and its line feed go out in one write; the buffer keeps its
  // storage from one line to the next.
  static std::string buffer;
  buffer.assign(line);
  buffer += '\n';
  print(buffer);
}

int stdoutError() { return firstError; }
