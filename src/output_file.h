#ifndef CHARPIC_OUTPUT_FILE_H_
#define CHARPIC_OUTPUT_FILE_H_

#include <string_view>

// Writes `bytes` to the file `path` names, whole or not at all where the
// system allows it:
// - a file that one of the process's open files already writes to, such as
//   standard output's, is written through that open file, at its position;
// - a device or a FIFO is written in place;
// - a regular file, or a name that no file has yet, gets a new temporary
//   file beside it (see TemporaryFile) that takes its place once whole and
//   on the disk; a symbolic link is followed to the file it names;
// - where the system refuses that temporary file, it is written in place;
//   where it refuses only the temporary file's taking its place, or copying
//   its owner, mode or attributes, it is written in place and the temporary
//   file is kept until it is whole, or kept and named if it cannot be.
// Says on standard error what failed and returns false when anything did.
bool writeOutputFile(const char* path, std::string_view bytes);

#endif  // CHARPIC_OUTPUT_FILE_H_
