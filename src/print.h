#ifndef CHARPIC_PRINT_H_
#define CHARPIC_PRINT_H_

#include <string>
#include <string_view>

// Standard output, unbuffered: every call writes its text at once, a whole
// printed line in one write call, so that a reader sees each line as soon as
// it is complete. Once a write fails nothing more is written.

// Writes `text` as it is.
void print(std::string_view text);

// The errno of the first failed write to standard output, or 0 if none
// failed.
int stdoutError();

// `path` in single quotes, as a shell such as bash reads it back, in one
// line: a quote as '\'', a control character as an escape, 'a'$'\012''b'.
std::string quoted(std::string_view path);

// Says on standard error, in one line, that `action` failed on the file
// `path` and why: "charpic: cannot read 'in.txt': No such file or
// directory".
void reportFileError(std::string_view action, const std::string& path,
                     std::string_view reason);

// Says `message` on standard error, in one line after "charpic: ".
void reportError(std::string_view message);

#endif  // CHARPIC_PRINT_H_
