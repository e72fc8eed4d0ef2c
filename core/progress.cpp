#include "core/progress.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "core/charset.h"

namespace {

// Narrow text as UTF-8 for the terminal.
void ToUtf8(const char* narrow, char* out, size_t size) {
  WCHAR wide[300];
  out[0] = '\0';
  if (!NarrowToWide(narrow, wide, 300)) return;
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, static_cast<int>(size), nullptr, nullptr) == 0)
    out[0] = '\0';
}

// Guards the terminal line between the progress thread and a prompt.
std::mutex g_lineLock;
bool g_lineSuspended = false;
bool g_quiet = false;

// One status line on standard error while an archive is extracted, when
// standard error is a terminal; nothing otherwise.
class StatusLineView : public ProgressView {
 public:
  void Show(const ProgressRecord& record) override {
    std::lock_guard<std::mutex> lock(g_lineLock);
    active_ = !g_quiet && isatty(STDERR_FILENO) != 0 && !g_lineSuspended;
    if (!active_) return;
    char title[900], name[900];
    ToUtf8(record.Title, title, sizeof title);
    ToUtf8(record.FileName, name, sizeof name);
    fprintf(stderr, "\r%s  %s\033[K", title, name);
    fflush(stderr);
  }
  void Pump(const ProgressRecord&) override {}
  void Hide(const ProgressRecord&) override {
    std::lock_guard<std::mutex> lock(g_lineLock);
    if (!active_ || g_lineSuspended) return;
    fputs("\r\033[K", stderr);
    fflush(stderr);
  }

 private:
  bool active_ = false;
};

StatusLineView g_statusLine;
ProgressView* g_view = &g_statusLine;

// Wakes the progress thread as soon as it is told to end, so closing the
// window does not wait for a polling period.
std::mutex g_wakeLock;
std::condition_variable g_wake;

// The record whose thread runs now, if any: ProcessArchive opens one around
// each Extract call.
std::atomic<ProgressRecord*> g_open{nullptr};
thread_local bool t_onProgressThread = false;

// A fatal error ends the program with exit(1) from inside an extraction,
// while the progress thread runs. exit() destroys this file's statics and
// the views, which the thread waits on and calls, so the window is closed
// first: registered after all of them were made, this runs before any is
// destroyed. (On the progress thread itself it cannot wait for its own end.)
void CloseAtExit() {
  ProgressRecord* record = g_open.load();
  if (record != nullptr && !t_onProgressThread) CloseProgress(record);
}

DWORD ProgressThread(void* parameter) {
  t_onProgressThread = true;
  auto* record = static_cast<ProgressRecord*>(parameter);
  ProgressView* view = g_view;
  view->Show(*record);
  while (!record->Done.load()) {
    view->Pump(*record);
    std::unique_lock<std::mutex> lock(g_wakeLock);
    g_wake.wait_for(lock, std::chrono::milliseconds(50), [&] { return record->Done.load(); });
  }
  view->Hide(*record);
  return 0;
}

}  // namespace

void SuspendStatusLine(bool suspended) {
  std::lock_guard<std::mutex> lock(g_lineLock);
  g_lineSuspended = suspended;
}

void SetProgressQuiet(bool quiet) { g_quiet = quiet; }

void SetProgressView(ProgressView* view) { g_view = view != nullptr ? view : &g_statusLine; }

void OpenProgress(ProgressRecord* record) {
  record->Done = false;
  record->Thread = CreateThread(nullptr, 0, ProgressThread, record, CREATE_SUSPENDED, nullptr);
  if (record->Thread == nullptr) {
    record->Done = true;
    return;
  }
  static const bool closesAtExit = atexit(CloseAtExit) == 0;
  (void)closesAtExit;
  g_open = record;
  SetThreadPriority(record->Thread, THREAD_PRIORITY_IDLE);
  ResumeThread(record->Thread);
}

void CloseProgress(ProgressRecord* record) {
  if (record->Done.load()) return;
  {
    std::lock_guard<std::mutex> lock(g_wakeLock);
    record->Done = true;
  }
  g_wake.notify_all();
  // Poll for the thread's end; it ends right after it sees Done, so a short
  // period keeps every extraction from paying a long sleep.
  DWORD code = STILL_ACTIVE;
  while (GetExitCodeThread(record->Thread, &code) && code == STILL_ACTIVE) Sleep(1);
  CloseHandle(record->Thread);
  record->Thread = nullptr;
  g_open.compare_exchange_strong(record, nullptr);
}

namespace {
std::mutex g_memberLock;
char g_member[300];
}  // namespace

void SetProgressMember(const char* name) {
  std::lock_guard<std::mutex> lock(g_memberLock);
  snprintf(g_member, sizeof g_member, "%s", name);
}

void CurrentProgressMember(char* out, size_t size) {
  if (size == 0) return;
  std::lock_guard<std::mutex> lock(g_memberLock);
  snprintf(out, size, "%s", g_member);
}
