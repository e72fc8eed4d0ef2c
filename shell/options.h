// The options form of the command line, chosen when the first argument
// starts with "-":  dorvane [OPTIONS] ARCHIVE...
// It neither reads nor writes the stored settings: the output folder is -o
// or the current folder, and only -f makes a folder per archive.
#pragma once

#include <string>
#include <vector>

#include "platform/windows.h"

struct CommandOptions {
  enum class Action { kRun, kHelp, kVersion };
  Action action = Action::kRun;
  std::string output;          // -o as typed (UTF-8); empty: the current folder
  bool folder = false;         // -f: a folder per archive
  bool list = false;           // -l
  bool test = false;           // -t
  bool toStdout = false;       // -c
  bool json = false;           // --json, --format=json
  bool keep = false;           // -k
  bool quiet = false;          // -q
  bool verbose = false;        // -v
  bool havePassword = false;   // -p given (possibly empty text)
  std::string password;        // -p TEXT
  std::string passwordFile;    // --password-file FILE
  struct Pattern {
    std::string text;  // as typed (UTF-8)
    bool include;      // -i; else -x
  };
  std::vector<Pattern> patterns;  // in the order given
  std::vector<std::string> archives;
};

// Reads argv (argv[0] is the program) by the usual rules: short options may
// be bundled ("-lv") and take their value joined or next ("-oDIR", "-o DIR"),
// long ones as "--output DIR" or "--output=DIR" or any unambiguous prefix,
// options and archives may be mixed, and "--" ends the options. False, with
// a one-line reason, for an unknown or incomplete option, two of -l, -t and
// -c, both
// password options, or no archive (unless -h or -V was given).
bool ParseOptions(int argc, char** argv, CommandOptions* options, std::string* error);

// What --help prints (the man page says the same).
extern const char kHelpText[];

// The options form from parsing to exit status: 0 when nothing was
// reported, 2 when the result report was shown, 1 for a bad command line
// (a short usage on standard error; nothing touched).
int RunOptionsForm(int argc, char** argv);

// The bare form's arguments (argv[1] does not start with "-") read as the
// options form, as GNU getopt permutes them: true when, joined with blanks,
// they name no file and hold no "#P(...)#F(...)", and one of them is an
// option of the options form that names no file ("run.uue -o dest").
bool BareArgumentsHoldOptions(int argc, char** argv);

// A UTF-8 path argument in program form: UTF-16 with "\" separators.
std::u16string ProgramPathOf(const char* utf8);
