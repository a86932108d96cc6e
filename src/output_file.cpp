#include "output_file.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include "platform.h"

namespace fs = std::filesystem;

namespace {

// How much of the file is written at a time.
constexpr size_t kBufferSize = 1 << 20;

// The permission bits of a new output, less the umask, as fopen gives them.
constexpr fs::perms kNewFileMode =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
    fs::perms::group_write | fs::perms::others_read | fs::perms::others_write;

// The file that writing to `path` reaches: `path` with symbolic links
// followed, whether or not that file exists.
fs::path followLinks(fs::path path) {
  std::error_code error;
  for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(path, error));
       ++hop) {
    const fs::path link = fs::read_symlink(path, error);
    if (error)
      break;
    path = path.parent_path() / link;  // an absolute link replaces the whole
  }
  return path;
}

}  // namespace

OutputFile::OutputFile(const char* path) {
  file_ = open(path);
  // Large blocks: a picture goes out in few system calls.
  if (file_)
    std::setvbuf(file_.get(), nullptr, _IOFBF, kBufferSize);
}

OutputFile::~OutputFile() { discard(); }

File OutputFile::open(const char* path) {
  std::error_code ignored;
  const fs::file_status status = fs::status(path, ignored);
  if (fs::is_directory(status)) {
    error_ = EISDIR;  // Windows would say "Permission denied"
    return nullptr;
  }
  if (fs::is_regular_file(status) && !File(std::fopen(path, "r+b"))) {
    error_ = errno;  // a file the process may not write stays refused
    return nullptr;
  }
  const bool replaceable = fs::is_regular_file(status) || !fs::exists(status);
  if (replaceable && !mustWriteInPlace(path)) {
    if (File file = openTemporary(followLinks(path), status))
      return file;
    // Where the folder denies a new file, an existing one can still be
    // written over in place, as it always could.
    const bool denied = errno == EACCES || errno == EPERM;
    if (!denied || !fs::exists(status)) {
      error_ = errno;
      return nullptr;
    }
  }
  File file(std::fopen(path, "wb"));
  if (!file)
    error_ = errno;
  return file;
}

File OutputFile::openTemporary(const fs::path& target, fs::file_status status) {
  const bool exists = fs::exists(status);
  const fs::perms mode = exists ? status.permissions() : kNewFileMode;
  std::random_device random;
  File file;
  for (int attempt = 0; attempt < 100 && !file; ++attempt) {
    temporary_ = target.string() + ".charpic-" + std::to_string(random());
    file = createNewFile(temporary_, mode);
    if (!file && errno != EEXIST)
      break;
  }
  if (!file) {
    temporary_.clear();
    return nullptr;
  }
  removeOnSignal(temporary_.c_str());
  target_ = target.string();
  if (exists) {
    // The owner first: giving a file away can clear its set-user-ID bit.
    copyOwner(target_, temporary_);
    std::error_code error;
    fs::permissions(temporary_, mode, error);
    error_ = error.value();
  }
  return file;
}

void OutputFile::write(std::string_view bytes) {
  if (!file_ || error_ != 0)
    return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size())
    error_ = errno;
}

int OutputFile::commit() {
  if (file_ && std::fclose(file_.release()) != 0 && error_ == 0)
    error_ = errno;
  if (!temporary_.empty() && error_ == 0) {
    if (replaceFile(temporary_, target_))
      forgetTemporary();
    else
      error_ = errno;
  }
  discard();
  return error_;
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
