#include "core/interrupt.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "core/progress.h"
#include "platform/output_file.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<bool> g_ending{false};
// The thread that installed the handlers, the one that writes members: the
// handler runs there, so no member of it is put in place while the
// program ends.
std::atomic<long> g_mainThread{0};
std::atomic<int> g_promptFd{-1};
termios g_promptModes;

void Say(const char* text, size_t length) {
  ssize_t ignored = write(STDERR_FILENO, text, length);
  (void)ignored;
}

// Async-signal-safe calls only.
void OnInterrupt(int sig) {
  // Delivered to another thread (a worker, a library's thread), the signal
  // goes on to the main thread: meanwhile that thread could finish the
  // member in progress and put it under its name.
  const long main = g_mainThread.load();
  if (main != 0 && syscall(SYS_gettid) != main) {
    syscall(SYS_tgkill, getpid(), main, sig);
    return;
  }
  // A second signal, on another thread, waits for the first to end the
  // program.
  if (g_ending.exchange(true)) {
    for (;;) pause();
  }
  AbandonOutputTemporaries();
  const int promptFd = g_promptFd.load();
  if (promptFd >= 0) {
    tcsetattr(promptFd, TCSANOW, &g_promptModes);
    Say("\n", 1);  // the prompt's line was not ended
  }
  ClearStatusLineForSignal();
  static const char kText[] = "dorvane: interrupted\n";
  Say(kText, sizeof kText - 1);
  // Ends by the signal itself: raised while blocked in this handler, it is
  // delivered with the default action as soon as it is unblocked.
  signal(sig, SIG_DFL);
  raise(sig);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  _exit(128 + sig);  // not reached
}

}  // namespace

void InstallInterruptHandlers() {
  g_mainThread.store(syscall(SYS_gettid));
  for (int sig : kSignals) {
    struct sigaction previous;
    if (sigaction(sig, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int other : kSignals) sigaddset(&action.sa_mask, other);
    sigaction(sig, &action, nullptr);
  }
}

void SetTerminalModesToRestore(int fd, const termios* modes) {
  g_promptFd.store(-1);
  if (fd < 0 || modes == nullptr) return;
  g_promptModes = *modes;
  g_promptFd.store(fd);
}
