#include "archive/arj/arj_handler.h"

#include <cstring>
#include <new>
#include <string>

#include "archive/arj/arj_method4.h"
#include "archive/lzh/lzh_member.h"
#include "core/byte_order.h"
#include "core/charset.h"
#include "core/checksum.h"
#include "core/names.h"
#include "core/output.h"

namespace arj {

using namespace lzh;

namespace {

constexpr uint8_t kArjId0 = 0x60;
constexpr uint8_t kArjId1 = 0xEA;

// File types of member headers.
constexpr uint8_t kArjBinary = 0;
constexpr uint8_t kArjText = 1;
constexpr uint8_t kArjDirectory = 3;
constexpr uint8_t kArjUnixSpecial = 6;  // links and devices of the Unix archiver

// The header's CRC is the standard CRC-32: run from all ones, stored
// complemented, which is what Crc32Update computes from 0.
uint32_t HeaderCrc(const uint8_t* data, size_t size) {
  return Crc32Update(0, data, size);
}

bool ReadExact(FILE* stream, void* data, size_t size) {
  return fread(data, 1, size, stream) == size;
}

bool Skip(FILE* stream, uint32_t count) {
  return fseek(stream, long(count), SEEK_CUR) == 0;
}

}  // namespace

long ArjHeaderSearch(const uint8_t* buffer, size_t length, size_t fileSize) {
  // Offsets from length - 2602 on are left alone when the file goes on past
  // the buffer: a largest header there could run past it. When the buffer
  // holds the whole file, a header near its end is as whole as it will ever
  // be; a self-extracting archive with a small payload ends up there.
  size_t limit;
  if (length >= fileSize) {
    limit = length;
  } else {
    limit = length > 2602 ? length - 2602 : kArjSearchBytes - 1;
  }
  if (limit > kArjSearchBytes) limit = kArjSearchBytes;
  for (size_t i = 0; i < limit && i + 4 <= length; ++i) {
    if (buffer[i] != kArjId0 || buffer[i + 1] != kArjId1) continue;
    uint32_t size = LoadLe16(buffer + i + 2);
    if (size > kArjMaxBasicHeader) continue;
    if (i + 4 + size + 4 > length) continue;
    if (HeaderCrc(buffer + i + 4, size) == LoadLe32(buffer + i + 4 + size)) return long(i);
  }
  return -1;
}

ArjHeaderResult ReadArjHeader(FILE* stream, ArjHeader* header) {
  uint8_t start[4];
  if (!ReadExact(stream, start, 4)) return ArjHeaderResult::kInvalid;
  if (start[0] != kArjId0 || start[1] != kArjId1) return ArjHeaderResult::kInvalid;
  uint32_t size = LoadLe16(start + 2);
  if (size == 0) return ArjHeaderResult::kEnd;
  if (size > kArjMaxBasicHeader) return ArjHeaderResult::kInvalid;

  // Zeroed beyond the stored bytes, so a short hostile header reads its
  // missing fields as 0 and its name ends inside the buffer.
  uint8_t basic[kArjMaxBasicHeader + 1 + 4] = {};
  if (!ReadExact(stream, basic, size + 4)) return ArjHeaderResult::kInvalid;
  uint32_t stored = LoadLe32(basic + size);
  memset(basic + size, 0, 4);
  if (HeaderCrc(basic, size) != stored) return ArjHeaderResult::kInvalid;

  ArjHeader& h = *header;
  h.headerCrc = stored;
  h.firstHeaderSize = basic[0];
  h.archiverVersion = basic[1];
  h.extractVersion = basic[2];
  h.hostSystem = basic[3];
  h.flags = basic[4];
  h.method = basic[5];
  h.fileType = basic[6];
  h.timeStamp = LoadLe32(basic + 8);
  h.compressedSize = LoadLe32(basic + 12);
  h.uncompressedSize = LoadLe32(basic + 16);
  h.dataCrc = LoadLe32(basic + 20);
  h.accessMode = LoadLe16(basic + 26);
  h.extPosition = (h.flags & kArjFlagExtFile) != 0 && h.firstHeaderSize >= 34 && size >= 34 ? LoadLe32(basic + 30) : 0;

  size_t nameAt = h.firstHeaderSize;
  if (nameAt > size) nameAt = size;  // points at the zeroed tail: empty name
  uint8_t* name = basic + nameAt;
  const size_t nameLength = strlen(reinterpret_cast<const char*>(name));
  // Names written on MS-DOS and Windows are legacy text. Other hosts write
  // UTF-8 today; a name that is not UTF-8 has its bytes reduced to 7 bits,
  // as its character set is unknown.
  const bool dosHost = h.hostSystem == kArjHostMsdos || h.hostSystem == kArjHostWin95;
  if (!dosHost && !IsUtf8Name(name, nameLength)) {
    for (size_t i = 0; i < nameLength; ++i) name[i] &= 0x7F;
  }
  // A name that does not fit stays empty: the member is skipped.
  (void)DecodeStoredName(name, nameLength, dosHost ? NameMarking::kLegacy : NameMarking::kUnmarked,
                         h.name, sizeof h.name);

  // Extended headers: a size, that many bytes and a CRC each, until size 0.
  // The Unix archiver's special-file header: 'U', a byte 0, then the kind
  // in the top three bits of a byte whose low five give the data's length
  // (31: a 16-bit length follows), then the data (a link's target).
  h.specialKind = -1;
  h.linkTarget[0] = '\0';
  uint8_t ext[2];
  for (;;) {
    if (!ReadExact(stream, ext, 2)) return ArjHeaderResult::kInvalid;
    uint32_t extSize = LoadLe16(ext);
    if (extSize == 0) break;
    if (h.fileType == kArjUnixSpecial && h.specialKind < 0 && extSize <= kArjMaxBasicHeader) {
      if (!ReadExact(stream, basic, extSize + 4)) return ArjHeaderResult::kInvalid;
      if (extSize >= 3 && basic[0] == 'U' && basic[1] == 0) {
        h.specialKind = basic[2] >> 5;
        size_t length = basic[2] & 0x1F, at = 3;
        if (length == 0x1F && extSize >= 5) {
          length = LoadLe16(basic + 3);
          at = 5;
        }
        if (at + length <= extSize &&
            !DecodeStoredName(basic + at, length, NameMarking::kUnmarked, h.linkTarget, sizeof h.linkTarget))
          h.linkTarget[0] = '\0';
      }
      continue;
    }
    if (!Skip(stream, extSize + 4)) return ArjHeaderResult::kInvalid;
  }
  return ArjHeaderResult::kRead;
}

bool IsArjMemberSupported(const ArjHeader& h) {
  if (h.extractVersion > 3) return false;
  if (h.flags & 0x01) return false;  // garbled with a password
  if (h.method > 4) return false;
  if (h.method == 4 && h.archiverVersion == 1) return false;
  return h.fileType == kArjBinary || h.fileType == kArjText;
}

bool ArjVolumeName(const char* path, unsigned number, char* out, size_t size) {
  const char* dot = strrchr(path, '.');
  const char* separator = strrchr(path, '\\');
  const size_t stem = dot != nullptr && (separator == nullptr || dot > separator) ? size_t(dot - path) : strlen(path);
  const int n = number < 100 ? snprintf(out, size, "%.*s.a%02u", int(stem), path, number)
                             : snprintf(out, size, "%.*s.%03u", int(stem), path, number);
  return n > 0 && size_t(n) < size && number < 1000;
}

unsigned ArjVolumeNumber(const char* path) {
  const char* extension = ExtensionOf(path);
  const char* digits = (extension[0] == 'a' || extension[0] == 'A') ? extension + 1 : extension;
  if (strlen(extension) != 3 || digits[0] == '\0') return 0;
  unsigned n = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    n = n * 10 + unsigned(*p - '0');
  }
  return n;
}

uint32_t ArjAttributes(const ArjHeader& h) {
  if (h.hostSystem != kArjHostUnix) return h.accessMode;
  return (h.accessMode & 0200) ? kAttrArchive : kAttrArchiveReadOnly;
}

}  // namespace arj

// The handler's methods use the ARJ and LZH readers' names.
using namespace arj;
using namespace lzh;

ArjHandler::ArjHandler() : FormatHandler("Arj" EXTRACT_SUFFIX) {}

bool ArjHandler::MatchesExtension(const char* extension) {
  return EqualsNoCase(extension, "arj") == 0;
}

bool ArjHandler::Probe(const char* path, int32_t fileSize) {
  if (fileSize <= 0) return false;
  size_t length = size_t(fileSize) < kReadAheadSize ? size_t(fileSize) : kReadAheadSize;
  return ArjHeaderSearch(g_ReadAheadBuffer, length, size_t(fileSize)) >= 0;
}

bool ArjHandler::Extract(const char* path, const char* outputFolder) {
  FILE* archive = OpenFileStream(path, "rb");
  if (archive == nullptr) return false;
  lzhState_ = new (std::nothrow) LzhDecoderState;
  if (lzhState_ == nullptr) {
    fclose(archive);
    return false;
  }
  // Only the first 50,000 bytes are read here, so a main header from offset
  // 47,398 on, which Probe finds in its larger buffer, is missed.
  size_t got = fread(g_ReadAheadBuffer, 1, kArjSearchBytes, archive);
  bool whole = got < kArjSearchBytes || fgetc(archive) == EOF;
  long found = ArjHeaderSearch(g_ReadAheadBuffer, got, whole ? got : got + 1);
  if (found < 0 || fseek(archive, found, SEEK_SET) != 0 ||
      ReadArjHeader(archive, &header_) != ArjHeaderResult::kRead) {
    Finish(archive);
    return false;
  }
  path_ = path;
  volume_ = ArjVolumeNumber(path);
  mainFlags_ = header_.flags;
  skipContinued_ = false;
  MemberOutput out(outputFolder);
  for (;;) {
    const long headerAt = ftell(archive);
    const ArjHeaderResult r = ReadArjHeader(archive, &header_);
    if (r == ArjHeaderResult::kRead) {
      if (!ExtractMember(archive, out) || out.ArchiveEnded()) break;
    } else if (r == ArjHeaderResult::kEnd && (mainFlags_ & kArjFlagVolume) != 0) {
      // The archive goes on in the next volume.
      if (!OpenNextVolume(archive)) break;
    } else {
      // The end header, or the end of the file where a header would start,
      // ends the archive; a damaged or cut header loses what follows it.
      if (r == ArjHeaderResult::kInvalid && headerAt >= 0 && fseek(archive, headerAt, SEEK_SET) == 0 &&
          fgetc(archive) != EOF) {
        FailArchiveAtHeader(path_, headerAt);
      }
      break;
    }
  }
  Finish(archive);
  return true;
}

bool ArjHandler::OpenNextVolume(FILE*& archive) {
  if (archive != nullptr) fclose(archive);
  archive = nullptr;
  char next[kPathBufferSize * 2];
  if (!ArjVolumeName(path_, ++volume_, next, sizeof next)) {
    FailArchive(path_, "too many volumes; the rest is not read");
    return false;
  }
  const char* shown = strrchr(next, '\\') != nullptr ? strrchr(next, '\\') + 1 : next;
  archive = OpenFileStream(next, "rb");
  if (archive == nullptr) {
    FailArchive(path_, (std::string("the next volume ") + shown + " is missing").c_str());
    return false;
  }
  const size_t got = fread(g_ReadAheadBuffer, 1, kArjSearchBytes, archive);
  const long found = ArjHeaderSearch(g_ReadAheadBuffer, got, got);
  if (found < 0 || fseek(archive, found, SEEK_SET) != 0 ||
      ReadArjHeader(archive, &header_) != ArjHeaderResult::kRead) {
    FailArchive(path_, (std::string("the next volume ") + shown + " is not an ARJ volume").c_str());
    fclose(archive);
    archive = nullptr;
    return false;
  }
  mainFlags_ = header_.flags;
  return true;
}

void ArjHandler::Finish(FILE* archive) {
  if (archive != nullptr) fclose(archive);
  delete lzhState_;
  lzhState_ = nullptr;
}

bool ArjHandler::ExtractMember(FILE*& archive, MemberOutput& out) {
  const ArjHeader& h = header_;
  // The next header follows the packed bytes. Decoders may stop short of
  // them (a member cut off by a hostile header) or read ahead inside them,
  // so the stream is always put there explicitly.
  long dataStart = ftell(archive);
  if (dataStart < 0) return false;
  auto moveOn = [&] { return fseek(archive, dataStart + long(h.compressedSize), SEEK_SET) == 0; };

  const bool folder = h.fileType == kArjDirectory;
  if (h.fileType == kArjUnixSpecial) {
    // A hard link (kind 1) to a member stored earlier; other special
    // files are not read here.
    MemberInfo info;
    info.name = h.name;
    info.size = 0;
    info.hasMode = true;
    info.mode = h.accessMode & 07777;
    info.SetUnixTime(h.timeStamp);
    if (h.specialKind == 1) {
      info.kind = MemberKind::kHardLink;
      info.method = "link";
      info.linkTarget = h.linkTarget;
      (void)out.Begin(info);
    } else {
      RefuseMember(h.name, "a Unix special file of a kind not read here; skipped");
    }
    return moveOn();
  }
  // Other file types (volume and chapter labels) hold no member.
  if (!folder && h.fileType != kArjBinary && h.fileType != kArjText) return moveOn();
  static const char* const kMethodNames[] = {"arj-m0", "arj-m1", "arj-m2", "arj-m3", "arj-m4"};
  MemberInfo info;
  info.name = h.name;
  info.size = h.uncompressedSize;
  info.packedSize = h.compressedSize;
  info.method = h.method < 5 ? kMethodNames[h.method] : "arj-m?";
  info.isFolder = folder;
  if (h.hostSystem == kArjHostUnix) {
    info.SetUnixTime(h.timeStamp);
  } else {
    info.SetDosTime(uint16_t(h.timeStamp >> 16), uint16_t(h.timeStamp));
  }
  info.readOnly = (ArjAttributes(h) & 0x01) != 0;
  if (h.hostSystem == kArjHostUnix) {
    // The Unix archiver stores the file's permission bits: they say it.
    info.hasMode = true;
    info.mode = h.accessMode & 07777;
    info.readOnly = false;
  }
  // Text members are stored as the archiver read them; the CRC is over
  // those bytes, which are also the bytes written here.
  info.checksum = ChecksumKind::kCrc32;
  info.hasStoredChecksum = true;
  info.storedChecksum = h.dataCrc;
  const bool goesOn = (h.flags & kArjFlagVolume) != 0 && !folder;
  if ((h.flags & kArjFlagExtFile) != 0 && !folder) {
    // A later piece of a member whose start was not read here.
    if (!skipContinued_) RefuseMember(h.name, "begins in an earlier volume, which was not read; skipped");
    skipContinued_ = goesOn;
    return moveOn();
  }
  if (goesOn) {
    // Each piece carries its own size and CRC-32; the whole size is known
    // only at the end.
    info.size = kUnknownSize;
    info.packedSize = kUnknownSize;
    info.checksum = ChecksumKind::kNone;
    info.hasStoredChecksum = false;
  }
  skipContinued_ = goesOn;
  if (!out.Begin(info)) return moveOn();

  if (goesOn && IsArjMemberSupported(h)) {
    skipContinued_ = false;
    return ExtractPieces(archive, out);
  }
  if (!IsArjMemberSupported(h)) {
    out.Fail((h.flags & 0x01) != 0 ? "garbled with a password, which is not supported; skipped"
                                    : "made with a method or version this reader does not support; skipped");
  } else if (h.method == 4) {
    DecodeInto(out, [&](FILE* output) {
      return DecodeArjMethod4(*lzhState_, archive, h.compressedSize, output, h.uncompressedSize);
    });
  } else {
    DecodeInto(out, [&](FILE* output) {
      return DecodeMember(*lzhState_, h.method == 0 ? LzhMethod::Lh0 : LzhMethod::Arj, archive,
                          h.compressedSize, output, h.uncompressedSize);
    });
  }
  return moveOn();
}

namespace {

// A piece's bytes on their way to the member output, with their CRC-32.
struct PieceSink {
  MemberOutput* out;
  uint32_t crc = 0;
};

ssize_t PieceWrite(void* cookie, const char* data, size_t size) {
  auto* sink = static_cast<PieceSink*>(cookie);
  sink->crc = Crc32Update(sink->crc, data, size);
  return sink->out->Write(data, size) ? static_cast<ssize_t>(size) : 0;
}

}  // namespace

bool ArjHandler::ExtractPieces(FILE*& archive, MemberOutput& out) {
  char name[sizeof header_.name];
  memcpy(name, header_.name, sizeof name);
  uint64_t done = 0;  // bytes of the member before this piece
  for (;;) {
    const ArjHeader& h = header_;
    const long dataStart = ftell(archive);
    if (dataStart < 0) {
      out.Fail("its volume cannot be read");
      return false;
    }
    PieceSink sink{&out};
    cookie_io_functions_t io{};
    io.write = PieceWrite;
    FILE* piece = fopencookie(&sink, "w", io);
    if (piece == nullptr) {
      out.Fail("not enough memory for the output");
      return false;
    }
    LzhDecodeResult result = LzhDecodeResult::UnknownMethod;
    if (IsArjMemberSupported(h)) {
      result = h.method == 4 ? DecodeArjMethod4(*lzhState_, archive, h.compressedSize, piece, h.uncompressedSize)
                             : DecodeMember(*lzhState_, h.method == 0 ? LzhMethod::Lh0 : LzhMethod::Arj, archive,
                                            h.compressedSize, piece, h.uncompressedSize);
    }
    fclose(piece);  // its last bytes go through PieceWrite
    char reason[160];
    reason[0] = '\0';
    if (result == LzhDecodeResult::InputEnded) {
      snprintf(reason, sizeof reason, "its piece in volume %u is cut short; not written", volume_);
    } else if (result != LzhDecodeResult::Ok && !out.Failed()) {
      snprintf(reason, sizeof reason, "its piece in volume %u cannot be decoded; not written", volume_);
    } else if (result == LzhDecodeResult::Ok && sink.crc != h.dataCrc) {
      snprintf(reason, sizeof reason, "checksum error in its piece in volume %u (stored %08x, computed %08x); not written",
               volume_, unsigned(h.dataCrc), unsigned(sink.crc));
    }
    if (reason[0] != '\0' || out.Failed()) {
      out.Fail(reason[0] != '\0' ? reason : "cannot be written");
      return fseek(archive, dataStart + long(h.compressedSize), SEEK_SET) == 0;
    }
    done += h.uncompressedSize;
    if (fseek(archive, dataStart + long(h.compressedSize), SEEK_SET) != 0) {
      out.Fail("its volume cannot be read");
      return false;
    }
    if ((h.flags & kArjFlagVolume) == 0) {
      out.End(MemberEnd::kComplete);
      return true;
    }
    // The member goes on at the first member of the next volume.
    if (!OpenNextVolume(archive)) {
      out.Fail("goes on in a volume that cannot be read; not written");
      return false;
    }
    if (ReadArjHeader(archive, &header_) != ArjHeaderResult::kRead || (header_.flags & kArjFlagExtFile) == 0 ||
        strcmp(header_.name, name) != 0 || header_.extPosition != done) {
      out.Fail("the next volume does not go on with it; not written");
      return false;
    }
  }
}
