#include "core/progress.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/charset.h"
#include "core/messages.h"
#include "core/output.h"
#include "platform/window.h"

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
// The status line stands on the terminal now; read by the interrupt handler.
std::atomic<bool> g_lineDrawn{false};

// Text cut to at most `cells` terminal cells, at a whole UTF-8 character.
void FitCells(char* text, int cells) {
  int used = 0;
  for (size_t i = 0; text[i] != '\0';) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    size_t k = 1;
    for (; k < length && text[i + k] != '\0'; ++k) c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    used += TerminalCharWidth(c);
    if (used > cells) {
      text[i] = '\0';
      return;
    }
    i += k;
  }
}

// One status line on standard error while an archive is extracted, when
// standard error is a terminal: the archive, how far it has been read, and
// the member being written. Nothing otherwise.
class StatusLineView : public ProgressView {
 public:
  void Show(const ProgressRecord& record) override {
    std::lock_guard<std::mutex> lock(g_lineLock);
    active_ = !g_quiet && isatty(STDERR_FILENO) != 0 && !g_lineSuspended;
    figures_ = ProgressFigures();
    if (active_) Draw(record);
  }
  void Pump(const ProgressRecord& record) override {
    MeasureProgress(record, &figures_);
    std::lock_guard<std::mutex> lock(g_lineLock);
    if (active_ && !g_lineSuspended) Draw(record);
  }
  void Hide(const ProgressRecord&) override {
    std::lock_guard<std::mutex> lock(g_lineLock);
    if (!active_ || g_lineSuspended) return;
    fputs("\r\033[K", stderr);
    fflush(stderr);
    g_lineDrawn = false;
  }

 private:
  // Redrawn whole and cut to the terminal's width, so the line never wraps
  // and "\r" always returns to its start.
  void Draw(const ProgressRecord& record) {
    char name[900], figures[100], member[900], line[2000];
    ToUtf8(record.FileName, name, sizeof name);
    FormatProgressFigures(figures_, figures, sizeof figures);
    CurrentProgressMemberUtf8(member, sizeof member);
    char format[sizeof record.Format + 4] = "";
    if (record.Format[0] != '\0') snprintf(format, sizeof format, " (%s)", record.Format);
    snprintf(line, sizeof line, "%s%s%s%s%s%s", name, format, figures[0] ? "  " : "", figures,
             member[0] ? "  " : "", member);
    winsize size{};
    const int columns = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    FitCells(line, columns - 1);
    fprintf(stderr, "\r%s\033[K", line);
    fflush(stderr);
    g_lineDrawn = true;
  }

  bool active_ = false;
  ProgressFigures figures_;
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
    g_wake.wait_for(lock, std::chrono::milliseconds(100), [&] { return record->Done.load(); });
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

void ClearStatusLineForSignal() {
  static const char kClear[] = "\r\033[K";
  if (!g_lineDrawn.load()) return;
  ssize_t ignored = write(STDERR_FILENO, kClear, sizeof kClear - 1);
  (void)ignored;
}

StatusLineGap::StatusLineGap() {
  g_lineLock.lock();
  if (g_lineDrawn && !g_lineSuspended) {
    fputs("\r\033[K", stderr);
    fflush(stderr);
  }
  g_lineDrawn = false;
}

StatusLineGap::~StatusLineGap() {
  fflush(stdout);
  g_lineLock.unlock();
}

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

void CurrentProgressMemberUtf8(char* out, size_t size) {
  // Escaped here, at a redraw, rather than for every member set.
  char narrow[300], shown[300];  // the status line is cut to the terminal anyway
  CurrentProgressMember(narrow, sizeof narrow);
  DisplayName(shown, sizeof shown, narrow);
  ToUtf8(shown, out, size);
}

void SetProgressArchive(ProgressRecord* record, const char* path) {
  SetProgressMember("");
  record->Started = std::chrono::steady_clock::now();
  record->HaveArchive = false;
  char host[kPathBufferSize * 4];
  struct stat st;
  // A pipe has no size to show progress against.
  if (!HostPath(path, host, sizeof host) || stat(host, &st) != 0 || !S_ISREG(st.st_mode)) return;
  record->HaveArchive = true;
  record->ArchiveDevice = static_cast<uint64_t>(st.st_dev);
  record->ArchiveInode = static_cast<uint64_t>(st.st_ino);
  record->ArchiveSize = static_cast<uint64_t>(st.st_size);
}

namespace {

// The furthest read position among this process's descriptors open on the
// file; false when none is open on it.
bool ReadPosition(uint64_t device, uint64_t inode, uint64_t* position) {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return false;
  bool found = false;
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    struct stat st;
    if (fstatat(dirfd(folder), entry->d_name, &st, 0) != 0) continue;
    if (static_cast<uint64_t>(st.st_dev) != device || static_cast<uint64_t>(st.st_ino) != inode) continue;
    char infoPath[300];
    snprintf(infoPath, sizeof infoPath, "/proc/self/fdinfo/%s", entry->d_name);
    FILE* info = fopen(infoPath, "re");
    if (info == nullptr) continue;
    uint64_t pos = 0;
    if (fscanf(info, "pos: %" SCNu64, &pos) == 1) {
      *position = found ? std::max(*position, pos) : pos;
      found = true;
    }
    fclose(info);
  }
  closedir(folder);
  return found;
}

}  // namespace

int ProgressFigures::Percent() const {
  if (size == 0) return 0;
  return static_cast<int>(std::min<uint64_t>(position, size) * 100 / size);
}

void MeasureProgress(const ProgressRecord& record, ProgressFigures* figures) {
  if (!record.HaveArchive) return;
  figures->size = record.ArchiveSize;
  uint64_t position = 0;
  if (ReadPosition(record.ArchiveDevice, record.ArchiveInode, &position)) {
    figures->position = std::min(position, record.ArchiveSize);
    figures->known = true;
  }
  if (!figures->known) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - record.Started).count();
  // The first moments say too little about the speed.
  if (seconds < 0.25 || figures->position == 0) return;
  figures->bytesPerSecond = static_cast<double>(figures->position) / seconds;
  figures->secondsLeft = static_cast<double>(figures->size - figures->position) / figures->bytesPerSecond;
}

void FormatProgressFigures(const ProgressFigures& figures, char* out, size_t size) {
  out[0] = '\0';
  if (!figures.known || size == 0) return;
  int used = snprintf(out, size, "%d%%", figures.Percent());
  if (figures.bytesPerSecond <= 0 || used < 0 || static_cast<size_t>(used) >= size) return;
  static const char* const kUnits[] = {"B/s", "kB/s", "MB/s", "GB/s"};
  double rate = figures.bytesPerSecond;
  int unit = 0;
  while (rate >= 1000 && unit < 3) {
    rate /= 1000;
    ++unit;
  }
  const long left = static_cast<long>(figures.secondsLeft + 0.5);
  char time[32];
  if (left >= 3600) {
    snprintf(time, sizeof time, "%ld:%02ld:%02ld", left / 3600, left / 60 % 60, left % 60);
  } else {
    snprintf(time, sizeof time, "%ld:%02ld", left / 60, left % 60);
  }
  snprintf(out + used, size - static_cast<size_t>(used), rate < 10 ? "  %.1f %s  %s left" : "  %.0f %s  %s left",
           rate, kUnits[unit], time);
}

void FormatProgressBar(const ProgressFigures& figures, int cells, char* out, size_t size) {
  out[0] = '\0';
  const int done = figures.known ? figures.Percent() * cells / 100 : 0;
  size_t used = 0;
  for (int i = 0; i < cells; ++i) {
    const char* piece = i < done ? "\xE2\x96\x88" : "\xE2\x96\x91";  // U+2588, U+2591
    if (used + 4 > size) break;
    memcpy(out + used, piece, 3);
    used += 3;
  }
  out[used] = '\0';
}
