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
  if (!writeAll(kStandardOutput, text))
    stopPrinting(errno != 0 ? errno : EIO);
}

void stopPrinting(int error) { firstError = error; }

int stdoutError() { return firstError; }

void reportFileError(std::string_view action, const std::string& path,
                     std::string_view reason) {
  std::string message(action);
  message.append(" '").append(path).append("': ").append(reason);
  reportError(message);
}

void reportError(std::string_view message) {
  printError(std::string("charpic: ").append(message).append("\n"));
}

void printError(std::string_view text) { writeAll(kStandardError, text); }
