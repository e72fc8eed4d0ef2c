// The progress window shown on a second thread around one Extract call.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/windows.h"

struct ProgressRecord {
  char FileName[300];  // the archive's name without its folder
  char Title[300];     // "Dorvane: " + the handler's display name
  std::atomic<bool> Done{true};  // no thread running, or told to end
  HANDLE Thread = nullptr;
};

// Shows the window (clears Done, starts the idle-priority thread); on a
// failed thread creation sets Done again and shows nothing. A window still
// open when the program ends with exit() is closed before anything the
// thread uses is destroyed.
void OpenProgress(ProgressRecord* record);
// Sets Done, wakes the thread and waits (checking every millisecond) until
// it has ended; nothing when no window is open.
void CloseProgress(ProgressRecord* record);

// What the progress thread draws. The default is one status line on
// standard error when it is a terminal, and nothing otherwise; the terminal
// dialogs install their own window.
struct ProgressView {
  virtual ~ProgressView() = default;
  virtual void Show(const ProgressRecord& record) = 0;  // on the progress thread
  virtual void Pump(const ProgressRecord& record) = 0;  // one pass of the loop
  virtual void Hide(const ProgressRecord& record) = 0;
};
void SetProgressView(ProgressView* view);  // null restores the default
// Quiet (the command line's -q): the default status line shows nothing.
void SetProgressQuiet(bool quiet);

// While suspended, the default status line is neither drawn nor cleared, so
// a prompt on the terminal's last line is not written over by the progress
// thread. The prompt clears the line itself before it asks.
void SuspendStatusLine(bool suspended);

// The member being written, for the progress display; any thread may ask.
void SetProgressMember(const char* name);
void CurrentProgressMember(char* out, size_t size);
