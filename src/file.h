#ifndef CHARPIC_FILE_H_
#define CHARPIC_FILE_H_

#include <cstdio>
#include <memory>

// Closes a C stream when it goes out of scope.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// An open C stream that closes itself.
using File = std::unique_ptr<std::FILE, FileCloser>;

#endif  // CHARPIC_FILE_H_
