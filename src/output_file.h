#ifndef CHARPIC_OUTPUT_FILE_H_
#define CHARPIC_OUTPUT_FILE_H_

#include <string_view>

// Writes `bytes` to the file `path` names, whole or not at all where the
// system allows it:
// - "-", or a descriptor named by number (/dev/fd/3, /proc/self/fd/3, or
//   /dev/stdout, a link to one), is written through that descriptor, at its
//   position, when it is open for writing;
// - standard output's or standard error's own file is written through that
//   stream, at its position;
// - a device or a FIFO is written in place;
// - a regular file, or a name that no file has yet, gets a new temporary
//   file beside it (see TemporaryFile) that takes its place once whole and
//   on the disk; a symbolic link is followed to the file it names;
// - where the system refuses that temporary file, or its taking the place,
//   the file is written in place, as a shell's redirection would write it,
//   with every signal held until the bytes are on the disk, and a temporary
//   file already written is kept until then, as a whole copy.
// Says on standard error what failed and returns false when anything did.
bool writeOutputFile(const char* path, std::string_view bytes);

#endif  // CHARPIC_OUTPUT_FILE_H_
