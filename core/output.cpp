#include "core/output.h"

#include <cstring>

#include "core/charset.h"
#include "core/datetime.h"
#include "core/piped_input.h"

namespace {

// A narrow program path converted for one platform call. Paths longer than
// the buffer are refused (empty result) rather than cut.
class WidePath {
 public:
  explicit WidePath(const char* narrow) {
    ok_ = NarrowToWide(narrow, buffer_, kSize) != 0;
    if (!ok_) buffer_[0] = 0;
  }
  bool ok() const { return ok_; }
  const WCHAR* get() const { return buffer_; }

 private:
  static constexpr size_t kSize = 1024;
  WCHAR buffer_[kSize];
  bool ok_;
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsForbidden(char c) {
  return c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
}

// Bytes that must not reach a file name on their own: control bytes, and
// bytes that in the active code page are no character by themselves.
bool IsUnprintableByte(uint8_t b, UINT codePage) {
  if (b < 0x20 || b == 0x7F) return true;
  if (codePage == 932) return (b >= 0x80 && b <= 0x9F) || b >= 0xE0;
  if (codePage == 65001) return b >= 0x80;  // only whole sequences are kept
  return false;
}

}  // namespace

void NeutraliseDotDot(char* name) {
  char* componentStart = name;
  for (char* p = name;; p = CharNext(p)) {
    if (*p == '\0' || IsSeparator(*p)) {
      if (p - componentStart == 2 && componentStart[0] == '.' && componentStart[1] == '.') {
        componentStart[0] = '_';
        componentStart[1] = '_';
      }
      if (*p == '\0') break;
      componentStart = p + 1;
    }
  }
}

bool JoinOutputPath(char* out, size_t size, const char* folder, const char* name) {
  const size_t folderLen = strlen(folder);
  const size_t nameLen = strlen(name);
  const bool rooted = name[0] == '\\';
  const size_t total = folderLen + (rooted ? 0 : 1) + nameLen;
  if (size == 0 || total + 1 > size) {
    if (size != 0) out[0] = '\0';
    return false;
  }
  memmove(out, folder, folderLen);
  size_t pos = folderLen;
  if (!rooted) out[pos++] = '\\';
  memcpy(out + pos, name, nameLen);
  out[pos + nameLen] = '\0';
  NeutraliseDotDot(out + folderLen);
  return true;
}

bool SingleOutputName(char* out, const char* path, const char* suffix) {
  const char* base = BaseNameOf(path);
  const size_t baseLen = strlen(base);
  if (baseLen + 1 > kPathBufferSize) {
    out[0] = '\0';
    return false;
  }
  memcpy(out, base, baseLen + 1);
  if (suffix != nullptr) {
    const size_t suffixLen = strlen(suffix);
    if (baseLen + 1 + suffixLen + 1 > kPathBufferSize) {
      out[0] = '\0';
      return false;
    }
    out[baseLen] = '.';
    memcpy(out + baseLen + 1, suffix, suffixLen + 1);
  } else if (char* dot = const_cast<char*>(LastOccurrence(out, '.'))) {
    *dot = '\0';
  }
  return true;
}

namespace {

// Walks the path by whole characters: separators become "\" (and, when
// `makeFolders`, the folder ending there is created), forbidden characters
// and unprintable bytes become "_".
void WalkOutputPath(char* path, bool makeFolders) {
  const UINT codePage = GetACP();
  for (char* p = path; *p != '\0';) {
    const size_t len = CharLength(p);
    if (len > 1) {
      p += len;  // a whole multi-byte character stays as it is
      continue;
    }
    if (IsSeparator(*p)) {
      if (makeFolders) {
        *p = '\0';
        CreateFolder(path);
      }
      *p = '\\';
    } else if (IsForbidden(*p) || IsUnprintableByte(static_cast<uint8_t>(*p), codePage)) {
      *p = '_';
    }
    ++p;
  }
}

}  // namespace

char* PrepareOutputPath(char* path) {
  WalkOutputPath(path, true);
  return path;
}

void SanitiseOutputPath(char* path) { WalkOutputPath(path, false); }

bool CreateFolder(const char* path) {
  WidePath wide(path);
  return wide.ok() && CreateDirectoryW(wide.get(), nullptr) != FALSE;
}

void DeleteOutputFile(const char* path) {
  WidePath wide(path);
  if (wide.ok()) DeleteFileW(wide.get());
}

void SetAttributes(const char* path, DWORD attributes) {
  WidePath wide(path);
  if (wide.ok()) SetFileAttributesW(wide.get(), attributes);
}

void StampFileTime(const char* path, const FILETIME& utc) {
  WidePath wide(path);
  if (!wide.ok()) return;
  HANDLE file = CreateFileW(wide.get(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  SetFileTime(file, &utc, nullptr, &utc);
  CloseHandle(file);
}

void StampDosTime(const char* path, uint16_t dosDate, uint16_t dosTime) {
  FILETIME local, utc;
  if (!DosToCalendar(dosDate, dosTime, &local)) return;
  if (!LocalFileTimeToFileTime(&local, &utc)) return;
  StampFileTime(path, utc);
}

void StampUnixTime(const char* path, uint32_t seconds) {
  StampFileTime(path, UnixSecondsToFileTime(seconds));
}

char* ReadTextLine(char* buffer, int capacity, FILE* stream) {
  if (capacity <= 0) return feof(stream) ? nullptr : buffer;
  int stored = 0;
  while (stored < capacity - 1) {
    const int c = getc_unlocked(stream);
    if (c == EOF || c == 0x00 || c == '\n') break;
    if (c == '\r') {
      const int next = getc_unlocked(stream);
      if (next != EOF && next != '\n') ungetc(next, stream);
      break;
    }
    buffer[stored++] = static_cast<char>(c);
  }
  buffer[stored] = '\0';
  return feof(stream) ? nullptr : buffer;
}

FILE* OpenFileStream(const char* path, const char* mode) {
  if (PipedInputActive() && strcmp(path, kStandardInputPath) == 0) return OpenPipedInput();
  WidePath wide(path);
  if (!wide.ok()) return nullptr;
  WCHAR wideMode[8];
  size_t i = 0;
  for (; mode[i] != '\0' && i < 7; ++i) wideMode[i] = static_cast<WCHAR>(mode[i]);
  wideMode[i] = 0;
  return _wfopen(wide.get(), wideMode);
}

bool HostPath(const char* path, char* out, size_t size) {
  WidePath wide(path);
  return wide.ok() && HostPathFromWide(wide.get(), out, size);
}
