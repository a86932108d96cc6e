#include "print.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

int firstError = 0;

// Standard output without a buffer of its own, so that each fwrite goes
// straight to the system, one write for a whole line, and nothing is held
// back to flush.
std::FILE* unbufferedStdout() {
  static std::FILE* const out = [] {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return stdout;
  }();
  return out;
}

}  // namespace

void print(std::string_view text) {
  if (firstError != 0 || text.empty())
    return;
  if (std::fwrite(text.data(), 1, text.size(), unbufferedStdout()) !=
      text.size())
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
