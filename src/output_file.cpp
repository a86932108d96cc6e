#include "output_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

#include "platform.h"

namespace {

// How much of the file is written at a time.
constexpr size_t kBufferSize = 1 << 20;

// What a temporary file's name adds to the name of the file it replaces,
// before a number of up to ten digits.
constexpr std::string_view kTemporaryMark = ".charpic-";
constexpr size_t kTemporaryLength = kTemporaryMark.size() + 10;

// Whether `error` says that the system refuses one way of writing a file
// rather than that writing failed, so that another way may still work.
bool refused(int error) {
  return error == EACCES || error == EPERM || error == EBUSY ||
         error == EXDEV || error == ENAMETOOLONG || error == ENOTSUP;
}

// Whether `byte` continues a character that an earlier byte began (UTF-8).
bool continuesCharacter(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The start of the name of a temporary file beside `target`: `target`, cut
// at the end of its name where the name or the whole path would otherwise
// grow too long for the system, then the mark that the number follows.
std::string temporaryPrefix(const std::string& target) {
  const size_t nameStart = target.find_last_of(kPathSeparators) + 1;
  const size_t name = target.size() - nameStart;
  size_t excess = 0;
  if (name + kTemporaryLength > kMaxNameLength)
    excess = name + kTemporaryLength - kMaxNameLength;
  if (target.size() + kTemporaryLength > kMaxPathLength)
    excess =
        std::max(excess, target.size() + kTemporaryLength - kMaxPathLength);
  size_t kept = name > excess ? name - excess : 0;
  while (kept > 0 && continuesCharacter(target[nameStart + kept]))
    --kept;
  return target.substr(0, nameStart + kept).append(kTemporaryMark);
}

}  // namespace

OutputFile::OutputFile(const char* path) : buffer_(kBufferSize) {
  file_ = openDestination(path);
  if (!file_)
    error_ = errno;
  else
    std::setvbuf(file_.get(), buffer_.data(), _IOFBF, buffer_.size());
}

OutputFile::~OutputFile() { discard(); }

File OutputFile::openDestination(const char* path) {
  if (*path == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  if (const int stream = streamWritingTo(path))
    return openStream(stream);
  bool existing = false;
  switch (fileKind(path)) {
    case FileKind::kUnknown:
      return nullptr;
    case FileKind::kDirectory:
      errno = EISDIR;  // Windows would say "Permission denied"
      return nullptr;
    case FileKind::kOther:
      return File(std::fopen(path, "wb"));
    case FileKind::kRegular:
      // A file the process may not write stays refused.
      if (!canOpenForWriting(path))
        return nullptr;
      existing = true;
      break;
    case FileKind::kMissing:
      break;
  }
  std::string target;
  if (!resolveLinks(path, &target))
    return nullptr;
  if (File file = openTemporary(target, existing))
    return file;
  // Where the system refuses a temporary file, the file itself may still be
  // written in place, as a shell's redirection would.
  return refused(errno) ? File(std::fopen(path, "wb")) : nullptr;
}

File OutputFile::openTemporary(const std::string& target, bool existing) {
  const std::string prefix = temporaryPrefix(target);
  std::minstd_rand random(static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count()));
  File file;
  for (int attempt = 0; attempt < 100 && !file; ++attempt) {
    temporary_ = prefix + std::to_string(random());
    // Owner-only until the target's bits are copied.
    file = createTemporaryFile(temporary_, existing ? 0600 : 0666);
    if (!file && errno != EEXIST)
      break;
  }
  if (!file) {
    temporary_.clear();
    return nullptr;
  }
  if (existing && !copyOwnerAndMode(target.c_str(), file.get())) {
    const int error = errno;
    file.reset();
    discard();
    errno = error;
    return nullptr;
  }
  target_ = target;
  return file;
}

void OutputFile::write(std::string_view bytes) {
  if (!file_ || error_ != 0)
    return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size())
    error_ = errno;
}

int OutputFile::commit() {
  // A temporary file is on the disk before it takes the output's place, so
  // that after a crash the output is the old file or the new one, whole.
  if (!temporary_.empty() && error_ == 0 && !syncFile(file_.get()))
    error_ = errno;
  if (file_ && std::fclose(file_.release()) != 0 && error_ == 0)
    error_ = errno;
  if (!temporary_.empty() && error_ == 0 && !putInPlace())
    error_ = errno;
  discard();
  return error_;
}

bool OutputFile::putInPlace() {
  if (replaceFile(temporary_, target_)) {
    forgetTemporary();
    return true;
  }
  return refused(errno) && copyIntoTarget();
}

bool OutputFile::copyIntoTarget() {
  const File from(std::fopen(temporary_.c_str(), "rb"));
  File to(from ? std::fopen(target_.c_str(), "wb") : nullptr);
  if (!to)
    return false;
  size_t size = 0;
  while ((size = std::fread(buffer_.data(), 1, buffer_.size(), from.get())) > 0)
    if (std::fwrite(buffer_.data(), 1, size, to.get()) != size)
      return false;
  return std::ferror(from.get()) == 0 && std::fclose(to.release()) == 0;
}

void OutputFile::discard() {
  file_.reset();
  if (!temporary_.empty())
    std::remove(temporary_.c_str());
  forgetTemporary();
}

void OutputFile::forgetTemporary() {
  stopRemovingOnSignal();
  temporary_.clear();
}
