#ifndef CHARPIC_PRINT_H_
#define CHARPIC_PRINT_H_

#include <string_view>

// Standard output, unbuffered: every call writes its text at once, a whole
// printed line in one write call, so that a reader sees each line as soon as
// it is complete. Once a write fails nothing more is written.

// Writes `text` as it is.
void print(std::string_view text);

// Writes `line` followed by a line feed.
void printLine(std::string_view line);

// The errno of the first failed write to standard output, or 0 if none
// failed.
int stdoutError();

#endif  // CHARPIC_PRINT_H_
