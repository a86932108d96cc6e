#include "sandbox.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// In the child: points file descriptor `fd` at `path`, opened for writing.
void redirect(int fd, const char* path) {
  const int opened = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (opened < 0 || dup2(opened, fd) < 0)
    _exit(127);
  close(opened);
}

// The bytes of the file at `path`, or nothing if it cannot be opened.
std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

Sandbox::Sandbox() {
  std::string pattern = (fs::temp_directory_path() / "charpic-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a temporary folder");
  root_ = pattern;
  work_ = root_ / "work";
  fs::create_directory(work_);
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void Sandbox::write(const std::string& name, const std::string& bytes) const {
  std::ofstream(work_ / name, std::ios::binary) << bytes;
}

std::optional<std::string> Sandbox::read(const std::string& name) const {
  return readFile(work_ / name);
}

RunResult Sandbox::run(const std::vector<std::string>& args,
                       const char* stdoutPath, rlim_t addressSpace) const {
  const fs::path outPath = root_ / "stdout";
  const fs::path errPath = root_ / "stderr";
  std::vector<char*> argv{const_cast<char*>("prog")};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(work_.c_str()) != 0)
      _exit(127);
    redirect(1, stdoutPath != nullptr ? stdoutPath : outPath.c_str());
    redirect(2, errPath.c_str());
    const rlimit limit{addressSpace, addressSpace};
    if (addressSpace != 0 && setrlimit(RLIMIT_AS, &limit) != 0)
      _exit(127);
    execv(CHARPIC_PATH, argv.data());
    _exit(127);
  }
  int wstatus = 0;
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid)
    throw std::runtime_error("cannot run charpic");

  return {stdoutPath != nullptr ? "" : readFile(outPath).value_or(""),
          readFile(errPath).value_or(""),
          WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1};
}
