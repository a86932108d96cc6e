#ifndef CHARPIC_OUTPUT_FILE_H_
#define CHARPIC_OUTPUT_FILE_H_

#include <filesystem>
#include <string>
#include <string_view>

#include "file.h"

// A file written whole or not at all. A regular file, or a name that no file
// has yet, is written as a new temporary file beside it, named after it,
// which takes its place only once everything is written; until then the old
// file stays as it was. A symbolic link is followed, so the file it points to
// is the one replaced. Anything else, such as a device or a FIFO, or an
// existing file in a folder where the process may not create files, is
// written in place.
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
  // Opens the file that writing to `path` goes to: a temporary file or
  // `path` itself. Null, with the failure kept, when it cannot.
  File open(const char* path);

  // Opens a new temporary file beside `target`, which has `status`, with its
  // permission bits and, where the process may, its owner. Null, with errno
  // set, when no file could be created.
  File openTemporary(const std::filesystem::path& target,
                     std::filesystem::file_status status);

  // Closes the file and removes the temporary file, if any.
  void discard();

  // Lets go of the temporary file's name, once it is gone or in place.
  void forgetTemporary();

  File file_;
  std::string target_;     // the file that the temporary file replaces
  std::string temporary_;  // empty when writing in place
  int error_ = 0;
};

#endif  // CHARPIC_OUTPUT_FILE_H_
