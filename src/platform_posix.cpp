#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform.h"

// Linux's limits, which other POSIX systems meet or exceed.
const size_t kMaxNameLength = 255;
const size_t kMaxPathLength = 4095;
const char kPathSeparators[] = "/";

namespace {

// How many symbolic links a path may pass through, as on Linux.
constexpr int kMaxLinkHops = 40;

std::atomic<const char*> pathToRemove{nullptr};
bool brokenPipeDeferred = false;

void removeAndResignal(int signal) {
  if (const char* path = pathToRemove.load())
    unlink(path);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Makes `signal` run removeAndResignal where it would end the process as it
// stands: not where the process was started to ignore it (as nohup makes it
// ignore SIGHUP), nor where a handler of its own is already in place.
void catchSignal(int signal) {
  struct sigaction action {};
  if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler != SIG_DFL)
    return;
  action.sa_handler = removeAndResignal;
  sigfillset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

// Catches every signal whose default action ends the process. SIGXFSZ is
// ignored instead, and a deferred SIGPIPE stays so.
void catchEndingSignals() {
  static bool caught = false;
  if (caught)
    return;
  caught = true;
  for (const int signal :
       {SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE,
        SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU,
        SIGVTALRM, SIGPROF, SIGSYS})
    catchSignal(signal);
#ifdef SIGPOLL
  catchSignal(SIGPOLL);
#endif
#ifdef SIGPWR
  catchSignal(SIGPWR);
#endif
#ifdef SIGSTKFLT
  catchSignal(SIGSTKFLT);
#endif
#ifdef SIGRTMIN
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
    catchSignal(signal);
#endif
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

// Whether the open file `fd` may be written and is the file `file`
// describes.
bool writesTo(int fd, const struct stat& file) {
  const int flags = fcntl(fd, F_GETFL);
  struct stat status {};
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY &&
         fstat(fd, &status) == 0 && sameFile(status, file);
}

struct FolderCloser {
  void operator()(DIR* folder) const { closedir(folder); }
};

// The open descriptors of the process as /dev/fd lists them, or the standard
// three where it cannot be listed.
std::vector<int> openDescriptors() {
  const std::unique_ptr<DIR, FolderCloser> folder(opendir("/dev/fd"));
  if (!folder)
    return {0, 1, 2};
  std::vector<int> fds;
  while (const dirent* entry = readdir(folder.get())) {
    const int fd = std::atoi(entry->d_name);
    if ((fd > 0 || entry->d_name[0] == '0') && fd != dirfd(folder.get()))
      fds.push_back(fd);
  }
  return fds;
}

// Whether failing to set the attribute `name` with `error` leaves nothing
// behind that the process could have kept: a file system without
// attributes, or a namespace that only privilege may set, as `cp -p` skips.
bool mayGoWithout(std::string_view name, int error) {
  if (error == ENOTSUP || error == ENODATA)
    return true;
  return error == EPERM &&
         (name.rfind("trusted.", 0) == 0 || name.rfind("security.", 0) == 0);
}

#ifdef __linux__
// Gives `fd` the extended attributes of the file `model`, its ACL among
// them (system.posix_acl_access).
bool copyAttributes(const char* model, int fd) {
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

// Gives a closed standard output or standard error a stand-in: /dev/null,
// open for reading only. Writes to it fail with EBADF, as they would have,
// and no file opened later can take its number and receive what is printed.
void holdClosedStandardOutputs() {
  for (const int fd : {kStandardOutput, kStandardError}) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
      continue;
    const int standIn = open("/dev/null", O_RDONLY);
    if (standIn >= 0 && standIn != fd) {
      dup2(standIn, fd);
      close(standIn);
    }
  }
}

}  // namespace

bool File::close() {
  if (fd_ < 0)
    return true;
  const int closing = std::exchange(fd_, -1);
  return ::close(closing) == 0;
}

void preparePlatform() {
  std::signal(SIGXFSZ, SIG_IGN);
  holdClosedStandardOutputs();
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

bool waitForInput(const File& in) {
  pollfd files[] = {{in.fd(), POLLIN, 0}, {kStandardOutput, 0, 0}};
  while (poll(files, 2, -1) < 0) {
    if (errno != EINTR)
      return true;  // the read that follows says what is wrong
  }
  if ((files[1].revents & POLLERR) == 0)
    return true;
  // As a write would: the process ends here unless SIGPIPE is ignored.
  errno = EPIPE;
  std::raise(SIGPIPE);
  return false;
}

std::ptrdiff_t readSome(const File& in, char* buffer, size_t size) {
  ssize_t got = 0;
  do
    got = read(in.fd(), buffer, size);
  while (got < 0 && errno == EINTR);
  return got;
}

std::optional<std::uint64_t> fileSize(const File& file) {
  struct stat status {};
  if (fstat(file.fd(), &status) != 0 || !S_ISREG(status.st_mode))
    return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
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

bool findDescriptorWritingTo(const char* path, File* file) {
  struct stat wanted {};
  if (stat(path, &wanted) != 0)
    return true;
  const std::vector<int> fds = openDescriptors();
  const auto writing = std::find_if(
      fds.begin(), fds.end(), [&](int fd) { return writesTo(fd, wanted); });
  if (writing == fds.end())
    return true;
  *file = File(fcntl(*writing, F_DUPFD_CLOEXEC, 0));
  return static_cast<bool>(*file);
}

File openInPlace(const char* path) {
  return File(
      open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0666));
}

bool syncFile(const File& file) { return fsync(file.fd()) == 0; }

bool resolveLinks(const std::string& path, std::string* resolved) {
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat status {};
    if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      *resolved = current;
      return true;
    }
    std::string link(static_cast<size_t>(status.st_size) + 1, '\0');
    const ssize_t size = readlink(current.c_str(), link.data(), link.size());
    if (size < 0)
      return false;
    link.resize(static_cast<size_t>(size));
    if (link[0] != '/')
      link.insert(0, folderOf(current));
    current = std::move(link);
  }
  errno = ELOOP;
  return false;
}

File createTemporaryFile(const std::string& path, unsigned mode) {
  catchEndingSignals();
  // Signals wait while the file is made and its name kept for them.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &before);
  File file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                 static_cast<mode_t>(mode)));
  if (file)
    pathToRemove.store(path.c_str());
  sigprocmask(SIG_SETMASK, &before, nullptr);
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
  // The ACL after the bits, since setting the bits also sets its mask.
  return fchmod(file.fd(), status.st_mode & 07777) == 0 &&
         copyAttributes(model, file.fd());
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

bool removeFile(const std::string& path) { return unlink(path.c_str()) == 0; }
