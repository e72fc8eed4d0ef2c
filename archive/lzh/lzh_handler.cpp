#include "archive/lzh/lzh_handler.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "archive/lzh/lzh_decoder.h"
#include "archive/lzh/lzh_methods.h"
#include "archive/lzh/lzh_member.h"
#include "archive/lzh/macbinary.h"
#include "core/byte_order.h"
#include "core/charset.h"
#include "core/checksum.h"
#include "core/member_output.h"
#include "core/names.h"
#include "core/output.h"

using namespace lzh;

namespace {

// Header bytes common to all levels, read before the level is known.
constexpr size_t kCommonHeader = 21;
constexpr size_t kLevel2BaseHeader = 26;
constexpr size_t kLevel3BaseHeader = 32;
// Level 3 sizes its header fields in words of this many bytes (the first
// field says so); no writer used another width.
constexpr uint16_t kLevel3WordSize = 4;
// Extended headers larger than this are not read (the scratch area). Levels
// 1 and 2 cannot write larger ones; level 3 writers never did.
constexpr size_t kScratchSize = 65536;
// Name fields longer than this are refused, never cut: no longer stored
// name fits an output path once decoded (a character takes at most four
// bytes of UTF-8).
constexpr size_t kMaxNameField = 4 * (kOutputPathSize - 1);
// The OS byte of archives made on MS-DOS or Windows: their names are
// legacy text.
constexpr uint8_t kOsMsdos = 'M';
// MacLHA, whose members may carry a MacBinary header.
constexpr uint8_t kOsMac = 'm';
// LHARK writes its own coding under the id "-lh7-", in level-1 headers
// with this OS byte; it is read as "-lk7-".
constexpr uint8_t kOsLhark = ' ';

// The OS-9/68k port stores a level-2 header size two bytes short of the
// header it writes.
constexpr uint8_t kOsOs9 = 'K';
constexpr size_t kOs9SizeShortfall = 2;

constexpr uint8_t kExtCrc = 0x00;
constexpr uint8_t kExtFileName = 0x01;
constexpr uint8_t kExtDirectory = 0x02;
constexpr uint8_t kExtAttribute = 0x40;
constexpr uint8_t kExtSizes = 0x42;  // 64-bit packed and unpacked sizes
constexpr uint8_t kExtUnixMode = 0x50;  // st_mode of the Unix archivers: kind and permission bits
constexpr uint16_t kUnixTypeMask = 0170000, kUnixSymlink = 0120000, kUnixFolder = 0040000;

constexpr uint16_t kAttrFolder = 0x10;

// A self-extracting stub may carry a member of its own (the Amiga stub its
// usage text), ended by an end mark and padded before the archive proper.
constexpr size_t kStubPadding = 16;

// The part of a name field before its first NUL (which ends the name),
// with level 2's folder separators, 0xFF, as "\". 0xFF is neither a byte
// of UTF-8 nor the second byte of a Shift-JIS character, so every 0xFF is
// a separator whichever the name turns out to be.
std::string NamePart(const std::string& field) {
  std::string name(field.c_str());
  for (char& c : name)
    if (static_cast<uint8_t>(c) == 0xFF) c = '\\';
  return name;
}

// Keeps a name field of `length` bytes; false when it is too long for an
// output path (the copy then holds its first bytes, only to name the
// member that is skipped).
bool CopyNameField(std::string& dst, const uint8_t* src, size_t length) {
  const bool fits = length <= kMaxNameField;
  dst.assign(reinterpret_cast<const char*>(src), fits ? length : kMaxNameField);
  return fits;
}

// A method id of the families read here: "-lh?-", "-lz?-", "-lk?-" or
// "-pm?-" (not PMarc's "-pms-", which marks its self-extractor).
bool LooksLikeMethodId(const uint8_t* id) {
  if (id[0] != '-' || id[4] != '-') return false;
  if (id[1] == 'l') return id[2] == 'h' || id[2] == 'z' || id[2] == 'k';
  return id[1] == 'p' && id[2] == 'm' && id[3] != 's';
}

// The tests of ReadMemberHeader that the bytes in memory can answer: the
// level, the size field and, for levels 0 and 1 when the base header is in
// memory, its checksum. Saves reading the file for most false candidates.
bool Plausible(const uint8_t* p, size_t available) {
  const uint8_t level = p[20];
  if (level > 3 || p[0] == 0) return false;
  if (level == 3) return LoadLe16(p) == kLevel3WordSize;
  if (level == 2) return true;
  const size_t baseSize = static_cast<uint8_t>(p[0] + 2);
  if (baseSize < kCommonHeader) return false;
  if (baseSize > available) return true;
  uint8_t sum = 0;
  for (size_t k = 2; k < baseSize; ++k) sum = static_cast<uint8_t>(sum + p[k]);
  return sum == p[1];
}

// Whether the method id names a stored method.
bool IsStoredId(const char* id) {
  return std::memcmp(id, "-lh0-", 5) == 0 || std::memcmp(id, "-lz4-", 5) == 0 ||
         std::memcmp(id, "-pm0-", 5) == 0;
}

}  // namespace

LzhHandler::LzhHandler() : FormatHandler("Lzh" DECOMPRESS_SUFFIX) {}

bool LzhHandler::MatchesExtension(const char* extension) {
  return EqualsNoCase(extension, "lzh") == 0;
}

bool LzhHandler::Probe(const char* path, int32_t fileSize) {
  if (fileSize <= 0) return false;
  size_t length = static_cast<size_t>(fileSize);
  if (length > kReadAheadSize) length = kReadAheadSize;
  if (length > kProbeLimit) length = kProbeLimit;
  long offset;
  return HeaderSearch(path, g_ReadAheadBuffer, length, &offset);
}

size_t LzhHandler::ReadHeaderBytes(uint8_t* dst, size_t n) {
  const size_t got = std::fread(dst, 1, n, archive_);
  headerCrc_ = Crc16Update(headerCrc_, dst, got);
  for (size_t i = 0; i < got; ++i) headerChecksum_ = static_cast<uint8_t>(headerChecksum_ + dst[i]);
  return got;
}

bool LzhHandler::HeaderSearch(const char* path, const uint8_t* buffer, size_t length,
                              long* offset) {
  if (length <= 20) return false;
  // One stream and one scratch area serve every candidate.
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[kScratchSize]);
  if (!scratch) return false;
  FILE* saved = archive_;
  archive_ = nullptr;
  bool found = false;
  // The archive starts at the first header whose checksum (or header CRC)
  // holds, past any self-extracting stub, unless it is the stub's own.
  for (size_t i = 0; i + 20 < length && !found; ++i) {
    if (!LooksLikeMethodId(buffer + i + 2) || !Plausible(buffer + i, length - i)) continue;
    if (archive_ == nullptr && (archive_ = OpenFileStream(path, "rb")) == nullptr) break;
    if (std::fseek(archive_, static_cast<long>(i), SEEK_SET) == 0 && ReadMemberHeader(scratch.get()) &&
        !StubsOwnMember(scratch.get())) {
      *offset = static_cast<long>(i);
      found = true;
    }
  }
  if (archive_ != nullptr) std::fclose(archive_);
  archive_ = saved;
  return found;
}

bool LzhHandler::StubsOwnMember(uint8_t* scratch) {
  const long dataStart = std::ftell(archive_);
  if (dataStart < 0 || header_.packedSize > static_cast<uint64_t>(LONG_MAX - dataStart)) return false;
  const long next = dataStart + static_cast<long>(header_.packedSize);
  if (std::fseek(archive_, next, SEEK_SET) != 0 || std::fgetc(archive_) != 0) return false;
  for (size_t k = 1; k <= kStubPadding; ++k) {
    if (std::fseek(archive_, next + static_cast<long>(k), SEEK_SET) == 0 && ReadMemberHeader(scratch)) {
      return true;
    }
  }
  return false;
}

bool LzhHandler::ReadMemberHeader(uint8_t* scratch) {
  LzhMemberHeader& h = header_;
  h.name[0] = '\0';
  h.nameTooLong = false;
  h.fileNameLength = 0;
  headerCrc_ = 0;
  headerChecksum_ = 0;

  // Levels 0 and 1 (offsets from the header start):
  //   0 size H of the base header less 2 | 1 checksum of bytes 2..H+1
  //   2 method id (5) | 7 packed size | 11 unpacked size | 15 DOS time, date
  //   19 attribute | 20 level | 21 name length N | 22 name | 22+N data CRC-16
  //   level 1: 24+N OS id; H first extended header size (last two bytes of
  //   the base header)
  // Level 2 (26 bytes): 0 total header size (2) | 2..14 as above | 15 Unix time
  //   19 reserved | 20 level | 21 data CRC-16 | 23 OS id | 24 first extended size
  // Level 3 (32 bytes): 0 word size (2, always 4) | 2..23 as level 2
  //   24 total header size (4) | 28 first extended size (4)
  // A level-2 or level-3 header is exactly its total size: extended headers,
  // then any padding (writers add a byte where the size's low byte would be
  // 0, the end mark), all of it under the header CRC. Extended headers end
  // with the size of the next one, a word of 4 bytes at level 3, else 2.
  uint8_t base[258];
  if (ReadHeaderBytes(base, kCommonHeader) != kCommonHeader) return false;
  headerChecksum_ = static_cast<uint8_t>(headerChecksum_ - base[0] - base[1]);
  h.level = base[20];
  if (h.level > 3) return false;
  if (h.level == 3 && LoadLe16(base) != kLevel3WordSize) return false;
  const size_t baseSize = h.level == 3   ? kLevel3BaseHeader
                          : h.level == 2 ? kLevel2BaseHeader
                                         : static_cast<uint8_t>(base[0] + 2);
  // A zero size byte is the end mark; 254 and 255 wrap below the minimum.
  if (baseSize < kCommonHeader || base[0] == 0) return false;
  std::memcpy(h.methodId, base + 2, 5);
  h.methodId[5] = '\0';
  h.packedSize = LoadLe32(base + 7);
  h.unpackedSize = LoadLe32(base + 11);
  h.timeStamp = LoadLe32(base + 15);
  h.attribute = base[19];
  if (h.methodId[0] != '-' || (h.methodId[1] != 'l' && h.methodId[1] != 'p')) return false;
  const size_t rest = baseSize - kCommonHeader;
  if (ReadHeaderBytes(base + kCommonHeader, rest) != rest) return false;

  std::string directory, fileName;
  size_t fileNameLength = 0;
  h.os = 0;  // none in level 0 headers without an extension area
  h.hasUnixMode = false;
  h.linkTarget[0] = '\0';
  if (h.level < 2) {
    if (headerChecksum_ != base[1]) return false;
    const size_t nameLength = base[21];
    if (nameLength + 24 > baseSize) return false;
    // At most 233 bytes: always fits.
    (void)CopyNameField(fileName, base + 22, nameLength);
    fileNameLength = nameLength;
    h.dataCrc = LoadLe16(base + 22 + nameLength);
    // After the name and the data CRC-16, the OS byte.
    if (nameLength + 25 <= baseSize) h.os = base[22 + nameLength + 2];
  } else {
    h.dataCrc = LoadLe16(base + 21);
    h.os = base[23];
  }
  const size_t word = h.level == 3 ? kLevel3WordSize : 2;
  uint64_t totalSize = h.level == 3 ? LoadLe32(base + 24) : LoadLe16(base);
  if (h.level == 2 && h.os == kOsOs9) totalSize += kOs9SizeShortfall;
  if (h.level >= 2 && totalSize < baseSize) return false;

  bool haveCrc = false;
  uint16_t storedCrc = 0;
  bool haveSizes = false;
  uint64_t packed64 = 0;
  uint64_t unpacked64 = 0;
  uint64_t extendedTotal = 0;
  if (h.level >= 1) {
    uint64_t size = word == 4 ? LoadLe32(base + baseSize - 4) : LoadLe16(base + baseSize - 2);
    uint64_t headerSize = baseSize;
    while (size > word) {
      // A chain of extended headers beyond the header's own size is
      // damage, not a header.
      headerSize += size;
      extendedTotal += size;
      if (h.level >= 2 && headerSize > totalSize) return false;
      if (size > kScratchSize) return false;
      const uint16_t crcBefore = headerCrc_;
      if (ReadHeaderBytes(scratch, size) != size) return false;
      const size_t dataLength = size - 1 - word;
      const uint8_t* data = scratch + 1;
      switch (scratch[0]) {
        case kExtCrc:
          if (dataLength >= 2 && !haveCrc) {
            // The CRC covers the whole header with its own field as zero.
            haveCrc = true;
            storedCrc = LoadLe16(data);
            scratch[1] = scratch[2] = 0;
            headerCrc_ = crcBefore;
            headerCrc_ = Crc16Update(headerCrc_, scratch, size);
          }
          break;
        case kExtFileName:
          if (!CopyNameField(fileName, data, dataLength)) h.nameTooLong = true;
          fileNameLength = dataLength;
          break;
        case kExtDirectory:
          if (!CopyNameField(directory, data, dataLength)) h.nameTooLong = true;
          break;
        case kExtAttribute:
          if (dataLength >= 2) h.attribute = LoadLe16(data);
          break;
        case kExtUnixMode:
          if (dataLength >= 2) {
            h.hasUnixMode = true;
            h.unixMode = LoadLe16(data);
          }
          break;
        case kExtSizes:
          if (dataLength >= 16) {
            haveSizes = true;
            packed64 = LoadLe64(data);
            unpacked64 = LoadLe64(data + 8);
          }
          break;
        default:
          break;
      }
      size = word == 4 ? LoadLe32(scratch + size - 4) : LoadLe16(scratch + size - 2);
    }
    if (h.level >= 2) {
      // Padding, read a piece at a time.
      for (uint64_t left = totalSize - headerSize; left > 0;) {
        const size_t piece = left < kScratchSize ? static_cast<size_t>(left) : kScratchSize;
        if (ReadHeaderBytes(scratch, piece) != piece) return false;
        left -= piece;
      }
    }
  }
  if (haveCrc && storedCrc != headerCrc_) return false;
  if (haveSizes) {
    // The 64-bit sizes are the data's own, at every level.
    h.packedSize = packed64;
    h.unpackedSize = unpacked64;
  } else if (h.level == 1) {
    // A level-1 packed size counts the extended headers.
    if (h.packedSize < extendedTotal) return false;
    h.packedSize -= extendedTotal;
  }
  if (h.level == 1 && h.os == kOsLhark && std::memcmp(h.methodId, "-lh7-", 5) == 0) h.methodId[2] = 'k';

  // The field as stored, NULs and all (a field cut at kMaxNameField still
  // holds more than the 64 bytes kept here).
  h.fileNameLength = fileNameLength < sizeof h.fileName ? fileNameLength : sizeof h.fileName;
  if (h.fileNameLength > fileName.size()) h.fileNameLength = fileName.size();
  std::memcpy(h.fileName, fileName.data(), h.fileNameLength);
  std::string stored = NamePart(directory) + NamePart(fileName);
  // A name from MS-DOS or Windows is legacy text; other hosts say nothing.
  // The Unix archivers store a symbolic link as "name|target".
  if (h.hasUnixMode && (h.unixMode & kUnixTypeMask) == kUnixSymlink) {
    const size_t bar = stored.find('|');
    if (bar != std::string::npos) {
      if (!DecodeStoredName(reinterpret_cast<const uint8_t*>(stored.data()) + bar + 1, stored.size() - bar - 1,
                            NameMarking::kUnmarked, h.linkTarget, sizeof h.linkTarget))
        h.nameTooLong = true;
      stored.resize(bar);
    }
  }
  // One that does not fit an output path keeps what fits of it, only to
  // name the member that is skipped.
  if (!DecodeStoredName(reinterpret_cast<const uint8_t*>(stored.data()), stored.size(),
                        h.os == kOsMsdos ? NameMarking::kLegacy : NameMarking::kUnmarked, h.name,
                        sizeof h.name)) {
    const size_t kept = stored.size() < sizeof h.name ? stored.size() : sizeof h.name - 1;
    std::memcpy(h.name, stored.data(), kept);
    h.name[kept] = '\0';
    h.nameTooLong = true;
  }
  if (stored.size() > kMaxNameField) h.nameTooLong = true;
  return true;
}

void LzhHandler::NoteHeaderEnd(const char* path, long at) {
  int first = EOF;
  if (at >= 0 && std::fseek(archive_, at, SEEK_SET) == 0) first = std::fgetc(archive_);
  if (first != EOF && first != 0) FailArchiveAtHeader(BaseNameOf(path), at);
}

bool LzhHandler::Extract(const char* path, const char* outputFolder) {
  FILE* file = OpenFileStream(path, "rb");
  if (file == nullptr) return false;
  const size_t length = std::fread(g_ReadAheadBuffer, 1, kReadAheadSize, file);
  std::fclose(file);
  long offset;
  if (!HeaderSearch(path, g_ReadAheadBuffer, length, &offset)) return false;

  std::unique_ptr<LzhDecoderState> state(new (std::nothrow) LzhDecoderState);
  if (!state) return false;
  archive_ = OpenFileStream(path, "rb");
  if (archive_ == nullptr) return false;
  if (std::fseek(archive_, offset, SEEK_SET) != 0) {
    std::fclose(archive_);
    archive_ = nullptr;
    return false;
  }
  MemberOutput out(outputFolder);
  // From here on the read-ahead buffer is the header scratch area.
  for (;;) {
    const long headerAt = std::ftell(archive_);
    if (!ReadMemberHeader(g_ReadAheadBuffer)) {
      NoteHeaderEnd(path, headerAt);
      break;
    }
    const long dataStart = std::ftell(archive_);
    if (dataStart < 0) break;
    const LzhMemberHeader& h = header_;
    if (h.nameTooLong) {
      RefuseMember(h.name, "the name is too long for an output path; skipped");
    } else {
      MemberInfo info;
      info.name = h.name;
      info.size = h.unpackedSize;
      info.packedSize = h.packedSize;
      info.method = h.methodId;
      // Amiga archivers store some folders as empty stored members.
      info.isFolder = std::memcmp(h.methodId, "-lhd-", 5) == 0 ||
                      (IsStoredId(h.methodId) && h.unpackedSize == 0 && (h.attribute & kAttrFolder) != 0);
      if (h.level >= 2) {
        info.SetUnixTime(h.timeStamp);
      } else {
        info.SetDosTime(static_cast<uint16_t>(h.timeStamp >> 16), static_cast<uint16_t>(h.timeStamp & 0xFFFF));
      }
      info.readOnly = (h.attribute & 0x01) != 0;
      if (h.hasUnixMode) {
        info.hasMode = true;
        info.mode = h.unixMode & 07777;
        info.readOnly = false;  // the mode says it
        if ((h.unixMode & kUnixTypeMask) == kUnixFolder) info.isFolder = true;
        if ((h.unixMode & kUnixTypeMask) == kUnixSymlink) {
          info.kind = MemberKind::kSymlink;
          info.linkTarget = h.linkTarget;  // empty: named there as a link without a target
        }
      }
      // A MacLHA member may lose its MacBinary header on the way out, so
      // its CRC-16 is taken here, over all of its decoded bytes.
      const bool macBinary = h.os == kOsMac && h.unpackedSize >= kMacBinaryHeader;
      info.checksum = macBinary ? ChecksumKind::kNone : ChecksumKind::kCrc16;
      info.hasStoredChecksum = !macBinary;
      info.storedChecksum = h.dataCrc;
      if (out.Begin(info)) {
        LzhDecoderState& s = *state;
        const LzhMethod method = LzhMethodOfId(h.methodId);
        if (macBinary) {
          MacBinaryFilter filter(out, h.unpackedSize, h.fileName, h.fileNameLength);
          FILE* stream = filter.Stream();
          LzhDecodeResult result = LzhDecodeResult::NoMemory;
          if (stream != nullptr) {
            result = DecodeMember(s, method, archive_, h.packedSize, stream, h.unpackedSize);
            if (!filter.Close() && result == LzhDecodeResult::Ok) result = LzhDecodeResult::WriteFailed;
          }
          if (result == LzhDecodeResult::Ok && filter.Crc() != h.dataCrc) {
            out.ReportChecksumError(h.dataCrc, filter.Crc());
          }
          EndDecodedMember(out, result);
        } else {
          DecodeInto(out, [&](FILE* output) {
            return DecodeMember(s, method, archive_, h.packedSize, output, h.unpackedSize);
          });
        }
      }
      if (out.ArchiveEnded()) break;
    }
    if (h.packedSize > static_cast<uint64_t>(LONG_MAX - dataStart) ||
        std::fseek(archive_, dataStart + static_cast<long>(h.packedSize), SEEK_SET) != 0) {
      break;
    }
  }
  std::fclose(archive_);
  archive_ = nullptr;
  return true;
}
