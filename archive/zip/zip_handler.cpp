#include "archive/zip/zip_handler.h"

#include <algorithm>
#include <cstring>

#include "archive/zip/deflate64.h"
#include "archive/zip/expand.h"
#include "archive/zip/explode.h"
#include "archive/zip/unshrink.h"
#include "archive/zip/zip_directory.h"
#include "archive/zip/zip_library_methods.h"
#include "archive/zip/zip_ppmd.h"
#include "archive/zip/zip_segments.h"
#include "core/byte_order.h"
#include "core/charset.h"
#include "core/checksum.h"
#include "core/datetime.h"
#include "core/messages.h"
#include "core/prompt.h"
#include "stream/inflate.h"

namespace zip {
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

// Inflate splits the read-ahead buffer: output in the first half, input in
// the second.
constexpr size_t kInflateHalf = kReadAheadSize / 2;

static_assert(sizeof(UnshrinkWork) <= kReadAheadSize && sizeof(ExpandWork) <= kReadAheadSize &&
                  sizeof(ExplodeWork) <= kReadAheadSize && sizeof(Deflate64Work) <= kReadAheadSize,
              "the legacy decoders work inside the read-ahead buffer");


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

// The Zip64 extra field (ID 0x0001) holds, in this order, the uncompressed
// and the compressed size, each present only when its 32-bit field in the
// header is 0xFFFFFFFF. Its presence also widens the data descriptor's
// sizes to 8 bytes.
void TakeZip64Sizes(const uint8_t* extra, size_t length, ZipLocalHeader& header) {
  for (ExtraFields f(extra, length); f.Next();) {
    if (f.id != 0x0001) continue;
    header.zip64 = true;
    size_t used = 0;
    if (header.uncompressedSize == 0xFFFFFFFF && used + 8 <= f.size) {
      header.uncompressedSize = LoadLe64(f.data + used);
      used += 8;
    }
    if (header.compressedSize == 0xFFFFFFFF && used + 8 <= f.size) header.compressedSize = LoadLe64(f.data + used);
    // No file reaches 2^62 bytes; the clamp keeps offsets from wrapping.
    header.compressedSize = std::min<uint64_t>(header.compressedSize, uint64_t{1} << 62);
    return;
  }
}

// The Unicode Path extra field (ID 0x7075):
//   0 version (1) | 1 CRC-32 of the stored name | 5 the name in UTF-8
// Its name counts only with version 1 and a CRC that matches the stored
// name: a stale one, left by a tool that renamed the member, is ignored.
// True with the name's place and length when there is one that counts.
bool FindUnicodePath(const uint8_t* extra, size_t length, uint32_t storedCrc, const uint8_t** name,
                     size_t* nameLength) {
  for (ExtraFields f(extra, length); f.Next();) {
    if (f.id == kUnicodePathId && f.size > 5 && f.data[0] == 1 && LoadLe32(f.data + 1) == storedCrc &&
        memchr(f.data + 5, 0, f.size - 5) == nullptr) {
      *name = f.data + 5;
      *nameLength = f.size - 5;
      return true;
    }
  }
  return false;
}

// What the directory's attributes say: on Unix hosts the file's mode
// (kind and permission bits) in the high half; elsewhere the MS-DOS
// attributes in the low byte (0x10 a folder, 0x01 read-only).
void TakeAttributes(const ZipLocalHeader& header, MemberInfo* info) {
  if (!header.hasAttributes) return;
  constexpr uint8_t kUnixHost = 3;
  const uint32_t mode = header.external >> 16;
  if (header.host == kUnixHost && mode != 0) {
    switch (mode & 0170000) {
      case 0120000: info->kind = MemberKind::kSymlink; break;  // the target is the data
      case 0040000: info->isFolder = true; break;
      default: break;
    }
    info->hasMode = true;
    info->mode = mode & 07777;
    return;
  }
  const uint8_t attributes = static_cast<uint8_t>(header.external);
  if ((attributes & 0x10) != 0) info->isFolder = true;
  if ((attributes & 0x01) != 0) info->readOnly = true;
}

MemberEnd FromDecodeResult(ZipDecodeResult result) {
  switch (result) {
    case ZipDecodeResult::kComplete: return MemberEnd::kComplete;
    case ZipDecodeResult::kTruncated: return MemberEnd::kTruncated;
    case ZipDecodeResult::kBadData: break;
  }
  return MemberEnd::kDamaged;
}

}  // namespace

bool ReadZipLocalHeader(FILE* stream, ZipLocalHeader& header, NameMarking unmarked) {
  uint8_t h[kLocalHeaderSize];
  if (fread(h, 1, sizeof h, stream) != sizeof h) return false;
  header.flags = LoadLe16(h + 2);
  header.method = LoadLe16(h + 4);
  header.dosTime = LoadLe16(h + 6);
  header.dosDate = LoadLe16(h + 8);
  header.crc = LoadLe32(h + 10);
  header.compressedSize = LoadLe32(h + 14);
  header.uncompressedSize = LoadLe32(h + 18);
  header.zip64 = false;
  header.sizesFromDirectory = false;
  const size_t nameLength = LoadLe16(h + 22);
  const size_t extraLength = LoadLe16(h + 24);

  // The stored name: kept as far as any name can fit once decoded, the
  // rest only counted into its CRC-32 (which a Unicode Path field checks).
  uint8_t stored[kStoredNameSize];
  const size_t kept = std::min(nameLength, sizeof stored);
  if (fread(stored, 1, kept, stream) != kept) return false;
  // A NUL where a name could stand makes it no header; further on it only
  // makes the name unusable.
  const void* nul = memchr(stored, '\0', kept);
  if (nul != nullptr && static_cast<const uint8_t*>(nul) - stored < static_cast<ptrdiff_t>(kOutputPathSize - 1))
    return false;
  uint32_t storedCrc = Crc32Update(0, stored, kept);
  if (!SkipBytes(stream, nameLength - kept, &storedCrc)) return false;
  if (!IsKnownMethod(header.method)) return false;
  uint8_t extra[0xFFFF];
  if (fread(extra, 1, extraLength, stream) != extraLength) return false;
  TakeZip64Sizes(extra, extraLength, header);
  header.hasAttributes = false;
  header.hasUtcTime = FindZipUtcTime(extra, extraLength, &header.utcTime);
  header.hasAes = header.method == kAesMethod && FindAesField(extra, extraLength, &header.aes);

  const uint8_t* unicode = nullptr;
  size_t unicodeLength = 0;
  if (FindUnicodePath(extra, extraLength, storedCrc, &unicode, &unicodeLength)) {
    header.nameFits = DecodeStoredName(unicode, unicodeLength, NameMarking::kUtf8, header.name,
                                       sizeof header.name);
  } else {
    const NameMarking marking = (header.flags & kFlagUtf8) ? NameMarking::kUtf8 : unmarked;
    header.nameFits = kept == nameLength && nul == nullptr &&
                      DecodeStoredName(stored, kept, marking, header.name, sizeof header.name);
  }
  if (!header.nameFits) {
    // What fits of the stored bytes, only to name the member in a notice.
    const size_t shown = std::min(kept, sizeof header.name - 1);
    memcpy(header.name, stored, shown);
    header.name[shown] = '\0';
  }
  return true;
}

}  // namespace zip

// The handler's methods use the ZIP reader's names above.
using namespace zip;

bool ZipHandler::MatchesExtension(const char* extension) { return EqualsNoCase(extension, "zip") == 0; }

bool ZipHandler::Probe(const char* path, int32_t fileSize) {
  if (fileSize <= 30) return false;
  const size_t n = std::min(static_cast<size_t>(fileSize), kProbeLimit);
  const uint8_t* b = g_ReadAheadBuffer;
  size_t i = 0;
  for (; i + 30 < n; ++i) {
    if (LoadLe32(b + i) == kLocalSignature && IsKnownMethod(LoadLe16(b + i + 8)) && LoadLe16(b + i + 26) != 0) break;
  }
  FILE* stream = OpenFileStream(path, "rb");
  if (stream == nullptr) return false;
  // Only the first such place is tried. The last segment of a split set
  // may hold no local header at all: its end record says it is one.
  ZipLocalHeader header;
  const bool ok = i + 30 < n ? fseek(stream, static_cast<long>(i + 4), SEEK_SET) == 0 && ReadZipLocalHeader(stream, header)
                             : ZipDirectory::SegmentCount(stream) > 1;
  fclose(stream);
  return ok;
}

bool ZipHandler::Extract(const char* path, const char* outputFolder) {
  rememberedPassword_[0] = '\0';
  passwordRefused_ = false;
  archiveName_ = BaseNameOf(path);
  archive_ = OpenFileStream(path, "rb");
  if (archive_ == nullptr) return false;
  MemberOutput out(outputFolder);
  // A split set is read as one stream of all its segments.
  std::vector<uint64_t> starts;
  const uint32_t segments = ZipDirectory::SegmentCount(archive_);
  if (segments > 1) {
    std::vector<std::string> missing;
    FILE* joined = OpenZipSegments(path, segments, &starts, &missing);
    if (joined != nullptr) {
      fclose(archive_);
      archive_ = joined;
    }
    for (const std::string& name : missing) {
      MemberNotice(BaseNameOf(path), "the segment %s of this split archive is missing", name.c_str());
      g_ArchiveOutcome.failed = true;
    }
  }
  if (directory_.Load(archive_, starts)) {
    WalkDirectory(out);
  } else {
    WalkLocalHeaders(out);
  }
  fclose(archive_);
  archive_ = nullptr;
  return true;
}

void ZipHandler::WalkLocalHeaders(MemberOutput& out) {
  if (fseeko(archive_, 0, SEEK_SET) != 0) return;
  ZipLocalHeader header;
  while (FindNextMember(header)) {
    // The member's data end, taken before any password check.
    long long dataEnd = static_cast<long long>(ftello(archive_)) + static_cast<long long>(header.compressedSize);
    if (ExtractMember(header, out, dataEnd) == Next::kEndArchive || out.ArchiveEnded()) break;
    if (fseeko(archive_, static_cast<off_t>(dataEnd), SEEK_SET) != 0) break;
  }
}

void ZipHandler::WalkDirectory(MemberOutput& out) {
  for (const ZipDirectoryEntry& entry : directory_.entries()) {
    ZipLocalHeader header;
    uint8_t signature[4];
    if (fseeko(archive_, static_cast<off_t>(entry.localOffset), SEEK_SET) != 0 ||
        fread(signature, 1, sizeof signature, archive_) != sizeof signature || LoadLe32(signature) != kLocalSignature ||
        !ReadZipLocalHeader(archive_, header, directory_.MarkingAt(entry.localOffset))) {
      char name[kOutputPathSize];
      const auto* stored = reinterpret_cast<const uint8_t*>(entry.storedName.data());
      if (!DecodeStoredName(stored, entry.storedName.size(),
                            (entry.flags & kFlagUtf8) ? NameMarking::kUtf8 : directory_.MarkingAt(entry.localOffset),
                            name, sizeof name))
        snprintf(name, sizeof name, "(a member at byte %llu)", static_cast<unsigned long long>(entry.localOffset));
      RefuseMember(name, "its local header is damaged or missing; skipped");
      continue;
    }
    // The directory's CRC-32 and sizes stand: a member written to a stream
    // has zeros in its local header.
    header.crc = entry.crc;
    header.compressedSize = entry.compressedSize;
    header.uncompressedSize = entry.uncompressedSize;
    header.sizesFromDirectory = true;
    header.hasAttributes = true;
    header.host = entry.host;
    header.external = entry.external;
    if (!header.hasUtcTime && entry.hasUtcTime) {
      header.hasUtcTime = true;
      header.utcTime = entry.utcTime;
    }
    long long dataEnd = static_cast<long long>(ftello(archive_)) + static_cast<long long>(header.compressedSize);
    if (ExtractMember(header, out, dataEnd) == Next::kEndArchive || out.ArchiveEnded()) break;
  }
}

bool ZipHandler::FindNextMember(ZipLocalHeader& header) {
  uint32_t window = 0;
  for (int c; (c = getc_unlocked(archive_)) != EOF;) {
    window = window >> 8 | static_cast<uint32_t>(c) << 24;
    if (window != kLocalSignature) continue;
    // A damaged header is skipped: the scan goes on after its signature.
    // No suffix of the signature begins another one, so the window restarts.
    const off_t after = ftello(archive_);
    if (ReadZipLocalHeader(archive_, header, directory_.MarkingAt(static_cast<uint64_t>(after) - 4))) return true;
    if (fseeko(archive_, after, SEEK_SET) != 0) return false;
    window = 0;
  }
  return false;
}

ZipHandler::Next ZipHandler::ExtractMember(const ZipLocalHeader& header, MemberOutput& out, long long& dataEnd) {
  // A name that does not fit is refused rather than cut into another name.
  if (!header.nameFits) {
    RefuseMember(header.name, "the name is too long for an output path; skipped");
    return Next::kMember;
  }
  // Info-ZIP writing to a pipe leaves the compressed size in the local
  // header at 0 and puts it behind the data. A deflate stream marks its own
  // end, so such a member is inflated to that end, and the scan resumes
  // right behind it.
  const bool described = (header.flags & kFlagDataDescriptor) != 0;
  const bool sizesDeferred = described && header.compressedSize == 0 && !header.sizesFromDirectory;
  const bool toStreamEnd = header.method == 8 && sizesDeferred;

  // An AES member names its method in its AES field.
  const uint16_t method = header.hasAes ? header.aes.method : header.method;
  char aesName[32];
  if (header.hasAes) snprintf(aesName, sizeof aesName, "aes%u+%s", AesKeyBits(header.aes.strength), MethodName(method));

  MemberInfo info;
  info.name = header.name;
  info.size = sizesDeferred && header.uncompressedSize == 0 ? kUnknownSize : header.uncompressedSize;
  info.packedSize = sizesDeferred ? kUnknownSize : header.compressedSize;
  info.method = header.hasAes ? aesName : MethodName(method);
  info.encrypted = (header.flags & kFlagEncrypted) != 0;
  info.SetDosTime(header.dosDate, header.dosTime);
  if (header.hasUtcTime) {
    info.time = header.utcTime;
    info.hasTime = true;
  }
  TakeAttributes(header, &info);
  info.checksum = ChecksumKind::kCrc32;
  // With flag bit 3 the header's CRC may be a placeholder: the descriptor
  // behind the data gives it. AE-2 stores none: its authentication code
  // stands for it.
  info.hasStoredChecksum = !described || (header.compressedSize != 0 && header.crc != 0);
  if (header.hasAes && header.aes.version == 2) info.hasStoredChecksum = false;
  info.storedChecksum = header.crc;
  const long long dataStart = static_cast<long long>(ftello(archive_));
  // Skipped members (folders, listed or kept ones, refused paths) end here;
  // the scan resumes at the data's end, or behind the header when it is
  // not known.
  if (!out.Begin(info)) return Next::kMember;

  // A method this reader does not decode is named; the other members
  // still come out.
  if (header.method == kAesMethod && !header.hasAes) {
    out.Fail("its AES encryption field is missing or damaged; skipped");
    return Next::kMember;
  }
  if (*UnsupportedMethodName(method) != '\0') {
    char reason[128];
    snprintf(reason, sizeof reason, "compression method %s is not supported; skipped", UnsupportedMethodName(method));
    out.Fail(reason);
    return Next::kMember;
  }

  uint64_t compressedSize = header.compressedSize;
  ZipKeys keys{};
  ZipAesDecryptor aes;
  const bool encrypted = (header.flags & kFlagEncrypted) != 0;
  if (encrypted && header.hasAes) {
    // Salt and password verifier in front of the data, the authentication
    // code behind it.
    const size_t saltSize = AesSaltSize(header.aes.strength);
    uint8_t salt[16 + kAesVerifierSize];
    const bool read = fread(salt, 1, saltSize + kAesVerifierSize, archive_) == saltSize + kAesVerifierSize;
    if (!read || !OpenEncrypted(header, [&](const char* password) {
          return aes.Start(password, header.aes.strength, salt, salt + saltSize);
        })) {
      out.Fail(read ? "no password given opens it; skipped" : "the archive ends inside this member; skipped");
      return Next::kMember;
    }
    const uint64_t around = saltSize + kAesVerifierSize + kAesCodeSize;
    compressedSize = compressedSize > around ? compressedSize - around : 0;
  } else if (encrypted) {
    if (!OpenEncrypted(header, [&](const char* password) { return TryPassword(password, header, &keys); })) {
      // Nothing of a member that could not be opened stays; the members
      // after it are still extracted.
      out.Fail("no password given opens it; skipped");
      return Next::kMember;
    }
    compressedSize = compressedSize > kEncryptionHeaderSize ? compressedSize - kEncryptionHeaderSize : 0;
  }
  const bool aesOpen = encrypted && header.hasAes;
  // The decoders read no further than the member's data, unless its size
  // comes only behind the data (flag bit 3 with sizes of 0).
  ZipMemberData data(archive_, out, sizesDeferred ? UINT64_MAX : compressedSize,
                     encrypted && !aesOpen ? &keys : nullptr, aesOpen ? &aes : nullptr);

  void* work = g_ReadAheadBuffer;
  // Sizes above 32 bits come only with Zip64, which the legacy methods
  // predate; a larger size is clamped, never wrapped.
  const uint32_t size32 = static_cast<uint32_t>(std::min<uint64_t>(header.uncompressedSize, UINT32_MAX));
  MemberEnd end = MemberEnd::kComplete;
  switch (method) {
    case 0:
      if (!sizesDeferred) {
        end = CopyStored(data, compressedSize);
      } else if (encrypted) {
        // The descriptor is not encrypted, the data is: no search can tell
        // one from the other.
        out.Fail("encrypted stored data of unknown size (the archive has no central directory); skipped");
        return Next::kMember;
      } else {
        end = CopyStoredToDescriptor(data, dataStart, &dataEnd);
      }
      break;
    case 1: end = FromDecodeResult(Unshrink(data, size32, work)); break;
    case 2: case 3: case 4: case 5:
      end = FromDecodeResult(Expand(data, size32, method - 1, work));
      break;
    case 6:
      end = FromDecodeResult(
          Explode(data, size32, header.flags & kFlagWindow8k, header.flags & kFlagLiteralTree, work));
      break;
    case 8: {
      size_t unused = 0;
      end = Inflate(data, compressedSize, toStreamEnd, &unused);
      if (toStreamEnd) dataEnd = static_cast<long long>(ftello(archive_)) - static_cast<long long>(unused);
      break;
    }
    case 9:
      end = FromDecodeResult(Deflate64(data, work));
      break;
    case 98: {
      // PPMd has an end mark, which ends a member whose size comes behind it.
      size_t unused = 0;
      const char* refusal = nullptr;
      end = DecodePpmd(data, sizesDeferred ? UINT64_MAX : header.uncompressedSize, &refusal, &unused);
      if (refusal != nullptr) {
        out.Fail(refusal);
        return Next::kMember;
      }
      if (sizesDeferred) dataEnd = static_cast<long long>(ftello(archive_)) - static_cast<long long>(unused);
      break;
    }
    default: {
      // Each of these streams marks its own end too.
      size_t unused = 0;
      end = DecodeLibraryMethod(method, header.flags, sizesDeferred ? UINT64_MAX : header.uncompressedSize, data,
                                &unused);
      if (sizesDeferred) dataEnd = static_cast<long long>(ftello(archive_)) - static_cast<long long>(unused);
      break;
    }
  }
  if (end == MemberEnd::kTruncated && !data.ReadShort()) end = MemberEnd::kDamaged;
  // The AES authentication code covers every byte of the encrypted data:
  // the member counts as whole only when it matches.
  if (aesOpen && end == MemberEnd::kComplete && !out.Failed()) {
    uint8_t code[kAesCodeSize];
    if (!data.Drain() || fread(code, 1, sizeof code, archive_) != sizeof code) {
      end = MemberEnd::kTruncated;
    } else if (!aes.Authentic(code)) {
      out.ReportAuthenticationError();
    }
  }
  // A stream that ends on its own (deflate, stored data) can give another
  // size than the headers say while its CRC-32 holds.
  if (end == MemberEnd::kComplete && info.size != kUnknownSize && out.Written() != info.size)
    out.ReportSizeError(info.size, out.Written());
  if (described && end == MemberEnd::kComplete && fseeko(archive_, static_cast<off_t>(dataEnd), SEEK_SET) == 0)
    (void)ReadDataDescriptor(header, static_cast<uint64_t>(dataEnd - dataStart), out, &dataEnd);
  out.End(end);
  return Next::kMember;
}

template <typename Opens>
bool ZipHandler::OpenEncrypted(const ZipLocalHeader& header, Opens opens) {
  if (rememberedPassword_[0] != '\0' && opens(rememberedPassword_)) return true;
  // Once the tries for one member are used up nobody is asked again in this
  // archive: every encrypted member the last answer does not open is skipped.
  if (passwordRefused_) return false;
  for (int attempt = 0; attempt < kPasswordTries; ++attempt) {
    const char* answer = PasswordPrompt(&PasswordSlot, header.name, archiveName_, attempt > 0);
    strncpy(rememberedPassword_, answer != nullptr ? answer : "", sizeof rememberedPassword_ - 1);
    rememberedPassword_[sizeof rememberedPassword_ - 1] = '\0';
    if (opens(rememberedPassword_)) return true;
  }
  passwordRefused_ = true;
  return false;
}

// Data descriptor: an optional signature "PK\7\8", the CRC-32, then the
// compressed and uncompressed sizes (4 bytes each, 8 with Zip64). The
// signature is optional, so each layout is tried and only one whose sizes
// are what the member took and gave is believed.
bool ZipHandler::ReadDataDescriptor(const ZipLocalHeader& header, uint64_t packed, MemberOutput& out,
                                    long long* end) {
  constexpr uint32_t kDescriptorSignature = 0x08074B50;
  uint8_t d[24];
  const size_t got = fread(d, 1, sizeof d, archive_);
  const uint64_t written = out.Written();
  for (const bool wide : {header.zip64, !header.zip64}) {
    for (const bool signed_ : {true, false}) {
      const size_t at = signed_ ? 4 : 0;
      const size_t width = wide ? 8 : 4;
      if (at + 4 + 2 * width > got || (signed_ && LoadLe32(d) != kDescriptorSignature)) continue;
      const uint64_t compressed = wide ? LoadLe64(d + at + 4) : LoadLe32(d + at + 4);
      const uint64_t uncompressed = wide ? LoadLe64(d + at + 4 + width) : LoadLe32(d + at + 4 + width);
      if (compressed != packed || uncompressed != written) continue;
      out.SetStoredChecksum(LoadLe32(d + at));
      *end += static_cast<long long>(at + 4 + 2 * width);
      return true;
    }
  }
  return false;
}

bool ZipHandler::TryPassword(const char* password, const ZipLocalHeader& header, ZipKeys* opened) {
  ZipKeys keys = KeysForPassword(password);
  const off_t start = ftello(archive_);
  uint8_t encryptionHeader[kEncryptionHeaderSize];
  const uint16_t check = (header.flags & kFlagDataDescriptor) ? header.dosTime : header.crc >> 16;
  if (fread(encryptionHeader, 1, sizeof encryptionHeader, archive_) == sizeof encryptionHeader &&
      CheckEncryptionHeader(keys, encryptionHeader, check)) {
    *opened = keys;
    return true;
  }
  fseeko(archive_, start, SEEK_SET);
  return false;
}

zip::ZipMemberData::ZipMemberData(FILE* archive, MemberOutput& out, uint64_t limit, const ZipKeys* keys,
                                  ZipAesDecryptor* aes)
    : archive_(archive), out_(out), remaining_(limit), encrypted_(keys != nullptr), aes_(aes) {
  if (keys != nullptr) keys_ = *keys;
}

bool zip::ZipMemberData::Drain() {
  uint8_t scratch[4096];
  while (remaining_ > 0) {
    if (ReadMember(scratch, sizeof scratch) == 0) return false;
  }
  return true;
}

size_t zip::ZipMemberData::ReadMember(uint8_t* buffer, size_t count) {
  if (out_.Failed()) return 0;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(count, remaining_));
  const size_t n = fread(buffer, 1, want, archive_);
  if (n < want) readShort_ = true;
  remaining_ -= n;
  if (encrypted_) DecryptBytes(keys_, buffer, n);
  if (aes_ != nullptr) aes_->Decrypt(buffer, n);
  return n;
}

void zip::ZipMemberData::WriteMember(const uint8_t* data, size_t count) { (void)out_.Write(data, count); }

MemberEnd ZipHandler::CopyStoredToDescriptor(ZipMemberData& data, long long dataStart, long long* dataEnd) {
  constexpr size_t kChunk = 1 << 16;
  constexpr size_t kLongest = 24;  // signature, CRC-32 and two 8-byte sizes
  std::vector<uint8_t> buffer(kChunk + kLongest);
  size_t have = 0;
  uint64_t passed = 0;  // data bytes before buffer[0]
  uint32_t crc = 0;     // of those bytes
  for (;;) {
    const size_t n = data.ReadMember(buffer.data() + have, buffer.size() - have);
    have += n;
    const bool last = n == 0;
    // Places a descriptor may start that its whole length is in hand for
    // (at the end of the data, any that its short form fits).
    const size_t scan = last ? (have >= 16 ? have - 15 : 0) : (have > kLongest ? have - kLongest : 0);
    uint32_t crcHere = crc;
    size_t crcAt = 0;
    for (size_t i = 0; i < scan; ++i) {
      const uint8_t* hit = static_cast<const uint8_t*>(memchr(buffer.data() + i, 'P', scan - i));
      if (hit == nullptr) break;
      i = static_cast<size_t>(hit - buffer.data());
      if (LoadLe32(hit) != 0x08074B50) continue;
      crcHere = Crc32Update(crcHere, buffer.data() + crcAt, i - crcAt);
      crcAt = i;
      const uint64_t size = passed + i;
      const bool narrow = LoadLe32(hit + 4) == crcHere && LoadLe32(hit + 8) == size && LoadLe32(hit + 12) == size;
      const bool wide = i + 24 <= have && LoadLe32(hit + 4) == crcHere && LoadLe64(hit + 8) == size &&
                        LoadLe64(hit + 16) == size;
      if (narrow || wide) {
        data.WriteMember(buffer.data(), i);
        *dataEnd = dataStart + static_cast<long long>(size);
        return MemberEnd::kComplete;
      }
    }
    data.WriteMember(buffer.data(), scan);
    crc = Crc32Update(crc, buffer.data(), scan);
    passed += scan;
    memmove(buffer.data(), buffer.data() + scan, have - scan);
    have -= scan;
    if (last) {
      data.WriteMember(buffer.data(), have);
      return MemberEnd::kTruncated;
    }
  }
}

MemberEnd ZipHandler::CopyStored(ZipMemberData& data, uint64_t compressedSize) {
  for (uint64_t remaining = compressedSize; remaining > 0;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, kReadAheadSize));
    const size_t n = data.ReadMember(g_ReadAheadBuffer, want);
    if (n != 0) data.WriteMember(g_ReadAheadBuffer, n);
    if (n != want) return MemberEnd::kTruncated;
    remaining -= n;
  }
  return MemberEnd::kComplete;
}

MemberEnd ZipHandler::Inflate(ZipMemberData& data, uint64_t compressedSize, bool toStreamEnd, size_t* unused) {
  uint8_t* const out = g_ReadAheadBuffer;
  uint8_t* const in = g_ReadAheadBuffer + kInflateHalf;
  uint64_t remaining = toStreamEnd ? UINT64_MAX : compressedSize;
  auto refill = [&]() -> size_t {
    size_t n = remaining == 0 ? 0 : data.ReadMember(in, static_cast<size_t>(std::min<uint64_t>(remaining, kInflateHalf)));
    remaining -= n;
    return n;
  };

  *unused = 0;
  size_t got = refill();
  if (got == 0) return MemberEnd::kTruncated;
  flate::Inflater inflater;
  if (!inflater.ok()) return MemberEnd::kDamaged;
  const uint8_t* next = in;
  bool inputEnded = false;
  MemberEnd end = MemberEnd::kTruncated;
  for (;;) {
    uint8_t* put = out;
    size_t room = kInflateHalf;
    const size_t before = got;
    const flate::InflateResult result = inflater.Run(next, got, put, room);
    const size_t produced = kInflateHalf - room;
    if (produced != 0) data.WriteMember(out, produced);
    if (result == flate::InflateResult::kEnd) {
      end = MemberEnd::kComplete;
      break;
    }
    // An error in the data ends the member with what was written so far.
    if (result == flate::InflateResult::kError) {
      end = MemberEnd::kDamaged;
      break;
    }
    if (room == 0) continue;  // more output may be waiting
    if (got == before && produced == 0) {
      if (got != 0) {  // no progress with input at hand
        end = MemberEnd::kDamaged;
        break;
      }
      if (inputEnded) break;  // the data ended before the stream did
    }
    if (got != 0 || inputEnded) continue;
    got = refill();
    next = in;
    // At the end of the input the decoder may still hold output.
    inputEnded = got == 0;
  }
  const uint8_t* leftover;
  *unused = got + inflater.Leftover(&leftover);
  return end;
}
