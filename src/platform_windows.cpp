#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>

#include "platform.h"

// Names of up to 255 characters, and the 260 of MAX_PATH less its NUL,
// which the system's narrow functions take without long-path support.
const size_t kMaxNameLength = 255;
const size_t kMaxPathLength = 259;
const char kPathSeparators[] = "/\\";

namespace {

std::atomic<const char*> pathToRemove{nullptr};

// The errno value that says what the system error `error` says.
int errnoFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return EINVAL;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

// The file `path`, opened only to ask about it; INVALID_HANDLE_VALUE, with
// errno set, when it cannot be.
HANDLE openToQuery(const char* path) {
  HANDLE handle = CreateFileA(
      path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    errno = errnoFor(GetLastError());
  return handle;
}

// A C stream on the descriptor `fd`, which it takes over; null, with errno
// set and `fd` closed, when there is none.
File streamOn(int fd) {
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

BOOL WINAPI removeOnControl(DWORD /*event*/) {
  if (const char* path = pathToRemove.load())
    DeleteFileA(path);
  return FALSE;  // the default handler then ends the process
}

}  // namespace

void preparePlatform() {
  // Text mode would turn every line feed into CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool writeStandardOutput(std::string_view bytes) {
  while (!bytes.empty()) {
    const unsigned chunk =
        static_cast<unsigned>(std::min<size_t>(bytes.size(), INT_MAX));
    const int written = _write(1, bytes.data(), chunk);
    if (written <= 0)
      return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

std::ptrdiff_t readAvailable(std::FILE* file, char* buffer, size_t size) {
  return _read(_fileno(file), buffer,
               static_cast<unsigned>(std::min<size_t>(size, INT_MAX)));
}

size_t fileSize(std::FILE* file) {
  struct _stat64 status {};
  if (_fstat64(_fileno(file), &status) != 0 ||
      (status.st_mode & _S_IFMT) != _S_IFREG)
    return 0;
  return static_cast<size_t>(status.st_size);
}

FileKind fileKind(const char* path) {
  HANDLE handle = openToQuery(path);
  if (handle == INVALID_HANDLE_VALUE)
    return errno == ENOENT ? FileKind::kMissing : FileKind::kUnknown;
  FileKind kind = FileKind::kOther;
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)) {
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    kind = folder ? FileKind::kDirectory : FileKind::kRegular;
  }
  CloseHandle(handle);
  return kind;
}

bool canOpenForWriting(const char* path) {
  const int fd = _open(path, _O_WRONLY | _O_BINARY);
  if (fd < 0)
    return false;
  _close(fd);
  return true;
}

int streamWritingTo(const char* path) {
  HANDLE handle = openToQuery(path);
  if (handle == INVALID_HANDLE_VALUE)
    return 0;
  BY_HANDLE_FILE_INFORMATION file{};
  const bool known = GetFileInformationByHandle(handle, &file) != 0;
  CloseHandle(handle);
  for (const int fd : {1, 2}) {
    BY_HANDLE_FILE_INFORMATION stream{};
    const auto streamHandle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (known && GetFileInformationByHandle(streamHandle, &stream) &&
        stream.dwVolumeSerialNumber == file.dwVolumeSerialNumber &&
        stream.nFileIndexHigh == file.nFileIndexHigh &&
        stream.nFileIndexLow == file.nFileIndexLow)
      return fd;
  }
  return 0;
}

File openStream(int fd) { return streamOn(_dup(fd)); }

bool resolveLinks(const std::string& path, std::string* resolved) {
  // The C library here does not see symbolic links, so the name itself is
  // what gets written.
  *resolved = path;
  return true;
}

File createTemporaryFile(const std::string& path, unsigned /*mode*/) {
  static bool handled = false;
  if (!handled)
    handled = SetConsoleCtrlHandler(removeOnControl, TRUE) != 0;
  // Shared for deletion, so that a Ctrl-C can remove it while it is open.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = errnoFor(GetLastError());
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                 _O_WRONLY | _O_BINARY);
  if (fd < 0)
    CloseHandle(handle);
  File file = streamOn(fd);
  if (!file) {
    const int error = errno;
    DeleteFileA(path.c_str());
    errno = error;
  } else {
    pathToRemove.store(path.c_str());
  }
  return file;
}

bool copyOwnerAndMode(const char* /*model*/, std::FILE* /*file*/) {
  // Only a writable file is replaced, and a new file is writable too; there
  // is no owner to copy through the C library.
  return true;
}

bool syncFile(std::FILE* file) {
  if (std::fflush(file) != 0)
    return false;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (FlushFileBuffers(handle))
    return true;
  errno = errnoFor(GetLastError());
  return false;
}

bool replaceFile(const std::string& from, const std::string& to) {
  // std::rename and std::filesystem::rename refuse an existing target here.
  // Write-through returns once the move is on the disk.
  if (MoveFileExA(from.c_str(), to.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  errno = errnoFor(GetLastError());
  return false;
}

void stopRemovingOnSignal() { pathToRemove.store(nullptr); }

void deferBrokenPipe() {}

void endByBrokenPipe() {}
