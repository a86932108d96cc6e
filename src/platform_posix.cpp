#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <utility>

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

// A C stream on the descriptor `fd`, which it takes over; null, with errno
// set and `fd` closed, when there is none.
File streamOn(int fd) {
  if (fd < 0)
    return nullptr;
  File file(fdopen(fd, "wb"));
  if (!file) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return file;
}

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

// Creates the file `path`, which must not exist yet, for writing.
File createNewFile(const std::string& path, unsigned mode) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                      static_cast<mode_t>(mode));
  if (fd < 0)
    return nullptr;
  File file = streamOn(fd);
  if (!file) {
    const int error = errno;
    unlink(path.c_str());
    errno = error;
  }
  return file;
}

// The folder part of `path`, up to and with its last slash; empty for a
// bare name.
std::string folderOf(const std::string& path) {
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

void preparePlatform() { std::signal(SIGXFSZ, SIG_IGN); }

bool writeStandardOutput(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (written > 0)
      bytes.remove_prefix(static_cast<size_t>(written));
    else if (written == 0 || errno != EINTR)
      return false;
  }
  return true;
}

std::ptrdiff_t readAvailable(std::FILE* file, char* buffer, size_t size) {
  ssize_t got = 0;
  do
    got = read(fileno(file), buffer, size);
  while (got < 0 && errno == EINTR);
  return got;
}

size_t fileSize(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode))
    return 0;
  return static_cast<size_t>(status.st_size);
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
  const int fd = open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  close(fd);
  return true;
}

int streamWritingTo(const char* path) {
  struct stat file {};
  if (stat(path, &file) != 0)
    return 0;
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat stream {};
    if (fstat(fd, &stream) == 0 && stream.st_dev == file.st_dev &&
        stream.st_ino == file.st_ino)
      return fd;
  }
  return 0;
}

File openStream(int fd) { return streamOn(fcntl(fd, F_DUPFD_CLOEXEC, 0)); }

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
  File file = createNewFile(path, mode);
  if (file)
    pathToRemove.store(path.c_str());
  sigprocmask(SIG_SETMASK, &before, nullptr);
  return file;
}

bool copyOwnerAndMode(const char* model, std::FILE* file) {
  struct stat status {};
  if (stat(model, &status) != 0)
    return false;
  const int fd = fileno(file);
  // The owner first: giving a file away can clear its set-user-ID bit.
  if (fchown(fd, status.st_uid, status.st_gid) != 0 &&
      fchown(fd, static_cast<uid_t>(-1), status.st_gid) != 0) {
    // Only root may give a file away, and an owner may hand it only to a
    // group of their own; otherwise it stays the process's, as a new file
    // would.
  }
  return fchmod(fd, status.st_mode & 07777) == 0;
}

bool syncFile(std::FILE* file) {
  return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0)
    return false;
  // The folder holds the new name. Some file systems refuse to sync a
  // folder; the file is in place all the same, so that is no failure.
  const std::string folder = folderOf(to);
  const int fd = open(folder.empty() ? "." : folder.c_str(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return true;
}

void stopRemovingOnSignal() { pathToRemove.store(nullptr); }

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
