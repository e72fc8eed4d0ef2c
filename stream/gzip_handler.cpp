#include "stream/gzip_handler.h"

#include <cstdio>
#include <cstring>

#include "core/byte_order.h"
#include "core/charset.h"
#include "core/output.h"
#include "stream/copy_out.h"
#include "stream/stream_sources.h"

namespace {

constexpr uint8_t kFlagMultiPart = 0x02;  // a part number follows the fixed header
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr size_t kMaxStoredName = 65536;

bool IsGzipMagic(const uint8_t* b) { return b[0] == 0x1F && (b[1] == 0x8B || b[1] == 0x9E); }

// Reads the stored name that follows the header into `name` (the first
// kPathBufferSize bytes of the read-ahead buffer are enough for any name we
// accept). False when the name does not fit a path buffer.
bool ReadStoredName(FILE* file, uint8_t flags, char* name) {
  if (flags & kFlagMultiPart) {
    getc(file);
    getc(file);
  }
  if (flags & kFlagExtra) {
    const int lo = getc(file);
    const int hi = getc(file);
    if (lo == EOF || hi == EOF) return false;
    fseek(file, lo | (hi << 8), SEEK_CUR);
  }
  size_t length = 0;
  bool fits = true;
  for (int c; length < kMaxStoredName && (c = getc(file)) != EOF && c != 0; ++length) {
    if (length + 1 < kPathBufferSize) {
      name[length] = static_cast<char>(c);
    } else {
      fits = false;
    }
  }
  name[fits ? length : 0] = '\0';
  return fits;
}

}  // namespace

bool GzipHandler::Probe(const char* path, int32_t fileSize) {
  return fileSize >= 10 && IsGzipMagic(g_ReadAheadBuffer);
}

bool GzipHandler::Extract(const char* path, const char* outputFolder) {
  FILE* file = OpenFileStream(path, "rb");
  if (file == nullptr) return false;
  uint8_t header[10];
  if (fread(header, 1, sizeof header, file) != sizeof header) {
    fclose(file);
    return false;
  }
  char name[kPathBufferSize];
  bool haveName;
  if (header[3] & kFlagName) {
    // The stored name is used as it stands (no sanitising, no folders), but
    // a name too long for the path buffer is refused, not cut.
    haveName = ReadStoredName(file, header[3], name);
  } else {
    const char* suffix = EqualsNoCase(ExtensionOf(path), "gz") == 0 ? nullptr : "ungzip";
    haveName = SingleOutputName(name, path, suffix);
  }
  fclose(file);

  GzipSource source;
  if (!source.Open(path)) return false;
  if (haveName) {
    MemberInfo info;
    info.name = name;
    info.method = "deflate";
    // The stored modification time (0: none) goes with the stored name.
    const uint32_t mtime = LoadLe32(header + 4);
    if (mtime != 0 && (header[3] & kFlagName)) info.SetUnixTime(mtime);
    CopyMember(outputFolder, info, source);
    NoteTrailingData(path, source.TrailingAt(), "gzip");
  } else {
    RefuseSingleMember(path);
  }
  return true;
}
