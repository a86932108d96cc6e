#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <charconv>
#include <csignal>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "platform.h"

// Linux's limits, which other POSIX systems meet or exceed.
const size_t kMaxNameLength = 255;
const char kPathSeparators[] = "/";

namespace {

// The longest path, and how many symbolic links a path may pass through.
constexpr size_t kMaxPathLength = 4095;
constexpr int kMaxLinkHops = 40;

// Which standard streams were closed at the start and hold /dev/null.
bool standIn[kStandardError + 1] = {};
sigset_t maskBeforeHold;
sigset_t brokenPipe;  // SIGPIPE, where it is held, or nothing

// Whether `signal` would end the process as it stands: not where the
// process was started to ignore it (as nohup makes it ignore SIGHUP), nor
// where it is handled already.
bool endsProcess(int signal) {
  struct sigaction action {};
  return sigaction(signal, nullptr, &action) == 0 &&
         action.sa_handler == SIG_DFL;
}

// The descriptor that `name` in `folder` names by number, where `folder` is
// where this process's descriptors, or its thread's, have their links; -1
// for any other name.
int descriptorNamed(const File& folder, const std::string& name) {
  int fd = -1;
  const char* end = name.data() + name.size();
  struct stat opened {};
  struct stat own {};
  if (std::from_chars(name.data(), end, fd).ptr != end ||
      fstat(folder.fd(), &opened) != 0)
    return -1;
  for (const char* fds : {"/proc/self/fd", "/proc/thread-self/fd"}) {
    if (stat(fds, &own) == 0 && opened.st_dev == own.st_dev &&
        opened.st_ino == own.st_ino)
      return fd;
  }
  return -1;
}

// Whether `name` in `folder` is a symbolic link whose text is a path to
// follow: not one in /proc, whose text may name no file, or another.
bool isLinkToFollow(const File& folder, const std::string& name) {
  struct stat link {};
  struct stat proc {};
  return fstatat(folder.fd(), name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(link.st_mode) &&
         (stat("/proc", &proc) != 0 || link.st_dev != proc.st_dev);
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

File duplicate(int fd, bool writing) {
  const bool closed = fd >= 0 && fd <= kStandardError && standIn[fd];
  const int flags = closed ? -1 : fcntl(fd, F_GETFL);
  if (flags < 0 || (writing && (flags & O_ACCMODE) == O_RDONLY)) {
    errno = EBADF;
    return {};
  }
  return File(fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

bool locate(const char* path, Place* place) {
  place->path = path;
  std::string rest = path;  // what is left to follow, from place->folder
  for (int hop = 0; hop <= kMaxLinkHops && !rest.empty(); ++hop) {
    // Opened step by step, so that no path grows longer than a link's text.
    const size_t nameStart = rest.rfind('/') + 1;  // 0 for a bare name
    const std::string folder = rest.substr(0, nameStart);
    place->folder = File(openat(place->folder ? place->folder.fd() : AT_FDCWD,
                                folder.empty() ? "." : folder.c_str(),
                                O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!place->folder)
      return false;
    place->name = nameStart < rest.size() ? rest.substr(nameStart) : ".";
    place->descriptor = descriptorNamed(place->folder, place->name);
    if (place->descriptor >= 0 || !isLinkToFollow(place->folder, place->name))
      return true;
    std::string link(kMaxPathLength + 1, '\0');
    const ssize_t size = readlinkat(place->folder.fd(), place->name.c_str(),
                                    link.data(), link.size());
    if (size < 0)
      return false;
    link.resize(static_cast<size_t>(size));
    place->path =
        link[0] == '/'
            ? link
            : place->path.substr(0, place->path.rfind('/') + 1) + link;
    rest = std::move(link);
  }
  errno = rest.empty() ? ENOENT : ELOOP;
  return false;
}

File openForReading(const Place& place) {
  // A folder opens, and reading it says EISDIR.
  return File(
      openat(place.folder.fd(), place.name.c_str(), O_RDONLY | O_CLOEXEC));
}

File openExisting(const Place& place, bool* regular) {
  struct stat status {};
  if (fstatat(place.folder.fd(), place.name.c_str(), &status, 0) != 0)
    return {};
  // O_CREAT, though the file exists, so that the kernel's rules for opening
  // files in sticky folders apply as they do to a shell's redirection.
  File file = openInPlace(place);
  if (!file || fstat(file.fd(), &status) != 0)
    return {};
  *regular = S_ISREG(status.st_mode);
  return file;
}

File openInPlace(const Place& place) {
  return File(openat(place.folder.fd(), place.name.c_str(),
                     O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666));
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

SignalsHeld::SignalsHeld() {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &maskBeforeHold);
}

SignalsHeld::~SignalsHeld() {
  sigprocmask(SIG_SETMASK, &maskBeforeHold, nullptr);
}

File createFile(const File& folder, const std::string& name, unsigned mode) {
  return File(openat(folder.fd(), name.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC,
                     static_cast<mode_t>(mode)));
}

bool removeFile(const File& folder, const std::string& name) {
  return unlinkat(folder.fd(), name.c_str(), 0) == 0;
}

bool copyMetadata(const File& model, const File& file) {
  struct stat status {};
  // The owner first: giving a file away can clear its set-user-ID bit. The
  // ACL before the bits: with an ACL, the group bits are its mask.
  return fstat(model.fd(), &status) == 0 &&
         fchown(file.fd(), status.st_uid, status.st_gid) == 0 &&
         copyAttributes(model, file) &&
         fchmod(file.fd(), status.st_mode & 07777) == 0;
}

bool replaceFile(const File& folder, const std::string& from,
                 const std::string& to) {
  if (renameat(folder.fd(), from.c_str(), folder.fd(), to.c_str()) != 0)
    return false;
  // The folder holds the new name. Some file systems refuse to sync a
  // folder, and a folder may be open to search alone; the file is in place
  // all the same, so that is no failure.
  const File synced(
      openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (synced)
    fsync(synced.fd());
  return true;
}
