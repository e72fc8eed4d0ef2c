#include "core/prompt.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/interrupt.h"
#include "core/messages.h"
#include "core/output.h"
#include "core/progress.h"
#include "platform/windows.h"

namespace {

// Reads one line of standard input into `out` (without its line end).
void ReadLine(char* out, unsigned size) {
  unsigned used = 0;
  for (;;) {
    const int c = getchar();
    if (c == EOF || c == '\n') break;
    if (c == '\r') continue;
    if (used + 1 < size) out[used++] = static_cast<char>(c);
  }
  out[used] = '\0';
}

bool g_inputTaken = false;

// The command-line prompt: on a terminal the typed text is not echoed.
void TerminalReader(const PasswordQuestion& question, char* utf8, unsigned size) {
  if (g_inputTaken) {
    utf8[0] = '\0';  // standard input holds an archive, not an answer
  } else if (isatty(STDIN_FILENO)) {
    // Start on a clean line (the progress status line may stand there) and
    // keep the progress thread off it while the user types.
    SuspendStatusLine(true);
    fprintf(stderr, "%s%s%s ", isatty(STDERR_FILENO) ? "\r\033[K" : "",
            question.wrongTry ? "Wrong password.\n" : "", question.prompt);
    fflush(stderr);
    termios saved;
    const bool haveTerm = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (haveTerm) {
      termios quiet = saved;
      quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
      quiet.c_lflag |= ECHONL;
      // Ctrl-C while the echo is off gives the echo back (core/interrupt.h).
      SetTerminalModesToRestore(STDIN_FILENO, &saved);
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ReadLine(utf8, size);
    if (haveTerm) {
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
      SetTerminalModesToRestore(-1, nullptr);
    }
    SuspendStatusLine(false);
  } else {
    ReadLine(utf8, size);
  }
}

PasswordReader g_reader = TerminalReader;
char g_given[1024];
bool g_haveGiven = false;

}  // namespace

void SetStandardInputTaken(bool taken) { g_inputTaken = taken; }

void SetPasswordReader(PasswordReader reader) { g_reader = reader != nullptr ? reader : TerminalReader; }

void SetGivenPassword(const char* utf8) {
  g_haveGiven = utf8 != nullptr;
  snprintf(g_given, sizeof g_given, "%s", utf8 != nullptr ? utf8 : "");
}

namespace {

// Program text as UTF-8 for the asker, escaped as names are shown.
std::string ShownUtf8(const char* narrow) {
  char shown[kPathBufferSize * 4];
  DisplayName(shown, sizeof shown, narrow);
  std::string utf8;
  if (WCHAR* wide = ToWide(shown)) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
      utf8.resize(static_cast<size_t>(n));
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], n, nullptr, nullptr);
      utf8.resize(static_cast<size_t>(n - 1));
    }
    LocalFree(wide);
  }
  return utf8;
}

}  // namespace

char* PasswordPrompt(char** slot, const char* member, const char* archive, bool wrongTry) {
  if (*slot != nullptr) {
    LocalFree(*slot);
    *slot = nullptr;
  }
  char utf8[1024];
  utf8[0] = '\0';
  if (g_haveGiven) {
    snprintf(utf8, sizeof utf8, "%s", g_given);
  } else {
    const std::string prompt = "Password for " + ShownUtf8(member) + " in " + ShownUtf8(archive) + ":";
    g_reader(PasswordQuestion{prompt.c_str(), wrongTry}, utf8, sizeof utf8);
  }
  // Typed text reaches the handler as narrow text in the active code page.
  char* answer = nullptr;
  WCHAR wide[1024];
  if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 1024) > 0) answer = ToNarrow(wide);
  if (answer == nullptr) answer = static_cast<char*>(LocalAlloc(LPTR, 1));
  *slot = answer;
  return answer;
}
