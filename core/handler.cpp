#include "core/handler.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "core/charset.h"
#include "core/listing_json.h"
#include "core/member_output.h"
#include "core/messages.h"
#include "core/output.h"
#include "core/piped_input.h"
#include "core/progress.h"
#include "core/settings.h"
#include "platform/output_file.h"

uint8_t* g_ReadAheadBuffer = nullptr;
ResultCounters g_ResultCounters;
FormatHandler* g_HandlerRegistry = nullptr;
bool g_bMakeDir = false;
bool g_bOpenDir = false;

bool FormatHandler::MatchesExtension(const char* extension) { return false; }

bool FormatHandler::ProbeContent(const char* path, int32_t fileSize) { return false; }

FormatHandler::~FormatHandler() {
  delete next;
  if (PasswordSlot != nullptr) LocalFree(PasswordSlot);
}

void AppendHandler(FormatHandler** head, FormatHandler* handler) {
  if (handler == nullptr) return;
  FormatHandler** link = head;
  while (*link != nullptr) link = &(*link)->next;
  *link = handler;
}

void MakeOutputFolder(char* folder) {
  // The first four characters are never split, so "\x" and drive-like
  // prefixes are not created on their own.
  int index = 0;
  for (char* p = folder; *p != '\0'; p = CharNext(p), ++index) {
    if (*p == '\\' && index >= 4) {
      *p = '\0';
      CreateFolder(folder);
      *p = '\\';
    }
  }
  CreateFolder(folder);
}

namespace {

// Copies src into dst[size] when it fits; false otherwise.
bool CopyText(char* dst, size_t size, const char* src) {
  const size_t len = strlen(src);
  if (len + 1 > size) return false;
  memcpy(dst, src, len + 1);
  return true;
}

// `inOrderOnly`: only handlers that read in order are asked.
FormatHandler* SelectHandler(const char* path, int32_t size, bool inOrderOnly) {
  if (inOrderOnly) {
    for (FormatHandler* h = g_HandlerRegistry; h != nullptr; h = h->next) {
      if (h->readsInOrder && h->Probe(path, size)) return h;
    }
    return nullptr;
  }
  const char* extension = ExtensionOf(path);
  FormatHandler* excluded = nullptr;
  if (*extension != '\0' && EqualsNoCase(extension, "exe") != 0) {
    for (FormatHandler* h = g_HandlerRegistry; h != nullptr; h = h->next) {
      if (h->MatchesExtension(extension)) {
        if (h->Probe(path, size)) return h;
        excluded = h;
        break;
      }
    }
  }
  for (FormatHandler* h = g_HandlerRegistry; h != nullptr; h = h->next) {
    if (h != excluded && h->Probe(path, size)) return h;
  }
  // A file whose extension no handler claims may still be text that only
  // its content names ("post.txt", "mail.eml", a file without extension).
  if (excluded == nullptr) {
    for (FormatHandler* h = g_HandlerRegistry; h != nullptr; h = h->next) {
      if (h->ProbeContent(path, size)) return h;
    }
  }
  return nullptr;
}

// The entry's own name as the file system stores it; false when the path is
// not found.
bool FindArchiveName(const char* path, char* name, size_t size) {
  WCHAR* wide = ToWide(path);
  if (wide == nullptr) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide, &found);
  LocalFree(wide);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  name[0] = '\0';
  return WideToNarrow(found.cFileName, name, size) != 0;
}

// Makes the output folder; with MakeDir, the archive's own folder inside the
// folder the user named (`root`) is made and opened as the members' folders
// are, without following a link in its place. False, with a notice, when a
// link stands there.
bool MakeArchiveFolder(char* folder, const WCHAR* root) {
  if (!g_bMakeDir) {
    MakeOutputFolder(folder);
    return true;
  }
  char* last = const_cast<char*>(LastOccurrence(folder, '\\'));
  if (last == nullptr) return true;
  *last = '\0';
  MakeOutputFolder(folder);
  *last = '\\';
  WCHAR wide[kExtractPathNarrowSize * 2];
  if (root[0] == 0 || !NarrowToWide(folder, wide, sizeof wide / sizeof wide[0])) return true;
  OutputFolderCache cache;
  OutputFileHandle file;
  int error = 0;
  if (OpenOutputFolder(wide, u"", &cache, &file, &error) != OutputOpenResult::kLinkInPath) return true;
  char shown[kPathBufferSize * 4], line[kPathBufferSize * 4 + 100];
  DisplayName(shown, sizeof shown, folder);
  FormatMessageText(line, sizeof line, "%s: is a symbolic link; not followed, the archive is not extracted", shown);
  ShowMessage(line);
  return false;
}

// An extension that says its file is an archive: one a handler claims, or
// one of the formats found by their content.
bool IsArchiveExtension(const char* extension) {
  static const char* const kContentFound[] = {"cab", "exe", "uu", "uue", "xx", "xxe", "b64", "mim", "mime", "eml"};
  for (const char* known : kContentFound) {
    if (EqualsNoCase(extension, known) == 0) return true;
  }
  for (FormatHandler* h = g_HandlerRegistry; h != nullptr; h = h->next) {
    if (h->MatchesExtension(extension)) return true;
  }
  return false;
}

// The folders -f of the options form has made in this run.
std::set<std::string> g_runFolders;

// Appends "\<name>" to the output folder for -f of the options form: the
// archive's name without its archive extensions ("v1.2 release.zip" gives
// "v1.2 release", "t.tar.gz" gives "t"). A folder an earlier archive of
// the run took, or a name a file holds, gives way to "<name>-2", "-3", ...
void AppendArchiveFolder(char* folder, size_t size, const char* archiveName) {
  std::string name = archiveName;
  const char* extension = ExtensionOf(name.c_str());
  if (*extension != '\0' && IsArchiveExtension(extension)) {
    name.resize(static_cast<size_t>(extension - name.c_str()) - 1);
    extension = ExtensionOf(name.c_str());
    if (EqualsNoCase(extension, "tar") == 0) name.resize(static_cast<size_t>(extension - name.c_str()) - 1);
  }
  if (name.empty()) name = archiveName;  // ".zip": nothing else names it
  const std::string base = std::string(folder) + "\\" + name;
  std::string chosen = base;
  for (int n = 2;; ++n) {
    const bool taken = g_runFolders.count(chosen) != 0;
    WCHAR wide[kExtractPathNarrowSize * 2];
    const DWORD attributes =
        NarrowToWide(chosen.c_str(), wide, sizeof wide / sizeof wide[0]) ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
    const bool file = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (!taken && !file) break;
    chosen = base + "-" + std::to_string(n);
  }
  g_runFolders.insert(chosen);
  CopyText(folder, size, chosen.c_str());
}

}  // namespace

void ProcessArchive(const char* path, const char* shown) {
  char shownPath[kPathBufferSize * 4];
  if (shown == nullptr) {
    DisplayName(shownPath, sizeof shownPath, path);
    shown = shownPath;
  }
  SetNoticeArchive(path, shown, g_RunOptions.nameArchives);
  struct ForgetOnExit {
    ~ForgetOnExit() { SetNoticeArchive(nullptr, nullptr, false); }
  } forgetOnExit;

  FILE* file = OpenFileStream(path, "rb");
  if (file == nullptr) {
    MemberNotice(path, "cannot be opened: %s", OutputErrorText(errno));
    ++g_ResultCounters.notAFile;
    return;
  }
  fread(g_ReadAheadBuffer, 1, kReadAheadSize, file);
  long end = -1;
  if (fseek(file, 0, SEEK_END) == 0) end = ftell(file);
  fclose(file);
  // Piped input whose end has not come yet: only a handler that reads in
  // order can take it, as a file of unknown length.
  const bool streamed = PipedInputActive() && strcmp(path, kStandardInputPath) == 0 && !PipedInputWhole();
  if (streamed) end = INT32_MAX;
  // Handlers take a 32-bit size; larger files are probed as the largest one.
  const int32_t size = end > INT32_MAX ? INT32_MAX : static_cast<int32_t>(end);

  FormatHandler* chosen = size > 0 ? SelectHandler(path, size, streamed) : nullptr;
  if (streamed) {
    if (chosen != nullptr) {
      StopKeepingPipedInput();
    } else {
      // Another format needs a file it can seek in: the input is kept in a
      // temporary one and read from there.
      std::string error;
      if (!SpoolPipedInput(&error)) {
        MemberNotice(path, "%s", error.c_str());
        ++g_ResultCounters.notAFile;
        return;
      }
      ProcessArchive(path, shown);
      return;
    }
  }

  char archiveName[kPathBufferSize * 2];
  if (!FindArchiveName(path, archiveName, sizeof archiveName)) {
    MemberNotice(path, "no such file");
    ++g_ResultCounters.notAFile;
    return;
  }
  if (chosen == nullptr) {
    MemberNotice(path, size > 0 ? "not an archive this program reads" : "an empty file, not an archive");
    ++g_ResultCounters.unsupported;
    return;
  }

  // The output folder, plus with MakeDir the archive name cut at its first dot.
  char folder[kExtractPathNarrowSize + 1 + sizeof archiveName];
  if (g_RunOptions.outputFolder != nullptr) {
    CopyText(folder, kExtractPathNarrowSize, g_RunOptions.outputFolder);
  } else if (!ReadOutputFolder(folder)) {
    // Without a stored path and a usable current folder there is no safe
    // place to write: never fall back to the root folder.
    ShowMessage("The current folder cannot be used as the output folder.");
    ++g_ResultCounters.failed;
    return;
  }
  // The folder the user named: links are followed up to it, never below it.
  WCHAR wideRoot[kExtractPathNarrowSize];
  if (!NarrowToWide(folder, wideRoot, kExtractPathNarrowSize)) wideRoot[0] = 0;
  if (g_bMakeDir && g_RunOptions.plainFolders) {
    AppendArchiveFolder(folder, sizeof folder, archiveName);
  } else if (g_bMakeDir) {
    char* p = archiveName;
    while (*p != '\0' && *p != '.') p = CharNext(p);
    const char saved = *p;
    *p = '\0';
    const size_t used = strlen(folder);
    folder[used] = '\\';
    CopyText(folder + used + 1, sizeof folder - used - 1, archiveName);
    *p = saved;
  }
  // Testing, listing and writing to standard output make no folder.
  const RunMode mode = g_RunOptions.mode;
  SetOutputRoot(wideRoot);
  if (mode == RunMode::kExtract && !g_RunOptions.toStdout && !MakeArchiveFolder(folder, wideRoot)) {
    ++g_ResultCounters.failed;
    return;
  }
  ResetArchiveOutcome();
  // The options form names the format as Linux users know it; the other
  // forms show the handler's display name.
  const char* formatShown =
      g_RunOptions.formatNames && chosen->formatName[0] != '\0' ? chosen->formatName : chosen->displayName;
  if (g_RunOptions.json) {
    JsonBeginArchive(shown == shownPath ? path : shown, chosen->formatName);
  } else if (mode == RunMode::kList) {
    PrintListingHeader(archiveName, formatShown);
  }

  ProgressRecord progress;
  DisplayName(progress.FileName, sizeof progress.FileName, archiveName);
  FormatMessageText(progress.Title, sizeof progress.Title, "Dorvane: %s", chosen->displayName);
  if (g_RunOptions.formatNames) snprintf(progress.Format, sizeof progress.Format, "%s", chosen->formatName);
  SetProgressArchive(&progress, path);
  OpenProgress(&progress);
  // The window goes away however the extraction ends (CloseProgress does
  // nothing the second time).
  struct CloseOnExit {
    ProgressRecord& record;
    ~CloseOnExit() { CloseProgress(&record); }
  } closeOnExit{progress};

  const bool extracted = chosen->Extract(path, folder);
  const bool archiveFailed = !extracted || g_ArchiveOutcome.failed;
  if (g_RunOptions.json) {
    JsonEndArchive(mode == RunMode::kTest ? (archiveFailed ? "FAILED" : "OK") : nullptr);
  } else if (mode == RunMode::kList) {
    PrintListingTotal();
  } else if (mode == RunMode::kTest) {
    PrintTestSummary(shown, archiveFailed);
  }
  if (!extracted || g_ArchiveOutcome.failed) {
    ++g_ResultCounters.failed;
  } else if (g_bOpenDir && mode == RunMode::kExtract) {
    if (WCHAR* wideFolder = ToWide(folder)) {
      PROCESS_INFORMATION info;
      if (CreateProcessW(u"fexplore.exe", wideFolder, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         nullptr, &info)) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
      }
      LocalFree(wideFolder);
    }
  }
}
