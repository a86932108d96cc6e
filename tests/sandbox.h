#ifndef CHARPIC_TESTS_SANDBOX_H_
#define CHARPIC_TESTS_SANDBOX_H_

#include <sys/resource.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The charpic under test is the one built with the tests, unless the
// environment names another: CHARPIC_TEST_PROGRAM, an absolute path, and,
// for a Windows build, CHARPIC_TEST_WINE, the command that runs it.

// Whether the charpic under test is a Windows build run through Wine.
bool underWine();

// What a run of charpic left behind.
struct RunResult {
  std::string out;  // standard output, unless it went elsewhere; under Wine,
                    // with "prog" for the program path of line 0
  std::string err;  // standard error
  int status;       // exit status, or 128 + the signal that ended it
};

// How to run charpic, beyond its arguments (under Wine, cmd redirects stdout).
struct RunOptions {
  const char* stdinPath = nullptr;   // standard input's file, else the test's
  const char* stdoutPath = nullptr;  // standard output's file, else captured
  int closed = -1;                   // a standard stream to start closed
  bool appendStdout = false;         // open that file to append, not truncate
  const char* stderrPath = nullptr;  // standard error's, appended to, else
                                     // captured
  int fd3 = -1;                      // an open file to pass as descriptor 3
  rlim_t addressSpace = 0;           // bytes the process may map; 0: no limit
  rlim_t fileSize = 0;               // bytes a file may hold; 0: no limit
  uid_t user = 0;  // run as this user, when not 0 (root only), a copy of
                   // charpic that the user can reach
  std::vector<gid_t> groups;  // with these groups, the first its own
};

// A fresh temporary folder to run charpic in; removed with its contents when
// the sandbox goes.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Creates or replaces the file `name` in the folder with `bytes`.
  void write(const std::string& name, const std::string& bytes) const;

  // The bytes of the file `name` in the folder, or nothing if there is none.
  std::optional<std::string> read(const std::string& name) const;

  // Where the file `name` of the folder is.
  std::filesystem::path path(const std::string& name) const;

  // Runs charpic in the folder with "prog" as its program path and `args`
  // after it.
  RunResult run(const std::vector<std::string>& args,
                const RunOptions& options = {}) const;

  // Runs charpic as run() does, with standard output a pipe that is closed
  // once `bytes` bytes have come through it; `out` holds those bytes.
  RunResult runClosingOutputAfter(const std::vector<std::string>& args,
                                  size_t bytes) const;

  // The names in the folder of files that end in ".charpic-" and a number.
  std::vector<std::string> temporaryFiles() const;

  // Starts charpic as run() does, with standard output a pipe, in packet
  // mode when `packets` is set (each read then returns one write whole);
  // returns its process id and the pipe's reading end.
  std::pair<pid_t, int> startPiped(const std::vector<std::string>& args,
                                   bool packets) const;

  // Waits for the run `pid` to end; what it printed is `out`.
  RunResult finish(pid_t pid, std::string out) const;

  // Whether the run `pid` ends within `seconds`; finish() still waits for it.
  static bool endsWithin(pid_t pid, int seconds);

  // Reads from `fd` until `bytes` bytes, the end, or `seconds` without
  // anything to read; returns what came.
  static std::string readFor(int fd, size_t bytes, int seconds);

  // Reads from `fd` until its end; returns what each read returned.
  static std::vector<std::string> readPackets(int fd);

 private:
  // Starts charpic in the folder with standard output on `stdoutFd` and
  // standard error captured; returns its process id.
  pid_t start(const std::vector<std::string>& args, int stdoutFd,
              const RunOptions& options) const;

  // Reads from `fd` until `bytes` bytes or the end; returns what came.
  static std::string readUpTo(int fd, size_t bytes);

  std::filesystem::path root_;  // holds work/ and the captured streams
  std::filesystem::path work_;  // charpic's working folder
};

#endif  // CHARPIC_TESTS_SANDBOX_H_
