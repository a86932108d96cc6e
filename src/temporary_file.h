#ifndef CHARPIC_TEMPORARY_FILE_H_
#define CHARPIC_TEMPORARY_FILE_H_

#include <string>
#include <string_view>

#include "file.h"

// A new file beside a target file, named after it, that is to take the
// target's place in one step once it is whole. From its creation until it is
// put in place, removed or kept, an ending signal removes it first; going out
// of scope removes it too. Calls that fail return false with errno set.
class TemporaryFile {
 public:
  // Creates the file beside `target`. Where `model`, the target, is open, the
  // file is open to its owner alone until it has the model's owner, group,
  // ACL, attributes and mode (see copyMetadata); without a model it gets
  // 0666 less the umask, as a new file does. created() says whether all that
  // worked; where it did not, no file is left.
  TemporaryFile(std::string target, const File& model);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  [[nodiscard]] bool created() const { return !path_.empty(); }
  [[nodiscard]] const std::string& path() const { return path_; }

  // Writes `bytes`, forces them onto stable storage, and closes the file.
  bool write(std::string_view bytes);

  // Puts the written file in the target's place.
  bool putInPlace();

  // Leaves the file where it is, whatever happens later; returns its name.
  std::string keep();

  // Removes the file, unless it is gone already. Either way path() is empty
  // afterwards.
  bool remove();

 private:
  std::string target_;
  std::string path_;  // empty once the file is gone, in place or kept
  File file_;
};

#endif  // CHARPIC_TEMPORARY_FILE_H_
