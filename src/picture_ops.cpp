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

// How much of a picture file is read at a time, at most.
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

// The first row of `lines`, without its line feed; empty when there is none.
std::string_view firstRow(std::string_view lines) {
  return lines.substr(0, lines.find('\n'));
}

// Reads what `in` has next onto the end of `image`: up to the room reserved,
// or a chunk once that is used up. Returns the count, 0 at the end of the
// file, or -1 with errno set.
std::ptrdiff_t readMore(std::FILE* in, Image& image) {
  const size_t end = image.size();
  const size_t room = image.capacity() - end;
  image.resize(end + (room > 0 ? std::min(room, kChunkSize) : kChunkSize));
  const std::ptrdiff_t got =
      readAvailable(in, image.data() + end, image.size() - end);
  image.resize(end + static_cast<size_t>(std::max<std::ptrdiff_t>(got, 0)));
  return got;
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
  // Room for the whole file and a line feed it may lack, so that the
  // picture is never copied to grow.
  image.reserve(image.size() + fileSize(in.get()) + 1);
  size_t rowStart = image.size();
  std::ptrdiff_t got = 0;
  while ((got = readMore(in.get(), image)) > 0) {
    // Only the new bytes can hold the line feeds that end rows.
    for (size_t end = image.find('\n', image.size() - static_cast<size_t>(got));
         end != Image::npos; end = image.find('\n', end + 1)) {
      print(std::string_view(image).substr(rowStart, end + 1 - rowStart));
      rowStart = end + 1;
    }
  }
  if (got < 0)
    return false;
  if (rowStart < image.size()) {
    image.push_back('\n');
    print(std::string_view(image).substr(rowStart));
  }
  return true;
}

bool replace(Image& image, char from, char to, const char* outputPath) {
  OutputFile out(outputPath);
  for (size_t start = 0; start < image.size();) {
    // Found before the change, so that a cell turned into a line feed stays
    // in its row.
    const size_t end = image.find('\n', start);
    char* const row = image.data() + start;
    // A select instead of std::replace's conditional store: the compiler
    // turns it into vector instructions.
    std::transform(row, row + (end - start), row,
                   [=](char cell) { return cell == from ? to : cell; });
    const std::string_view line(row, end + 1 - start);
    out.write(line);
    print(line);
    start = end + 1;
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
  std::string_view above;
  std::string_view rest = image;
  while (!rest.empty()) {
    const std::string_view current = firstRow(rest);
    rest.remove_prefix(current.size() + 1);
    const std::string_view below = firstRow(rest);
    line.assign(current).push_back('\n');
    const std::string_view working(line.data(), current.size());
    for (size_t j = 0; j < working.size(); ++j) {
      if (working[j] != c && touches(working, above, below, j, c))
        line[j] = c;
      print(line);
    }
    above = current;
  }
}

void erosion() {}

void floodfill() {}
