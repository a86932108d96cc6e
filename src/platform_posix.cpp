#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string_view>
#include <utility>

#include "platform.h"

// Linux's limits, which other POSIX systems meet or exceed.
const size_t kMaxNameLength = 255;
const size_t kMaxPathLength = 4095;
const char kPathSeparators[] = "/";

namespace {

// How many symbolic links a path may pass through, as on Linux.
constexpr int kMaxLinkHops = 40;

// The signals that end a process and remove its temporary file first, as
// git's tempfile removes its own.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};

std::atomic<const char*> pathToRemove{nullptr};
bool brokenPipeDeferred = false;
sigset_t maskBeforeHold;

void removeAndResignal(int signal) {
  if (const char* path = pathToRemove.load())
    unlink(path);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Makes each ending signal run removeAndResignal where it would end the
// process as it stands: not where the process was started to ignore it (as
// nohup makes it ignore SIGHUP), nor where it is deferred or handled.
void catchEndingSignals() {
  for (const int signal : kEndingSignals) {
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) != 0 ||
        action.sa_handler != SIG_DFL)
      continue;
    action.sa_handler = removeAndResignal;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

// The folder part of `path`, up to and with its last slash; empty for a
// bare name.
std::string folderOf(const std::string& path) {
  return path.substr(0, path.rfind('/') + 1);
}

// Whether `a` and `b` describe the same file.
bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether failing to set the attribute `name` with `error` leaves nothing
// behind that the process could have kept: a file system without
// attributes, or a namespace that only privilege may set, as `cp -a` skips.
bool mayGoWithout(std::string_view name, int error) {
  if (error == ENOTSUP || error == ENODATA)
    return true;
  return error == EPERM &&
         (name.rfind("trusted.", 0) == 0 || name.rfind("security.", 0) == 0);
}

#ifdef __linux__
// Gives `fd` the extended attributes of the file `model`, its ACL
// (system.posix_acl_access) among them, and no ACL where `model` has none.
bool copyAttributes(const char* model, int fd) {
  // What a folder's default ACL gave the new file is not the model's.
  const char kAccessAcl[] = "system.posix_acl_access";
  if (fremovexattr(fd, kAccessAcl) != 0 && !mayGoWithout(kAccessAcl, errno))
    return false;
  // Linux's most for a list of names, and for a value.
  std::string names(1 << 16, '\0');
  std::string value(1 << 16, '\0');
  const ssize_t size = listxattr(model, names.data(), names.size());
  if (size < 0)
    return errno == ENOTSUP;
  names.resize(static_cast<size_t>(size));
  for (const char* name = names.c_str(); name < names.c_str() + size;
       name += std::string_view(name).size() + 1) {
    const ssize_t length = getxattr(model, name, value.data(), value.size());
    if ((length < 0 || fsetxattr(fd, name, value.data(),
                                 static_cast<size_t>(length), 0) != 0) &&
        !mayGoWithout(name, errno))
      return false;
  }
  return true;
}
#else
bool copyAttributes(const char* /*model*/, int /*fd*/) { return true; }
#endif

}  // namespace

bool File::close() { return fd_ < 0 || ::close(std::exchange(fd_, -1)) == 0; }

void preparePlatform() {
  std::signal(SIGXFSZ, SIG_IGN);
  // A closed standard stream gets /dev/null, open for reading only: writes
  // to it fail with EBADF, as they would have, and no file opened later can
  // take its number and receive what is printed.
  int standIn = -1;
  while ((standIn = open("/dev/null", O_RDONLY)) >= 0 &&
         standIn <= kStandardError) {
  }
  if (standIn >= 0)
    close(standIn);
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written > 0)
      bytes.remove_prefix(static_cast<size_t>(written));
    else if (written == 0 || errno != EINTR)
      return false;
  }
  return true;
}

void deferBrokenPipe() {
  struct sigaction action {};
  if (sigaction(SIGPIPE, nullptr, &action) != 0 || action.sa_handler != SIG_DFL)
    return;
  std::signal(SIGPIPE, SIG_IGN);
  brokenPipeDeferred = true;
}

void endByBrokenPipe() {
  if (!brokenPipeDeferred)
    return;
  std::signal(SIGPIPE, SIG_DFL);
  std::raise(SIGPIPE);
}

File openForReading(const char* path) {
  File file(open(path, O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file && fstat(file.fd(), &status) == 0 && S_ISDIR(status.st_mode)) {
    errno = EISDIR;
    return {};
  }
  return file;
}

bool isStandardOutputsFile(const File& in) {
  struct stat input {};
  struct stat output {};
  return fstat(in.fd(), &input) == 0 && S_ISREG(input.st_mode) &&
         fstat(kStandardOutput, &output) == 0 && sameFile(input, output);
}

std::ptrdiff_t readSome(const File& in, char* buffer, size_t size) {
  ssize_t got = 0;
  do
    got = read(in.fd(), buffer, size);
  while (got < 0 && errno == EINTR);
  return got;
}

std::uint64_t fileSize(const File& file) {
  struct stat status {};
  const bool regular =
      fstat(file.fd(), &status) == 0 && S_ISREG(status.st_mode);
  return regular ? static_cast<std::uint64_t>(status.st_size) : 0;
}

FileKind fileKind(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0)
    return errno == ENOENT ? FileKind::kMissing : FileKind::kUnknown;
  if (S_ISREG(status.st_mode))
    return FileKind::kRegular;
  return S_ISDIR(status.st_mode) ? FileKind::kDirectory : FileKind::kOther;
}

bool canOpenForWriting(const char* path) {
  const File file(open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  return static_cast<bool>(file);
}

File writerOf(int fd, const char* path) {
  const int flags = fcntl(fd, F_GETFL);
  struct stat file {};
  struct stat named {};
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY || fstat(fd, &file) != 0 ||
      stat(path, &named) != 0 || !sameFile(file, named))
    return {};
  return File(fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

File openInPlace(const char* path) {
  return File(
      open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0666));
}

bool syncFile(const File& file) {
  // EINVAL: a file, such as one in /proc, that has no storage to sync.
  return fsync(file.fd()) == 0 || errno == EINVAL;
}

bool resolveLinks(const std::string& path, std::string* resolved) {
  *resolved = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    // Room for the longest path, not the size lstat gives: /proc gives 64
    // for links of any length.
    std::string link(kMaxPathLength + 1, '\0');
    const ssize_t size = readlink(resolved->c_str(), link.data(), link.size());
    // No link: writing there says what is wrong with the name, if anything.
    if (size < 0)
      return true;
    if (static_cast<size_t>(size) > kMaxPathLength) {
      errno = ENAMETOOLONG;
      return false;
    }
    link.resize(static_cast<size_t>(size));
    if (link[0] != '/')
      link.insert(0, folderOf(*resolved));
    *resolved = std::move(link);
  }
  errno = ELOOP;
  return false;
}

EndingSignalsHeld::EndingSignalsHeld() {
  sigset_t ending;
  sigemptyset(&ending);
  for (const int signal : kEndingSignals)
    sigaddset(&ending, signal);
  sigprocmask(SIG_BLOCK, &ending, &maskBeforeHold);
}

EndingSignalsHeld::~EndingSignalsHeld() {
  sigprocmask(SIG_SETMASK, &maskBeforeHold, nullptr);
}

File createTemporaryFile(const std::string& path, unsigned mode) {
  catchEndingSignals();
  // Signals wait while the file is made and its name kept for them.
  const EndingSignalsHeld held;
  File file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                 static_cast<mode_t>(mode)));
  if (file)
    pathToRemove.store(path.c_str());
  return file;
}

void stopRemovingOnSignal() { pathToRemove.store(nullptr); }

bool copyMetadata(const char* model, const File& file) {
  struct stat status {};
  if (stat(model, &status) != 0)
    return false;
  // The owner first: giving a file away can clear its set-user-ID bit.
  if (fchown(file.fd(), status.st_uid, status.st_gid) != 0 &&
      fchown(file.fd(), static_cast<uid_t>(-1), status.st_gid) != 0) {
    // Only root may give a file away, and an owner may hand it only to a
    // group of their own; otherwise it stays the process's, as a new file
    // would.
  }
  // The ACL before the bits: with an ACL, the group bits are its mask.
  return copyAttributes(model, file.fd()) &&
         fchmod(file.fd(), status.st_mode & 07777) == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0)
    return false;
  // The folder holds the new name. Some file systems refuse to sync a
  // folder; the file is in place all the same, so that is no failure.
  const std::string folder = folderOf(to);
  const File synced(open(folder.empty() ? "." : folder.c_str(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (synced)
    fsync(synced.fd());
  return true;
}
