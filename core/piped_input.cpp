#include "core/piped_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/handler.h"

const char kStandardInputPath[] = "\\dev\\stdin";
const char kStandardInputName[] = "stdin";

namespace {

// What the probes may read and have kept at most. A probe reads a block or
// two of its format (a bzip2 block is under 1 MiB compressed); a hostile
// input that drives one further is read on unkept, and only the reader that
// is where descriptor 0 is can go on past the kept bytes.
constexpr size_t kKeepLimit = size_t{32} << 20;

struct PipedInput {
  bool active = false;
  bool keeping = false;
  bool ended = false;     // descriptor 0 gave its end
  std::vector<uint8_t> kept;  // input bytes [0, kept.size())
  uint64_t consumed = 0;  // bytes read from descriptor 0
};
PipedInput g_input;

// One stream's place in the input.
struct Reader {
  uint64_t position = 0;
};

// Reads the next bytes of descriptor 0 into `buffer`, keeping them while
// keeping is on and they fit. 0 at the end, -1 on a read error (errno).
ssize_t ReadOn(char* buffer, size_t size) {
  PipedInput& in = g_input;
  if (in.ended) return 0;
  ssize_t got;
  do {
    got = read(STDIN_FILENO, buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    if (got == 0) in.ended = true;
    return got;
  }
  if (in.keeping && in.consumed == in.kept.size() && in.kept.size() + static_cast<size_t>(got) <= kKeepLimit) {
    in.kept.insert(in.kept.end(), buffer, buffer + got);
  } else {
    in.keeping = false;
  }
  in.consumed += static_cast<uint64_t>(got);
  return got;
}

ssize_t ReadPiped(void* cookie, char* buffer, size_t size) {
  Reader* reader = static_cast<Reader*>(cookie);
  PipedInput& in = g_input;
  if (reader->position < in.kept.size()) {
    const size_t n = std::min(size, static_cast<size_t>(in.kept.size() - reader->position));
    memcpy(buffer, in.kept.data() + reader->position, n);
    reader->position += n;
    return static_cast<ssize_t>(n);
  }
  // Bytes read from descriptor 0 but not kept are gone.
  if (reader->position < in.consumed) {
    errno = ESPIPE;
    return -1;
  }
  // A stream that sought forward reads its way there.
  while (reader->position > in.consumed) {
    char skipped[1 << 14];
    const uint64_t gap = reader->position - in.consumed;
    const ssize_t got = ReadOn(skipped, gap < sizeof skipped ? static_cast<size_t>(gap) : sizeof skipped);
    if (got <= 0) return got;
  }
  const ssize_t got = ReadOn(buffer, size);
  if (got > 0) reader->position += static_cast<uint64_t>(got);
  return got;
}

int SeekPiped(void* cookie, off64_t* offset, int whence) {
  Reader* reader = static_cast<Reader*>(cookie);
  int64_t base;
  if (whence == SEEK_SET) {
    base = 0;
  } else if (whence == SEEK_CUR) {
    base = static_cast<int64_t>(reader->position);
  } else if (whence == SEEK_END && g_input.ended) {
    base = static_cast<int64_t>(g_input.consumed);
  } else {
    errno = ESPIPE;  // the end is not known before it is read
    return -1;
  }
  if (*offset < -base || *offset > INT64_MAX - base) {
    errno = EINVAL;
    return -1;
  }
  *offset += base;
  reader->position = static_cast<uint64_t>(*offset);
  return 0;
}

int ClosePiped(void* cookie) {
  delete static_cast<Reader*>(cookie);
  return 0;
}

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

bool WriteAll(int to, const char* data, size_t size, std::string* error) {
  for (size_t done = 0; done < size;) {
    const ssize_t put = write(to, data + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      *error = std::string("standard input cannot be kept in a temporary file: ") + strerror(errno);
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

bool BeginPipedInput(std::string* error) {
  PipedInput& in = g_input;
  in = PipedInput();
  in.keeping = true;
  // ReadOn keeps what it reads; the piece only passes it on.
  char piece[1 << 16];
  while (in.kept.size() < kReadAheadSize) {
    const ssize_t got = ReadOn(piece, std::min(sizeof piece, kReadAheadSize - in.kept.size()));
    if (got == 0) break;
    if (got < 0) {
      *error = std::string("standard input cannot be read: ") + strerror(errno);
      return false;
    }
  }
  in.active = true;
  return true;
}

bool PipedInputActive() { return g_input.active; }

bool PipedInputWhole() { return g_input.active && g_input.ended && g_input.consumed == g_input.kept.size(); }

FILE* OpenPipedInput() {
  if (!g_input.active) return nullptr;
  Reader* reader = new (std::nothrow) Reader;
  if (reader == nullptr) return nullptr;
  FILE* stream = fopencookie(reader, "rb", cookie_io_functions_t{ReadPiped, nullptr, SeekPiped, ClosePiped});
  if (stream == nullptr) {
    delete reader;
    return nullptr;
  }
  // A pipe holds 64 KiB: reads of that size take what it has at once.
  setvbuf(stream, nullptr, _IOFBF, 64 * 1024);
  return stream;
}

void StopKeepingPipedInput() { g_input.keeping = false; }

bool SpoolPipedInput(std::string* error) {
  PipedInput& in = g_input;
  if (in.consumed != in.kept.size()) {
    *error = "standard input was read too far to be kept; it cannot be read again";
    return false;
  }
  const int spool = AnonymousFile();
  if (spool < 0) {
    *error = std::string("no temporary file for standard input: ") + strerror(errno);
    return false;
  }
  bool copied = WriteAll(spool, reinterpret_cast<const char*>(in.kept.data()), in.kept.size(), error);
  in.keeping = false;
  std::vector<char> buffer(1 << 16);
  while (copied) {
    const ssize_t got = ReadOn(buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      *error = std::string("standard input cannot be read: ") + strerror(errno);
      copied = false;
    } else {
      copied = WriteAll(spool, buffer.data(), static_cast<size_t>(got), error);
    }
  }
  // dup2 leaves descriptor 0 without close-on-exec.
  const bool placed = copied && dup2(spool, STDIN_FILENO) == STDIN_FILENO;
  if (copied && !placed) *error = std::string("standard input cannot be replaced: ") + strerror(errno);
  close(spool);
  in = PipedInput();
  return placed;
}
