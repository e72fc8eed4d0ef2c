#include "stream/gzip_handler.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "core/byte_order.h"
#include "core/charset.h"
#include "core/output.h"
#include "stream/copy_out.h"

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

  char hostPath[4096];
  if (!HostPath(path, hostPath, sizeof hostPath)) return false;
  gzFile gz = gzopen(hostPath, "rb");
  if (gz == nullptr) return false;
  gzbuffer(gz, 256 * 1024);
  if (haveName) {
    MemberInfo info;
    info.name = name;
    info.method = "deflate";
    // The stored modification time (0: none) goes with the stored name.
    const uint32_t mtime = LoadLe32(header + 4);
    if (mtime != 0 && (header[3] & kFlagName)) info.SetUnixTime(mtime);
    // zlib checks each gzip member's CRC-32 and length against its trailer
    // and reports a mismatch as a read error; an input that ends inside
    // the stream reads as an end with Z_BUF_ERROR left behind.
    // A failed read still placed the bytes its position counts in the
    // buffer: they go out before the damage is reported.
    bool damaged = false;
    z_off_t delivered = 0;
    CopyMember(outputFolder, info, [gz, &damaged, &delivered](uint8_t* buffer, size_t capacity) -> long {
      if (damaged) return kReadDamaged;
      int n = gzread(gz, buffer, static_cast<unsigned>(capacity));
      if (n < 0) {
        damaged = true;
        const z_off_t position = gztell(gz);
        n = position > delivered && position - delivered <= static_cast<z_off_t>(capacity)
                ? static_cast<int>(position - delivered)
                : 0;
        if (n == 0) return kReadDamaged;
      }
      delivered += n;
      int error = Z_OK;
      if (!damaged && n == 0 && (gzerror(gz, &error), error == Z_BUF_ERROR)) return kReadTruncated;
      return n;
    });
  } else {
    RefuseSingleMember(path);
  }
  gzclose(gz);
  return true;
}
