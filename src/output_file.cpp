#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform.h"
#include "print.h"
#include "temporary_file.h"

namespace {

// Whether `error`, from creating the temporary file (`creating`), giving it
// OUTPUT's owner, group, ACL and mode, or putting it in OUTPUT's place, says
// that the system refuses that step here, rather than that something
// failed: writing in place may still work. Only creating it can also meet a
// folder that takes no new files, as /proc says with ENOENT, or a name too
// long for the file system.
bool refused(int error, bool creating) {
  if (creating && (error == ENOENT || error == ENAMETOOLONG))
    return true;
  return error == EACCES || error == EPERM || error == EROFS ||
         error == EBUSY || error == EXDEV || error == ENOTSUP;
}

// Says that writing `path` failed with `error`; returns false.
bool writeFailed(const char* path, int error) {
  reportFileError("cannot write", path, std::strerror(error));
  return false;
}

// Says that writing `path` failed with `error` and removes `copy`, naming
// it where it cannot be removed; returns false.
bool writeFailed(const char* path, int error, TemporaryFile& copy) {
  if (copy.remove())
    return writeFailed(path, error);
  reportError("cannot write " + quoted(path) + ": " + std::strerror(error) +
              ", and cannot remove " + quoted(copy.path()) + ": " +
              std::strerror(errno));
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

// Empties `file`, open on the regular file at `place` (or else opened
// there), and writes `bytes` over it, as a shell's redirection would,
// forcing them to the disk.
bool writeInPlace(const Place& place, File file, std::string_view bytes) {
  if (!file)
    file = openInPlace(place);
  return file && truncateFile(file) && writeAll(file.fd(), bytes) &&
         syncFile(file) && file.close();
}

// Writes `bytes` over the regular file `old`, open on `path`, or to the new
// file at `place` where `old` is closed: first to a whole copy on the disk
// beside it, which then takes its place. Where the system refuses the copy
// OUTPUT's metadata or place, OUTPUT is written in place, and the copy kept
// until that is done; where it refuses the copy, in place alone. No signal
// that can wait takes effect meanwhile.
bool replaceWhole(const char* path, const Place& place, File old,
                  std::string_view bytes) {
  const SignalsHeld held;
  TemporaryFile copy(place, old ? 0600 : 0666);
  if (!copy.created())
    return (refused(errno, true) &&
            writeInPlace(place, std::move(old), bytes)) ||
           writeFailed(path, errno);
  if (!copy.write(bytes))
    return writeFailed(path, errno, copy);
  if (copy.putInPlace(old))
    return true;
  if (!refused(errno, false))
    return writeFailed(path, errno, copy);
  if (!writeInPlace(place, std::move(old), bytes)) {
    copy.keep();
    reportError("cannot write " + quoted(path) + ", whose new picture is in " +
                quoted(copy.path()) + ": " + std::strerror(errno));
    return false;
  }
  if (copy.remove())
    return true;
  reportError("wrote " + quoted(path) + ", but cannot remove its copy " +
              quoted(copy.path()) + ": " + std::strerror(errno));
  return false;
}

}  // namespace

bool writeOutputFile(const char* path, std::string_view bytes) {
  if (std::string_view(path) == "-")
    return writeThrough(duplicate(kStandardOutput, true), path, bytes);
  Place place;
  if (!locate(path, &place))
    return writeFailed(path, errno);
  if (place.descriptor >= 0)
    return writeThrough(duplicate(place.descriptor, true), path, bytes);
  bool regular = false;
  File old = openExisting(place, &regular);
  if (!old && errno != ENOENT)
    return writeFailed(path, errno);
  if (old && !regular)
    return writeThrough(std::move(old), path, bytes);
  for (const int stream : {kStandardOutput, kStandardError}) {
    // cppcheck-suppress useStlAlgorithm
    if (old && isFileOf(old, stream))
      return writeThrough(duplicate(stream, true), path, bytes);
  }
  return replaceWhole(path, place, std::move(old), bytes);
}
