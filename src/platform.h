#ifndef CHARPIC_PLATFORM_H_
#define CHARPIC_PLATFORM_H_

// What standard C++ cannot do. One source file implements it for each
// system: platform_posix.cpp and platform_windows.cpp. Paths are the bytes
// the command line carried, handed to the system unchanged.

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "file.h"

// Makes standard output and standard error carry bytes unchanged, and a
// write past a file-size limit fail with EFBIG instead of ending the process.
// Call before anything is printed.
void preparePlatform();

// The longest file name, and the longest path, that the system takes in
// bytes, with no terminating NUL.
extern const size_t kMaxNameLength;
extern const size_t kMaxPathLength;

// Writes all of `bytes` to standard output at once, as one write where the
// system takes it so. False, with errno set, when it cannot.
bool writeStandardOutput(std::string_view bytes);

// Reads into `buffer` up to `size` bytes of what `file` holds next, without
// waiting for more once some are there, as from a pipe or a terminal.
// Returns how many, 0 at the end of the file, or -1 with errno set.
std::ptrdiff_t readAvailable(std::FILE* file, char* buffer, size_t size);

// The size of `file` in bytes when it is a regular file; 0 otherwise.
size_t fileSize(std::FILE* file);

// What a path names, symbolic links followed.
enum class FileKind {
  kMissing,    // nothing, or a dangling link
  kRegular,    // a regular file
  kDirectory,  // a folder
  kOther,      // a device, FIFO, socket or terminal
  kUnknown,    // the system cannot tell; errno says why (say, a link loop)
};
FileKind fileKind(const char* path);

// What separates the folders of a path from each other and from the name.
extern const char kPathSeparators[];

// Whether the process may open the existing file `path` for writing; false,
// with errno set, when it may not. The file is left as it was.
bool canOpenForWriting(const char* path);

// The standard stream that already writes to the file `path` names: 1 for
// standard output, 2 for standard error, 0 for neither.
int streamWritingTo(const char* path);

// A new C stream on the open file of standard stream `fd`: writing to it
// goes on where that stream stands and truncates nothing. Null, with errno
// set, when it cannot be had.
File openStream(int fd);

// The path that writing to `path` reaches: `path` with every symbolic link
// followed, to the file a dangling link would create. False, with errno set
// (ELOOP for a chain that does not end), when it cannot be followed.
bool resolveLinks(const std::string& path, std::string* resolved);

// Creates the file `path`, which must not exist yet, open for writing bytes,
// with the permission bits `mode` less the process's umask where the system
// has them. Until stopRemovingOnSignal(), every signal that would end the
// process (on Windows, Ctrl-C and Ctrl-Break) removes the file first, from
// the moment it exists; `path` must stay valid until then. Null, with errno
// set, when it cannot.
File createTemporaryFile(const std::string& path, unsigned mode);
void stopRemovingOnSignal();

// Gives the open `file` the permission bits of the file `model` and, as far
// as the process may, its owner, or else at least its group, as `cp -p`
// does. False, with errno set, when the permission bits cannot be set.
bool copyOwnerAndMode(const char* model, std::FILE* file);

// Forces what has been written to `file` onto stable storage. False, with
// errno set, when it cannot.
bool syncFile(std::FILE* file);

// Puts the file `from` in the place of the file `to` in one step, and forces
// the new name onto stable storage as far as the system lets it. Returns
// false, with errno set, when it cannot put the file in place.
bool replaceFile(const std::string& from, const std::string& to);

// Makes a reader of standard output that goes away stop the printing only:
// printing fails with EPIPE instead of ending the process, so that a run can
// finish its output file. endByBrokenPipe() then ends the process as the
// reader's going would have ended it, where the system has such a signal.
void deferBrokenPipe();
void endByBrokenPipe();

#endif  // CHARPIC_PLATFORM_H_
