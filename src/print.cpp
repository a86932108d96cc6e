#include "print.h"

#include <cerrno>
#include <string>

#include "platform.h"

namespace {

int firstError = 0;

}  // namespace

void print(std::string_view text) {
  if (firstError != 0 || text.empty())
    return;
  if (!writeStandardOutput(text))
    firstError = errno != 0 ? errno : EIO;
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
