#include "output_file.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform.h"
#include "print.h"
#include "temporary_file.h"

namespace {

// Whether `error` says that the system refuses a temporary file beside the
// target, or its taking the target's place, rather than that writing
// failed, so that writing the target in place may still work. A folder that
// takes no new files, as /proc does, says ENOENT; where the folder is
// missing, writing in place says so too.
bool refused(int error) {
  return error == EACCES || error == EPERM || error == EROFS ||
         error == EBUSY || error == EXDEV || error == ENOTSUP ||
         error == ENOENT;
}

// Says that writing `path` failed with `error`; returns false.
bool writeFailed(const char* path, int error) {
  reportFileError("cannot write", path, std::strerror(error));
  return false;
}

// The descriptor that `path` names by its number, as /dev/fd/3 and
// /proc/self/fd/3 do; -1 for any other name.
int descriptorNamed(const char* path) {
  for (const char* folder : {"/dev/fd/", "/proc/self/fd/"}) {
    const size_t length = std::strlen(folder);
    if (std::strncmp(path, folder, length) == 0 &&
        std::isdigit(static_cast<unsigned char>(path[length])) != 0)
      return std::atoi(path + length);
  }
  return -1;
}

// A new descriptor on the open file that writing `path` goes through: the
// one `path` names by number, or standard output's or standard error's own
// file; closed where there is none.
File streamWritingTo(const char* path) {
  File stream = writerOf(descriptorNamed(path), path);
  if (!stream)
    stream = writerOf(kStandardOutput, path);
  if (!stream)
    stream = writerOf(kStandardError, path);
  return stream;
}

// Writes `bytes` through `file`, open on `path`, forcing them to the disk
// when `sync` is set. A reader of a pipe that goes away ends the run as it
// does for standard output.
bool writeThrough(File file, const char* path, std::string_view bytes,
                  bool sync) {
  if (file && writeAll(file.fd(), bytes) && (!sync || syncFile(file)) &&
      file.close())
    return true;
  const int error = errno;
  if (error == EPIPE)
    endByBrokenPipe();
  return writeFailed(path, error);
}

// Writes `bytes` over the regular file `path`, as a shell's redirection
// would, and forces them to the disk. No ending signal can leave it cut
// short between its truncation and that.
bool writeInPlace(const char* path, std::string_view bytes) {
  const EndingSignalsHeld held;
  return writeThrough(openInPlace(path), path, bytes, /*sync=*/true);
}

// Removes `temporary`, saying so when it cannot be removed.
bool discard(TemporaryFile& temporary) {
  const std::string name = temporary.path();
  if (temporary.remove())
    return true;
  reportFileError("cannot remove", name, std::strerror(errno));
  return false;
}

// Writes `bytes` to the regular file `path`, whose links lead to `target`,
// through a temporary file, or in place where the system refuses that.
bool replaceWhole(const char* path, std::string target, bool existing,
                  std::string_view bytes) {
  TemporaryFile temporary(std::move(target), existing);
  if (temporary.created() && (!existing || temporary.copyMetadata()) &&
      temporary.write(bytes) && temporary.putInPlace())
    return true;
  const int error = errno;
  if (!discard(temporary))
    return false;
  if (!refused(error))
    return writeFailed(path, error);
  return writeInPlace(path, bytes);
}

}  // namespace

bool writeOutputFile(const char* path, std::string_view bytes) {
  if (*path == '\0')
    return writeFailed(path, ENOENT);
  if (File stream = streamWritingTo(path))
    return writeThrough(std::move(stream), path, bytes, /*sync=*/false);
  const FileKind kind = fileKind(path);
  if (kind == FileKind::kUnknown)
    return writeFailed(path, errno);
  if (kind == FileKind::kDirectory)
    return writeFailed(path, EISDIR);  // Windows would say EACCES
  if (kind == FileKind::kOther)
    return writeThrough(openInPlace(path), path, bytes, /*sync=*/false);
  // A file the process may not write stays refused.
  const bool existing = kind == FileKind::kRegular;
  if (existing && !canOpenForWriting(path))
    return writeFailed(path, errno);
  std::string target;
  if (!resolveLinks(path, &target))
    return writeFailed(path, errno);
  return replaceWhole(path, std::move(target), existing, bytes);
}
