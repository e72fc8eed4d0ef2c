#include "shell/standard_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/prompt.h"

const char kStandardInputPath[] = "\\dev\\stdin";
const char kStandardInputName[] = "stdin";

namespace {

// An anonymous file in $TMPDIR (else /tmp): O_TMPFILE where the file
// system has it, else a named one that is unlinked at once. -1 on failure
// (errno set).
int AnonymousFile() {
  const char* folder = getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  int fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string pattern = std::string(folder) + "/.dorvane-stdin-XXXXXX";
  fd = mkostemp(&pattern[0], O_CLOEXEC);
  if (fd >= 0) unlink(pattern.c_str());
  return fd;
}

bool CopyAll(int from, int to, std::string* error) {
  static char buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = std::string("standard input cannot be read: ") + strerror(errno);
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        *error = std::string("standard input cannot be kept in a temporary file: ") + strerror(errno);
        return false;
      }
      done += put;
    }
  }
}

}  // namespace

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
  const int spool = AnonymousFile();
  if (spool < 0) {
    *error = std::string("no temporary file for standard input: ") + strerror(errno);
    return false;
  }
  const bool copied = CopyAll(STDIN_FILENO, spool, error);
  // dup2 leaves descriptor 0 without close-on-exec.
  const bool placed = copied && dup2(spool, STDIN_FILENO) == STDIN_FILENO;
  if (copied && !placed) *error = std::string("standard input cannot be replaced: ") + strerror(errno);
  close(spool);
  return placed;
}
