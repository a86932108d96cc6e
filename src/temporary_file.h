#ifndef CHARPIC_TEMPORARY_FILE_H_
#define CHARPIC_TEMPORARY_FILE_H_

#include <string>
#include <string_view>

#include "file.h"
#include "platform.h"

// A new file beside a target file, named after it, that is to take the
// target's place in one step once it is whole. Going out of scope removes
// it, unless it is in place or kept. Calls that fail return false with errno
// set.
class TemporaryFile {
 public:
  // Creates the file beside `target`, which must outlive it, with `mode` less
  // the umask. created() says whether that worked.
  TemporaryFile(const Place& target, unsigned mode);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  [[nodiscard]] bool created() const { return !name_.empty(); }

  // The file's path, beside the target's as the target's path spells it.
  [[nodiscard]] const std::string& path() const { return path_; }

  // Writes `bytes` and forces them onto stable storage: the file is then a
  // whole copy of them.
  bool write(std::string_view bytes);

  // Gives the written file what `model`, where open, carries beyond its
  // bytes (see copyMetadata), closes it, and puts it in the target's place.
  // Where either step fails the file stays, closed, as it is.
  bool putInPlace(const File& model);

  // Leaves the file where it is, whatever happens later.
  void keep() { name_.clear(); }

  // Removes the file, unless it is in place or kept.
  bool remove();

 private:
  const Place& target_;
  std::string name_;  // in the target's folder; empty once in place or kept
  std::string path_;
  File file_;
};

#endif  // CHARPIC_TEMPORARY_FILE_H_
