#include "picture_ops.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "file.h"
#include "output_file.h"
#include "platform.h"
#include "print.h"

namespace {

// How much of a picture file is read at a time.
constexpr size_t kChunkSize = 1 << 16;

// Whether `row` has a cell in column `j` and that cell holds colour `c`.
bool holds(std::string_view row, size_t j, char c) {
  return j < row.size() && row[j] == c;
}

// Whether the cell in column `j` of `current` has a neighbour of colour `c`:
// left or right of it in `current`, or in the same column of `above` or
// `below`.
bool touches(std::string_view current, std::string_view above,
             std::string_view below, size_t j, char c) {
  return (j > 0 && current[j - 1] == c) || holds(current, j + 1, c) ||
         holds(above, j, c) || holds(below, j, c);
}

// Prints `row` and appends it to `image`, leaving `row` empty. The copy in
// `image` is allocated at the row's own length; `row` keeps its capacity for
// the next one.
void takeRow(std::string& row, Image& image) {
  printLine(row);
  image.push_back(row);
  row.clear();
}

// Takes the rows that `text`, read after `partial`, completes into `image`,
// printing each, and leaves the bytes after its last line feed in `partial`.
void takeRows(std::string_view text, std::string& partial, Image& image) {
  for (size_t end = text.find('\n'); end != std::string_view::npos;
       end = text.find('\n')) {
    if (partial.empty()) {
      // A row read whole prints straight from the text, line feed included.
      print(text.substr(0, end + 1));
      image.emplace_back(text.substr(0, end));
    } else {
      partial.append(text.substr(0, end));
      takeRow(partial, image);
    }
    text.remove_prefix(end + 1);
  }
  partial.append(text);
}

}  // namespace

bool load(const char* path, Image& image) {
  // Some systems open a folder as a file and some refuse it with another
  // reason; either way it is no picture.
  if (fileKind(path) == FileKind::kDirectory) {
    errno = EISDIR;
    return false;
  }
  const File in(std::fopen(path, "rb"));
  if (!in)
    return false;
  std::string chunk(kChunkSize, '\0');
  std::string partial;  // a row that runs on into the next chunk
  size_t size = 0;
  while ((size = std::fread(chunk.data(), 1, chunk.size(), in.get())) > 0)
    takeRows(std::string_view(chunk.data(), size), partial, image);
  if (std::ferror(in.get()) != 0)
    return false;
  if (!partial.empty())
    takeRow(partial, image);
  return true;
}

bool replace(Image& image, char from, char to, const char* outputPath) {
  OutputFile out(outputPath);
  std::string line;  // the changed row and its line feed
  for (std::string& row : image) {
    // A select instead of std::replace's conditional store: the compiler
    // turns it into vector instructions.
    std::transform(row.begin(), row.end(), row.begin(),
                   [=](char cell) { return cell == from ? to : cell; });
    line.assign(row).push_back('\n');
    out.write(line);
    print(line);
  }
  errno = out.commit();
  return errno == 0;
}

void dilation(const Image& image, char c) {
  printLine("program");
  // The working row followed by a line feed, printed as it is after every
  // cell. It lives for the whole picture so that rows reuse its storage.
  // cppcheck-suppress variableScope
  std::string line;
  for (size_t i = 0; i < image.size(); ++i) {
    const std::string_view above = i > 0 ? image[i - 1] : std::string_view();
    const std::string_view below =
        i + 1 < image.size() ? image[i + 1] : std::string_view();
    line.assign(image[i]).push_back('\n');
    const std::string_view current(line.data(), image[i].size());
    for (size_t j = 0; j < current.size(); ++j) {
      if (current[j] != c && touches(current, above, below, j, c))
        line[j] = c;
      print(line);
    }
  }
}

void erosion() {}

void floodfill() {}
