#include "archive/zip/zip_handler.h"

#include <algorithm>
#include <cstring>

#include "archive/zip/expand.h"
#include "archive/zip/explode.h"
#include "archive/zip/unshrink.h"
#include "core/charset.h"
#include "core/checksum.h"
#include "core/messages.h"
#include "core/prompt.h"
#include "stream/inflate.h"

namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;  // "PK\3\4", read little-endian
constexpr size_t kLocalHeaderSize = 26;           // after the signature
constexpr size_t kProbeLimit = 0x100000;
constexpr int kPasswordTries = 3;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagWindow8k = 0x0002;
constexpr uint16_t kFlagLiteralTree = 0x0004;
constexpr uint16_t kFlagDataDescriptor = 0x0008;

// Inflate splits the read-ahead buffer: output in the first half, input in
// the second.
constexpr size_t kInflateHalf = kReadAheadSize / 2;

static_assert(sizeof(UnshrinkWork) <= kReadAheadSize && sizeof(ExpandWork) <= kReadAheadSize &&
                  sizeof(ExplodeWork) <= kReadAheadSize,
              "the legacy decoders work inside the read-ahead buffer");

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }

// Reads and drops `count` bytes; false when the stream ends first.
bool SkipBytes(FILE* stream, size_t count) {
  uint8_t scratch[4096];
  while (count > 0) {
    size_t n = std::min(count, sizeof scratch);
    if (fread(scratch, 1, n, stream) != n) return false;
    count -= n;
  }
  return true;
}

void ShowMemberNotice(const char* name, const char* problem) {
  char text[1024];
  FormatMessageText(text, sizeof text, "%s\n%s", name, problem);
  ShowMessage(text);
}

}  // namespace

bool ReadZipLocalHeader(FILE* stream, ZipLocalHeader& header) {
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

  const size_t kept = std::min(nameLength, kPathBufferSize - 1);
  if (fread(header.name, 1, kept, stream) != kept) return false;
  header.name[kept] = '\0';
  header.nameFits = kept == nameLength;
  if (!SkipBytes(stream, nameLength - kept)) return false;
  if (memchr(header.name, '\0', kept) != nullptr) return false;
  if (header.method > 8 || header.method == 7) return false;
  return SkipBytes(stream, extraLength);
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
    if (ReadZipLocalHeader(archive_, header)) return true;
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
  runningCrc_ = Crc32Update(runningCrc_, data, count);
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
  Inflater inflater;
  if (!inflater.ok()) return got;
  const uint8_t* next = in;
  bool inputEnded = false;
  for (;;) {
    uint8_t* put = out;
    size_t room = kInflateHalf;
    const size_t before = got;
    const InflateResult result = inflater.Run(next, got, put, room);
    const size_t produced = kInflateHalf - room;
    if (produced != 0) WriteMember(out, produced);
    // An error in the data ends the member with what was written so far.
    if (result != InflateResult::kMore) break;
    if (room == 0) continue;  // more output may be waiting
    if (got == before && produced == 0 && (got != 0 || inputEnded)) break;  // no progress
    if (got != 0 || inputEnded) continue;
    got = refill();
    next = in;
    // At the end of the input the decoder may still hold output.
    inputEnded = got == 0;
  }
  const uint8_t* leftover;
  return got + inflater.Leftover(&leftover);
}
