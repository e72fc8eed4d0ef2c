#include "shell/options.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/charset.h"
#include "core/handler.h"
#include "core/listing_json.h"
#include "core/member_filter.h"
#include "core/member_output.h"
#include "core/output.h"
#include "core/messages.h"
#include "core/progress.h"
#include "core/prompt.h"
#include "core/settings.h"
#include "core/standard_output.h"
#include "shell/command_line.h"
#include "shell/standard_input.h"
#include "stream/text_parts.h"

#ifndef DORVANE_VERSION
#define DORVANE_VERSION "unknown"
#endif

const char kHelpText[] =
    "Usage: dorvane [OPTIONS] ARCHIVE...\n"
    "       dorvane ARCHIVE...\n"
    "       dorvane '#P(FOLDER)#F(ARCHIVE)'\n"
    "       dorvane\n"
    "Extract, list or test archives: TAR (also inside gzip, bzip2, compress, xz,\n"
    "lzma, lzip, Zstandard and lz4), LZH, ZIP, ARJ, cabinet, gzip, bzip2,\n"
    "compress (.Z), xz, lzma, lzip, Zstandard, lz4, uuencode, Base64/MIME and\n"
    "yEnc. Unix modes, links, FIFOs and sparse files come out as they went in.\n"
    "\n"
    "Options (taken when the first argument starts with \"-\", or when one stands\n"
    "among arguments that together name no file):\n"
    "  -o, --output DIR          extract into DIR, created when missing (default:\n"
    "                            the current folder); not stored\n"
    "  -f, --folder              extract each archive into a folder named after it\n"
    "  -l, --list                list the members (size, packed size, method, date,\n"
    "                            time, name) and a total per archive; write nothing\n"
    "  -t, --test                decode every member and check it, write nothing,\n"
    "                            name each member that fails and end each archive\n"
    "                            with a line that counts its members and failures\n"
    "  -c, --stdout              write the members' bytes to standard output, one\n"
    "                            after another; -v names them on standard error\n"
    "  -i, --include PATTERN     only the members whose path matches PATTERN (a\n"
    "                            shell glob; \"*\" stays within a folder, \"**\"\n"
    "                            crosses folders); may be repeated\n"
    "  -x, --exclude PATTERN     leave out the members whose path matches PATTERN;\n"
    "                            may be repeated\n"
    "      --json                with -l or -t: one JSON document on standard\n"
    "                            output (also --format=json)\n"
    "  -p, --password TEXT       the password of encrypted ZIP members\n"
    "      --password-file FILE  read that password from the first line of FILE\n"
    "  -k, --keep                never replace an existing file; name and skip it\n"
    "  -q, --quiet               show no progress\n"
    "  -v, --verbose             name each member as it is written or tested\n"
    "  -h, --help                show this help and exit\n"
    "  -V, --version             show the version and exit\n"
    "      --                    end the options; the rest are archives\n"
    "\n"
    "An ARCHIVE of \"-\" is read from standard input (called \"stdin\").\n"
    "Without options, ARCHIVE goes into the stored extract path (the current\n"
    "folder when none is stored); '#P(FOLDER)#F(ARCHIVE)' extracts into FOLDER\n"
    "and stores it as the extract path. Without arguments, in a terminal, the\n"
    "dialogs open.\n"
    "\n"
    "Problems are summed up at the end (NOT_A_FILE, UNSUPPORTED, FAILED).\n"
    "Exit status: 0 when there was nothing to sum up, 2 when the summary was\n"
    "shown, 1 for a bad command line or a fatal error; 130, 143 or 129 when\n"
    "interrupted by SIGINT, SIGTERM or SIGHUP (the member being written is\n"
    "removed).\n";

namespace {

const char kUsage[] =
    "usage: dorvane [OPTIONS] ARCHIVE...\n"
    "       dorvane ARCHIVE | '#P(FOLDER)#F(ARCHIVE)'\n"
    "see 'dorvane --help' for the options\n";

constexpr int kPasswordFileOption = 0x100;
constexpr int kJsonOption = 0x101;
constexpr int kFormatOption = 0x102;

const option kLong[] = {
    {"output", required_argument, nullptr, 'o'},  {"folder", no_argument, nullptr, 'f'},
    {"list", no_argument, nullptr, 'l'},          {"test", no_argument, nullptr, 't'},
    {"stdout", no_argument, nullptr, 'c'},
    {"json", no_argument, nullptr, kJsonOption},  {"format", required_argument, nullptr, kFormatOption},
    {"include", required_argument, nullptr, 'i'}, {"exclude", required_argument, nullptr, 'x'},
    {"password", required_argument, nullptr, 'p'}, {"password-file", required_argument, nullptr, kPasswordFileOption},
    {"keep", no_argument, nullptr, 'k'},          {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},       {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},       {nullptr, 0, nullptr, 0},
};
const char kShort[] = ":o:flp:tci:x:kqvhV";

// The first line of a file, without its line end. False with the reason.
bool ReadFirstLine(const std::string& path, std::string* line, std::string* error) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = "cannot read the password file '" + path + "': " + strerror(errno);
    return false;
  }
  line->clear();
  for (int c; (c = getc(file)) != EOF && c != '\n';) line->push_back(static_cast<char>(c));
  fclose(file);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

// The -o folder as a narrow program path without a final separator, made
// absolute from the current folder so that every level can be created.
bool OutputFolderOf(const std::string& typed, char* out, std::string* error) {
  std::u16string path = ProgramPathOf(typed.c_str());
  if (path.empty() || path[0] != u'\\') {
    WCHAR current[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
    if (length == 0 || length >= MAX_PATH) {
      *error = "the current folder cannot be used for '" + typed + "'";
      return false;
    }
    std::u16string absolute(current);
    if (absolute.back() != u'\\') absolute += u'\\';
    path = absolute + path;
  }
  while (path.size() > 1 && path.back() == u'\\') path.pop_back();
  if (path.size() >= MAX_PATH || !WideToNarrow(path.c_str(), out, kExtractPathNarrowSize)) {
    *error = "the output folder '" + typed + "' is too long";
    return false;
  }
  if (strcmp(out, "\\") == 0) out[0] = '\0';  // the root folder is empty text
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *error = "the output folder '" + typed + "' is a file";
    return false;
  }
  return true;
}

// "-": standard input, read through kStandardInputPath; the archive is
// named "stdin".
void ProcessStandardInput() {
  std::string error;
  if (!TakeStandardInput(&error)) {
    MemberNotice(kStandardInputName, "%s", error.c_str());
    ++g_ResultCounters.notAFile;
    return;
  }
  ProcessArchive(kStandardInputPath, kStandardInputName);
}

int UsageError(const std::string& reason) {
  // A reason may quote what was typed: it cannot drive the terminal.
  fprintf(stderr, "dorvane: %s\n%s", EscapeHostControls(reason).c_str(), kUsage);
  return 1;
}

}  // namespace

std::u16string ProgramPathOf(const char* utf8) {
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::u16string wide(units > 0 ? static_cast<size_t>(units) : 1, u'\0');
  if (units > 0) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], units);
  wide.resize(wcslen_w(wide.c_str()));
  // Inside the program "\" separates path components.
  for (WCHAR& c : wide) {
    if (c == u'/') c = u'\\';
  }
  return wide;
}

bool ParseOptions(int argc, char** argv, CommandOptions* options, std::string* error) {
  *options = CommandOptions();
  opterr = 0;  // the reasons are ours
  optind = 0;  // a fresh scan (GNU getopt), also for a second call
  bool sawPasswordFile = false;
  for (;;) {
    const int c = getopt_long(argc, argv, kShort, kLong, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'o': options->output = optarg; break;
      case 'f': options->folder = true; break;
      case 'l': options->list = true; break;
      case 't': options->test = true; break;
      case 'c': options->toStdout = true; break;
      case kJsonOption: options->json = true; break;
      case kFormatOption:
        if (strcmp(optarg, "json") != 0 && strcmp(optarg, "text") != 0) {
          *error = std::string("unknown listing format '") + optarg + "' (json or text)";
          return false;
        }
        options->json = strcmp(optarg, "json") == 0;
        break;
      case 'i':
      case 'x': options->patterns.push_back({optarg, c == 'i'}); break;
      case 'p':
        options->havePassword = true;
        options->password = optarg;
        break;
      case kPasswordFileOption:
        sawPasswordFile = true;
        options->passwordFile = optarg;
        break;
      case 'k': options->keep = true; break;
      case 'q': options->quiet = true; break;
      case 'v': options->verbose = true; break;
      case 'h': options->action = CommandOptions::Action::kHelp; break;
      case 'V':
        if (options->action != CommandOptions::Action::kHelp) options->action = CommandOptions::Action::kVersion;
        break;
      case ':':
        *error = std::string("option '") + argv[optind - 1] + "' needs a value";
        return false;
      default:
        if (optopt != 0 && optopt < 0x100) {
          *error = std::string("unknown option '-") + static_cast<char>(optopt) + "'";
        } else {
          *error = std::string("unknown or ambiguous option '") + argv[optind - 1] + "'";
        }
        return false;
    }
  }
  for (int i = optind; i < argc; ++i) options->archives.push_back(argv[i]);
  if (options->action != CommandOptions::Action::kRun) return true;
  if (options->list + options->test + options->toStdout > 1) {
    *error = options->toStdout ? "-c cannot be used with -l or -t" : "-l and -t cannot be used together";
    return false;
  }
  if (options->json && !options->list && !options->test) {
    *error = "--json needs -l or -t";
    return false;
  }
  if (options->havePassword && sawPasswordFile) {
    *error = "-p and --password-file cannot be used together";
    return false;
  }
  if (sawPasswordFile && options->passwordFile.empty()) {
    *error = "option '--password-file' needs a file name";
    return false;
  }
  if (std::count(options->archives.begin(), options->archives.end(), "-") > 1) {
    *error = "standard input ('-') can be read only once";
    return false;
  }
  if (options->archives.empty()) {
    *error = "no archive given";
    return false;
  }
  return true;
}

namespace {

bool NamesSomething(const char* utf8) {
  return GetFileAttributesW(ProgramPathOf(utf8).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// An argument the options form reads as an option: "--", a long option or
// an unambiguous start of one, or "-" and a short option's letter.
bool IsOptionWord(const char* argument) {
  if (argument[0] != '-' || argument[1] == '\0') return false;
  if (argument[1] != '-') return argument[1] != ':' && strchr(kShort, argument[1]) != nullptr;
  const char* name = argument + 2;
  const size_t length = strcspn(name, "=");
  if (length == 0) return name[0] == '\0';  // "--"
  for (const option& o : kLong) {
    if (o.name != nullptr && strncmp(o.name, name, length) == 0) return true;
  }
  return false;
}

}  // namespace

bool BareArgumentsHoldOptions(int argc, char** argv) {
  std::string joined;
  for (int i = 1; i < argc; ++i) joined += (i > 1 ? " " : "") + std::string(argv[i]);
  const std::u16string line = ProgramPathOf(joined.c_str());
  if (FindNoCase(line.c_str(), u"#F(") != nullptr && FindNoCase(line.c_str(), u"#P(") != nullptr) return false;
  if (NamesSomething(joined.c_str())) return false;
  for (int i = 1; i < argc; ++i) {
    if (IsOptionWord(argv[i]) && !NamesSomething(argv[i])) return true;
  }
  return false;
}

int RunOptionsForm(int argc, char** argv) {
  CommandOptions options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) return UsageError(error);
  if (options.action == CommandOptions::Action::kHelp) {
    fputs(kHelpText, stdout);
    return 0;
  }
  if (options.action == CommandOptions::Action::kVersion) {
    puts("dorvane " DORVANE_VERSION);
    return 0;
  }
  if (!options.passwordFile.empty()) {
    if (!ReadFirstLine(options.passwordFile, &options.password, &error)) return UsageError(error);
    options.havePassword = true;
  }
  if (!StartProgram()) return 1;
  SetCommandLineMessages(true);
  // Everything that can refuse the run is checked before any archive is
  // touched.
  ClearMemberPatterns();
  for (const CommandOptions::Pattern& pattern : options.patterns) {
    char narrow[kOutputPathSize * 2];
    const std::u16string wide = ProgramPathOf(pattern.text.c_str());
    if (!WideToNarrow(wide.c_str(), narrow, sizeof narrow)) {
      EndProgram();
      return UsageError("the pattern '" + pattern.text + "' is too long or cannot be used");
    }
    AddMemberPattern(narrow, pattern.text, pattern.include);
  }
  static char outputFolder[kExtractPathNarrowSize];
  const bool folderKnown = options.output.empty() ? CurrentFolderPath(outputFolder)
                                                  : OutputFolderOf(options.output, outputFolder, &error);
  if (!folderKnown) {
    EndProgram();
    return UsageError(error.empty() ? "the current folder cannot be used as the output folder" : error);
  }
  g_RunOptions.mode = options.list ? RunMode::kList : options.test ? RunMode::kTest : RunMode::kExtract;
  g_RunOptions.toStdout = options.toStdout;
  g_RunOptions.formatNames = true;
  g_RunOptions.json = options.json;
  g_RunOptions.keepExisting = options.keep;
  g_RunOptions.verbose = options.verbose;
  g_RunOptions.outputFolder = outputFolder;
  g_bMakeDir = options.folder;
  g_RunOptions.plainFolders = options.folder;
  g_bOpenDir = false;
  SetProgressQuiet(options.quiet);
  if (options.havePassword) SetGivenPassword(options.password.c_str());

  g_RunOptions.nameArchives = options.archives.size() > 1;
  JsonBeginRun();
  for (const std::string& archive : options.archives) {
    if (archive == "-") {
      ProcessStandardInput();
    } else {
      const std::u16string path = ProgramPathOf(archive.c_str());
      (void)ProcessPlainPath(path.c_str());  // a path that is no file is named there
    }
    if (StandardOutputRefused()) break;
  }
  text::FinishParts();  // files posted in parts, gathered over all the archives
  FinishStandardOutput();
  JsonEndRun();
  // A pattern that chose nothing is named, as a mistyped name would be.
  bool unmatched = false;
  if (!StandardOutputRefused()) {
    for (const std::string& pattern : UnmatchedMemberPatterns()) {
      fprintf(stderr, "dorvane: no member matches '%s'\n", pattern.c_str());
      unmatched = true;
    }
  }
  int status = ResultReport() ? 2 : 0;
  if (StandardOutputRefused() || (unmatched && status == 0)) status = 1;
  SetGivenPassword(nullptr);
  EndProgram();
  return status;
}
