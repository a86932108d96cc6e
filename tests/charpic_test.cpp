// End-to-end tests: each runs the built charpic in a fresh folder and compares
// standard output, standard error, the exit status and the output file byte
// for byte.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sandbox.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string kUsageLine =
    "Usage: charpic INPUT OUTPUT OPERATION COLOUR [COLOUR]\n";
const std::string kDilationStart = "***** INSIDE dilation if\nprogram\n";
// A row of full stops longer than the loader reads at a time, and the same
// row replaced.
const std::string kLongRow(200000, '.');
const std::string kLongRowO(200000, 'o');
// A run that writes OUTPUT, one that prints a line per cell, a fallback.
const std::vector<std::string> kRunsOfEachKind[] = {
    {"in.txt", "out.txt", "replace", ".", "o"},
    {"in.txt", "out.txt", "dilation", "x"},
    {"in.txt", "out.txt", "blur", "x"}};

// Each of `rows` followed by a line feed.
std::string lines(std::initializer_list<std::string> rows) {
  std::string text;
  for (const std::string& row : rows)
    text += row + "\n";
  return text;
}

// The argument echo that starts every run with "prog" as its program path.
std::string echo(const std::vector<std::string>& args) {
  std::string text = "0 prog\n";
  for (size_t i = 0; i < args.size(); ++i)
    text += std::to_string(i + 1) + " " + args[i] + "\n";
  return text;
}

// A run with in.txt holding `picture`. `out` is what standard output holds
// after the argument echo; `written` is out.txt afterwards, nothing if it
// must not exist. Tables of cases list name, arguments, in.txt, printed
// after the echo, exit status, out.txt afterwards, standard error, what
// Windows lacks, and how the run starts.
struct Case {
  const char* name;
  std::vector<std::string> args;
  std::string picture;
  std::string out;
  int status;
  std::optional<std::string> written;
  std::string err{};
  const char* windowsLacks = nullptr;  // what the case needs that Windows lacks
  int closed = -1;                     // a standard stream closed for the run
  const char* stdinName = nullptr;     // standard input's file in the folder
  // Files made before the run, which stay as they are but for out.txt.
  std::vector<std::pair<std::string, std::string>> files{};
  // The folder's attribute (needs root): "i", it takes no new files; "a", it
  // lets none go.
  const char* folderAttribute = nullptr;
  bool stdoutToNull = false;  // standard output is /dev/null, `out` unread
};

// Sets the attribute `flag` of the sandbox's folder ("+i", "+a") or clears
// it ("-i"), where the test may (as root).
bool chattr(const Sandbox& sandbox, const std::string& flag) {
  const std::string folder = sandbox.path("").string();
  return std::system(
             ("chattr " + flag + " " + folder + " 2>/dev/null").c_str()) == 0;
}

void check(const Case& c) {
  SCOPED_TRACE(c.name);
  if (underWine() && c.windowsLacks != nullptr) {
    std::cout << "Skipped \"" << c.name << "\": Windows lacks "
              << c.windowsLacks << "\n";
    return;
  }
  Sandbox sandbox;
  sandbox.write("in.txt", c.picture);
  for (const auto& [name, bytes] : c.files)
    sandbox.write(name, bytes);
  const std::string attribute =
      c.folderAttribute != nullptr ? c.folderAttribute : "";
  if (!attribute.empty() && !chattr(sandbox, "+" + attribute)) {
    std::cout << "Skipped \"" << c.name << "\": needs root\n";
    return;
  }
  RunOptions options;
  options.closed = c.closed;
  const std::string stdinPath =
      sandbox.path(c.stdinName != nullptr ? c.stdinName : "");
  options.stdinPath = c.stdinName != nullptr ? stdinPath.c_str() : nullptr;
  options.stdoutPath = c.stdoutToNull ? "/dev/null" : nullptr;
  const RunResult result = sandbox.run(c.args, options);
  if (!attribute.empty())
    chattr(sandbox, "-" + attribute);
  EXPECT_EQ(result.out, c.stdoutToNull ? "" : echo(c.args) + c.out);
  EXPECT_EQ(result.err, c.err);
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(sandbox.read("out.txt"), c.written);
  for (const auto& [name, bytes] : c.files) {
    if (name != "out.txt") {
      EXPECT_EQ(sandbox.read(name), bytes);
    }
  }
}

TEST(Charpic, CompleteRunsPrintExactly) {
  Sandbox sandbox;
  sandbox.write("in.txt", "ab\n");
  RunResult result = sandbox.run({"in.txt", "out.txt", "blur", "x"});
  EXPECT_EQ(result.out,
            "0 prog\n1 in.txt\n2 out.txt\n3 blur\n4 x\nab\n"
            "***** We got to the end, oops");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox.read("out.txt"), std::nullopt);

  sandbox.write("in.txt", "a.b\n..\n");
  result = sandbox.run({"in.txt", "out.txt", "replace", ".", "o"});
  EXPECT_EQ(result.out,
            "0 prog\n1 in.txt\n2 out.txt\n3 replace\n4 .\n5 o\n"
            "a.b\n..\naob\noo\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox.read("out.txt"), "aob\noo\n");
}

// A run of the operation `name` on "a.\n", with the colours `colours`, that
// ends in the fallback message.
Case fallback(const char* name,
              const std::vector<std::string>& colours = {"x"}) {
  std::vector<std::string> args = {"in.txt", "out.txt", name};
  args.insert(args.end(), colours.begin(), colours.end());
  return {name, args,        "a.\n", "a.\n***** We got to the end, oops",
          0,    std::nullopt};
}

TEST(Charpic, Dispatch) {
  // clang-format off
  const Case cases[] = {
      fallback("Replace", {".", "o"}), fallback("replace ", {".", "o"}),
      fallback("Dilation"),
      fallback("dil"), fallback("dilations"), fallback(""), fallback("Erosion"),
      fallback("flood"),
      {"erosion", {"in.txt", "out.txt", "erosion", "x"}, "a.\n", "a.\n", 0,
       std::nullopt},
      {"floodfill", {"in.txt", "out.txt", "floodfill", "x"}, "a.\n", "a.\n", 0,
       std::nullopt},
      {"extra arguments", {"in.txt", "out.txt", "replace", ".", "o", "z", "-"},
       "a.\n", "a.\nao\n", 0, "ao\n"},
      {"first byte of a colour", {"in.txt", "out.txt", "replace", ".x", "oy"},
       "x.\n", "x.\nxo\n", 0, "xo\n"},
      {"colour like an option", {"in.txt", "out.txt", "replace", ".", "--help"},
       "a.\n", "a.\na-\n", 0, "a-\n"},
      {"first byte of a wider character", {"in.txt", "out.txt", "replace",
       "\xe2\x96\x88", "x"}, "\xe2\x96\x88\n", "\xe2\x96\x88\nx\x96\x88\n", 0,
       "x\x96\x88\n", "charpic: warning: colour '\xe2\x96\x88' is 3 bytes; only "
       "its first byte, '\\342', counts\n"},
  };
  // clang-format on
  for (const Case& c : cases)
    check(c);
}

TEST(Charpic, Replace) {
  const std::vector<std::string> dotToO = {"in.txt", "out.txt", "replace", ".",
                                           "o"};
  // clang-format off
  const Case cases[] = {
      {"CR LF rows", dotToO, "a.\r\n.b\r\n", "a.\r\n.b\r\nao\r\nob\r\n", 0,
       "ao\r\nob\r\n"},
      {"no final line feed", dotToO, "a.\n\n.b", "a.\n\n.b\nao\n\nob\n", 0,
       "ao\n\nob\n"},
      {"empty last row", dotToO, "a.\n\n", "a.\n\nao\n\n", 0, "ao\n\n"},
      {"ragged rows", dotToO, "...\n.\n..\n", "...\n.\n..\nooo\no\noo\n", 0,
       "ooo\no\noo\n"},
      {"from equals to", {"in.txt", "out.txt", "replace", "a", "a"}, "ab",
       "ab\nab\n", 0, "ab\n"},
      {"empty picture", dotToO, "", "", 0, ""},
      {"to NUL", {"in.txt", "out.txt", "replace", ".", ""}, "a.b.\n",
       "a.b.\na\0b\0\n"s, 0, "a\0b\0\n"s},
      {"from NUL", {"in.txt", "out.txt", "replace", "", "x"}, "a\0b\0\n"s,
       "a\0b\0\naxbx\n"s, 0, "axbx\n"},
      {"NUL cell kept", dotToO, "a\0.b\n"s, "a\0.b\na\0ob\n"s, 0, "a\0ob\n"s},
      {"/dev/null as output", {"in.txt", "/dev/null", "replace", ".", "o"},
       "a.\n", "a.\nao\n", 0, std::nullopt},
      {"a folder that takes no new files", {"in.txt", "/proc/self/comm",
       "replace", ".", "o"}, "a.\n", "a.\nao\n", 0, std::nullopt, "", "/proc"},
      {"rows longer than a read", dotToO, kLongRow + "\n" + kLongRow,
       kLongRow + "\n" + kLongRow + "\n" + kLongRowO + "\n" + kLongRowO + "\n",
       0, kLongRowO + "\n" + kLongRowO + "\n"},
      {"to line feed", {"in.txt", "out.txt", "replace", ".", "\n"}, "a.b\n",
       "a.b\na\nb\n", 0, "a\nb\n"},
      {"from line feed", {"in.txt", "out.txt", "replace", "\n", "x"}, "a\nb",
       "a\nb\na\nb\n", 0, "a\nb\n"},
      {"- as INPUT", {"-", "out.txt", "replace", ".", "o"}, "a.\n", "a.\nao\n",
       0, "ao\n", "", nullptr, -1, "in.txt"},
      {"- as OUTPUT", {"in.txt", "-", "replace", ".", "o"}, "a.\n",
       "a.\nao\nao\n", 0, std::nullopt},
      {"./- as INPUT", {"./-", "out.txt", "replace", ".", "o"}, "", "a.\nao\n",
       0, "ao\n", "", nullptr, -1, nullptr, {{"-", "a.\n"}}},
      {"temporary name taken", dotToO, "a.\n", "a.\nao\n", 0, "ao\n", "",
       nullptr, -1, nullptr, {{"out.txt.charpic-0", "kept\n"}}},
      {"folder that takes no new files, over a longer file", dotToO, "a.\n",
       "a.\nao\n", 0, "ao\n", "", nullptr, -1, nullptr,
       {{"out.txt", "a longer old picture\n"}}, "i"},
      {"standard error closed, over a longer file", dotToO, "a.\n", "a.\nao\n",
       0, "ao\n", "", nullptr, 2, nullptr, {{"out.txt", "a longer picture\n"}}},
      {"/dev/null as INPUT and standard output", {"/dev/null", "out.txt",
       "replace", ".", "o"}, "", "", 0, "", "", "/dev/null", -1, nullptr, {},
       nullptr, true},
      {"folder that lets no file go", dotToO, "a.\n", "a.\nao\n", 1, "ao\n",
       "charpic: wrote 'out.txt', but cannot remove its copy "
       "'out.txt.charpic-0': Operation not permitted\n", "a Linux folder's +a",
       -1, nullptr, {{"out.txt", ""}}, "a"},
  };
  // clang-format on
  for (const Case& c : cases)
    check(c);
}

// A dilation run of colour `c` over `picture`, which ends with a line feed;
// `trace` is what follows the line "program".
Case dilationCase(const char* name, const std::string& c,
                  const std::string& picture, const std::string& trace) {
  return {name,    {"in.txt", "out.txt", "dilation", c},
          picture, picture + kDilationStart + trace,
          0,       std::nullopt};
}

TEST(Charpic, Dilation) {
  // clang-format off
  const Case cases[] = {
      dilationCase("spreads one cell up, down and left, and to the right",
                   "x", lines({"....", ".x..", "...."}),
                   lines({"....", ".x..", ".xx.", ".xxx", "xx..", "xx..",
                          "xxx.", "xxxx", "....", ".x..", ".xx.", ".xxx"})),
      dilationCase("vertical tests read the loaded rows", "x",
                   lines({"..x..", ".....", "....."}),
                   lines({"..x..", ".xx..", ".xx..", ".xxx.", ".xxxx", ".....",
                          ".....", "..x..", "..xx.", "..xxx", ".....", ".....",
                          ".....", ".....", "....."})),
      dilationCase("first cell holds the colour", "x", lines({"x..", "..."}),
                   lines({"x..", "xx.", "xxx", "x..", "xx.", "xxx"})),
      dilationCase("one row", "b", lines({"ab"}), lines({"bb", "bb"})),
      dilationCase("empty picture", "x", "", ""),
      dilationCase("only empty rows", "x", lines({"", "", ""}), ""),
      dilationCase("long row between short ones", "x",
                   lines({"x.", "....x", "."}),
                   lines({"x.", "xx", "x...x", "xx..x", "xxx.x", "xxxxx",
                          "xxxxx", "."})),
      dilationCase("no cell beyond a short neighbour", "x",
                   lines({"...x", ".", "...."}),
                   lines({"...x", "...x", "..xx", "..xx", ".", "....", "....",
                          "....", "...."})),
      dilationCase("one-cell rows keep their cell", "", lines({"ab", "c", "d"}),
                   lines({"ab", "ab", "c", "d"})),
      dilationCase("NUL grows like any colour", "", lines({"a", "\0"s}),
                   lines({"\0"s, "\0"s})),
  };
  // clang-format on
  for (const Case& c : cases)
    check(c);
}

// Every examined cell prints one line as long as its row.
TEST(Charpic, DilationPrintsOneLinePerCell) {
  const std::vector<std::string> rows = {"..x.",   "",   "x",      "......x..",
                                         "\0\r."s, "..", "x.x.x.x"};
  std::string picture;
  for (const std::string& row : rows)
    picture += row + "\n";
  Sandbox sandbox;
  sandbox.write("in.txt", picture);
  const std::vector<std::string> args = {"in.txt", "out.txt", "dilation", "x"};
  const RunResult result = sandbox.run(args);
  const std::string head = echo(args) + picture + kDilationStart;
  ASSERT_EQ(result.out.substr(0, head.size()), head);

  std::vector<size_t> expected;
  for (const std::string& row : rows)
    expected.insert(expected.end(), row.size(), row.size());
  std::vector<size_t> printed;
  for (size_t start = head.size(); start < result.out.size();) {
    const size_t end = result.out.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    printed.push_back(end - start);
    start = end + 1;
  }
  EXPECT_EQ(printed, expected);
}

// Also a picture whose name looks like an option, in a full command line.
TEST(Charpic, ReplaceOverwritesItsInput) {
  for (const std::string name : {"pic.txt", "-n"}) {
    Sandbox sandbox;
    sandbox.write(name, "a.b\n..");
    const RunResult result = sandbox.run({name, name, "replace", ".", "o"});
    EXPECT_EQ(result.out,
              echo({name, name, "replace", ".", "o"}) + "a.b\n..\naob\noo\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(sandbox.read(name), "aob\noo\n");
  }
}

// The names of the files in the sandbox's folder.
std::set<std::string> filesIn(const Sandbox& sandbox) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(sandbox.path("")))
    names.insert(entry.path().filename().string());
  return names;
}

// Signals that end a run are sent in the fault sweep, at a chosen call.
TEST(Charpic, InterruptedReplaceLeavesOutputAlone) {
  if (underWine())
    GTEST_SKIP() << "Windows lacks resource limits and POSIX signals";
  // Larger than a pipe holds, so that the run is still printing when its
  // reader goes.
  std::string picture;
  for (int row = 0; row < 10000; ++row)
    picture += std::string(99, '.') + '\n';
  const std::vector<std::string> args = {"pic.txt", "pic.txt", "replace", ".",
                                         "o"};
  Sandbox sandbox;
  sandbox.write("pic.txt", picture);

  RunOptions limited;
  limited.stdoutPath = "/dev/null";
  limited.fileSize = 4096;
  RunResult result = sandbox.run(args, limited);
  EXPECT_EQ(result.err, "charpic: cannot write 'pic.txt': File too large\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(sandbox.read("pic.txt"), picture);
  EXPECT_EQ(filesIn(sandbox), std::set<std::string>{"pic.txt"});

  // A reader that goes stops the printing, not the replace: after the
  // first replaced row, and after the first line, as `| head -1` does.
  std::string replaced = picture;
  std::replace(replaced.begin(), replaced.end(), '.', 'o');
  const std::string printed = echo(args) + picture + std::string(99, 'o');
  for (const size_t bytes : {printed.size() + 1, sizeof "0 prog\n" - 1}) {
    sandbox.write("pic.txt", picture);
    result = sandbox.runClosingOutputAfter(args, bytes);
    EXPECT_EQ(result.out, (printed + '\n').substr(0, bytes));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 128 + SIGPIPE);
    EXPECT_EQ(sandbox.read("pic.txt"), replaced);
    EXPECT_EQ(filesIn(sandbox), std::set<std::string>{"pic.txt"});
  }
  // OUTPUT as the pipe itself ends the same way.
  result = sandbox.runClosingOutputAfter(
      {"pic.txt", "/dev/stdout", "replace", ".", "o"}, 7);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 128 + SIGPIPE);
}

TEST(Charpic, ReplaceKeepsLinkAndPermissions) {
  if (underWine())
    GTEST_SKIP() << "Windows lacks POSIX permission bits and symbolic links";
  // Group write is a bit that the umask takes from new files.
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write |
                         fs::perms::group_read | fs::perms::group_write;
  Sandbox sandbox;
  sandbox.write("in.txt", "a.\n");
  sandbox.write("target.txt", "old\n");
  fs::permissions(sandbox.path("target.txt"), mode);
  fs::create_symlink("target.txt", sandbox.path("link.txt"));
  // An ACL that lets user 1 write where the group may only read, and an
  // attribute of the user's own.
  const std::string acl =
      "\2\0\0\0\1\0\6\0\xff\xff\xff\xff\2\0\6\0\1\0\0\0\4\0\4\0\xff\xff\xff"
      "\xff\x10\0\6\0\xff\xff\xff\xff\x20\0\0\0\xff\xff\xff\xff"s;
  const std::string target = sandbox.path("target.txt");
  const bool attributes =
      setxattr(target.c_str(), "system.posix_acl_access", acl.data(),
               acl.size(), 0) == 0 &&
      setxattr(target.c_str(), "user.charpic", "kept", 4, 0) == 0;
  const RunResult result =
      sandbox.run({"in.txt", "link.txt", "replace", ".", "o"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(fs::is_symlink(sandbox.path("link.txt")));
  EXPECT_EQ(sandbox.read("target.txt"), "ao\n");
  EXPECT_EQ(fs::status(sandbox.path("target.txt")).permissions(), mode);
  if (!attributes)
    GTEST_SKIP() << "the file system here keeps no ACL or user attributes";
  std::string kept(64, '\0');
  kept.resize(std::max<ssize_t>(
      getxattr(target.c_str(), "system.posix_acl_access", kept.data(), 64), 0));
  EXPECT_EQ(kept, acl);
  EXPECT_EQ(getxattr(target.c_str(), "user.charpic", kept.data(), 64), 4);
}

// OUTPUT as standard output's, standard error's or a named descriptor's file:
// the picture goes on after what was written, in one piece, and later writes
// follow it; a lock's descriptor is no such file. INPUT as standard output's
// file is refused, as reading it would not end.
TEST(Charpic, ReplaceIntoStandardOutputsFile) {
  const std::string refused =
      "charpic: cannot read 'log.txt': input file is output file\n";
  // Over 1 MiB in a few rows, so that a failure's diff stays small.
  const std::string big = kLongRow + "\n" + kLongRow + "\n" + kLongRow + "\n" +
                          kLongRow + "\n" + kLongRow + "\n" + kLongRow + "\n";
  std::string bigO = big;
  std::replace(bigO.begin(), bigO.end(), '.', 'o');
  // `after` is log.txt as the descriptor open on it shows it, "@" standing
  // for the argument echo, and "end\n" for what the test writes last.
  // clang-format off
  struct {
    const char* output;
    bool append;
    std::string before;
    int stream;  // the descriptor open on log.txt
    std::string after;
    std::string err{};
    int status = 0;
    const char* named = nullptr;  // log.txt by name, where it differs
    bool deleted = false;  // log.txt is gone but still open
    std::string picture = "a.\n";
    const char* input = "in.txt";
  } runs[] = {
      {"log.txt", false, "", 1, "@a.\nao\nao\nend\n"},
      {"log.txt", true, "old\n", 1, "old\n@a.\nao\nao\nend\n"},
      {"/dev/stdout", true, "old\n", 1, "old\n@a.\nao\nao\nend\n"},
      {"/dev/stderr", false, "", 1, "@a.\nao\nend\n", "ao\n"},
      {"/dev/stderr", true, "old\n", 2, "old\nao\nend\n"},
      {"/dev/fd/3", true, "old\n", 3, "old\nao\nend\n"},
      {"/proc/thread-self/fd/3", true, "old\n", 3, "old\nao\nend\n"},
      {"log.txt", true, "old\n", 2, "old\nao\nend\n"},
      {"/dev/fd/3", true, "old\n", 3, "old\nao\nend\n", "", 0, nullptr, true},
      {"log.txt", true, "old\n", 1, "old\n@" + big + bigO + bigO + "end\n", "", 0,
       nullptr, false, big},
      {"out.txt", true, "a.\n", 1, "a.\n@end\n", refused, 1, nullptr, false, "",
       "log.txt"},
      {"out.txt", false, "a.\n", 1, "@end\n", refused, 1, nullptr, false, "",
       "log.txt"},
      {"log.txt", false, "old\n", 3, "old\nend\n", "", 0, "ao\n"},
  };
  // clang-format on
  for (const auto& run : runs) {
    SCOPED_TRACE(std::string(run.output) + " " + std::to_string(run.stream));
    if (underWine() && (run.output[0] == '/' || run.stream >= 2))
      continue;  // Windows lacks /dev and descriptors past the standard three,
                 // and Wine cannot tell the file of a Unix redirection
    Sandbox sandbox;
    sandbox.write("in.txt", run.picture);
    sandbox.write("log.txt", run.before);
    const std::vector<std::string> args = {run.input, run.output, "replace",
                                           ".", "o"};
    RunOptions options;
    const std::string log = sandbox.path("log.txt").string();
    const int logFd =
        open(log.c_str(), O_RDWR | O_CLOEXEC | (run.append ? O_APPEND : 0));
    ASSERT_GE(logFd, 0);
    if (run.stream == 1)
      options.stdoutPath = log.c_str();
    if (run.stream == 2)
      options.stderrPath = log.c_str();
    options.appendStdout = run.append;
    options.fd3 = run.stream == 3 ? logFd : -1;
    options.fileSize = 16 << 20;  // a run that reads back what it prints ends
    if (run.deleted)
      fs::remove(log);
    const RunResult result = sandbox.run(args, options);
    lseek(logFd, 0, SEEK_END);
    ASSERT_EQ(::write(logFd, "end\n", 4), 4);
    std::string written(1 << 22, '\0');
    written.resize(
        std::max<ssize_t>(pread(logFd, written.data(), written.size(), 0), 0));
    close(logFd);
    std::string after = run.after;
    const size_t echoAt = after.find('@');
    if (echoAt != std::string::npos)
      after.replace(echoAt, 1, echo(args));
    EXPECT_EQ(result.err, run.err);
    EXPECT_EQ(result.status, run.status);
    EXPECT_EQ(written, after);
    EXPECT_EQ(sandbox.read("log.txt"),
              run.deleted ? std::nullopt
                          : std::optional(run.named ? run.named : written));
  }
}

// The links of a chain `length` long from "c0" to e/pic.
std::vector<std::pair<std::string, std::string>> chain(int length) {
  std::vector<std::pair<std::string, std::string>> links;
  links.reserve(length);
  for (int i = 0; i < length; ++i)
    links.emplace_back("c" + std::to_string(i),
                       i + 1 < length ? "c" + std::to_string(i + 1) : "e/pic");
  return links;
}

// Links are followed to the file they name, which is replaced, and a hard
// link to it (e/twin) keeps the old picture; a chain that does not end is
// refused, as a shell's redirection refuses it. A target that starts with
// "/" is taken from the sandbox's folder.
TEST(Charpic, ReplaceFollowsLinks) {
  if (underWine())
    GTEST_SKIP() << "Windows lacks symbolic links";
  const std::string loop =
      "charpic: cannot write 'a': Too many levels of "
      "symbolic links\n";
  // clang-format off
  struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // link, target
    std::string written;  // the file that gets the rows
    std::string err;
  } cases[] = {
      {"relative link in another folder", {{"d/link", "../e/pic"}}, "e/pic",
       ""},
      {"chain", {{"a", "d/b"}, {"d/b", "c"}, {"d/c", "../e/pic"}}, "e/pic", ""},
      {"dangling chain", {{"a", "d/b"}, {"d/b", "../e/new"}}, "e/new", ""},
      {"loop", {{"a", "d/b"}, {"d/b", "../a"}}, "", loop},
      {"absolute link in a folder", {{"d/link", "/e/pic"}}, "e/pic", ""},
      {"chain of 40", chain(40), "e/pic", ""},
      {"chain of 41", chain(41), "",
       "charpic: cannot write 'c0': Too many levels of symbolic links\n"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox sandbox;
    fs::create_directory(sandbox.path("d"));
    fs::create_directory(sandbox.path("e"));
    sandbox.write("in.txt", "a.\n");
    sandbox.write("e/pic", "old\n");
    fs::create_hard_link(sandbox.path("e/pic"), sandbox.path("e/twin"));
    for (const auto& [link, target] : c.links)
      fs::create_symlink(
          target[0] == '/' ? sandbox.path(target.substr(1)).string() : target,
          sandbox.path(link));
    const std::string output = c.links.front().first;
    const RunResult result =
        sandbox.run({"in.txt", output, "replace", ".", "o"});
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.err.empty() ? 0 : 1);
    EXPECT_TRUE(fs::is_symlink(sandbox.path(output)));
    if (!c.written.empty()) {
      EXPECT_EQ(sandbox.read(c.written), "ao\n");
    }
    EXPECT_EQ(sandbox.read("e/twin"), "old\n");
    EXPECT_EQ(sandbox.temporaryFiles(), std::vector<std::string>{});
  }
}

// Names the command line carries name the file written, whatever their
// bytes and up to the longest the system takes, within paths longer than
// Windows' MAX_PATH, and as relative names longer than it.
TEST(Charpic, ReplaceWritesTheFileNamed) {
  // clang-format off
  // A new file, an existing one, and descriptors named by number open on it,
  // also on it deleted beside a file that bears its /proc link's text, the
  // last one the test's own, which charpic reaches through /proc/PID/fd.
  const struct {
    const char* output;  // null: the name itself, or the test's descriptor
    int fd;              // the descriptor open on the name, or -1; 4: the test's
    bool refused;        // read-only, so refused with "Bad file descriptor"
    std::optional<std::string> named;  // the name afterwards
    std::optional<std::string> twin;   // the hard link afterwards
  } ways[] = {
      {nullptr, -1, false, "ao\n", std::nullopt},
      {nullptr, -1, false, "ao\n", "old\n"},
      {"/proc/self/fd/3", 3, false, "ao\n", "ao\n"},
      {"/dev/fd/0", 0, true, "old\n", "old\n"},
      {"/proc/self/fd/3", 3, true, std::nullopt, "old\n"},
      {"/proc/thread-self/fd/3", 3, true, std::nullopt, "old\n"},
      {"//dev/fd/./3", 3, true, std::nullopt, "old\n"},
      {nullptr, 4, false, std::nullopt, "ao\n"},
  };
  // clang-format on
  for (const std::string& name :
       {"caf\xc3\xa9.txt"s, std::string(255, 'n'),
        std::string(253, 'n') + "\xc3\xa9",
        std::string(200, 'd') + "/" + std::string(70, 'n')}) {
    for (const auto& way : ways) {
      SCOPED_TRACE(std::to_string(name.size()) + " " + std::to_string(way.fd));
      if (way.fd >= 0 && underWine())
        continue;  // Windows lacks /dev/fd
      Sandbox sandbox;
      fs::create_directories(sandbox.path(name).parent_path());
      sandbox.write("in.txt", "a.\n");
      if (way.twin) {
        sandbox.write(name, "old\n");
        fs::create_hard_link(sandbox.path(name), sandbox.path("twin"));
      }
      const std::string path = sandbox.path(name).string();
      const int fd =
          way.fd >= 3
              ? open(path.c_str(), way.refused ? O_RDONLY : O_WRONLY | O_TRUNC)
              : -1;
      RunOptions options;
      options.fd3 = way.fd == 3 ? fd : -1;
      options.stdinPath = way.fd == 0 ? path.c_str() : nullptr;
      const std::string decoy = name + " (deleted)";
      if (!way.named) {
        fs::remove(path);
        sandbox.write(decoy, "old\n");
      }
      const std::optional<std::string> decoyBefore = sandbox.read(decoy);
      std::string output = way.output != nullptr ? way.output : name;
      if (way.fd == 4)
        output =
            "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd);
      const RunResult result =
          sandbox.run({"in.txt", output, "replace", ".", "o"}, options);
      close(fd);
      EXPECT_EQ(result.err, way.refused ? "charpic: cannot write '" + output +
                                              "': Bad file descriptor\n"
                                        : "");
      EXPECT_EQ(result.status, way.refused ? 1 : 0);
      EXPECT_EQ(sandbox.read(name), way.named);
      EXPECT_EQ(sandbox.read("twin"), way.twin);
      EXPECT_EQ(sandbox.read(decoy), decoyBefore);
      EXPECT_EQ(sandbox.temporaryFiles(), std::vector<std::string>{});
    }
  }
}

// Runs as another user, where the permission bits of files and folders
// decide what may be written.
TEST(Charpic, ReplaceAsAnotherUser) {
  if (underWine() || geteuid() != 0)
    GTEST_SKIP() << "needs root, to run as another user, and POSIX owners";
#ifdef CHARPIC_COVERAGE
  GTEST_SKIP() << "another user's run cannot store a coverage build's counts";
#endif
  const uid_t user = 65534;
  const gid_t group = 65534;
  const gid_t shared = 100;  // a group the user belongs to besides its own
  // clang-format off
  struct {
    const char* name;
    fs::perms folder;  // the work folder's permission bits
    fs::perms file;    // out.txt's, before the run
    gid_t fileGroup;   // out.txt's group
    std::string err;
    std::string written;  // out.txt afterwards
    gid_t groupAfter;
    uid_t fileOwner = 0;  // out.txt's owner, which it keeps
  } cases[] = {
      {"read-only folder", fs::perms(0555), fs::perms(0666), 0, "", "ao\n", 0},
      {"read-only file", fs::perms(0777), fs::perms(0444), 0,
       "charpic: cannot write 'out.txt': Permission denied\n", "old\n", 0},
      {"write-only file", fs::perms(0777), fs::perms(0222), 0, "", "ao\n", 0},
      {"group kept", fs::perms(0777), fs::perms(0664), shared, "", "ao\n",
       shared},
      {"sticky folder", fs::perms(01777), fs::perms(0666), 0, "", "ao\n", 0},
      {"write-only file, sticky folder", fs::perms(01777), fs::perms(0222), 0,
       "", "ao\n", 0},
      {"own file, another group", fs::perms(0777), fs::perms(0664), 0, "",
       "ao\n", 0, user},
      {"another user's file", fs::perms(0777), fs::perms(0666), 1, "", "ao\n",
       1, 1},
  };
  // clang-format on
  for (fs::path folder = fs::temp_directory_path();
       folder != folder.root_path(); folder = folder.parent_path()) {
    if ((fs::status(folder).permissions() & fs::perms::others_exec) ==
        fs::perms::none)
      GTEST_SKIP() << "other users cannot enter " << folder;
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox sandbox;
    sandbox.write("in.txt", "a.\n");
    sandbox.write("out.txt", "old\n");
    fs::permissions(sandbox.path("out.txt"), c.file);
    ASSERT_EQ(chown(sandbox.path("out.txt").c_str(), c.fileOwner, c.fileGroup),
              0);
    fs::permissions(sandbox.path(""), c.folder);
    RunOptions options;
    options.user = user;
    options.groups = {group, shared};
    const RunResult result =
        sandbox.run({"in.txt", "out.txt", "replace", ".", "o"}, options);
    fs::permissions(sandbox.path(""), fs::perms(0755));
    fs::permissions(sandbox.path("out.txt"), fs::perms(0644));
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.err.empty() ? 0 : 1);
    EXPECT_EQ(sandbox.read("out.txt"), c.written);
    struct stat status {};
    ASSERT_EQ(stat(sandbox.path("out.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, c.fileOwner);
    EXPECT_EQ(status.st_gid, c.groupAfter);
    EXPECT_EQ(filesIn(sandbox), (std::set<std::string>{"in.txt", "out.txt"}));
  }
}

// A new OUTPUT gets 0666 less the umask; an existing one keeps its owner,
// its group and its exact bits.
TEST(Charpic, ReplaceSetsOwnerAndMode) {
  if (underWine() || geteuid() != 0)
    GTEST_SKIP() << "needs root, to give files away, and POSIX owners";
  Sandbox sandbox;
  sandbox.write("in.txt", "a.\n");
  sandbox.write("old.txt", "old\n");
  ASSERT_EQ(chown(sandbox.path("old.txt").c_str(), 1234, 5678), 0);
  fs::permissions(sandbox.path("old.txt"), fs::perms(04770));
  struct stat status {};
  for (const char* output : {"new.txt", "old.txt"}) {
    EXPECT_EQ(sandbox.run({"in.txt", output, "replace", ".", "o"}).status, 0);
    ASSERT_EQ(stat(sandbox.path(output).c_str(), &status), 0);
    EXPECT_EQ(sandbox.read(output), "ao\n");
  }
  EXPECT_EQ(status.st_uid, 1234U);
  EXPECT_EQ(status.st_gid, 5678U);
  EXPECT_EQ(status.st_mode & 07777, 04770U);
  ASSERT_EQ(stat(sandbox.path("new.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644U);  // the sandbox's umask is 022
}

TEST(Charpic, EmptyOutputNameWritesNothing) {
  Sandbox sandbox;
  sandbox.write("in.txt", std::string(200, '.') + "\n");
  RunOptions limited;
  limited.fileSize = underWine() ? 0 : 100;  // writing the rows would fail
  const RunResult result =
      sandbox.run({"in.txt", "", "replace", ".", "o"}, limited);
  EXPECT_EQ(result.err,
            "charpic: cannot write '': No such file or directory\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(filesIn(sandbox), std::set<std::string>{"in.txt"});
}

// Each printed line is one write of its own, so that a reader sees whole
// lines, each as soon as it is complete.
TEST(Charpic, PrintsEachLineInOneWrite) {
  if (underWine())
    GTEST_SKIP() << "Wine's standard output may split a write";
  for (const std::vector<std::string>& args : kRunsOfEachKind) {
    if (args[2] == "blur")
      continue;  // its one message has no line feed
    SCOPED_TRACE(args[2]);
    Sandbox sandbox;
    sandbox.write("in.txt", "a.x\n..\n\n.");
    const auto [pid, out] = sandbox.startPiped(args, /*packets=*/true);
    const std::vector<std::string> packets = Sandbox::readPackets(out);
    close(out);
    std::string printed;
    for (const std::string& packet : packets) {
      EXPECT_EQ(packet.find('\n'), packet.size() - 1) << packet;
      printed += packet;
    }
    EXPECT_EQ(sandbox.finish(pid, printed).out, sandbox.run(args).out);
  }
}

// A picture from a FIFO is echoed row by row as it arrives.
TEST(Charpic, EchoesRowsAsTheyArrive) {
  if (underWine())
    GTEST_SKIP() << "Windows lacks FIFOs";
  Sandbox sandbox;
  ASSERT_EQ(mkfifo(sandbox.path("fifo").c_str(), 0600), 0);
  const std::vector<std::string> args = {"fifo", "out.txt", "replace", ".",
                                         "o"};
  const auto [pid, out] = sandbox.startPiped(args, /*packets=*/false);
  EXPECT_EQ(Sandbox::readFor(out, echo(args).size(), /*seconds=*/10),
            echo(args));
  const int writer = open(sandbox.path("fifo").c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  // An empty first row; then one whose line feed comes in a later read than
  // its start.
  ASSERT_EQ(::write(writer, "\n", 1), 1);
  EXPECT_EQ(Sandbox::readFor(out, 1, /*seconds=*/10), "\n");
  ASSERT_EQ(::write(writer, "a", 1), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(::write(writer, ".\n.", 3), 3);
  EXPECT_EQ(Sandbox::readFor(out, 3, /*seconds=*/10), "a.\n");
  close(writer);
  const std::string rest = Sandbox::readFor(out, std::string::npos, 10);
  close(out);
  const RunResult result = sandbox.finish(pid, rest);
  EXPECT_EQ(result.out, ".\n\nao\no\n");
  EXPECT_EQ(result.status, 0);

  // `dilation | head -1` waits for the FIFO's writer (here the test, holding
  // it open) as `cat` does, and ends once the writer closes it.
  const int idle = open(sandbox.path("fifo").c_str(), O_RDWR | O_CLOEXEC);
  const std::vector<std::string> dilation = {"fifo", "out.txt", "dilation",
                                             "x"};
  const auto [head, headOut] = sandbox.startPiped(dilation, false);
  EXPECT_EQ(Sandbox::readFor(headOut, echo(dilation).size(), 10),
            echo(dilation));
  close(headOut);
  EXPECT_FALSE(Sandbox::endsWithin(head, 1));
  close(idle);
  EXPECT_EQ(sandbox.finish(head, "").status, 128 + SIGPIPE);
}

// A run that reads `name`, a way to standard input, which starts closed.
Case closedInput(const char* name) {
  const std::vector<std::string> args = {name, "out.txt", "replace", ".", "o"};
  const std::string err = "charpic: cannot read '"s + name + "': ";
  return {name,   args, "", "", 1, std::nullopt, err + "Bad file descriptor\n",
          "/dev", 0};
}

TEST(Charpic, FailedFilesExitOne) {
  // clang-format off
  const Case cases[] = {
      {"missing input", {"none.txt", "out.txt", "replace", ".", "o"}, "", "",
       1, std::nullopt,
       "charpic: cannot read 'none.txt': No such file or directory\n"},
      {"directory as input", {".", "out.txt", "dilation", "x"}, "", "", 1,
       std::nullopt, "charpic: cannot read '.': Is a directory\n"},
      {"output in a missing folder", {"in.txt", "no/out.txt", "replace", ".",
       "o"}, "a.\n", "a.\nao\n", 1, std::nullopt,
       "charpic: cannot write 'no/out.txt': No such file or directory\n"},
      {"control character in a name", {"in.txt", "no/a\nb", "replace", ".",
       "o"}, "a.\n", "a.\nao\n", 1, std::nullopt, "charpic: cannot write "
       "'no/a'$'\\012''b': No such file or directory\n", "such names"},
      {"output is a folder", {"in.txt", ".", "replace", ".", "o"}, "a.\n",
       "a.\nao\n", 1, std::nullopt,
       "charpic: cannot write '.': Is a directory\n"},
      {"read error", {"/proc/self/mem", "out.txt", "replace", ".", "o"}, "", "",
       1, std::nullopt,
       "charpic: cannot read '/proc/self/mem': Input/output error\n", "/proc"},
      {"output is full", {"in.txt", "/dev/full", "replace", ".", "o"}, "a.\n",
       "a.\nao\n", 1, std::nullopt,
       "charpic: cannot write '/dev/full': No space left on device\n",
       "/dev/full"},
      {"quote, tab, space, DEL and UTF-8 in a name", {"in.txt",
       "no/it's\ta b\x7f\xc3\xa9", "replace", ".", "o"}, "a.\n", "a.\nao\n",
       1, std::nullopt, "charpic: cannot write 'no/it'\\''s'$'\\011''a b'$'"
       "\\177''\xc3\xa9': No such file or directory\n", "such names"},
      closedInput("/dev/stdin"), closedInput("//dev/fd/0"),
      closedInput("/proc/thread-self/fd/0"), closedInput("/dev/fd/./0"),
      {"closed standard input as OUTPUT", {"in.txt", "/dev/stdin", "replace",
       ".", "o"}, "a.\n", "a.\nao\n", 1, std::nullopt,
       "charpic: cannot write '/dev/stdin': Bad file descriptor\n", "/dev", 0},
      {"closed standard error as OUTPUT", {"in.txt", "/dev/stderr", "replace",
       ".", "o"}, "a.\n", "a.\nao\n", 1, std::nullopt, "", "/dev", 2},
  };
  // clang-format on
  for (const Case& c : cases)
    check(c);
  // bash reads each name that a message quotes back as that name.
  for (const Case& c : cases) {
    if (c.err.empty())
      continue;
    const size_t from = c.err.find(" '") + 1;
    const std::string words = c.err.substr(from, c.err.rfind("': ") + 1 - from);
    setenv("CHARPIC_TEST_WORDS", ("printf %s " + words).c_str(), 1);
    FILE* bash = popen("bash -c \"$CHARPIC_TEST_WORDS\"", "r");
    std::string name(4096, '\0');
    name.resize(fread(name.data(), 1, name.size(), bash));
    pclose(bash);
    EXPECT_EQ(name,
              c.args[c.err.find("cannot read") != std::string::npos ? 0 : 1]);
  }
}

TEST(Charpic, UnreadableInputLeavesOutputAlone) {
  Sandbox sandbox;
  sandbox.write("out.txt", "keep\n");
  const RunResult result =
      sandbox.run({"none.txt", "out.txt", "replace", ".", "o"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(sandbox.read("out.txt"), "keep\n");
}

TEST(Charpic, PictureLargerThanMemoryExitsOne) {
  // More than any string holds: 5 EiB, sparse, where a file system takes it.
  const std::string huge = "/dev/shm/charpic-" + std::to_string(getpid());
  if (std::ofstream(huge) && truncate(huge.c_str(), 5LL << 60) == 0) {
    const RunResult result = Sandbox().run({huge, "out.txt", "dilation", "x"});
    EXPECT_EQ(result.err,
              "charpic: cannot read '" + huge + "': Cannot allocate memory\n");
    EXPECT_EQ(result.status, 1);
  }
  fs::remove(huge);
  if (underWine())
    GTEST_SKIP() << "Windows lacks resource limits";
#ifdef CHARPIC_SANITIZE
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit";
#endif
  std::string picture;
  for (int row = 0; row < (64 << 20) / 100; ++row)
    picture += std::string(99, '.') + '\n';
  Sandbox sandbox;
  sandbox.write("in.txt", picture);
  RunOptions limited;
  limited.stdoutPath = "/dev/null";
  limited.addressSpace = 48 << 20;
  const RunResult result =
      sandbox.run({"in.txt", "out.txt", "replace", ".", "o"}, limited);
  EXPECT_EQ(result.err,
            "charpic: cannot read 'in.txt': Cannot allocate memory\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(sandbox.read("out.txt"), std::nullopt);
}

TEST(Charpic, FullStandardOutputExitsOne) {
  if (underWine())
    GTEST_SKIP() << "Windows lacks /dev/full";
  // Standard output full; a file that may grow no further than 64 bytes,
  // which a line crosses; or closed, where no file opened later may take its
  // place. OUTPUT is written all the same.
  // clang-format off
  const struct {
    const char* stdoutPath;  // in the sandbox, unless absolute
    rlim_t fileSize;
    bool closed;
    const char* error;
  } outputs[] = {
      {"/dev/full", 0, false, "No space left on device"},
      {"log", 64, false, "File too large"},
      {"/dev/full", 0, true, "Bad file descriptor"},
  };
  // clang-format on
  for (const auto& output : outputs) {
    for (const std::vector<std::string>& args : kRunsOfEachKind) {
      SCOPED_TRACE(args[2] + ", " + output.error);
      Sandbox sandbox;
      sandbox.write("in.txt", std::string(40, '.') + "\n");
      RunOptions options;
      const std::string stdoutPath = sandbox.path(output.stdoutPath).string();
      options.stdoutPath = stdoutPath.c_str();
      options.fileSize = output.fileSize;
      options.closed = output.closed ? 1 : -1;
      const RunResult result = sandbox.run(args, options);
      EXPECT_EQ(result.err, "charpic: write error: "s + output.error + "\n");
      EXPECT_EQ(result.status, 1);
      if (args[2] == "replace") {
        EXPECT_EQ(sandbox.read("out.txt"), std::string(40, 'o') + "\n");
      }
    }
  }
  // When OUTPUT fails as well, its error is the one reported.
  RunOptions full;
  full.stdoutPath = "/dev/full";
  Sandbox sandbox;
  sandbox.write("in.txt", "a.\n");
  const RunResult result =
      sandbox.run({"in.txt", "/dev/full", "replace", ".", "o"}, full);
  EXPECT_EQ(result.err,
            "charpic: cannot write '/dev/full': No space left on device\n");
  EXPECT_EQ(result.status, 1);
}

TEST(Charpic, MissingArgumentsPrintUsage) {
  // clang-format off
  const struct {
    std::vector<std::string> args;
    const char* error;
  } runs[] = {
      {{}, "missing INPUT"},
      {{"in.txt", "out.txt", "dilation"}, "missing COLOUR"},
      {{"-"}, "missing OUTPUT"},
      {{"in.txt", "out.txt", "replace", "."},
       "missing the second COLOUR, which replace needs"},
      {{"--versio"}, "unrecognized option '--versio'"},
      {{"-x", "out.txt"}, "unrecognized option '-x'"},
  };
  // clang-format on
  for (const auto& [args, error] : runs) {
    SCOPED_TRACE(args.size());
    Sandbox sandbox;
    sandbox.write("in.txt", "a.\n");
    const RunResult result = sandbox.run(args);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "charpic: "s + error +
                              "\nTry 'charpic --help' for more information.\n");
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(sandbox.read("out.txt"), std::nullopt);
  }
}

// The help wins whatever follows it.
TEST(Charpic, HelpGoesToStandardOutput) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"},
        {"-h"},
        {"--help", "extra"},
        {"-h", "out.txt"}}) {
    SCOPED_TRACE(args.back());
    const RunResult result = Sandbox().run(args);
    EXPECT_EQ(result.out.substr(0, kUsageLine.size()), kUsageLine);
    for (const char* operation :
         {"replace", "dilation", "erosion", "floodfill"})
      EXPECT_NE(result.out.find("\n  "s + operation + " "), std::string::npos);
    for (const char* option :
         {"\n  -h, --help ", "\n      --version ", "\nReport bugs "})
      EXPECT_NE(result.out.find(option), std::string::npos);
    EXPECT_EQ(result.out.substr(result.out.rfind('\n', result.out.size() - 2)),
              "\nFull documentation: man charpic\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

TEST(Charpic, Version) {
  const RunResult result = Sandbox().run({"--version"});
  EXPECT_EQ(result.out, "charpic " CHARPIC_VERSION
                        "\nCopyright (c) 2026 the charpic developers; MIT "
                        "License.\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

}  // namespace
