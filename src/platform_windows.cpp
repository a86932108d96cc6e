#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>

#include "platform.h"

// Names of up to 255 characters.
const size_t kMaxNameLength = 255;
const char kPathSeparators[] = "/\\";

namespace {

std::atomic<bool> signalsHeld{false};

// The errno values that say what the system's errors say; EIO for any
// other. ReplaceFile's two "unable" errors leave both files as they were.
// clang-format off
const std::pair<DWORD, int> kErrnos[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT}, {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT}, {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_SHARING_VIOLATION, EACCES}, {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_UNABLE_TO_REMOVE_REPLACED, EACCES},
    {ERROR_UNABLE_TO_MOVE_REPLACEMENT, EACCES},
    {ERROR_FILE_EXISTS, EEXIST}, {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG}, {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC}, {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_WRITE_PROTECT, EROFS}, {ERROR_INVALID_NAME, EINVAL},
    {ERROR_BAD_PATHNAME, EINVAL}, {ERROR_CANT_RESOLVE_FILENAME, ELOOP},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM}, {ERROR_OUTOFMEMORY, ENOMEM},
};
// clang-format on

int errnoFor(DWORD error) {
  const auto* known =
      std::find_if(std::begin(kErrnos), std::end(kErrnos),
                   [=](const auto& e) { return e.first == error; });
  return known != std::end(kErrnos) ? known->second : EIO;
}

// The full path of `path`, converted from the process's code page (UTF-8,
// by the manifest) to the UTF-16 of the system's wide functions; empty when
// there is none. Under Wine the narrow functions stop at MAX_PATH, where the
// C library's do not, and ReplaceFile fails with relative paths.
std::wstring fullPath(const std::string& path) {
  constexpr DWORD kLongest = 32768;  // the system's, with the NUL
  // UTF-16 takes no more units than UTF-8 takes bytes.
  std::wstring relative(path.size() + 1, L'\0');
  std::wstring full(kLongest, L'\0');
  const DWORD length =
      MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, relative.data(),
                          static_cast<int>(relative.size())) > 0
          ? GetFullPathNameW(relative.c_str(), kLongest, full.data(), nullptr)
          : 0;
  full.resize(length < kLongest ? length : 0);
  return full;
}

// The system's handle of the open file `fd`.
HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Which file on which volume `handle` is open on. False where the system
// cannot tell: Wine says index 0 for a handle that a Unix shell's
// redirection made.
bool identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
  return GetFileType(handle) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(handle, info) &&
         (info->nFileIndexHigh != 0 || info->nFileIndexLow != 0);
}

// Whether `a` and `b` are open on the same file. Where either cannot be
// identified they are taken as two files, the safe answer: the picture then
// goes where OUTPUT names, never into a stream that may be another file.
bool sameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x{};
  BY_HANDLE_FILE_INFORMATION y{};
  return identify(a, &x) && identify(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

// Whether `path` names the file that `fd` is open on.
bool isFileAt(const std::string& path, int fd) {
  HANDLE handle =
      CreateFileW(fullPath(path).c_str(), 0,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  const bool same = sameFile(handle, handleOf(fd));
  CloseHandle(handle);
  return same;
}

// Sets errno from the system's last error; returns false.
bool failed() {
  errno = errnoFor(GetLastError());
  return false;
}

// Whether `path` names a folder, setting errno to EISDIR if so.
bool isFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(fullPath(path).c_str());
  const bool folder = attributes != INVALID_FILE_ATTRIBUTES &&
                      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder)
    errno = EISDIR;
  return folder;
}

// Opens the file `path` as the C library opens it, through `handle`, or
// closes that handle if the library takes no more files.
File fileOf(HANDLE handle, int flags) {
  if (handle == INVALID_HANDLE_VALUE) {
    failed();
    return {};
  }
  File file(_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags));
  if (!file) {
    CloseHandle(handle);
    errno = EMFILE;
  }
  return file;
}

// Runs on a thread of its own when Ctrl-C or Ctrl-Break arrives.
BOOL WINAPI waitWhileHeld(DWORD /*event*/) {
  while (signalsHeld.load())
    Sleep(10);
  return FALSE;  // the default handler then ends the process
}

}  // namespace

bool File::close() { return fd_ < 0 || _close(std::exchange(fd_, -1)) == 0; }

void preparePlatform() {
  // Text mode would turn every line feed into CR LF, and back.
  _setmode(_fileno(stdin), _O_BINARY);
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

void holdBrokenPipe() {}

void releaseBrokenPipe() {}

File duplicate(int fd, bool /*writing*/) { return File(_dup(fd)); }

bool locate(const char* path, Place* place) {
  // The C library here does not see symbolic links, so the name itself is
  // what is read or written, from the working folder.
  place->path = place->name = path;
  errno = ENOENT;
  return *path != '\0';
}

File openForReading(const Place& place) {
  // A folder cannot be opened here at all, and would say EACCES.
  if (isFolder(place.name))
    return {};
  return File(_open(place.name.c_str(), _O_RDONLY | _O_BINARY));
}

File openExisting(const Place& place, bool* regular) {
  if (isFolder(place.name))
    return {};
  // Shared for deletion, so that replaceFile() can put a new file in its
  // place while it is open.
  File file = fileOf(
      CreateFileW(fullPath(place.name).c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
      _O_WRONLY | _O_BINARY);
  // A shell may hold standard output's own file shared with no other
  // writer; the stream itself still writes it.
  const int error = errno;
  for (const int stream : {kStandardOutput, kStandardError}) {
    if (!file && error == EACCES && isFileAt(place.name, stream))
      file = File(_dup(stream));
  }
  *regular = file && GetFileType(handleOf(file.fd())) == FILE_TYPE_DISK;
  errno = error;
  return file;
}

File openInPlace(const Place& place) {
  return File(_open(place.name.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY,
                    _S_IREAD | _S_IWRITE));
}

bool isFileOf(const File& file, int fd) {
  return sameFile(handleOf(file.fd()), handleOf(fd));
}

std::ptrdiff_t readSome(const File& in, char* buffer, size_t size) {
  return _read(in.fd(), buffer,
               static_cast<unsigned>(std::min<size_t>(size, INT_MAX)));
}

std::uint64_t fileSize(const File& file) {
  struct _stat64 status {};
  const bool regular = _fstat64(file.fd(), &status) == 0 &&
                       (status.st_mode & _S_IFMT) == _S_IFREG;
  return regular ? static_cast<std::uint64_t>(status.st_size) : 0;
}

bool truncateFile(const File& file) { return _chsize_s(file.fd(), 0) == 0; }

bool syncFile(const File& file) {
  return FlushFileBuffers(handleOf(file.fd())) || failed();
}

SignalsHeld::SignalsHeld() {
  // Held only where the handler that waits is in place; it is set once.
  static const bool handling = SetConsoleCtrlHandler(waitWhileHeld, TRUE) != 0;
  signalsHeld.store(handling);
}

SignalsHeld::~SignalsHeld() { signalsHeld.store(false); }

File createFile(const File& /*folder*/, const std::string& name,
                unsigned /*mode*/) {
  const std::wstring path = fullPath(name);
  File file =
      fileOf(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
             _O_WRONLY | _O_BINARY);
  if (!file && errno == EMFILE)
    DeleteFileW(path.c_str());
  return file;
}

bool removeFile(const File& /*folder*/, const std::string& name) {
  return DeleteFileW(fullPath(name).c_str()) || failed();
}

bool copyMetadata(const File& /*model*/, const File& /*file*/) {
  // ReplaceFile keeps the target's ACL and attributes.
  return true;
}

bool replaceFile(const File& /*folder*/, const std::string& from,
                 const std::string& to) {
  // Write-through returns once the move is on the disk.
  const std::wstring source = fullPath(from);
  const std::wstring target = fullPath(to);
  if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES)
    return MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_WRITE_THROUGH) ||
           failed();
  return ReplaceFileW(target.c_str(), source.c_str(), nullptr,
                      REPLACEFILE_WRITE_THROUGH, nullptr, nullptr) ||
         failed();
}
