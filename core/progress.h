// The progress window shown on a second thread around one Extract call.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/windows.h"

struct ProgressRecord {
  char FileName[300];  // the archive's name without its folder
  char Title[300];     // "Dorvane: " + the handler's display name
  char Format[32] = "";  // the format's everyday name on the status line ("tar.gz"), or empty
  std::atomic<bool> Done{true};  // no thread running, or told to end
  HANDLE Thread = nullptr;
  // The archive the figures measure (see SetProgressArchive).
  bool HaveArchive = false;
  uint64_t ArchiveDevice = 0, ArchiveInode = 0, ArchiveSize = 0;
  std::chrono::steady_clock::time_point Started{};
};

// Names the archive (a narrow program path) whose reading the figures
// measure, starts their clock and forgets the last archive's member.
void SetProgressArchive(ProgressRecord* record, const char* path);

// How far the archive has been read, measured from outside the readers:
// the read position of this process's file descriptors open on the archive
// (/proc/self/fdinfo), so no reader has to report anything.
struct ProgressFigures {
  bool known = false;       // a position has been seen
  uint64_t position = 0;    // bytes of the archive read
  uint64_t size = 0;
  double bytesPerSecond = 0;
  double secondsLeft = -1;  // < 0: not known yet
  int Percent() const;
};
// Measures now. A moment with no descriptor open on the archive keeps the
// last position.
void MeasureProgress(const ProgressRecord& record, ProgressFigures* figures);
// "42%  3.1 MB/s  0:12 left" (parts not known yet are left out; empty
// text while nothing is known).
void FormatProgressFigures(const ProgressFigures& figures, char* out, size_t size);
// A bar of `cells` cells ("█" read, "░" to go) as UTF-8.
void FormatProgressBar(const ProgressFigures& figures, int cells, char* out, size_t size);
// The member being written as UTF-8 for the screen, as DisplayName shows
// it ("/" between folders, control characters escaped).
void CurrentProgressMemberUtf8(char* out, size_t size);

// Shows the window (clears Done, starts the idle-priority thread); on a
// failed thread creation sets Done again and shows nothing. A window still
// open when the program ends with exit() is closed before anything the
// thread uses is destroyed.
void OpenProgress(ProgressRecord* record);
// Sets Done, wakes the thread and waits (checking every millisecond) until
// it has ended; nothing when no window is open.
void CloseProgress(ProgressRecord* record);

// What the progress thread draws, about ten times a second. The default is
// one status line on standard error when it is a terminal (archive, figures,
// member), and nothing otherwise; the terminal dialogs install their own
// window.
struct ProgressView {
  virtual ~ProgressView() = default;
  virtual void Show(const ProgressRecord& record) = 0;  // on the progress thread
  virtual void Pump(const ProgressRecord& record) = 0;  // one pass of the loop
  virtual void Hide(const ProgressRecord& record) = 0;
};
void SetProgressView(ProgressView* view);  // null restores the default
// Quiet (the command line's -q): the default status line shows nothing.
void SetProgressQuiet(bool quiet);

// Output to the terminal while an archive is handled (listing lines,
// member names, notices) is written inside one of these: it clears the
// status line and keeps the progress thread off the terminal until it goes
// away (flushing standard output); the line is drawn again at its next
// redraw. Without a status line it does nothing.
class StatusLineGap {
 public:
  StatusLineGap();
  ~StatusLineGap();
  StatusLineGap(const StatusLineGap&) = delete;
  StatusLineGap& operator=(const StatusLineGap&) = delete;
};

// While suspended, the default status line is neither drawn nor cleared, so
// a prompt on the terminal's last line is not written over by the progress
// thread. The prompt clears the line itself before it asks.
void SuspendStatusLine(bool suspended);

// Clears the status line when it stands on the terminal; async-signal-safe,
// for the interrupt handler.
void ClearStatusLineForSignal();

// The member being written, for the progress display; any thread may ask.
void SetProgressMember(const char* name);
void CurrentProgressMember(char* out, size_t size);
