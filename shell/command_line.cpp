#include "shell/command_line.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/charset.h"
#include "core/handler.h"
#include "core/interrupt.h"
#include "core/member_output.h"
#include "core/messages.h"
#include "core/settings.h"
#include "platform/host.h"
#include "shell/handler_list.h"
#include "shell/main_dialog.h"
#include "stream/text_parts.h"

char g_NarrowPath[kTokenValueSize * 2];

const WCHAR* FindNoCase(const WCHAR* text, const WCHAR* pattern) {
  if (text == nullptr || pattern == nullptr) return nullptr;
  const size_t textLen = wcslen_w(text);
  const size_t patternLen = wcslen_w(pattern);
  if (patternLen > textLen) return nullptr;
  for (size_t i = 0; i + patternLen <= textLen; ++i) {
    size_t j = 0;
    while (j < patternLen && towupper_w(text[i + j]) == towupper_w(pattern[j])) ++j;
    if (j == patternLen) return text + i;
  }
  return nullptr;
}

bool ParseToken(const WCHAR* key, const WCHAR* commandLine, WCHAR* value) {
  value[0] = 0;
  WCHAR search[16];
  const size_t keyLen = wcslen_w(key);
  if (keyLen + 2 > sizeof search / sizeof search[0]) return false;
  wcscpy_w(search, key);
  search[keyLen] = u'(';
  search[keyLen + 1] = 0;
  const WCHAR* found = FindNoCase(commandLine, search);
  if (found == nullptr) return false;
  const WCHAR* start = found + keyLen + 1;
  const WCHAR* end = start;
  while (*end != 0 && *end != u')') ++end;
  if (*end != u')') return false;
  const size_t length = static_cast<size_t>(end - start);
  // A value that does not fit is refused rather than cut into another path.
  if (length >= static_cast<size_t>(kTokenValueSize)) return false;
  memcpy(value, start, length * sizeof(WCHAR));
  value[length] = 0;
  return true;
}

bool ResultReport() {
  const ResultCounters& c = g_ResultCounters;
  if (!c.AnyNonZero()) return false;
  char text[200];
  snprintf(text, sizeof text, " NOT_A_FILE: %d times\nUNSUPPORTED: %d times\n     FAILED: %d times\n",
           c.notAFile, c.unsupported, c.failed);
  WCHAR wide[200];
  size_t i = 0;
  for (; text[i] != '\0'; ++i) wide[i] = static_cast<WCHAR>(text[i]);
  wide[i] = 0;
  MessageBoxW(nullptr, wide, nullptr, MB_OK);
  return true;
}

void NotAFile(const WCHAR* path, const char* reason) {
  // Named as every notice is; a path the code page cannot hold goes out as
  // the host spells it.
  if (char* narrow = ToNarrow(path)) {
    MemberNotice(narrow, "%s", reason);
    LocalFree(narrow);
  } else {
    std::string shown = host::ToUtf8(path);
    for (char& c : shown) {
      if (c == '\\') c = '/';
    }
    fprintf(stderr, "%s: %s\n", shown.c_str(), reason);
  }
  ++g_ResultCounters.notAFile;
}

static void ProcessWidePath(const WCHAR* path) {
  if (!WideToNarrow(path, g_NarrowPath, sizeof g_NarrowPath)) {
    NotAFile(path, "the name cannot be held in the code page");
    return;
  }
  ProcessArchive(g_NarrowPath);
}

bool ProcessPlainPath(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {  // also the failure value
    NotAFile(path, attributes == INVALID_FILE_ATTRIBUTES ? "no such file" : "is a folder");
    return false;
  }
  ProcessWidePath(path);
  return true;
}

bool StartProgram() {
  InstallInterruptHandlers();
  BuildLeadByteTable();
  g_ReadAheadBuffer = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, kReadAheadSize));
  if (g_ReadAheadBuffer == nullptr) return false;
  g_HandlerRegistry = CreateHandlerRegistry();
  g_bMakeDir = ReadMakeDir();
  g_bOpenDir = ReadOpenDir();
  return true;
}

void EndProgram() {
  delete g_HandlerRegistry;
  g_HandlerRegistry = nullptr;
  LocalFree(g_ReadAheadBuffer);
  g_ReadAheadBuffer = nullptr;
}

namespace {

bool IsTokenForm(const WCHAR* commandLine) {
  return FindNoCase(commandLine, u"#F(") != nullptr && FindNoCase(commandLine, u"#P(") != nullptr;
}

// The "#P" folder is stored for later runs and is this run's output folder
// either way: a store that cannot be written must not send the archive into
// the folder stored before.
void UseAndStoreFolder(const WCHAR* folder) {
  static char runFolder[kExtractPathNarrowSize];
  const bool known = WideToNarrow(folder, runFolder, sizeof runFolder) != 0;
  if (strcmp(runFolder, "\\") == 0) runFolder[0] = '\0';  // the root folder is empty text
  if (known) g_RunOptions.outputFolder = runFolder;
  if (WriteExtractPath(folder)) return;
  char shown[kExtractPathNarrowSize * 4], line[kExtractPathNarrowSize * 4 + 100];
  DisplayName(shown, sizeof shown, known ? (runFolder[0] != '\0' ? runFolder : "/") : "?");
  FormatMessageText(line, sizeof line, "The settings could not be saved; this run extracts into %s all the same.",
                    shown);
  ShowMessage(line);
}

// A bare run goes into the stored extract path, which an earlier "#P" run
// may have set long ago: on a terminal its first line says where, before
// any status line.
void SayWhereBareRunExtracts() {
  if (!isatty(STDERR_FILENO)) return;
  char stored[kExtractPathNarrowSize], current[kExtractPathNarrowSize];
  if (!ReadOutputFolder(stored) || (CurrentFolderPath(current) && strcmp(stored, current) == 0)) return;
  char shown[kExtractPathNarrowSize * 4], line[kExtractPathNarrowSize * 4 + 40];
  DisplayName(shown, sizeof shown, stored[0] != '\0' ? stored : "\\");
  FormatMessageText(line, sizeof line, "dorvane: extracting into %s", shown);
  ShowMessage(line);
}

}  // namespace

int Entry(const WCHAR* commandLine) {
  if (!StartProgram()) return 1;
  int status = 0;
  if (commandLine[0] == 0) {
    status = RunMainDialog();
  } else {
    SetCommandLineMessages(true);
    if (IsTokenForm(commandLine)) {
      WCHAR folder[kTokenValueSize];
      WCHAR archive[kTokenValueSize];
      ParseToken(u"#P", commandLine, folder);
      ParseToken(u"#F", commandLine, archive);
      UseAndStoreFolder(folder);
      ProcessWidePath(archive);
      g_RunOptions.outputFolder = nullptr;
    } else {
      SayWhereBareRunExtracts();
      ProcessPlainPath(commandLine);
    }
    text::FinishParts();
    status = ResultReport() ? 2 : 0;
  }
  EndProgram();
  return status;
}

int EntryWithArguments(const WCHAR* const* arguments, int count) {
  std::u16string line;
  for (int i = 0; i < count; ++i) {
    if (i > 0) line += u' ';
    line += arguments[i];
  }
  // A name with blanks given unquoted still names its file, as specified.
  if (count < 2 || IsTokenForm(line.c_str()) || GetFileAttributesW(line.c_str()) != INVALID_FILE_ATTRIBUTES)
    return Entry(line.c_str());
  if (!StartProgram()) return 1;
  SetCommandLineMessages(true);
  g_RunOptions.nameArchives = true;
  SayWhereBareRunExtracts();
  for (int i = 0; i < count; ++i) ProcessPlainPath(arguments[i]);
  text::FinishParts();  // files posted in parts, gathered over all the files
  const int status = ResultReport() ? 2 : 0;
  EndProgram();
  return status;
}
