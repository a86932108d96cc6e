// charpic: prints its arguments and a character picture, then runs an
// operation on the picture.

#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "picture_ops.h"
#include "platform.h"
#include "print.h"

namespace {

const char kHelp[] =
    "Usage: charpic INPUT OUTPUT OPERATION COLOUR [COLOUR]\n"
    "Print the arguments and the character picture in INPUT, then run\n"
    "OPERATION on it.\n"
    "\n"
    "Operations:\n"
    "  replace FROM TO  turn colour FROM into TO; print the rows, write "
    "OUTPUT\n"
    "  dilation C       grow colour C into its neighbours, printing each cell\n"
    "  erosion          accepted; does nothing\n"
    "  floodfill        accepted; does nothing\n"
    "A colour is the first byte of its argument; an empty argument is NUL.\n"
    "Where that byte starts a wider UTF-8 character, a warning says so.\n"
    "INPUT or OUTPUT - is standard input or output; a file named - is ./-\n"
    "\n"
    "Options:\n"
    "  -h, --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Report bugs on the issue tracker of the repository charpic came from.\n"
    "Full documentation: man charpic\n";

// The arguments that the usage names, in order.
const char* const kArgumentNames[] = {"INPUT", "OUTPUT", "OPERATION", "COLOUR"};

const char kVersion[] =
    "charpic " CHARPIC_VERSION
    "\n"
    "Copyright (c) 2026 the charpic developers; MIT License.\n";

// The colour an argument names: its first byte, NUL for an empty argument.
// Where that byte starts a UTF-8 character of two to four bytes, which it
// cannot stand for alone, says so on standard error.
char colour(const char* arg) {
  const auto lead = static_cast<unsigned char>(arg[0]);
  int bytes = 0;  // the character's, as many as the leading ones of `lead`
  while (bytes < 8 && ((lead << bytes) & 0x80) != 0)
    ++bytes;
  int continued = 1;  // the bytes that continue it, counted from the first
  while (continued < bytes && (arg[continued] & 0xC0) == 0x80)
    ++continued;
  if (bytes >= 2 && bytes <= 4 && continued == bytes) {
    char octal[4] = {};
    std::to_chars(octal, octal + 3, lead, 8);
    reportError("warning: colour " + quoted(arg) + " is " +
                std::to_string(std::strlen(arg)) +
                " bytes; only its first byte, '\\" + octal + "', counts");
  }
  return arg[0];
}

// What `arg`, given as the first argument, asks to be printed instead of a
// run, whatever follows it, as in coreutils: the help or the version. Null
// for any other argument.
const char* requestedText(std::string_view arg) {
  if (arg == "-h" || arg == "--help")
    return kHelp;
  if (arg == "--version")
    return kVersion;
  return nullptr;
}

// The first argument that the command line lacks for its operation, as the
// usage names it, as cp names only its first missing operand. Null when it
// lacks none.
const char* missingArgument(int argc, const char* const argv[]) {
  if (argc < 5)
    return kArgumentNames[argc > 0 ? argc - 1 : 0];
  if (argc == 5 && std::string_view(argv[3]) == "replace")
    return "the second COLOUR, which replace needs";
  return nullptr;
}

// Prints each argument with its index, the program path as line 0.
void echoArguments(int argc, const char* const argv[]) {
  for (int i = 0; i < argc; ++i)
    print(std::to_string(i) + ' ' + argv[i] + '\n');
}

// The exit status of a run that got to its end.
int finish() {
  releaseBrokenPipe();
  if (stdoutError() == 0)
    return 0;
  reportError(std::string("write error: ") + std::strerror(stdoutError()));
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
  if (argc >= 2) {
    if (const char* text = requestedText(argv[1])) {
      print(text);
      return finish();
    }
  }
  if (const char* missing = missingArgument(argc, argv)) {
    // Short of arguments, a first one that looks like an option is a
    // mistyped option; a full command line stays positional.
    if (argc >= 2 && argv[1][0] == '-' && argv[1][1] != '\0')
      reportError("unrecognized option " + quoted(argv[1]));
    else
      reportError(std::string("missing ") + missing);
    writeAll(kStandardError, "Try 'charpic --help' for more information.\n");
    return 2;
  }
  // A reader that goes away must not leave a replace without its output.
  if (std::string_view(argv[3]) == "replace")
    holdBrokenPipe();
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
