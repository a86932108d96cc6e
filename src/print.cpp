#include "print.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform.h"

namespace {

int firstError = 0;

}  // namespace

std::string quoted(std::string_view path) {
  std::string text = "'";
  for (const char byte : path) {
    const auto code = static_cast<unsigned char>(byte);
    if (byte == '\'') {
      text += R"('\'')";
    } else if (code < 0x20 || code == 0x7f) {
      char escape[sizeof "'$'\\ooo''"];
      std::snprintf(escape, sizeof escape, "'$'\\%03o''", code);
      text += escape;
    } else {
      text += byte;
    }
  }
  return text + "'";
}

void print(std::string_view text) {
  if (firstError != 0 || text.empty())
    return;
  if (!writeAll(kStandardOutput, text))
    firstError = errno != 0 ? errno : EIO;
}

int stdoutError() { return firstError; }

void reportFileError(std::string_view action, const std::string& path,
                     std::string_view reason) {
  reportError(std::string(action) + " " + quoted(path) + ": " +
              std::string(reason));
}

void reportError(std::string_view message) {
  writeAll(kStandardError,
           std::string("charpic: ").append(message).append("\n"));
}
