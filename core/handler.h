// The format-handler interface, the handler registry and the per-file
// procedure that picks a handler and runs it.
#pragma once

#include <cstddef>
#include <cstdint>

// The two fixed endings of display names: a blank and the two Shift-JIS
// characters for "extract" or for "decompress".
#define EXTRACT_SUFFIX " \x93\x57\x8A\x4A"
#define DECOMPRESS_SUFFIX " \x89\xF0\x93\x80"

// One block of 1 MiB, allocated once at start-up. ProcessArchive fills its
// beginning with the first bytes of the examined file; from Extract on, the
// handler may use it as its work buffer.
constexpr size_t kReadAheadSize = 0x100000;
extern uint8_t* g_ReadAheadBuffer;

// Outcome counters, never reset while the program runs.
struct ResultCounters {
  int32_t notAFile = 0;
  int32_t unsupported = 0;
  int32_t failed = 0;
  bool AnyNonZero() const { return notAFile != 0 || unsupported != 0 || failed != 0; }
};
extern ResultCounters g_ResultCounters;

// Every format the program reads is one FormatHandler. Handlers are chained
// into the registry through `next`; deleting the head deletes the list.
class FormatHandler {
 public:
  explicit FormatHandler(const char* displayName) : displayName(displayName) {}
  FormatHandler(const FormatHandler&) = delete;
  FormatHandler& operator=(const FormatHandler&) = delete;

  // Slot 0: true when this handler claims files with this extension (the
  // text after the last dot, without it). The base claims nothing.
  virtual bool MatchesExtension(const char* extension);
  // Slot 1: true when the file's content is this handler's format. The
  // ReadAheadBuffer holds the first min(fileSize, 1 MiB) bytes.
  virtual bool Probe(const char* path, int32_t fileSize) = 0;
  // Slot 2: extracts the archive into the output folder (no trailing "\");
  // false counts as a failure.
  virtual bool Extract(const char* path, const char* outputFolder) = 0;
  // Slot 3: destroys the next handler first, then releases PasswordSlot.
  virtual ~FormatHandler();
  // A second look at a file that no handler claimed by its extension and
  // none took by content: true when the content alone shows this handler's
  // format, whatever the file is called (text encodings in mail and news
  // files). The base looks no further.
  virtual bool ProbeContent(const char* path, int32_t fileSize);

  const char* displayName;         // static text, never freed
  // The format's everyday name ("tar.gz", "zip", "uuencode"): what the
  // options form shows where the dialogs show displayName. Static text.
  const char* formatName = "";
  // Probe and Extract read the file once from its start, in order, and
  // never seek or look at its size: the handler can take piped input whose
  // end is not known.
  bool readsInOrder = false;
  FormatHandler* next = nullptr;   // owning
  char* PasswordSlot = nullptr;    // owning (LocalAlloc); see PasswordPrompt
};

// The head of the registry; set by the entry.
extern FormatHandler* g_HandlerRegistry;

// The run's copies of the MakeDir and OpenDir settings, read once at start-up.
extern bool g_bMakeDir;
extern bool g_bOpenDir;

// Appends a handler at the tail of the list headed by *head (a null handler,
// one whose allocation failed, is simply not linked in).
void AppendHandler(FormatHandler** head, FormatHandler* handler);

// Runs the whole procedure for one file (narrow path in the active code
// page); its outcome shows only in g_ResultCounters and the output folder.
// Notices name the archive as `shown` (screen text) when given, else by
// its path.
void ProcessArchive(const char* path, const char* shown = nullptr);

// Creates every level of the output folder; failures are ignored.
void MakeOutputFolder(char* folder);
