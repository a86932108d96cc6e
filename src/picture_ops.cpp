#include "picture_ops.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "output_file.h"
#include "platform.h"
#include "print.h"

namespace {

// How much of a picture file is read at a time, at most, once the room
// reserved for it is used up. A build may set it, as the fuzzer's does.
#ifndef CHARPIC_READ_SIZE
#define CHARPIC_READ_SIZE (1 << 16)
#endif
constexpr size_t kReadSize = CHARPIC_READ_SIZE;

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

// Reads what `in` has next onto the end of `image`, at most kReadSize bytes
// and no more than the room reserved while there is some. A pipe, a FIFO or
// a terminal may keep it waiting, as `cat` waits. Returns the count, 0 at
// the end of the file, or -1 with errno set.
std::ptrdiff_t readMore(const File& in, Image& image) {
  const size_t end = image.size();
  const size_t room = image.capacity() - end;
  image.resize(end + (room > 0 ? std::min(room, kReadSize) : kReadSize));
  const std::ptrdiff_t got =
      readSome(in, image.data() + end, image.size() - end);
  image.resize(end + static_cast<size_t>(std::max<std::ptrdiff_t>(got, 0)));
  return got;
}

// The file that reading `path` reads: standard input for "-", the
// descriptor of this process that `path` leads to, or else the file there.
File openInput(const char* path) {
  if (std::string_view(path) == "-")
    return duplicate(kStandardInput, false);
  Place place;
  if (!locate(path, &place))
    return {};
  return place.descriptor >= 0 ? duplicate(place.descriptor, false)
                               : openForReading(place);
}

// Says that reading `path` failed, and why; returns false.
bool readFailed(const char* path, const char* reason) {
  reportFileError("cannot read", path, reason);
  return false;
}

}  // namespace

bool load(const char* path, Image& image) {
  const File in = openInput(path);
  if (!in)
    return readFailed(path, std::strerror(errno));
  if (isFileOf(in, kStandardOutput))
    return readFailed(path, "input file is output file");
  const std::uint64_t fileBytes = fileSize(in);
  if (fileBytes >= image.max_size() - image.size())
    return readFailed(path, std::strerror(ENOMEM));
  // Room for the whole file and a line feed it may lack, so that the
  // picture is never copied to grow.
  image.reserve(image.size() + static_cast<size_t>(fileBytes) + 1);
  size_t rowStart = image.size();
  std::ptrdiff_t got = 0;
  while ((got = readMore(in, image)) > 0) {
    // Only the new bytes can hold the line feeds that end rows.
    const std::string_view bytes = image;
    for (size_t end = bytes.find('\n', bytes.size() - static_cast<size_t>(got));
         end != Image::npos; end = bytes.find('\n', end + 1)) {
      print(bytes.substr(rowStart, end + 1 - rowStart));
      rowStart = end + 1;
    }
  }
  if (got < 0)
    return readFailed(path, std::strerror(errno));
  if (rowStart < image.size()) {
    image.push_back('\n');
    print(std::string_view(image).substr(rowStart));
  }
  return true;
}

bool replace(Image& image, char from, char to, const char* outputPath) {
  const std::string_view bytes = image;
  for (size_t start = 0; start < bytes.size();) {
    // Found before the change, so that a cell turned into a line feed stays
    // in its row.
    const size_t end = bytes.find('\n', start);
    char* const row = image.data() + start;
    // A select instead of std::replace's conditional store: the compiler
    // turns it into vector instructions.
    std::transform(row, row + (end - start), row,
                   [=](char cell) { return cell == from ? to : cell; });
    print(std::string_view(row, end + 1 - start));
    start = end + 1;
  }
  return writeOutputFile(outputPath, image);
}

void dilation(const Image& image, char c) {
  print("program\n");
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
