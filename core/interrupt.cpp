#include "core/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "core/progress.h"
#include "platform/output_file.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<bool> g_ending{false};
std::atomic<int> g_promptFd{-1};
termios g_promptModes;

void Say(const char* text, size_t length) {
  ssize_t ignored = write(STDERR_FILENO, text, length);
  (void)ignored;
}

// Async-signal-safe calls only.
void OnInterrupt(int sig) {
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
