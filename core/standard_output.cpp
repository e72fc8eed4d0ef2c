#include "core/standard_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/messages.h"
#include "core/output.h"

namespace {
unsigned g_members = 0;
bool g_refused = false;
int g_terminal = -1;       // standard output is a terminal: 1 yes, 0 no, -1 not asked yet
FILE* g_held = nullptr;    // a terminal's member, held until the run shows it is the only one

bool Terminal() {
  if (g_terminal < 0) g_terminal = isatty(STDOUT_FILENO) ? 1 : 0;
  return g_terminal == 1;
}

void DropHeld() {
  if (g_held != nullptr) fclose(g_held);
  g_held = nullptr;
}
}  // namespace

bool StandardOutputTakes(const char* name) {
  if (g_refused) return false;
  if (g_members > 0 && Terminal()) {
    char shown[kOutputPathSize * 4], line[kOutputPathSize * 4 + 200];
    DisplayName(shown, sizeof shown, name);
    FormatMessageText(line, sizeof line,
                      "dorvane: standard output is a terminal: %s would be a second member on it; nothing is "
                      "written: redirect it or choose one member with -i",
                      shown);
    ShowMessage(line);
    g_refused = true;
    DropHeld();
    return false;
  }
  ++g_members;
  return true;
}

bool StandardOutputRefused() { return g_refused; }

bool WriteStandardOutput(const void* data, size_t size, int* error) {
  FILE* to = stdout;
  if (Terminal()) {
    // Held (an anonymous temporary file) until the run ends.
    if (g_held == nullptr) g_held = tmpfile();
    to = g_held;
    if (to == nullptr) {
      *error = errno != 0 ? errno : EIO;
      return false;
    }
  }
  if (fwrite(data, 1, size, to) == size) return true;
  *error = errno != 0 ? errno : EIO;
  return false;
}

bool FlushStandardOutput(int* error) {
  FILE* to = Terminal() ? g_held : stdout;
  if (to == nullptr || fflush(to) == 0) return true;
  *error = errno != 0 ? errno : EIO;
  return false;
}

void FinishStandardOutput() {
  if (g_held != nullptr && !g_refused) {
    rewind(g_held);
    char buffer[64 * 1024];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, g_held)) > 0;) {
      if (fwrite(buffer, 1, n, stdout) != n) break;
    }
    fflush(stdout);
  }
  DropHeld();
}
