#ifndef CHARPIC_PLATFORM_H_
#define CHARPIC_PLATFORM_H_

// What standard C++ cannot do, done for POSIX systems and for Windows.

#include <filesystem>
#include <string>

#include "file.h"

// Makes standard output and standard error carry bytes unchanged, and a
// write past a file-size limit fail with EFBIG instead of ending the process.
// Call before anything is printed.
void preparePlatform();

// Whether `path`, though the file system shows a regular file or nothing
// there, must be written in place: a device name such as NUL or CON on
// Windows, or on POSIX systems the file that standard output or standard
// error already writes to (as /dev/stdout names it), which a new file would
// cut off from what is printed.
bool mustWriteInPlace(const char* path);

// Creates the file `path`, which must not exist yet, open for writing bytes,
// with the permission bits `mode` less the process's umask where the system
// has them. Null, with errno set, when it cannot.
File createNewFile(const std::string& path, std::filesystem::perms mode);

// Puts the file `from` in the place of the file `to` in one step. Returns
// false, with errno set, when it cannot.
bool replaceFile(const std::string& from, const std::string& to);

// Gives the file `path` the owner and group of the file `model`, as far as
// the process may.
void copyOwner(const std::string& model, const std::string& path);

// Until stopRemovingOnSignal(), makes SIGINT, SIGTERM, SIGHUP and SIGPIPE
// remove the file `path` before they end the process as they would have.
// `path` must stay valid until then. Does nothing where these signals do not
// exist.
void removeOnSignal(const char* path);
void stopRemovingOnSignal();

#endif  // CHARPIC_PLATFORM_H_
