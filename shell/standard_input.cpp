#include "shell/standard_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/prompt.h"

bool TakeStandardInput(std::string* error) {
  if (isatty(STDIN_FILENO)) {
    *error = "standard input is a terminal, not an archive";
    return false;
  }
  // Whatever happens next, standard input no longer answers a password
  // prompt.
  SetStandardInputTaken(true);
  struct stat st;
  if (fstat(STDIN_FILENO, &st) != 0) {
    *error = std::string("standard input cannot be read: ") + strerror(errno);
    return false;
  }
  // A regular file read from its start is the archive as it stands.
  if (S_ISREG(st.st_mode) && lseek(STDIN_FILENO, 0, SEEK_CUR) == 0) return true;
  return BeginPipedInput(error);
}
