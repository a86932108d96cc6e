// charpic: prints its arguments and a character picture, then runs an
// operation on the picture.

#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <string_view>

#include "picture_ops.h"
#include "platform.h"
#include "print.h"

namespace {

const char kUsage[] =
    "usage: charpic INPUT OUTPUT OPERATION COLOUR [COLOUR]\n"
    "       charpic -h | --help\n"
    "       charpic --version\n"
    "Prints the arguments and the picture in INPUT, then runs OPERATION:\n"
    "  replace FROM TO  turn every cell of colour FROM into TO, print the\n"
    "                   changed rows and write them to OUTPUT\n"
    "  dilation C       grow colour C into neighbouring cells, printing the\n"
    "                   row being worked on after every cell\n"
    "  erosion          accepted; does nothing\n"
    "  floodfill        accepted; does nothing\n"
    "A colour is the first byte of its argument; an empty argument is NUL.\n";

const char kVersion[] =
    "charpic " CHARPIC_VERSION
    "\n"
    "Copyright (c) 2026 the charpic developers; MIT License.\n";

// The colour an argument names: its first byte, NUL for an empty argument.
char colour(const char* arg) { return arg[0]; }

// What `arg`, given as the only argument, asks to be printed instead of a
// run: the usage or the version. Null for any other argument.
const char* requestedText(std::string_view arg) {
  if (arg == "-h" || arg == "--help")
    return kUsage;
  if (arg == "--version")
    return kVersion;
  return nullptr;
}

// Whether the command line holds every argument its operation needs.
bool hasRequiredArguments(int argc, const char* const argv[]) {
  if (argc < 5)
    return false;
  return argc >= 6 || std::string_view(argv[3]) != "replace";
}

// Prints each argument with its index, the program path as line 0.
void echoArguments(int argc, const char* const argv[]) {
  for (int i = 0; i < argc; ++i)
    printLine(std::to_string(i) + ' ' + argv[i]);
}

// The exit status of a run that got to its end.
int finish() {
  if (stdoutError() == EPIPE)
    endByBrokenPipe();
  if (stdoutError() == 0)
    return 0;
  reportError("write error", std::strerror(stdoutError()));
  return 1;
}

// Runs the operation that argv[3] names on `image`. Returns false, after
// saying why on standard error, when the operation could not write its
// output file.
bool runOperation(const char* const argv[], Image& image) {
  const std::string_view name = argv[3];
  if (name == "replace")
    return replace(image, colour(argv[4]), colour(argv[5]), argv[2]);
  if (name == "dilation") {
    // Part of the output that people and scripts compare byte for byte.
    print("***** INSIDE dilation if\n");
    dilation(image, colour(argv[4]));
  } else if (name == "erosion") {
    erosion();
  } else if (name == "floodfill") {
    floodfill();
  } else {
    // Part of the output too, with no line feed after it.
    print("***** We got to the end, oops");
  }
  return true;
}

// Carries out the command line; returns the exit status.
int run(int argc, char* argv[]) {
  if (argc == 2) {
    if (const char* text = requestedText(argv[1])) {
      print(text);
      return finish();
    }
  }
  if (!hasRequiredArguments(argc, argv)) {
    std::cerr << kUsage;
    return 2;
  }
  // A reader that goes away must not leave a replace without its output.
  if (std::string_view(argv[3]) == "replace")
    deferBrokenPipe();
  echoArguments(argc, argv);
  Image image;
  if (!load(argv[1], image) || !runOperation(argv, image))
    return 1;
  return finish();
}

}  // namespace

int main(int argc, char* argv[]) {
  preparePlatform();
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Only a picture, held whole, can outgrow the memory the process may
    // have, and argv[1] names it.
    reportFileError("cannot read", argv[1], std::strerror(ENOMEM));
    return 1;
  }
}
