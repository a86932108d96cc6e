#ifndef CHARPIC_TEMPORARY_FILE_H_
#define CHARPIC_TEMPORARY_FILE_H_

#include <string>
#include <string_view>

#include "file.h"

// A new file beside a target file, named after it, that is to take the
// target's place in one step once it is whole. From its creation until it is
// put in place or removed, an ending signal removes it first; going out of
// scope removes it too. Calls that fail return false with errno set.
class TemporaryFile {
 public:
  // Creates the file beside `target`: owner-only where the target exists,
  // until copyMetadata(); else with 0666 less the umask, as a new file gets.
  // created() says whether that worked.
  TemporaryFile(std::string target, bool targetExists);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  [[nodiscard]] bool created() const { return !path_.empty(); }
  [[nodiscard]] const std::string& path() const { return path_; }

  // Gives the file the target's owner, permission bits, ACL and extended
  // attributes, as far as the process may.
  bool copyMetadata();

  // Writes `bytes`, forces them onto stable storage, and closes the file.
  bool write(std::string_view bytes);

  // Puts the written file in the target's place.
  bool putInPlace();

  // Removes the file, unless it is gone already. Either way path() is empty
  // afterwards.
  bool remove();

 private:
  std::string target_;
  std::string path_;  // empty once the file is gone or in place
  File file_;
};

#endif  // CHARPIC_TEMPORARY_FILE_H_
