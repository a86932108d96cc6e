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

// The longest file name, and the longest path, that the system takes in
// bytes, with no terminating NUL; and what separates the parts of a path.
extern const size_t kMaxNameLength;
extern const size_t kMaxPathLength;
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

// The descriptor that `path` names by its number, as /dev/fd/3 and
// /proc/self/fd/3 do; -1 for any other name.
int descriptorNamed(const std::string& path);

// A new descriptor on the open file `fd`, sharing its position. EBADF where
// `fd` is not open, not open for writing where `writing` is set, or a
// standard stream that was closed when the process started.
File duplicate(int fd, bool writing);

// Opens the file `path` for reading; EISDIR for a folder.
File openForReading(const char* path);

// Opens the existing file `path` for writing without emptying it, as a
// shell's redirection opens it, and says in `regular` whether it is a
// regular file; ENOENT where no file has that name.
File openExisting(const char* path, bool* regular);

// Opens the file `path` for writing, creating it where it is missing.
File openInPlace(const char* path);

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

// The path that writing to `path` reaches: `path` with every symbolic link
// followed, each read whole, to the file a dangling link would create, or to
// a name that descriptorNamed() knows, which is no link to follow. ELOOP for
// a chain that does not end.
bool resolveLinks(const std::string& path, std::string* resolved);

// While one lives, every signal that can wait (on Windows, Ctrl-C and
// Ctrl-Break) waits, and takes effect once it goes. One at a time.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// Creates the file `path` for writing bytes; it must not exist yet, and a
// link at that name is never followed. Its permission bits are `mode` less
// the process's umask, where the system has them. Until stopRemovingOnSignal(),
// SIGHUP, SIGINT, SIGQUIT and SIGTERM (on Windows, Ctrl-C and Ctrl-Break)
// remove the file before they end the process, from the moment it exists;
// `path` must stay valid until then.
File createTemporaryFile(const std::string& path, unsigned mode);
void stopRemovingOnSignal();

// Gives `file`, which only its owner may open yet, what the open file `model`
// carries beyond its bytes: its owner and group, both or EPERM; its extended
// attributes and ACL, less the attributes that only privilege may set; then
// its permission bits, so that no bit is granted before the ACL that narrows
// it. Where `model` has no ACL, `file` keeps none. ENOTSUP from a file system
// without attributes is no failure. On Windows replaceFile() keeps these
// instead.
bool copyMetadata(const File& model, const File& file);

// Puts the file `from` in the place of the file `to` in one step, keeping
// `to`'s ACL and attributes where the system keeps them apart from its
// bytes, and forces the new name onto stable storage as far as the system
// lets it.
bool replaceFile(const std::string& from, const std::string& to);

#endif  // CHARPIC_PLATFORM_H_
