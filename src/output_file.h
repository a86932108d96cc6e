#ifndef CHARPIC_OUTPUT_FILE_H_
#define CHARPIC_OUTPUT_FILE_H_

#include <string_view>

// Writes `bytes` to the file `path` leads to (see locate), whole or not at
// all where the system allows it:
// - "-", or one of this process's descriptors, is written through that
//   descriptor, at its position, when it is open for writing;
// - standard output's or standard error's own file is written through that
//   stream, at its position;
// - a device or a FIFO is written in place;
// - a regular file, or a name that no file has yet, gets a whole copy of
//   `bytes` on the disk beside it (see TemporaryFile) before any of its old
//   bytes is touched, which then takes its place; where the system refuses
//   the copy that place, the file is written in place, as a shell's
//   redirection would write it, and the copy removed once that is done.
// Says on standard error what failed and returns false when anything did.
bool writeOutputFile(const char* path, std::string_view bytes);

#endif  // CHARPIC_OUTPUT_FILE_H_
