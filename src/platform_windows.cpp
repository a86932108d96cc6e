#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>

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
    case ERROR_UNABLE_TO_REMOVE_REPLACED:   // ReplaceFile left both files
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:  // as they were
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

// The system's handle of the open file `fd`.
HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Which file on which volume `handle` is open on. False where the system
// does not say (Wine says 0 for everything).
bool identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
  return GetFileType(handle) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(handle, info) &&
         (info->nFileIndexHigh != 0 || info->nFileIndexLow != 0);
}

// Whether `a` and `b` identify the same file.
bool sameFile(const BY_HANDLE_FILE_INFORMATION& a,
              const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// The full path of `path`, converted from the process's code page (UTF-8,
// by the manifest) to the UTF-16 of the system's wide functions; empty when
// there is none. ReplaceFile fails with relative paths under Wine, and its
// narrow form with paths longer than MAX_PATH.
std::wstring fullPath(const std::string& path) {
  constexpr DWORD kLongest = 32768;  // the system's, with the NUL
  std::wstring relative(kLongest, L'\0');
  std::wstring full(kLongest, L'\0');
  const DWORD length =
      MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, relative.data(),
                          static_cast<int>(kLongest)) > 0
          ? GetFullPathNameW(relative.c_str(), kLongest, full.data(), nullptr)
          : 0;
  full.resize(length < kLongest ? length : 0);
  return full;
}

// Sets errno from the system's last error; returns false.
bool failed() {
  errno = errnoFor(GetLastError());
  return false;
}

BOOL WINAPI removeOnControl(DWORD /*event*/) {
  if (const char* path = pathToRemove.load())
    DeleteFileA(path);
  return FALSE;  // the default handler then ends the process
}

}  // namespace

bool File::close() {
  if (fd_ < 0)
    return true;
  const int closing = fd_;
  fd_ = -1;
  return _close(closing) == 0;
}

void preparePlatform() {
  // Text mode would turn every line feed into CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const unsigned chunk =
        static_cast<unsigned>(std::min<size_t>(bytes.size(), INT_MAX));
    const int written = _write(fd, bytes.data(), chunk);
    if (written <= 0)
      return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

void deferBrokenPipe() {}

void endByBrokenPipe() {}

File openForReading(const char* path) {
  // A folder cannot be opened here at all, and would say EACCES.
  if (fileKind(path) == FileKind::kDirectory) {
    errno = EISDIR;
    return {};
  }
  return File(_open(path, _O_RDONLY | _O_BINARY));
}

bool isStandardOutputsFile(const File& in) {
  BY_HANDLE_FILE_INFORMATION input{};
  BY_HANDLE_FILE_INFORMATION output{};
  return identify(handleOf(in.fd()), &input) &&
         identify(handleOf(kStandardOutput), &output) &&
         sameFile(input, output);
}

bool waitForInput(const File& /*in*/) { return true; }

std::ptrdiff_t readSome(const File& in, char* buffer, size_t size) {
  return _read(in.fd(), buffer,
               static_cast<unsigned>(std::min<size_t>(size, INT_MAX)));
}

std::optional<std::uint64_t> fileSize(const File& file) {
  struct _stat64 status {};
  if (_fstat64(file.fd(), &status) != 0 ||
      (status.st_mode & _S_IFMT) != _S_IFREG)
    return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
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
  const File file(_open(path, _O_WRONLY | _O_BINARY));
  return static_cast<bool>(file);
}

bool findDescriptorWritingTo(const char* path, File* file) {
  HANDLE handle = openToQuery(path);
  if (handle == INVALID_HANDLE_VALUE)
    return true;
  BY_HANDLE_FILE_INFORMATION wanted{};
  const bool known = identify(handle, &wanted);
  CloseHandle(handle);
  // Only the standard streams: the C library hands no others down.
  for (const int fd : {1, 2}) {
    BY_HANDLE_FILE_INFORMATION stream{};
    if (known && identify(handleOf(fd), &stream) && sameFile(stream, wanted)) {
      *file = File(_dup(fd));
      return static_cast<bool>(*file);
    }
  }
  return true;
}

File openInPlace(const char* path) {
  return File(_open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                    _S_IREAD | _S_IWRITE));
}

bool syncFile(const File& file) {
  return FlushFileBuffers(handleOf(file.fd())) || failed();
}

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
    failed();
    return {};
  }
  File file(_open_osfhandle(reinterpret_cast<intptr_t>(handle),
                            _O_WRONLY | _O_BINARY));
  if (!file) {
    CloseHandle(handle);
    DeleteFileA(path.c_str());
    errno = EMFILE;
  } else {
    pathToRemove.store(path.c_str());
  }
  return file;
}

void stopRemovingOnSignal() { pathToRemove.store(nullptr); }

bool copyMetadata(const char* /*model*/, const File& /*file*/) {
  // ReplaceFile keeps the target's ACL and attributes.
  return true;
}

bool replaceFile(const std::string& from, const std::string& to) {
  // Write-through returns once the move is on the disk.
  if (GetFileAttributesA(to.c_str()) == INVALID_FILE_ATTRIBUTES)
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ||
           failed();
  return ReplaceFileW(fullPath(to).c_str(), fullPath(from).c_str(), nullptr,
                      REPLACEFILE_WRITE_THROUGH, nullptr, nullptr) ||
         failed();
}

bool removeFile(const std::string& path) {
  return DeleteFileA(path.c_str()) || failed();
}
