#ifndef CHARPIC_TESTS_SANDBOX_H_
#define CHARPIC_TESTS_SANDBOX_H_

#include <sys/resource.h>

#include <filesystem>
#include <optional>
#include <string>
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
  // after it. Standard output goes to `stdoutPath` when one is given; a
  // non-zero `addressSpace` limits the process to that many bytes, and a
  // non-zero `fileSize` the files it writes.
  RunResult run(const std::vector<std::string>& args,
                const char* stdoutPath = nullptr, rlim_t addressSpace = 0,
                rlim_t fileSize = 0) const;

  // Runs charpic as run() does, with standard output a pipe that is closed
  // once `bytes` bytes have come through it; `out` holds those bytes.
  RunResult runClosingOutputAfter(const std::vector<std::string>& args,
                                  size_t bytes) const;

 private:
  // Starts charpic in the folder with standard output on `stdoutFd` and
  // standard error captured; returns its process id.
  pid_t start(const std::vector<std::string>& args, int stdoutFd,
              rlim_t addressSpace, rlim_t fileSize) const;

  // Waits for the run `pid` to end; what it printed is `out`.
  RunResult finish(pid_t pid, std::string out) const;

  std::filesystem::path root_;  // holds work/ and the captured streams
  std::filesystem::path work_;  // charpic's working folder
};

#endif  // CHARPIC_TESTS_SANDBOX_H_
