#include "archive/tar/tar_reader.h"

#include <cstdio>
#include <cstring>

#include "archive/tar/tar_header.h"
#include "core/charset.h"
#include "core/member_output.h"
#include "core/messages.h"
#include "core/names.h"
#include "core/output.h"

namespace tar {

namespace {

// Reads until `count` bytes arrived or the source gives nothing more;
// *damaged is set when the source reported bad data.
size_t ReadFull(ByteSource& source, uint8_t* buffer, size_t count, bool* damaged) {
  size_t done = 0;
  while (done < count) {
    size_t want = count - done;
    if (want > 0x40000000) want = 0x40000000;
    const int32_t n = source.Read(buffer + done, static_cast<int32_t>(want));
    if (n < 0) *damaged = true;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// The name the next member takes from a long-name or extended header, as
// stored (decoded when the member comes).
struct PendingName {
  enum class State { kNone, kSet, kRefused } state = State::kNone;
  NameMarking marking = NameMarking::kUnmarked;
  char text[kStoredNameSize + 1];
};

class Walk {
 public:
  Walk(ByteSource& source, const char* path, const char* outputFolder, uint8_t* work, size_t workSize)
      : source_(source),
        path_(path),
        out_(outputFolder),
        work_(work),
        // Data moves in whole blocks.
        workSize_(workSize / kTarBlock * kTarBlock) {}

  void Run();

 private:
  size_t Read(uint8_t* buffer, size_t count) {
    const size_t got = ReadFull(source_, buffer, count, &damaged_);
    offset_ += got;
    return got;
  }
  // The header's data size (its pax "size" record's when one came), or
  // false when the header is damaged: a wrong checksum or a size field that
  // is no size.
  [[nodiscard]] bool CheckHeader(const uint8_t* header, TarEntryKind kind, uint64_t* size);
  // After a damaged header: names it and reads on, block by block, to the
  // next block that is a valid header (into `header`). False when none
  // comes before the end of the input.
  [[nodiscard]] bool Resync(uint8_t* header);
  // Skips a member's data; a cut there names the member.
  [[nodiscard]] bool SkipData(const char* name, uint64_t blocks);
  // A header block; false at the end of the input. A block cut short or
  // bad data there is named as the archive's own failure.
  bool ReadHeaderBlock(uint8_t* block);
  bool ReadBlock(uint8_t* block) { return Read(block, kTarBlock) == kTarBlock; }
  // Names the archive as cut inside a header (or its long name or extended
  // records), unless bad data is the cause; always false.
  bool EndsInsideAHeader();
  [[nodiscard]] bool SkipBlocks(uint64_t blocks);
  [[nodiscard]] bool TakeLongName(uint64_t size);
  [[nodiscard]] bool TakePaxHeader(uint64_t size);
  [[nodiscard]] bool ExtractMember(const uint8_t* header, TarEntryKind kind, uint64_t size);
  // A member of a kind that makes no file here is listed, and otherwise
  // named: a link, which stands for a file the user wants, fails the
  // archive; a FIFO or a device is only named.
  void NameUncreated(const uint8_t* header, const char* name);
  [[nodiscard]] MemberEnd CopyData(uint64_t size);

  ByteSource& source_;
  const char* path_;
  MemberOutput out_;
  uint8_t* work_;
  size_t workSize_;
  PendingName pending_;
  bool havePendingSize_ = false;  // a pax "size" record for the next member
  uint64_t pendingSize_ = 0;
  uint64_t offset_ = 0;    // bytes read from the archive so far
  bool damaged_ = false;   // the source reported bad data
  bool reported_ = false;  // a member's notice already told of it
};

void Walk::Run() {
  uint8_t header[kTarBlock];
  if (!ReadHeaderBlock(header)) return;
  bool endMarker = false;
  while (!(endMarker = IsZeroBlock(header))) {
    const TarEntryKind kind = ClassifyTarType(header[kTarTypeOffset]);
    uint64_t size = 0;
    if (!CheckHeader(header, kind, &size)) {
      if (!Resync(header)) break;
      continue;
    }
    bool more;
    switch (kind) {
      case TarEntryKind::kLongName:
        more = TakeLongName(size);
        break;
      case TarEntryKind::kPax:
        more = TakePaxHeader(size);
        break;
      case TarEntryKind::kSkip: {
        char name[kPathBufferSize];
        if (pending_.state != PendingName::State::kSet ||
            !DecodeStoredName(reinterpret_cast<const uint8_t*>(pending_.text), strlen(pending_.text),
                              pending_.marking, name, sizeof name)) {
          if (!TarHeaderName(header, name, sizeof name) || name[0] == '\0')
            strcpy(name, "(a member with a long name)");
        }
        pending_.state = PendingName::State::kNone;
        NameUncreated(header, name);
        more = SkipData(name, TarBlocksFor(size));
        break;
      }
      default:
        more = ExtractMember(header, kind, size);
        pending_.state = PendingName::State::kNone;
        break;
    }
    if (!more || out_.ArchiveEnded() || !ReadHeaderBlock(header)) break;
  }
  // Past the end marker the compressed sources still hold their checks
  // (a gzip trailer, the bzip2 stream CRC): the rest is read so that damage
  // there is found too.
  if (endMarker) {
    while (Read(work_, workSize_) == workSize_) {
    }
  }
  // Bad data or a cut outside any member's data still loses what follows.
  if (damaged_ && !reported_) RefuseMember(BaseNameOf(path_), "damaged data; the rest of the archive is lost");
}

bool Walk::CheckHeader(const uint8_t* header, TarEntryKind kind, uint64_t* size) {
  if (!TarChecksumMatches(header) || !ParseTarNumber(header + kTarSizeOffset, kTarSizeSize, size)) {
    havePendingSize_ = false;
    pending_.state = PendingName::State::kNone;
    return false;
  }
  // A pax "size" record stands for the size of the member it describes
  // (GNU and pax archives of members of 8 GiB and more carry one).
  if (kind != TarEntryKind::kPax && kind != TarEntryKind::kLongName && havePendingSize_) {
    *size = pendingSize_;
    havePendingSize_ = false;
  }
  return true;
}

bool Walk::Resync(uint8_t* header) {
  const uint64_t badAt = offset_ - kTarBlock;
  char stored[kPathBufferSize], name[kPathBufferSize], about[kPathBufferSize + 32] = "";
  if (TarHeaderName(header, stored, sizeof stored) && stored[0] != '\0' &&
      DecodeStoredName(reinterpret_cast<const uint8_t*>(stored), strlen(stored), NameMarking::kUnmarked, name,
                       sizeof name)) {
    FormatMessageText(about, sizeof about, " (member \"%s\")", name);
  }
  uint64_t skipped = 0;
  bool found = false;
  while (Read(header, kTarBlock) == kTarBlock) {
    // Every valid header's numbers are read as the walk reads them.
    uint64_t size = 0;
    if (!IsZeroBlock(header) && TarChecksumMatches(header) &&
        ParseTarNumber(header + kTarSizeOffset, kTarSizeSize, &size)) {
      found = true;
      break;
    }
    skipped += kTarBlock;
  }
  char text[kPathBufferSize + 200];
  if (found) {
    FormatMessageText(text, sizeof text,
                      "damaged header at byte %llu%s; skipped %llu bytes to the next valid header",
                      static_cast<unsigned long long>(badAt), about, static_cast<unsigned long long>(skipped));
  } else {
    FormatMessageText(text, sizeof text, "damaged header at byte %llu%s; no valid header follows",
                      static_cast<unsigned long long>(badAt), about);
  }
  RefuseMember(BaseNameOf(path_), text);
  return found;
}

bool Walk::SkipData(const char* name, uint64_t blocks) {
  if (SkipBlocks(blocks)) return true;
  if (!damaged_) {
    RefuseMember(name, "the archive ends inside this member");
    reported_ = true;
  }
  return false;
}

bool Walk::ReadHeaderBlock(uint8_t* block) {
  const size_t got = Read(block, kTarBlock);
  if (got == kTarBlock) return true;
  if (got != 0) (void)EndsInsideAHeader();
  return false;
}

bool Walk::EndsInsideAHeader() {
  if (!damaged_) {
    RefuseMember(BaseNameOf(path_), "the archive ends inside a header");
    reported_ = true;
  }
  return false;
}

bool Walk::SkipBlocks(uint64_t blocks) {
  while (blocks > 0) {
    const uint64_t pieceBlocks = workSize_ / kTarBlock < blocks ? workSize_ / kTarBlock : blocks;
    const size_t piece = static_cast<size_t>(pieceBlocks) * kTarBlock;
    if (Read(work_, piece) != piece) return false;
    blocks -= pieceBlocks;
  }
  return true;
}

// GNU long name: the data is the name and its terminator. The blocks that
// can hold a name that fits once decoded are read; a longer name is
// refused, so the member it belongs to is skipped rather than written under
// a cut name. GNU names carry no mark of their character set.
bool Walk::TakeLongName(uint64_t size) {
  pending_.state = PendingName::State::kNone;
  if (size == 0) return true;
  const uint64_t blocks = TarBlocksFor(size);
  uint64_t readBlocks = TarBlocksFor(sizeof pending_.text);
  if (readBlocks > blocks) readBlocks = blocks;
  if (readBlocks * kTarBlock > workSize_) readBlocks = 1;
  const size_t readBytes = static_cast<size_t>(readBlocks) * kTarBlock;
  if (Read(work_, readBytes) != readBytes) return EndsInsideAHeader();
  const size_t inRead = size < readBytes ? static_cast<size_t>(size) : readBytes;
  const void* nul = memchr(work_, 0, inRead);
  const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - work_)
                                       : inRead;
  const bool endsInRead = nul != nullptr || size <= readBytes;
  if (endsInRead && length + 1 <= sizeof pending_.text) {
    memcpy(pending_.text, work_, length);
    pending_.text[length] = '\0';
    pending_.state = PendingName::State::kSet;
    pending_.marking = NameMarking::kUnmarked;
  } else {
    pending_.state = PendingName::State::kRefused;
  }
  return SkipBlocks(blocks - readBlocks) || EndsInsideAHeader();
}

// POSIX extended header: its "path" record names the next member (the
// header's own name field may hold a shortened form), in UTF-8 unless a
// "hdrcharset=BINARY" record says its bytes are the archiver's own; its
// "size" record gives the member's data size. Other records are not used.
bool Walk::TakePaxHeader(uint64_t size) {
  pending_.state = PendingName::State::kNone;
  havePendingSize_ = false;
  const uint64_t blocks = TarBlocksFor(size);
  if (blocks * kTarBlock > workSize_) return SkipBlocks(blocks) || EndsInsideAHeader();
  const size_t bytes = static_cast<size_t>(blocks * kTarBlock);
  if (Read(work_, bytes) != bytes) return EndsInsideAHeader();
  const PaxRecords records = ReadPaxRecords(work_, static_cast<size_t>(size), pending_.text, sizeof pending_.text);
  if (records.havePath) {
    pending_.state = PendingName::State::kSet;
    pending_.marking = records.binary ? NameMarking::kUnmarked : NameMarking::kUtf8;
  } else if (records.pathTooLong) {
    pending_.state = PendingName::State::kRefused;
  }
  havePendingSize_ = records.haveSize;
  pendingSize_ = records.size;
  return true;
}

bool Walk::ExtractMember(const uint8_t* header, TarEntryKind kind, uint64_t size) {
  const uint64_t blocks = TarBlocksFor(size);
  char name[kPathBufferSize];
  switch (pending_.state) {
    case PendingName::State::kSet:
      if (DecodeStoredName(reinterpret_cast<const uint8_t*>(pending_.text), strlen(pending_.text),
                           pending_.marking, name, sizeof name))
        break;
      [[fallthrough]];
    case PendingName::State::kRefused:
      // Named by the header's own (shortened) name, when it has one.
      if (!TarHeaderName(header, name, sizeof name) || name[0] == '\0') strcpy(name, "(a member with a long name)");
      RefuseMember(name, "the name is too long for an output path; skipped");
      return SkipData(name, blocks);
    default: {
      // ustar and GNU headers carry no mark of their names' character set.
      char stored[kPathBufferSize];
      if (!TarHeaderName(header, stored, sizeof stored)) {
        RefuseMember("(a member with a long name)", "the name is too long for an output path; skipped");
        return SkipData("(a member with a long name)", blocks);
      }
      if (!DecodeStoredName(reinterpret_cast<const uint8_t*>(stored), strlen(stored),
                            NameMarking::kUnmarked, name, sizeof name)) {
        RefuseMember(stored, "the name is too long for an output path; skipped");
        return SkipData(stored, blocks);
      }
      break;
    }
  }
  const uint32_t mode = static_cast<uint32_t>(ParseTarOctal(header + kTarModeOffset, kTarModeSize));
  MemberInfo info;
  info.name = name;
  info.size = size;
  // A name without a trailing separator still names a folder.
  info.isFolder = kind == TarEntryKind::kFolder || (mode & kTarModeFolder) != 0;
  uint64_t mtime = 0;
  if (!ParseTarNumber(header + kTarMtimeOffset, kTarMtimeSize, &mtime)) mtime = 0;  // before 1970
  info.SetUnixTime(static_cast<uint32_t>(mtime < UINT32_MAX ? mtime : UINT32_MAX));
  info.readOnly = (mode & kTarModeOwnerWrite) == 0;
  if (!out_.Begin(info)) return SkipData(name, blocks);
  const MemberEnd end = CopyData(size);
  if (end == MemberEnd::kDamaged) reported_ = true;
  out_.End(end);
  return end == MemberEnd::kComplete;
}

void Walk::NameUncreated(const uint8_t* header, const char* name) {
  const uint8_t type = header[kTarTypeOffset];
  const char* what = type == '1' ? "hard link" : type == '2' ? "symbolic link" : type == '6' ? "FIFO"
                   : type == '3' || type == '4' ? "device" : nullptr;
  if (what == nullptr) return;  // labels, multi-volume and sparse pieces, global records
  if (g_RunOptions.mode == RunMode::kList) {
    MemberInfo info;
    info.name = name;
    info.size = 0;
    // A short kind in the method column.
    info.method = type == '1' ? "link" : type == '2' ? "symlink" : type == '6' ? "fifo" : "device";
    (void)out_.Begin(info);  // lists it; nothing to decode
    return;
  }
  if (type == '1' || type == '2') {
    // The stored target, as far as the header holds it (a longer one
    // comes in records not read here).
    char target[kTarLinkNameSize + 1];
    memcpy(target, header + kTarLinkNameOffset, kTarLinkNameSize);
    target[kTarLinkNameSize] = '\0';
    char reason[kTarLinkNameSize + 80];
    snprintf(reason, sizeof reason, "a %s to %s; links are not created, skipped", what, target);
    RefuseMember(name, reason);
  } else {
    MemberNotice(name, "a %s; not created", what);
  }
}

// Copies the member's data in pieces of whole blocks, handing out only the
// member's bytes of the last block. After a failed write the data is still
// read, so the walk goes on with the next member. Anything but complete
// ends the walk: the archive ended early or its data is damaged.
MemberEnd Walk::CopyData(uint64_t size) {
  uint64_t remaining = size;
  bool writing = true;
  while (remaining > 0) {
    const uint64_t blockBytes = TarBlocksFor(remaining) * kTarBlock;
    const size_t piece = static_cast<size_t>(blockBytes < workSize_ ? blockBytes : workSize_);
    const size_t got = Read(work_, piece);
    const size_t useful = static_cast<size_t>(got < remaining ? got : remaining);
    if (writing && !out_.Write(work_, useful)) writing = false;
    if (got != piece) return damaged_ ? MemberEnd::kDamaged : MemberEnd::kTruncated;
    remaining -= useful;
  }
  return MemberEnd::kComplete;
}

}  // namespace

bool TarProbe(ByteSource& source, const char* path) {
  if (!source.Open(path)) return false;
  uint8_t block[kTarBlock];
  bool damaged = false;
  const bool ok = ReadFull(source, block, kTarBlock, &damaged) == kTarBlock && TarChecksumMatches(block);
  source.Close();
  return ok;
}

bool TarExtract(ByteSource& source, const char* path, const char* outputFolder, uint8_t* work,
                size_t workSize) {
  if (work == nullptr || workSize < kTarBlock) return false;
  if (!source.Open(path)) return false;
  Walk(source, path, outputFolder, work, workSize).Run();
  source.Close();
  return true;
}

}  // namespace tar
