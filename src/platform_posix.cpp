#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <atomic>
#include <cerrno>
#include <charconv>
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
// git's tempfile removes its own. SIGPIPE is held apart, for the whole of a
// replace (holdBrokenPipe).
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

std::atomic<const char*> pathToRemove{nullptr};
// Which standard streams were closed at the start and hold /dev/null.
bool standIn[kStandardError + 1] = {};
sigset_t maskBeforeHold;
sigset_t brokenPipe;  // SIGPIPE, where it is held, or nothing

void removeAndResignal(int signal) {
  if (const char* path = pathToRemove.load())
    unlink(path);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Whether `signal` would end the process as it stands: not where the
// process was started to ignore it (as nohup makes it ignore SIGHUP), nor
// where it is handled already.
bool endsProcess(int signal) {
  struct sigaction action {};
  return sigaction(signal, nullptr, &action) == 0 &&
         action.sa_handler == SIG_DFL;
}

// Makes each ending signal that would end the process run removeAndResignal.
void catchEndingSignals() {
  for (const int signal : kEndingSignals) {
    if (!endsProcess(signal))
      continue;
    struct sigaction action {};
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
// Gives `file` the extended attributes of `model`, its ACL
// (system.posix_acl_access) among them, and no ACL where `model` has none.
bool copyAttributes(const File& model, const File& file) {
  const int fd = file.fd();
  // What a folder's default ACL gave the new file is not the model's.
  const char kAccessAcl[] = "system.posix_acl_access";
  if (fremovexattr(fd, kAccessAcl) != 0 && !mayGoWithout(kAccessAcl, errno))
    return false;
  // Linux's most for a list of names, and for a value.
  std::string names(1 << 16, '\0');
  std::string value(1 << 16, '\0');
  const ssize_t size = flistxattr(model.fd(), names.data(), names.size());
  if (size < 0)
    return errno == ENOTSUP;
  names.resize(static_cast<size_t>(size));
  for (const char* name = names.c_str(); name < names.c_str() + size;
       name += std::string_view(name).size() + 1) {
    const ssize_t length =
        fgetxattr(model.fd(), name, value.data(), value.size());
    if ((length < 0 || fsetxattr(fd, name, value.data(),
                                 static_cast<size_t>(length), 0) != 0) &&
        !mayGoWithout(name, errno))
      return false;
  }
  return true;
}
#else
bool copyAttributes(const File& /*model*/, const File& /*file*/) {
  return true;
}
#endif

}  // namespace

bool File::close() { return fd_ < 0 || ::close(std::exchange(fd_, -1)) == 0; }

void preparePlatform() {
  std::signal(SIGXFSZ, SIG_IGN);
  sigemptyset(&brokenPipe);
  // Streams are opened lowest number first, so each closed one gets its own.
  for (int fd = kStandardInput; fd <= kStandardError; ++fd)
    standIn[fd] = fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDONLY) == fd;
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

void holdBrokenPipe() {
  if (endsProcess(SIGPIPE))
    sigaddset(&brokenPipe, SIGPIPE);
  sigprocmask(SIG_BLOCK, &brokenPipe, nullptr);
}

void releaseBrokenPipe() { sigprocmask(SIG_UNBLOCK, &brokenPipe, nullptr); }

int descriptorNamed(const std::string& path) {
  for (const std::string_view folder : {"/dev/fd/", "/proc/self/fd/"}) {
    int fd = -1;
    const char* end = path.data() + path.size();
    if (path.size() > folder.size() &&
        path.compare(0, folder.size(), folder) == 0 &&
        std::from_chars(path.data() + folder.size(), end, fd).ptr == end)
      return fd;
  }
  return -1;
}

File duplicate(int fd, bool writing) {
  const bool closed = fd >= 0 && fd <= kStandardError && standIn[fd];
  const int flags = closed ? -1 : fcntl(fd, F_GETFL);
  if (flags < 0 || (writing && (flags & O_ACCMODE) == O_RDONLY)) {
    errno = EBADF;
    return {};
  }
  return File(fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

File openForReading(const char* path) {
  // A folder opens, and reading it says EISDIR.
  return File(open(path, O_RDONLY | O_CLOEXEC));
}

File openExisting(const char* path, bool* regular) {
  struct stat status {};
  if (stat(path, &status) != 0)
    return {};
  // O_CREAT, though the file exists, so that the kernel's rules for opening
  // files in sticky folders apply as they do to a shell's redirection.
  File file(open(path, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666));
  if (!file || fstat(file.fd(), &status) != 0)
    return {};
  *regular = S_ISREG(status.st_mode);
  return file;
}

File openInPlace(const char* path) {
  return File(
      open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0666));
}

bool isFileOf(const File& file, int fd) {
  struct stat opened {};
  struct stat other {};
  // A stand-in for a closed stream is no regular file.
  return fstat(file.fd(), &opened) == 0 && S_ISREG(opened.st_mode) &&
         fstat(fd, &other) == 0 && opened.st_dev == other.st_dev &&
         opened.st_ino == other.st_ino;
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

bool truncateFile(const File& file) { return ftruncate(file.fd(), 0) == 0; }

bool syncFile(const File& file) {
  // EINVAL: a file, such as one in /proc, that has no storage to sync.
  return fsync(file.fd()) == 0 || errno == EINVAL;
}

bool resolveLinks(const std::string& path, std::string* resolved) {
  *resolved = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    // Room for the longest path, not the size lstat gives: /proc gives 64
    // for links of any length.
    if (descriptorNamed(*resolved) >= 0)
      return true;
    std::string link(kMaxPathLength + 1, '\0');
    const ssize_t size = readlink(resolved->c_str(), link.data(), link.size());
    // No link, no file yet, or a name too long to ask about: writing there
    // says what is wrong with the name, if anything.
    if (size < 0)
      return errno == EINVAL || errno == ENOENT || errno == ENAMETOOLONG;
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

SignalsHeld::SignalsHeld() {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &maskBeforeHold);
}

SignalsHeld::~SignalsHeld() {
  sigprocmask(SIG_SETMASK, &maskBeforeHold, nullptr);
}

File createTemporaryFile(const std::string& path, unsigned mode) {
  catchEndingSignals();
  // Signals wait while the file is made and its name kept for them.
  const SignalsHeld held;
  File file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                 static_cast<mode_t>(mode)));
  if (file)
    pathToRemove.store(path.c_str());
  return file;
}

void stopRemovingOnSignal() { pathToRemove.store(nullptr); }

bool copyMetadata(const File& model, const File& file) {
  struct stat status {};
  // The owner first: giving a file away can clear its set-user-ID bit. The
  // ACL before the bits: with an ACL, the group bits are its mask.
  return fstat(model.fd(), &status) == 0 &&
         fchown(file.fd(), status.st_uid, status.st_gid) == 0 &&
         copyAttributes(model, file) &&
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
