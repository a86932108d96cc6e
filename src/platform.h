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

// Makes standard output and standard error carry bytes unchanged, holds the
// number of a standard stream that is closed so that no file opened later
// takes it and receives what is printed, and makes a write past a file-size
// limit fail with EFBIG instead of ending the process. Call before anything
// is printed or opened.
void preparePlatform();

// The descriptors of the standard streams.
constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;

// The longest file name that the system takes, in bytes, with no
// terminating NUL; and what separates the parts of a path.
extern const size_t kMaxNameLength;
extern const char kPathSeparators[];

// Writes all of `bytes` to the open file `fd`, in as few calls as the
// system takes, going on after interruptions and partial writes.
bool writeAll(int fd, std::string_view bytes);

// Holds SIGPIPE, whether a reader of standard output went away or kill sent
// it, until releaseBrokenPipe(), which lets a held one end the process: in
// between, printing fails with EPIPE instead, so that a run can finish its
// output file. Neither does anything where the process was started to
// ignore SIGPIPE, or where the system has no such signal.
void holdBrokenPipe();
void releaseBrokenPipe();

// A new descriptor on the open file `fd`, sharing its position. EBADF where
// `fd` is not open, not open for writing where `writing` is set, or a
// standard stream that was closed when the process started.
File duplicate(int fd, bool writing);

// Where a path leads once its symbolic links are followed: one of this
// process's descriptors, or a name in a folder, which may not exist yet.
struct Place {
  int descriptor = -1;  // the descriptor, or -1 for a name in a folder
  File folder;          // the folder that holds `name`; closed: the working one
  std::string name;     // the file's name there
  std::string path;     // the path to it as the links spell it, for messages
};

// Finds where `path` leads, following each symbolic link from its own
// folder. A name in a folder of this process's descriptors, however the
// path reaches it (/dev/fd/3, /proc/thread-self/fd/3, /dev/stdout), is that
// descriptor. Any other link in /proc is left for the system to follow: its
// text may name no file, or another than the one it leads to. ENOENT for an
// empty path, ELOOP for a chain of links that does not end.
bool locate(const char* path, Place* place);

// Opens the file at `place` for reading; EISDIR for a folder.
File openForReading(const Place& place);

// Opens the existing file at `place` for writing without emptying it, as a
// shell's redirection opens it, and says in `regular` whether it is a
// regular file; ENOENT where no file is there.
File openExisting(const Place& place, bool* regular);

// Opens the file at `place` for writing, creating it where it is missing.
File openInPlace(const Place& place);

// Whether `file` is a regular file that the descriptor `fd` is open on too.
bool isFileOf(const File& file, int fd);

// Reads into `buffer` up to `size` bytes of what `in` holds next. Returns
// how many, 0 at the end of the file, or -1.
std::ptrdiff_t readSome(const File& in, char* buffer, size_t size);

// The size of `file` in bytes when it is a regular file; 0 otherwise.
std::uint64_t fileSize(const File& file);

// Empties the regular file `file`, which must be at its start.
bool truncateFile(const File& file);

// Forces what has been written to `file` onto stable storage, where it has
// any.
bool syncFile(const File& file);

// While one lives, every signal that can wait (on Windows, Ctrl-C and
// Ctrl-Break) waits, and takes effect once it goes. One at a time.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// Creates the file `name` in `folder` for writing; it must not exist yet,
// and a link at that name is never followed. Its permission bits are `mode`
// less the process's umask, where the system has them.
File createFile(const File& folder, const std::string& name, unsigned mode);

// Removes the file `name` from `folder`.
bool removeFile(const File& folder, const std::string& name);

// Gives `file`, which only its owner may open yet, what the open file `model`
// carries beyond its bytes: its owner and group, both or EPERM; its extended
// attributes and ACL, less the attributes that only privilege may set; then
// its permission bits, so that no bit is granted before the ACL that narrows
// it. Where `model` has no ACL, `file` keeps none. ENOTSUP from a file system
// without attributes is no failure. On Windows replaceFile() keeps these
// instead.
bool copyMetadata(const File& model, const File& file);

// Puts the file `from` in the place of the file `to`, both in `folder`, in
// one step, keeping `to`'s ACL and attributes where the system keeps them
// apart from its bytes, and forces the new name onto stable storage as far
// as the system lets it.
bool replaceFile(const File& folder, const std::string& from,
                 const std::string& to);

#endif  // CHARPIC_PLATFORM_H_
