#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform.h"
#include "print.h"
#include "temporary_file.h"

namespace {

// Whether `error` says that the system refuses one way of writing a file
// rather than that writing failed, so that another way may still work.
bool refused(int error) {
  return error == EACCES || error == EPERM || error == EBUSY ||
         error == EXDEV || error == ENAMETOOLONG || error == ENOTSUP;
}

// Says that writing `path` failed with `error`, and then `note`; returns
// false.
bool writeFailed(const char* path, int error, std::string_view note = {}) {
  reportFileError("cannot write", path,
                  std::string(std::strerror(error)).append(note));
  return false;
}

// Removes `temporary`, saying so when it cannot be removed.
bool discard(TemporaryFile& temporary) {
  const std::string name = temporary.path();
  if (temporary.remove())
    return true;
  reportFileError("cannot remove", name, std::strerror(errno));
  return false;
}

// Says that writing `path` failed with `error` and removes `temporary`;
// returns false.
bool writeFailed(const char* path, int error, TemporaryFile& temporary) {
  writeFailed(path, error);
  discard(temporary);
  return false;
}

// Writes `bytes` through `file`, open on `path`, forcing them to the disk
// when `sync` is set. A reader of a pipe that goes away ends the run as it
// does for standard output. `note` says where else the bytes are.
bool writeThrough(File file, const char* path, std::string_view bytes,
                  bool sync, std::string_view note = {}) {
  if (file && writeAll(file.fd(), bytes) && (!sync || syncFile(file)) &&
      file.close())
    return true;
  const int error = errno;
  if (error == EPIPE)
    endByBrokenPipe();
  return writeFailed(path, error, note);
}

// Writes `bytes` to the regular file `path`, whose links lead to `target`,
// through a temporary file, or in place where the system refuses that.
bool replaceWhole(const char* path, std::string target, bool existing,
                  std::string_view bytes) {
  TemporaryFile temporary(std::move(target), existing);
  if (!temporary.created()) {
    if (!refused(errno))
      return writeFailed(path, errno);
    return writeThrough(openInPlace(path), path, bytes, /*sync=*/true);
  }
  const bool keepsMetadata = !existing || temporary.copyMetadata();
  if (!keepsMetadata && !refused(errno))
    return writeFailed(path, errno, temporary);
  if (!temporary.write(bytes))
    return writeFailed(path, errno, temporary);
  if (keepsMetadata && temporary.putInPlace())
    return true;
  if (keepsMetadata && !refused(errno))
    return writeFailed(path, errno, temporary);
  // The file itself is written, as a shell's redirection would write it;
  // until it is whole, the temporary file is the new picture's only copy.
  temporary.keep();
  const std::string note = "; the new picture is in '" + temporary.path() + "'";
  return writeThrough(openInPlace(path), path, bytes, /*sync=*/true, note) &&
         discard(temporary);
}

}  // namespace

bool writeOutputFile(const char* path, std::string_view bytes) {
  if (*path == '\0')
    return writeFailed(path, ENOENT);
  File stream;
  if (!findDescriptorWritingTo(path, &stream))
    return writeFailed(path, errno);
  if (stream)
    return writeThrough(std::move(stream), path, bytes, /*sync=*/false);
  bool existing = false;
  switch (fileKind(path)) {
    case FileKind::kUnknown:
      return writeFailed(path, errno);
    case FileKind::kDirectory:
      return writeFailed(path, EISDIR);  // Windows would say EACCES
    case FileKind::kOther:
      return writeThrough(openInPlace(path), path, bytes, /*sync=*/false);
    case FileKind::kRegular:
      // A file the process may not write stays refused.
      if (!canOpenForWriting(path))
        return writeFailed(path, errno);
      existing = true;
      break;
    case FileKind::kMissing:
      break;
  }
  std::string target;
  if (!resolveLinks(path, &target))
    return writeFailed(path, errno);
  return replaceWhole(path, std::move(target), existing, bytes);
}
