#ifndef CHARPIC_PLATFORM_H_
#define CHARPIC_PLATFORM_H_

// What standard C++ cannot do. One source file implements it for each
// system: platform_posix.cpp and platform_windows.cpp. Paths are the bytes
// the command line carried, handed to the system unchanged. Calls that fail
// return false or a closed File, with errno set.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "file.h"

// Makes standard output and standard error carry bytes unchanged, keeps
// files opened later from taking their place when they are closed, and makes
// a write past a file-size limit fail with EFBIG instead of ending the
// process. Call before anything is printed or opened.
void preparePlatform();

// The descriptors of standard output and standard error.
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;

// The longest file name, and the longest path, that the system takes in
// bytes, with no terminating NUL; and what separates the parts of a path.
extern const size_t kMaxNameLength;
extern const size_t kMaxPathLength;
extern const char kPathSeparators[];

// Writes all of `bytes` to the open file `fd`, in as few calls as the
// system takes, going on after interruptions and partial writes.
bool writeAll(int fd, std::string_view bytes);

// Makes a reader of standard output that goes away stop the printing only:
// printing fails with EPIPE instead of ending the process, so that a run can
// finish its output file. endByBrokenPipe() then ends the process as the
// reader's going would have ended it, where the system has such a signal.
void deferBrokenPipe();
void endByBrokenPipe();

// Opens the file `path` for reading; EISDIR for a folder.
File openForReading(const char* path);

// Whether `in` is the regular file that standard output writes to, so that
// reading it to its end would read back what is printed, without end.
bool isStandardOutputsFile(const File& in);

// Reads into `buffer` up to `size` bytes of what `in` holds next. Returns
// how many, 0 at the end of the file, or -1.
std::ptrdiff_t readSome(const File& in, char* buffer, size_t size);

// The size of `file` in bytes when it is a regular file; 0 otherwise.
std::uint64_t fileSize(const File& file);

// What a path names, symbolic links followed.
enum class FileKind {
  kMissing,    // nothing, or a dangling link
  kRegular,    // a regular file
  kDirectory,  // a folder
  kOther,      // a device, FIFO, socket or terminal
  kUnknown,    // the system cannot tell; errno says why (say, a link loop)
};
FileKind fileKind(const char* path);

// Whether the process may open the existing file `path` for writing. The
// file is left as it was.
bool canOpenForWriting(const char* path);

// A new descriptor on the open file `fd`, sharing its position, when `fd` is
// open for writing on the file that `path` names; a closed File otherwise.
File writerOf(int fd, const char* path);

// Opens the file `path` for writing in place, creating it where it is
// missing and emptying it where it is regular.
File openInPlace(const char* path);

// Forces what has been written to `file` onto stable storage, where it has
// any.
bool syncFile(const File& file);

// The path that writing to `path` reaches: `path` with every symbolic link
// followed, each read whole, to the file a dangling link would create. ELOOP
// for a chain that does not end.
bool resolveLinks(const std::string& path, std::string* resolved);

// While one lives, the ending signals (SIGHUP, SIGINT, SIGQUIT, SIGTERM and
// SIGPIPE; on Windows, Ctrl-C and Ctrl-Break) wait, and take effect once it
// goes. One at a time.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld();
  ~EndingSignalsHeld();
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;
};

// Creates the file `path` for writing bytes; it must not exist yet, and a
// link at that name is never followed. Its permission bits are `mode` less
// the process's umask, where the system has them. Until stopRemovingOnSignal(),
// an ending signal removes the file first, from the moment it exists;
// `path` must stay valid until then.
File createTemporaryFile(const std::string& path, unsigned mode);
void stopRemovingOnSignal();

// Gives `file`, which only its owner may open yet, what the file `model`
// carries beyond its bytes, as `cp -a` does: its owner as far as the process
// may set it (or else its group), its extended attributes and ACL, less
// those the process may not set, then its permission bits, so that no bit is
// granted before the ACL that narrows it. Where `model` has no ACL, `file`
// keeps none. ENOTSUP from a file system without attributes is no failure.
// On Windows replaceFile() keeps these instead.
bool copyMetadata(const char* model, const File& file);

// Puts the file `from` in the place of the file `to` in one step, keeping
// `to`'s ACL and attributes where the system keeps them apart from its
// bytes, and forces the new name onto stable storage as far as the system
// lets it.
bool replaceFile(const std::string& from, const std::string& to);

#endif  // CHARPIC_PLATFORM_H_
