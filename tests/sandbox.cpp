#include "sandbox.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace fs = std::filesystem;

namespace {

// In the child: points file descriptor `fd` at `path`, opened with `flags`.
void redirect(int fd, const char* path, int flags) {
  const int opened = open(path, flags, 0644);
  if (opened < 0 || dup2(opened, fd) < 0)
    _exit(127);
  close(opened);
}

// In the child: limits `resource` to `bytes`, unless that is 0.
void limit(int resource, rlim_t bytes) {
  const rlimit value{bytes, bytes};
  if (bytes != 0 && setrlimit(resource, &value) != 0)
    _exit(127);
}

// In the child: takes on `user` and `groups`, unless `user` is 0.
void becomeUser(uid_t user, const std::vector<gid_t>& groups) {
  if (user == 0)
    return;
  if (groups.empty() || setgroups(groups.size(), groups.data()) != 0 ||
      setgid(groups[0]) != 0 || setuid(user) != 0)
    _exit(127);
}

// The bytes of the file at `path`, or nothing if it cannot be opened.
std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The value of the environment variable `name`, or null.
const char* environment(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// `out` with the program path of its line 0 made "prog", as a Windows
// program sees its own path as a Windows path.
std::string withProgAsLine0(const std::string& out) {
  const size_t end = out.find('\n');
  if (out.rfind("0 ", 0) != 0 || end == std::string::npos)
    return out;
  return "0 prog" + out.substr(end);
}

// The Windows form of the absolute path `path`, on Wine's drive Z:.
std::string windowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

// A command line for Windows' cmd that runs `args` with "prog" as the program
// path, with standard input and output redirected as `options` says.
std::string windowsCommand(const std::vector<std::string>& args,
                           const RunOptions& options) {
  std::string command = "prog";
  for (const std::string& arg : args)
    command += " " + arg;
  if (options.stdinPath != nullptr)
    command += " < " + windowsPath(options.stdinPath);
  if (options.stdoutPath != nullptr)
    command += (options.appendStdout ? " >> " : " > ") +
               windowsPath(options.stdoutPath);
  return command;
}

}  // namespace

bool underWine() { return environment("CHARPIC_TEST_WINE") != nullptr; }

Sandbox::Sandbox() {
  std::string pattern = (fs::temp_directory_path() / "charpic-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a temporary folder");
  root_ = pattern;
  work_ = root_ / "work";
  fs::create_directory(work_);
  // Another user may reach the work folder; what it may do there is up to
  // each test.
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_exec |
                             fs::perms::others_exec);
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

std::filesystem::path Sandbox::path(const std::string& name) const {
  return work_ / name;
}

RunResult Sandbox::run(const std::vector<std::string>& args,
                       const RunOptions& options) const {
  const fs::path outPath = root_ / "stdout";
  const int out =
      open(options.stdoutPath != nullptr ? options.stdoutPath : outPath.c_str(),
           O_WRONLY | O_CREAT | O_CLOEXEC |
               (options.appendStdout ? O_APPEND : O_TRUNC),
           0644);
  if (out < 0)
    throw std::runtime_error("cannot open standard output for charpic");
  const pid_t pid = start(args, out, options);
  close(out);
  RunResult result = finish(pid, "");
  if (options.stdoutPath == nullptr)
    result.out = readFile(outPath).value_or("");
  if (underWine())
    result.out = withProgAsLine0(result.out);
  return result;
}

RunResult Sandbox::runClosingOutputAfter(const std::vector<std::string>& args,
                                         size_t bytes) const {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0)
    throw std::runtime_error("cannot make a pipe");
  const pid_t pid = start(args, pipeFds[1], {});
  close(pipeFds[1]);
  std::string out = readUpTo(pipeFds[0], bytes);
  close(pipeFds[0]);
  return finish(pid, out);
}

std::vector<std::string> Sandbox::temporaryFiles() const {
  static const std::regex temporary(R"(.*\.charpic-[0-9]+)");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(work_)) {
    const std::string name = entry.path().filename().string();
    if (std::regex_match(name, temporary))
      names.push_back(name);
  }
  return names;
}

std::pair<pid_t, int> Sandbox::startPiped(const std::vector<std::string>& args,
                                          bool packets) const {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | (packets ? O_DIRECT : 0)) != 0)
    throw std::runtime_error("cannot make a pipe");
  const pid_t pid = start(args, pipeFds[1], {});
  close(pipeFds[1]);
  return {pid, pipeFds[0]};
}

std::string Sandbox::readFor(int fd, size_t bytes, int seconds) {
  std::string out;
  pollfd readable{fd, POLLIN, 0};
  while (out.size() < bytes && poll(&readable, 1, seconds * 1000) == 1) {
    const std::string more = readUpTo(fd, 1);
    if (more.empty())
      break;
    out += more;
  }
  return out;
}

std::vector<std::string> Sandbox::readPackets(int fd) {
  std::vector<std::string> packets;
  char buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    packets.emplace_back(buffer, static_cast<size_t>(n));
  return packets;
}

std::string Sandbox::readUpTo(int fd, size_t bytes) {
  std::string out;
  char buffer[65536];
  while (out.size() < bytes) {
    const ssize_t n =
        ::read(fd, buffer, std::min(sizeof buffer, bytes - out.size()));
    if (n <= 0)
      break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

pid_t Sandbox::start(const std::vector<std::string>& args, int stdoutFd,
                     const RunOptions& options) const {
  const char* program = environment("CHARPIC_TEST_PROGRAM");
  if (program == nullptr)
    program = CHARPIC_PATH;
  // The build folder may be out of another user's reach; the sandbox's
  // folder is not.
  const std::string copy = (root_ / "charpic").string();
  if (options.user != 0) {
    fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
    program = copy.c_str();
  }
  const char* wine = environment("CHARPIC_TEST_WINE");
  std::vector<std::string> words = {"prog"};
  if (wine != nullptr)
    words = {wine, program};
  words.insert(words.end(), args.begin(), args.end());
  // Windows' cmd makes the redirections, as a Windows user's shell would:
  // Wine cannot tell which file a Unix shell's redirection is on.
  if (wine != nullptr &&
      (options.stdoutPath != nullptr || options.stdinPath != nullptr)) {
    fs::copy_file(program, root_ / "prog.exe",
                  fs::copy_options::overwrite_existing);
    setenv("WINEPATH", windowsPath(root_.string()).c_str(), 1);
    words = {wine, "cmd", "/c", windowsCommand(args, options)};
  }
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(work_.c_str()) != 0 || dup2(stdoutFd, 1) < 0)
      _exit(127);
    if (options.stdinPath != nullptr)
      redirect(0, options.stdinPath, O_RDONLY);
    if (options.stderrPath != nullptr)
      redirect(2, options.stderrPath, O_WRONLY | O_CREAT | O_APPEND);
    else
      redirect(2, (root_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC);
    if ((options.fd3 >= 0 &&
         (dup2(options.fd3, 3) < 0 || fcntl(3, F_SETFD, 0) < 0)) ||
        (options.closed >= 0 && close(options.closed) != 0))
      _exit(127);
    umask(022);
    limit(RLIMIT_AS, options.addressSpace);
    limit(RLIMIT_FSIZE, options.fileSize);
    becomeUser(options.user, options.groups);
    if (wine != nullptr)
      execvp(wine, argv.data());
    else
      execv(program, argv.data());
    _exit(127);
  }
  if (pid < 0)
    throw std::runtime_error("cannot run charpic");
  return pid;
}

bool Sandbox::endsWithin(pid_t pid, int seconds) {
  for (int wait = 0; wait < seconds * 100; ++wait) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info,
               WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

RunResult Sandbox::finish(pid_t pid, std::string out) const {
  int wstatus = 0;
  if (waitpid(pid, &wstatus, 0) != pid)
    throw std::runtime_error("cannot wait for charpic");
  return {std::move(out), readFile(root_ / "stderr").value_or(""),
          WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus)};
}
