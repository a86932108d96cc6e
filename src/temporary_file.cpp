#include "temporary_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <random>
#include <utility>

namespace {

// What a temporary file's name adds to the name of its target, before a
// number of up to ten digits.
constexpr std::string_view kTemporaryMark = ".charpic-";
constexpr size_t kTemporaryLength = kTemporaryMark.size() + 10;

// How many names are tried before giving up on finding one that is free.
constexpr int kAttempts = 100;

// The start of the name of a temporary file beside `target`: `target`'s
// name, cut where it would otherwise grow too long for the system, then the
// mark that the number follows.
std::string temporaryPrefix(const std::string& target) {
  const size_t nameStart = target.find_last_of(kPathSeparators) + 1;
  size_t kept =
      std::min(target.size() - nameStart, kMaxNameLength - kTemporaryLength);
  // Not within a UTF-8 character: a byte 10xxxxxx continues one.
  while (kept > 0 &&
         (static_cast<unsigned char>(target[nameStart + kept]) & 0xC0) == 0x80)
    --kept;
  return target.substr(0, nameStart + kept).append(kTemporaryMark);
}

}  // namespace

TemporaryFile::TemporaryFile(const Place& target, unsigned mode)
    : target_(target) {
  const std::string prefix = temporaryPrefix(target_.name);
  std::minstd_rand random(static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count()));
  // The first name is always the same, so that a copy left behind is easy to
  // find; the others are drawn at random, so that no one can take them all.
  for (int attempt = 0; attempt < kAttempts && !file_; ++attempt) {
    name_ = prefix + std::to_string(attempt == 0 ? 0 : random());
    file_ = createFile(target_.folder, name_, mode);
    if (!file_ && errno != EEXIST)
      break;
  }
  if (!file_)
    name_.clear();
  path_ =
      target.path.substr(0, target.path.size() - target.name.size()) + name_;
}

TemporaryFile::~TemporaryFile() { remove(); }

bool TemporaryFile::write(std::string_view bytes) {
  return writeAll(file_.fd(), bytes) && syncFile(file_);
}

bool TemporaryFile::putInPlace(const File& model) {
  const bool copied = !model || copyMetadata(model, file_);
  const int error = errno;
  // Its bytes are on the disk: closing it can report nothing more.
  file_.close();
  errno = error;
  if (!copied || !replaceFile(target_.folder, name_, target_.name))
    return false;
  name_.clear();
  return true;
}

bool TemporaryFile::remove() {
  if (name_.empty())
    return true;
  file_.close();
  return removeFile(target_.folder, std::exchange(name_, {}));
}
