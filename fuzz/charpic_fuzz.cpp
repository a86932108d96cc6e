// libFuzzer target: the first two bytes of an input are the colours `from`
// and `to`, the rest is a picture file. It loads the picture with the real
// loader, runs replace and dilation on it, and aborts when anything that must
// hold for every picture does not. Standard output goes to a file, where what
// each step printed is checked.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "picture_ops.h"
#include "print.h"

namespace fs = std::filesystem;

namespace {

// The most that dilation may print for one input, so that a long row cannot
// fill the disk or the memory that checks it.
constexpr size_t kMaxTrace = 4 << 20;

// A temporary folder for the whole fuzzing run: the picture, replace's
// output, and the file that standard output is sent to. It lies in memory
// where the system has such a folder, so that replace's syncs cost nothing.
struct Workspace {
  Workspace() {
    const fs::path memory = "/dev/shm";
    std::string pattern =
        (fs::is_directory(memory) ? memory : fs::temp_directory_path()) /
        "charpic-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
      abort();
    dir = pattern;
    input = (dir / "in.txt").string();
    output = (dir / "out.txt").string();
    printed = (dir / "printed.txt").string();
    const int fd = open(printed.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0)
      abort();
    close(fd);
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  fs::path dir;
  std::string input;
  std::string output;
  std::string printed;
};

void require(bool condition, const char* what) {
  if (!condition) {
    std::cerr << "charpic_fuzz: " << what << '\n';
    abort();
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The rows of a file holding `bytes`, found independently of the loader.
std::vector<std::string> rowsOf(const std::string& bytes) {
  std::vector<std::string> rows;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos)
      end = bytes.size();
    rows.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return rows;
}

// Each row followed by a line feed: how a picture is held, printed and
// written.
std::string withLineFeeds(const std::vector<std::string>& rows) {
  std::string text;
  for (const std::string& row : rows)
    text += row + '\n';
  return text;
}

// How many bytes dilation prints for `rows`: a line per cell.
size_t traceSize(const std::vector<std::string>& rows) {
  size_t size = 0;
  for (const std::string& row : rows)
    size += row.size() * (row.size() + 1);
  return size;
}

// Takes what was printed since the last call.
std::string takePrinted(const Workspace& workspace) {
  require(stdoutError() == 0, "printing failed");
  std::string text = readFile(workspace.printed);
  if (ftruncate(STDOUT_FILENO, 0) != 0 ||
      lseek(STDOUT_FILENO, 0, SEEK_SET) != 0)
    abort();
  return text;
}

void checkReplace(const std::vector<std::string>& rows, char from, char to,
                  const Workspace& workspace) {
  Image image = withLineFeeds(rows);
  require(replace(image, from, to, workspace.output.c_str()), "replace failed");
  std::string expected;
  for (const std::string& row : rows) {
    for (const char cell : row)
      expected += cell == from ? to : cell;
    expected += '\n';
  }
  require(image == expected, "replace changed the wrong cells");
  require(readFile(workspace.output) == expected,
          "replace wrote other rows than it made");
  require(takePrinted(workspace) == expected,
          "replace printed other rows than it made");
}

// Checks the trace line by line: each row prints one line per cell, each as
// long as the row, and the line for cell j differs from the one before it at
// most in cell j, which can only have turned into `c`.
void checkDilation(const std::vector<std::string>& rows, char c,
                   const Workspace& workspace) {
  const Image loaded = withLineFeeds(rows);
  dilation(loaded, c);
  require(loaded == withLineFeeds(rows), "dilation changed the picture");
  std::istringstream trace(takePrinted(workspace));
  std::string line;
  require(std::getline(trace, line) && line == "program",
          "dilation did not start with \"program\"");
  for (const std::string& row : rows) {
    std::string before = row;
    for (size_t j = 0; j < row.size(); ++j) {
      require(static_cast<bool>(std::getline(trace, line)),
              "dilation printed too few lines");
      require(line.size() == row.size(), "dilation line has the wrong length");
      require(line.compare(0, j, before, 0, j) == 0 &&
                  line.compare(j + 1, std::string::npos, before, j + 1) == 0,
              "dilation changed a cell other than the one examined");
      require(line[j] == before[j] || line[j] == c,
              "dilation set a cell to another colour");
      before = line;
    }
  }
  require(!std::getline(trace, line) && trace.eof(),
          "dilation printed too many lines");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  static const Workspace workspace;
  const char from = static_cast<char>(data[0]);
  const char to = static_cast<char>(data[1]);
  const std::string picture(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::ofstream(workspace.input, std::ios::binary) << picture;

  const std::vector<std::string> rows = rowsOf(picture);
  Image image;
  require(load(workspace.input.c_str(), image), "load failed");
  require(image == withLineFeeds(rows),
          "load made other rows than the file has");
  require(takePrinted(workspace) == image,
          "load printed other rows than it made");
  checkReplace(rows, from, to, workspace);
  // A long row prints a line per cell, each as long as the row.
  if (traceSize(rows) <= kMaxTrace)
    checkDilation(rows, from, workspace);
  return 0;
}
