#include "temporary_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <utility>

#include "platform.h"

namespace {

// What a temporary file's name adds to the name of its target, before a
// number of up to ten digits.
constexpr std::string_view kTemporaryMark = ".charpic-";
constexpr size_t kTemporaryLength = kTemporaryMark.size() + 10;

// How many names are tried before giving up on finding one that is free.
constexpr int kAttempts = 100;

// The start of the name of a temporary file beside `target`: `target`, cut
// at the end of its name where the name or the whole path would otherwise
// grow too long for the system, then the mark that the number follows.
std::string temporaryPrefix(const std::string& target) {
  const size_t nameStart = target.find_last_of(kPathSeparators) + 1;
  const size_t pathRoom = kMaxPathLength - kTemporaryLength;
  size_t kept =
      std::min({target.size() - nameStart, kMaxNameLength - kTemporaryLength,
                nameStart < pathRoom ? pathRoom - nameStart : 0});
  // Not within a UTF-8 character: a byte 10xxxxxx continues one.
  while (kept > 0 &&
         (static_cast<unsigned char>(target[nameStart + kept]) & 0xC0) == 0x80)
    --kept;
  return target.substr(0, nameStart + kept).append(kTemporaryMark);
}

}  // namespace

TemporaryFile::TemporaryFile(std::string target, const File& model)
    : target_(std::move(target)) {
  const std::string prefix = temporaryPrefix(target_);
  std::minstd_rand random(static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count()));
  // The first name is always the same, so that a copy left behind is easy to
  // find; the others are drawn at random, so that no one can take them all.
  for (int attempt = 0; attempt < kAttempts && !file_; ++attempt) {
    path_ = prefix + std::to_string(attempt == 0 ? 0 : random());
    file_ = createTemporaryFile(path_, model ? 0600 : 0666);
    if (!file_ && errno != EEXIST)
      break;
  }
  if (!file_) {
    path_.clear();
  } else if (model && !copyMetadata(model, file_)) {
    const int error = errno;
    remove();
    errno = error;
  }
}

TemporaryFile::~TemporaryFile() { remove(); }

bool TemporaryFile::write(std::string_view bytes) {
  return writeAll(file_.fd(), bytes) && syncFile(file_) && file_.close();
}

bool TemporaryFile::putInPlace() {
  if (!replaceFile(path_, target_))
    return false;
  keep();
  return true;
}

std::string TemporaryFile::keep() {
  stopRemovingOnSignal();
  return std::exchange(path_, {});
}

bool TemporaryFile::remove() {
  if (path_.empty())
    return true;
  file_.close();
  const bool removed = std::remove(path_.c_str()) == 0;
  stopRemovingOnSignal();
  path_.clear();
  return removed;
}
