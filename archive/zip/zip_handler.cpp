#include "archive/zip/zip_handler.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "archive/zip/expand.h"
#include "archive/zip/explode.h"
#include "archive/zip/unshrink.h"
#include "core/charset.h"
#include "core/checksum.h"
#include "core/messages.h"
#include "core/prompt.h"

namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;  // "PK\3\4", read little-endian
constexpr size_t kLocalHeaderSize = 26;           // after the signature
constexpr size_t kProbeLimit = 0x100000;
constexpr int kPasswordTries = 3;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagWindow8k = 0x0002;
constexpr uint16_t kFlagLiteralTree = 0x0004;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;  // name (and comment) in UTF-8

constexpr uint16_t kUnicodePathId = 0x7075;
constexpr uint32_t kDirectorySignature = 0x02014B50;  // "PK\1\2"
constexpr size_t kDirectoryEntrySize = 46;
constexpr uint32_t kEndSignature = 0x06054B50;        // "PK\5\6"
constexpr size_t kEndRecordSize = 22;

// Inflate splits the read-ahead buffer: output in the first half, input in
// the second.
constexpr size_t kInflateHalf = kReadAheadSize / 2;

static_assert(sizeof(UnshrinkWork) <= kReadAheadSize && sizeof(ExpandWork) <= kReadAheadSize &&
                  sizeof(ExplodeWork) <= kReadAheadSize,
              "the legacy decoders work inside the read-ahead buffer");

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }

// Reads and drops `count` bytes, adding them to *crc when given; false
// when the stream ends first.
bool SkipBytes(FILE* stream, size_t count, uint32_t* crc = nullptr) {
  uint8_t scratch[4096];
  while (count > 0) {
    size_t n = std::min(count, sizeof scratch);
    if (fread(scratch, 1, n, stream) != n) return false;
    if (crc != nullptr) *crc = Crc32Update(*crc, scratch, n);
    count -= n;
  }
  return true;
}

// The Unicode Path extra field (0x7075) of a local header:
//   0 id | 2 data size | 4 version (1) | 5 CRC-32 of the stored name | 9 UTF-8 name
struct UnicodePath {
  enum class State { kNone, kFound, kTooLong } state = State::kNone;
  size_t length = 0;
  uint8_t name[kStoredNameSize];
};

// Reads the extra field's records, keeping a Unicode Path whose version is
// 1 and whose CRC matches the stored name (a stale one, left by a tool that
// renamed the member, is ignored). False when the stream ends first.
bool ReadExtraField(FILE* stream, size_t extraLength, uint32_t storedCrc, UnicodePath& unicode) {
  while (extraLength >= 4) {
    uint8_t head[4];
    if (fread(head, 1, sizeof head, stream) != sizeof head) return false;
    extraLength -= 4;
    const size_t dataSize = std::min<size_t>(Le16(head + 2), extraLength);
    extraLength -= dataSize;
    if (Le16(head) != kUnicodePathId || dataSize < 5 || unicode.state != UnicodePath::State::kNone) {
      if (!SkipBytes(stream, dataSize)) return false;
      continue;
    }
    uint8_t fixed[5];
    if (fread(fixed, 1, sizeof fixed, stream) != sizeof fixed) return false;
    const size_t nameSize = dataSize - sizeof fixed;
    const size_t kept = std::min(nameSize, sizeof unicode.name);
    if (fread(unicode.name, 1, kept, stream) != kept || !SkipBytes(stream, nameSize - kept)) return false;
    if (fixed[0] != 1 || Le32(fixed + 1) != storedCrc || nameSize == 0 ||
        memchr(unicode.name, '\0', kept) != nullptr)
      continue;
    unicode.length = kept;
    unicode.state = kept == nameSize ? UnicodePath::State::kFound : UnicodePath::State::kTooLong;
  }
  return SkipBytes(stream, extraLength);
}

void ShowMemberNotice(const char* name, const char* problem) {
  char text[1024];
  FormatMessageText(text, sizeof text, "%s\n%s", name, problem);
  ShowMessage(text);
}

}  // namespace

bool ReadZipLocalHeader(FILE* stream, ZipLocalHeader& header, NameMarking unmarked) {
  uint8_t h[kLocalHeaderSize];
  if (fread(h, 1, sizeof h, stream) != sizeof h) return false;
  header.flags = Le16(h + 2);
  header.method = Le16(h + 4);
  header.dosTime = Le16(h + 6);
  header.dosDate = Le16(h + 8);
  header.crc = Le32(h + 10);
  header.compressedSize = Le32(h + 14);
  header.uncompressedSize = Le32(h + 18);
  const size_t nameLength = Le16(h + 22);
  const size_t extraLength = Le16(h + 24);

  // The stored name: kept as far as any name can fit once decoded, the
  // rest only counted into its CRC-32 (which a Unicode Path field checks).
  uint8_t stored[kStoredNameSize];
  const size_t kept = std::min(nameLength, sizeof stored);
  if (fread(stored, 1, kept, stream) != kept) return false;
  // A NUL where a name could stand makes it no header; further on it only
  // makes the name unusable.
  const void* nul = memchr(stored, '\0', kept);
  if (nul != nullptr && static_cast<const uint8_t*>(nul) - stored < static_cast<ptrdiff_t>(kPathBufferSize - 1))
    return false;
  uint32_t storedCrc = Crc32Update(0, stored, kept);
  if (!SkipBytes(stream, nameLength - kept, &storedCrc)) return false;
  if (header.method > 8 || header.method == 7) return false;

  UnicodePath unicode;
  if (!ReadExtraField(stream, extraLength, storedCrc, unicode)) return false;
  if (unicode.state == UnicodePath::State::kFound) {
    header.nameFits = DecodeStoredName(unicode.name, unicode.length, NameMarking::kUtf8,
                                       header.name, sizeof header.name);
  } else if (unicode.state == UnicodePath::State::kTooLong || kept != nameLength || nul != nullptr) {
    header.nameFits = false;
    header.name[0] = '\0';
  } else {
    const NameMarking marking = (header.flags & kFlagUtf8) ? NameMarking::kUtf8 : unmarked;
    header.nameFits = DecodeStoredName(stored, kept, marking, header.name, sizeof header.name);
  }
  return true;
}

void ZipHostMarkings::Load(FILE* stream) {
  legacy_.clear();
  const off_t start = ftello(stream);
  if (start < 0 || fseeko(stream, 0, SEEK_END) != 0) return;
  const off_t fileSize = ftello(stream);
  // The end record (22 bytes) sits behind the directory, followed only by
  // a comment of at most 65,535 bytes.
  std::vector<uint8_t> tail(static_cast<size_t>(std::min<off_t>(fileSize, kEndRecordSize + 0xFFFF)));
  const off_t tailStart = fileSize - static_cast<off_t>(tail.size());
  if (tail.size() >= kEndRecordSize && fseeko(stream, tailStart, SEEK_SET) == 0 &&
      fread(tail.data(), 1, tail.size(), stream) == tail.size()) {
    for (size_t i = tail.size() - kEndRecordSize + 1; i-- > 0;) {
      if (Le32(tail.data() + i) != kEndSignature) continue;
      //  end record: 0 signature | 10 entries | 12 directory size | 16 directory offset
      const uint8_t* end = tail.data() + i;
      const uint64_t size = Le32(end + 12), offset = Le32(end + 16);
      if (offset + size <= static_cast<uint64_t>(tailStart) + i) ReadDirectory(stream, offset, size);
      break;
    }
  }
  std::sort(legacy_.begin(), legacy_.end());
  (void)fseeko(stream, start, SEEK_SET);
}

void ZipHostMarkings::ReadDirectory(FILE* stream, uint64_t offset, uint64_t size) {
  if (fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0) return;
  // Directory entry: 0 signature | 4 version made by (5: host) | 28 name
  // length | 30 extra length | 32 comment length | 42 local header offset
  uint8_t entry[kDirectoryEntrySize];
  for (uint64_t used = 0; used + sizeof entry <= size;) {
    if (fread(entry, 1, sizeof entry, stream) != sizeof entry) return;
    if (Le32(entry) != kDirectorySignature) return;
    const uint8_t host = entry[5];
    if (host == 0 || host == 10) legacy_.push_back(Le32(entry + 42));
    const uint64_t variable = uint64_t{Le16(entry + 28)} + Le16(entry + 30) + Le16(entry + 32);
    if (!SkipBytes(stream, static_cast<size_t>(variable))) return;
    used += sizeof entry + variable;
  }
}

NameMarking ZipHostMarkings::At(uint64_t localHeaderOffset) const {
  return std::binary_search(legacy_.begin(), legacy_.end(), localHeaderOffset) ? NameMarking::kLegacy
                                                                              : NameMarking::kUnmarked;
}

bool ZipHandler::MatchesExtension(const char* extension) { return EqualsNoCase(extension, "zip") == 0; }

bool ZipHandler::Probe(const char* path, int32_t fileSize) {
  if (fileSize <= 30) return false;
  const size_t n = std::min(static_cast<size_t>(fileSize), kProbeLimit);
  const uint8_t* b = g_ReadAheadBuffer;
  size_t i = 0;
  for (; i + 30 < n; ++i) {
    if (Le32(b + i) == kLocalSignature && Le16(b + i + 8) <= 12 && Le16(b + i + 26) != 0) break;
  }
  if (i + 30 >= n) return false;

  // Only the first such place is tried.
  FILE* stream = OpenFileStream(path, "rb");
  if (stream == nullptr) return false;
  ZipLocalHeader header;
  const bool ok = fseek(stream, static_cast<long>(i + 4), SEEK_SET) == 0 && ReadZipLocalHeader(stream, header);
  fclose(stream);
  return ok;
}

bool ZipHandler::Extract(const char* path, const char* outputFolder) {
  rememberedPassword_[0] = '\0';
  archive_ = OpenFileStream(path, "rb");
  if (archive_ == nullptr) return false;
  hosts_.Load(archive_);
  ZipLocalHeader header;
  while (FindNextMember(header)) {
    // The member's data end, taken before any password check.
    long long dataEnd = static_cast<long long>(ftell(archive_)) + header.compressedSize;
    if (ExtractMember(header, outputFolder, dataEnd) == MemberEnd::kEndArchive) break;
    if (fseeko(archive_, static_cast<off_t>(dataEnd), SEEK_SET) != 0) break;
  }
  fclose(archive_);
  archive_ = nullptr;
  return true;
}

bool ZipHandler::FindNextMember(ZipLocalHeader& header) {
  uint32_t window = 0;
  for (int c; (c = getc_unlocked(archive_)) != EOF;) {
    window = window >> 8 | static_cast<uint32_t>(c) << 24;
    if (window != kLocalSignature) continue;
    // A damaged header is skipped: the scan goes on after its signature.
    // No suffix of the signature begins another one, so the window restarts.
    const off_t after = ftello(archive_);
    if (ReadZipLocalHeader(archive_, header, hosts_.At(static_cast<uint64_t>(after) - 4))) return true;
    if (fseeko(archive_, after, SEEK_SET) != 0) return false;
    window = 0;
  }
  return false;
}

ZipHandler::MemberEnd ZipHandler::ExtractMember(const ZipLocalHeader& header, const char* outputFolder,
                                                long long& dataEnd) {
  // A name that does not fit is refused rather than cut into another name.
  char outputPath[kPathBufferSize];
  if (!header.nameFits || !JoinOutputPath(outputPath, sizeof outputPath, outputFolder, header.name))
    return MemberEnd::kNext;
  PrepareOutputPath(outputPath);
  // Folder members end here: their folders now exist, and a path ending in
  // a separator cannot be opened as a file.
  output_ = OpenFileStream(outputPath, "wb");
  if (output_ == nullptr) return MemberEnd::kNext;

  runningCrc_ = 0;
  encrypted_ = false;
  writeFailed_ = false;
  uint32_t compressedSize = header.compressedSize;
  if (header.flags & kFlagEncrypted) {
    bool opened = rememberedPassword_[0] != '\0' && TryPassword(rememberedPassword_, header);
    for (int attempt = 0; !opened && attempt < kPasswordTries; ++attempt) {
      const char* answer = PasswordPrompt(&PasswordSlot);
      strncpy(rememberedPassword_, answer != nullptr ? answer : "", sizeof rememberedPassword_ - 1);
      rememberedPassword_[sizeof rememberedPassword_ - 1] = '\0';
      opened = TryPassword(rememberedPassword_, header);
    }
    if (!opened) {
      // Nothing of a member that could not be opened stays, and the rest of
      // the archive is not tried.
      fclose(output_);
      output_ = nullptr;
      DeleteOutputFile(outputPath);
      return MemberEnd::kEndArchive;
    }
    compressedSize = compressedSize > kEncryptionHeaderSize ? compressedSize - kEncryptionHeaderSize : 0;
  }

  // Info-ZIP writing to a pipe leaves the sizes in the local header at 0 and
  // puts them behind the data. A deflate stream marks its own end, so such a
  // member is inflated to that end, and the scan resumes right behind it.
  const bool toStreamEnd = header.method == 8 && (header.flags & kFlagDataDescriptor) && header.compressedSize == 0;

  void* work = g_ReadAheadBuffer;
  switch (header.method) {
    case 0: CopyStored(compressedSize); break;
    case 1: (void)Unshrink(*this, header.uncompressedSize, work); break;
    case 2: case 3: case 4: case 5:
      (void)Expand(*this, header.uncompressedSize, header.method - 1, work);
      break;
    case 6:
      (void)Explode(*this, header.uncompressedSize, header.flags & kFlagWindow8k, header.flags & kFlagLiteralTree,
                    work);
      break;
    case 8: {
      size_t unused = Inflate(compressedSize, toStreamEnd);
      if (toStreamEnd) dataEnd = static_cast<long long>(ftello(archive_)) - static_cast<long long>(unused);
      break;
    }
  }
  if (fclose(output_) != 0) writeFailed_ = true;
  output_ = nullptr;
  StampDosTime(outputPath, header.dosDate, header.dosTime);

  // The header's CRC is only known when it is not deferred behind the data.
  const bool crcKnown =
      !(header.flags & kFlagDataDescriptor) || (header.compressedSize != 0 && header.crc != 0);
  if (writeFailed_)
    ShowMemberNotice(header.name, "The file could not be written in full.");
  else if (crcKnown && runningCrc_ != header.crc)
    ShowMemberNotice(header.name, "CRC-32 mismatch: the extracted file may be damaged.");
  return MemberEnd::kNext;
}

bool ZipHandler::TryPassword(const char* password, const ZipLocalHeader& header) {
  ZipKeys keys = KeysForPassword(password);
  const off_t start = ftello(archive_);
  uint8_t encryptionHeader[kEncryptionHeaderSize];
  const uint16_t check = (header.flags & kFlagDataDescriptor) ? header.dosTime : header.crc >> 16;
  if (fread(encryptionHeader, 1, sizeof encryptionHeader, archive_) == sizeof encryptionHeader &&
      CheckEncryptionHeader(keys, encryptionHeader, check)) {
    keys_ = keys;
    encrypted_ = true;
    return true;
  }
  fseeko(archive_, start, SEEK_SET);
  return false;
}

size_t ZipHandler::ReadMember(uint8_t* buffer, size_t count) {
  size_t n = fread(buffer, 1, count, archive_);
  if (encrypted_) DecryptBytes(keys_, buffer, n);
  return n;
}

void ZipHandler::WriteMember(const uint8_t* data, size_t count) {
  runningCrc_ = static_cast<uint32_t>(crc32(runningCrc_, data, static_cast<uInt>(count)));
  if (fwrite(data, 1, count, output_) != count) writeFailed_ = true;
}

void ZipHandler::CopyStored(uint32_t compressedSize) {
  for (size_t remaining = compressedSize; remaining > 0;) {
    const size_t n = ReadMember(g_ReadAheadBuffer, std::min(remaining, kReadAheadSize));
    if (n == 0) break;
    WriteMember(g_ReadAheadBuffer, n);
    remaining -= n;
  }
}

size_t ZipHandler::Inflate(uint32_t compressedSize, bool toStreamEnd) {
  uint8_t* const out = g_ReadAheadBuffer;
  uint8_t* const in = g_ReadAheadBuffer + kInflateHalf;
  uint64_t remaining = toStreamEnd ? UINT64_MAX : compressedSize;
  auto refill = [&]() -> size_t {
    size_t n = remaining == 0 ? 0 : ReadMember(in, static_cast<size_t>(std::min<uint64_t>(remaining, kInflateHalf)));
    remaining -= n;
    return n;
  };

  size_t got = refill();
  if (got == 0) return 0;
  z_stream stream{};
  if (inflateInit2_(&stream, -15, "1.1.4", static_cast<int>(sizeof stream)) != Z_OK) return got;
  stream.next_in = in;
  stream.avail_in = static_cast<uInt>(got);
  for (;;) {
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(kInflateHalf);
    const int result = inflate(&stream, Z_PARTIAL_FLUSH);
    const size_t produced = kInflateHalf - stream.avail_out;
    if (produced != 0) WriteMember(out, produced);
    // An error in the data ends the member with what was written so far.
    if (result != Z_OK && result != Z_BUF_ERROR) break;
    if (stream.avail_out == 0) continue;  // more output may be waiting
    if (stream.avail_in != 0) break;      // no progress with input at hand
    got = refill();
    if (got == 0) break;
    stream.next_in = in;
    stream.avail_in = static_cast<uInt>(got);
  }
  const size_t unused = stream.avail_in;
  inflateEnd(&stream);
  return unused;
}
