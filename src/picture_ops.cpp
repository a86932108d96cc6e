#include "picture_ops.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <string_view>

#include "print.h"

namespace {

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

}  // namespace

bool load(const char* path, Image& image) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open())
    return false;
  std::string row;
  while (std::getline(in, row)) {
    printLine(row);
    // A copy is allocated at the row's own length; `row` keeps its capacity
    // for the next line.
    image.push_back(row);
  }
  return !in.bad();
}

bool replace(Image& image, char from, char to, const char* outputPath) {
  std::ofstream out(outputPath, std::ios::binary | std::ios::trunc);
  // Printing goes on without the file; keep the reason it could not open.
  const int openError = out.is_open() ? 0 : errno;
  for (std::string& row : image) {
    // A select instead of std::replace's conditional store: the compiler
    // turns it into vector instructions.
    std::transform(row.begin(), row.end(), row.begin(),
                   [=](char cell) { return cell == from ? to : cell; });
    out.write(row.data(), static_cast<std::streamsize>(row.size())).put('\n');
    printLine(row);
  }
  out.close();
  if (openError != 0) {
    errno = openError;
    return false;
  }
  return !out.fail();
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
