// The floor that bench/run measures charpic against: it prints the same
// bytes in the same write calls (one per printed line) and writes the same
// output file, with nothing more than one read of the whole picture. Like
// charpic, it forces the output file and its folder to the disk: what a
// durable OUTPUT costs is part of the floor.
//
// usage: floor INPUT OUTPUT replace FROM TO | floor INPUT OUTPUT dilation C

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Writes `text` to `fd` in one call, as far as the system takes it.
void put(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written <= 0)
      std::exit(1);
    text.remove_prefix(static_cast<size_t>(written));
  }
}

// The whole file at `path`, read at once.
std::string readAll(const char* path) {
  const int fd = open(path, O_RDONLY);
  struct stat status {};
  if (fd < 0 || fstat(fd, &status) != 0) {
    std::perror(path);
    std::exit(1);
  }
  std::string data(static_cast<size_t>(status.st_size), '\0');
  size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = read(fd, data.data() + got, data.size() - got);
    if (n <= 0)
      break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  data.resize(got);
  return data;
}

// Each row of `data` with its line feed, the last one added if missing.
std::vector<std::string_view> rowsWithLineFeeds(std::string& data) {
  if (!data.empty() && data.back() != '\n')
    data += '\n';
  std::vector<std::string_view> rows;
  for (size_t start = 0; start < data.size();) {
    const size_t end = data.find('\n', start) + 1;
    rows.emplace_back(data.data() + start, end - start);
    start = end;
  }
  return rows;
}

// Writes `data` to the file `path` in one call and forces it, and its
// folder, to the disk. Devices are only written.
void writeDurably(const char* path, std::string_view data) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  struct stat status {};
  if (fd < 0 || fstat(fd, &status) != 0) {
    std::perror(path);
    std::exit(1);
  }
  put(fd, data);
  if (S_ISREG(status.st_mode)) {
    fsync(fd);
    std::string folder(path);
    folder.resize(folder.rfind('/') + 1);
    const int folderFd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY);
    fsync(folderFd);
    close(folderFd);
  }
  close(fd);
}

// Turns `from` into `to` in every cell of `data`, whose `rows` then carry
// the new colours.
void replace(std::string& data, const std::vector<std::string_view>& rows,
             const char* output, char from, char to) {
  if (from != '\n')
    std::replace(data.begin(), data.end(), from, to);
  for (std::string_view row : rows)
    put(STDOUT_FILENO, row);
  writeDurably(output, data);
}

void dilation(const std::vector<std::string_view>& rows, char c) {
  put(STDOUT_FILENO, "***** INSIDE dilation if\n");
  put(STDOUT_FILENO, "program\n");
  std::string line;
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string_view row = rows[i].substr(0, rows[i].size() - 1);
    const std::string_view above =
        i > 0 ? rows[i - 1].substr(0, rows[i - 1].size() - 1) : "";
    const std::string_view below =
        i + 1 < rows.size() ? rows[i + 1].substr(0, rows[i + 1].size() - 1)
                            : "";
    line.assign(rows[i]);
    for (size_t j = 0; j < row.size(); ++j) {
      const bool grows = (j > 0 && line[j - 1] == c) ||
                         (j + 1 < row.size() && row[j + 1] == c) ||
                         (j < above.size() && above[j] == c) ||
                         (j < below.size() && below[j] == c);
      if (grows)
        line[j] = c;
      put(STDOUT_FILENO, line);
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  for (int i = 0; i < argc; ++i)
    put(STDOUT_FILENO, std::to_string(i) + ' ' + argv[i] + '\n');
  const bool isReplace = argc >= 4 && std::strcmp(argv[3], "replace") == 0;
  if (argc < 5 || (isReplace && argc < 6)) {
    std::fputs(
        "usage: floor INPUT OUTPUT replace FROM TO | "
        "floor INPUT OUTPUT dilation C\n",
        stderr);
    return 2;
  }
  std::string data = readAll(argv[1]);
  const std::vector<std::string_view> rows = rowsWithLineFeeds(data);
  for (std::string_view row : rows)
    put(STDOUT_FILENO, row);
  if (isReplace)
    replace(data, rows, argv[2], argv[4][0], argv[5][0]);
  else if (std::strcmp(argv[3], "dilation") == 0)
    dilation(rows, argv[4][0]);
  return 0;
}
