#ifndef CHARPIC_OUTPUT_FILE_H_
#define CHARPIC_OUTPUT_FILE_H_

#include <string>
#include <string_view>
#include <vector>

#include "file.h"

// A file written whole or not at all. A regular file, or a name that no file
// has yet, is written as a new temporary file beside it, named after it,
// which takes its place only once everything is written; until then the old
// file stays as it was. A symbolic link is followed, so the file it points to
// is the one replaced. These are written in place instead: the file that
// standard output or standard error writes to (through that stream's own
// open file), a device, a FIFO, and a file that the system will not let a
// temporary file replace (a folder that refuses new files, a sticky folder,
// a mount point, a file system that refuses permission bits).
class OutputFile {
 public:
  // Opens `path` for writing; a failure is kept for commit() to report.
  explicit OutputFile(const char* path);
  // Removes a temporary file that commit() did not put in place.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes `bytes`, unless a write has failed before.
  void write(std::string_view bytes);

  // Closes the file and puts a temporary file in the place of the output.
  // Returns 0, or the errno of the first failure, in which case a temporary
  // file is removed and the output left as it was.
  int commit();

 private:
  // Opens the file that writing to `path` goes to: a temporary file, a
  // standard stream, or `path` itself. Null, with errno set, when it cannot.
  File openDestination(const char* path);

  // Opens a new temporary file that is to replace `target`, with the
  // permission bits and, where the process may, the owner of an `existing`
  // target. Null, with errno set, when it cannot.
  File openTemporary(const std::string& target, bool existing);

  // Puts the temporary file in the place of the target, or, where the
  // system refuses that, copies its bytes over the target. False, with errno
  // set, when neither works.
  bool putInPlace();

  // Writes the temporary file's bytes over the target, in place. False,
  // with errno set, when it cannot.
  bool copyIntoTarget();

  // Closes the file and removes the temporary file, if any.
  void discard();

  // Lets go of the temporary file's name, once it is gone or in place.
  void forgetTemporary();

  std::vector<char> buffer_;  // the file's buffer, so it outlives the file
  File file_;
  std::string target_;     // the file that the temporary file replaces
  std::string temporary_;  // empty when writing in place
  int error_ = 0;
};

#endif  // CHARPIC_OUTPUT_FILE_H_
