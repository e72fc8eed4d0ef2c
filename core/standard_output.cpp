#include "core/standard_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/messages.h"
#include "core/output.h"

namespace {
unsigned g_members = 0;
bool g_refused = false;
}  // namespace

bool StandardOutputTakes(const char* name) {
  if (g_refused) return false;
  if (g_members > 0 && isatty(STDOUT_FILENO)) {
    char shown[kOutputPathSize * 4], line[kOutputPathSize * 4 + 200];
    DisplayName(shown, sizeof shown, name);
    FormatMessageText(line, sizeof line,
                      "dorvane: standard output is a terminal: %s would be a second member on it; redirect it "
                      "or choose one member with -i",
                      shown);
    ShowMessage(line);
    g_refused = true;
    return false;
  }
  ++g_members;
  return true;
}

bool StandardOutputRefused() { return g_refused; }

bool WriteStandardOutput(const void* data, size_t size, int* error) {
  if (fwrite(data, 1, size, stdout) == size) return true;
  *error = errno != 0 ? errno : EIO;
  return false;
}

bool FlushStandardOutput(int* error) {
  if (fflush(stdout) == 0) return true;
  *error = errno != 0 ? errno : EIO;
  return false;
}
