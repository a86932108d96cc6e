#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform.h"
#include "print.h"
#include "temporary_file.h"

namespace {

// Whether `error`, from creating the temporary file, giving it the old
// file's owner, group and ACL, or putting it in place, says that the system
// refuses that step here, rather than that something failed: writing in
// place may still work. A folder that takes no new files, as /proc does,
// says ENOENT, and so does writing in place where the folder is missing; a
// path that leaves no room for the temporary file's name, ENAMETOOLONG.
bool refused(int error) {
  return error == EACCES || error == EPERM || error == EROFS ||
         error == EBUSY || error == EXDEV || error == ENOTSUP ||
         error == ENOENT || error == ENAMETOOLONG;
}

// Says that writing `path` failed with `error`; returns false.
bool writeFailed(const char* path, int error) {
  reportFileError("cannot write", path, std::strerror(error));
  return false;
}

// Writes `bytes` through `file`, open on `path`. A reader of a pipe that
// goes away ends the run as it does for standard output.
bool writeThrough(File file, const char* path, std::string_view bytes) {
  if (file && writeAll(file.fd(), bytes) && file.close())
    return true;
  const int error = errno;
  if (error == EPIPE)
    releaseBrokenPipe();
  return writeFailed(path, error);
}

// Removes `temporary`, saying so when it cannot be removed.
bool discard(TemporaryFile& temporary) {
  const std::string name = temporary.path();
  if (temporary.remove())
    return true;
  reportFileError("cannot remove", name, std::strerror(errno));
  return false;
}

// Empties `file`, open on the regular file `path` (or else opened here),
// and writes `bytes` over it, as a shell's redirection would, forcing them
// to the disk. No signal takes effect in between. `copy`, the picture whole
// beside it where there is one, is removed once that is done, and kept, and
// named, where it fails.
bool writeInPlace(const char* path, File file, std::string_view bytes,
                  TemporaryFile* copy) {
  const SignalsHeld held;
  if (!file)
    file = openInPlace(path);
  if (file && truncateFile(file) && writeAll(file.fd(), bytes) &&
      syncFile(file) && file.close())
    return copy == nullptr || discard(*copy);
  const int error = errno;
  if (copy == nullptr)
    return writeFailed(path, error);
  reportError("cannot write " + quoted(path) + ", whose new picture is in " +
              quoted(copy->keep()) + ": " + std::strerror(error));
  return false;
}

// Writes `bytes` over the regular file `old`, open on `path`, or to the new
// file `path` where `old` is closed, through a temporary file beside
// `target`, where `path` leads; or in place where the system refuses that.
bool replaceWhole(const char* path, const std::string& target, File old,
                  std::string_view bytes) {
  TemporaryFile temporary(target, old);
  const bool created = temporary.created();
  if (created && !temporary.write(bytes))
    return writeFailed(path, errno);
  if (created && temporary.putInPlace())
    return true;
  if (!refused(errno))
    return writeFailed(path, errno);
  return writeInPlace(path, std::move(old), bytes,
                      created ? &temporary : nullptr);
}

}  // namespace

bool writeOutputFile(const char* path, std::string_view bytes) {
  if (std::string_view(path) == "-")
    return writeThrough(duplicate(kStandardOutput, true), path, bytes);
  std::string target;
  if (*path == '\0' || !resolveLinks(path, &target))
    return writeFailed(path, *path == '\0' ? ENOENT : errno);
  if (const int named = descriptorNamed(target); named >= 0)
    return writeThrough(duplicate(named, true), path, bytes);
  bool regular = false;
  File old = openExisting(path, &regular);
  if (!old && errno != ENOENT)
    return writeFailed(path, errno);
  if (old && !regular)
    return writeThrough(std::move(old), path, bytes);
  for (const int stream : {kStandardOutput, kStandardError}) {
    // cppcheck-suppress useStlAlgorithm
    if (old && isFileOf(old, stream))
      return writeThrough(duplicate(stream, true), path, bytes);
  }
  return replaceWhole(path, target, std::move(old), bytes);
}
