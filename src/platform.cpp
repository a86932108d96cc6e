#include "platform.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

void preparePlatform() {
  // Text mode would turn every line feed into CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool mustWriteInPlace(const char* path) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

File createNewFile(const std::string& path, std::filesystem::perms /*mode*/) {
  // The C library's fopen here ignores the "x" of exclusive creation.
  const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                       _S_IREAD | _S_IWRITE);
  if (fd < 0)
    return nullptr;
  File file(_fdopen(fd, "wb"));
  if (!file) {
    const int error = errno;
    _close(fd);
    errno = error;
  }
  return file;
}

bool replaceFile(const std::string& from, const std::string& to) {
  // std::rename and std::filesystem::rename refuse an existing target here.
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
    return true;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}

void copyOwner(const std::string& /*model*/, const std::string& /*path*/) {}

void removeOnSignal(const char* /*path*/) {}

void stopRemovingOnSignal() {}

#else

namespace {

std::atomic<const char*> pathToRemove{nullptr};

void removeAndResignal(int signal) {
  if (const char* path = pathToRemove.load())
    unlink(path);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Catches the signals that end a run, leaving alone those that the process
// was started to ignore (as by nohup).
void catchEndingSignals() {
  static bool caught = false;
  if (caught)
    return;
  caught = true;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
      continue;
    action.sa_handler = removeAndResignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace

void preparePlatform() { std::signal(SIGXFSZ, SIG_IGN); }

bool mustWriteInPlace(const char* path) {
  struct stat file {};
  if (stat(path, &file) != 0)
    return false;
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat stream {};
    if (fstat(fd, &stream) == 0 && stream.st_dev == file.st_dev &&
        stream.st_ino == file.st_ino)
      return true;
  }
  return false;
}

File createNewFile(const std::string& path, std::filesystem::perms mode) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                      static_cast<mode_t>(mode & std::filesystem::perms::all));
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

bool replaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void copyOwner(const std::string& model, const std::string& path) {
  struct stat status {};
  if (stat(model.c_str(), &status) == 0 &&
      chown(path.c_str(), status.st_uid, status.st_gid) != 0) {
    // Only root, or an owner handing the file to a group of their own, may;
    // otherwise the file stays the process's own, as a new file would.
  }
}

void removeOnSignal(const char* path) {
  catchEndingSignals();
  pathToRemove.store(path);
}

void stopRemovingOnSignal() { pathToRemove.store(nullptr); }

#endif
