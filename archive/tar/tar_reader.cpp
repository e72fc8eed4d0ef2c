#include "archive/tar/tar_reader.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/tar/tar_header.h"
#include "core/charset.h"
#include "core/datetime.h"
#include "core/member_output.h"
#include "core/messages.h"
#include "core/names.h"
#include "core/output.h"

namespace tar {

namespace {

// Reads until `count` bytes arrived or the source gives nothing more;
// *damaged is set when the source reported bad data, *cut when its
// compressed stream ended early.
size_t ReadFull(ByteSource& source, uint8_t* buffer, size_t count, bool* damaged, bool* cut) {
  size_t done = 0;
  while (done < count) {
    size_t want = count - done;
    if (want > 0x40000000) want = 0x40000000;
    const int32_t n = source.Read(buffer + done, static_cast<int32_t>(want));
    if (n == kSourceTruncated) {
      *cut = true;
    } else if (n < 0) {
      *damaged = true;
    }
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
    const size_t got = ReadFull(source_, buffer, count, &damaged_, &cut_);
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
  [[nodiscard]] bool TakeLongName(uint64_t size, PendingName* into);
  [[nodiscard]] bool TakePaxHeader(uint64_t size);
  [[nodiscard]] bool ExtractMember(const uint8_t* header, TarEntryKind kind, uint64_t size);
  // The member's name, or its link's target, from what came before its
  // header or the header's own field. False: it does not fit (named;
  // `name` then holds what to call the member).
  bool TakeName(const uint8_t* header, char* name);
  bool TakeLinkTarget(const uint8_t* header, const char* name, char* target);
  // A sparse member's map: from the extended records, the old GNU header
  // and its extension blocks, or the start of the data (format 1.0, whose
  // blocks are taken off *dataSize). False when the archive ends or the
  // map is damaged (named, the walk goes on or stops as the result says).
  [[nodiscard]] bool ReadSparseMap(const uint8_t* header, TarEntryKind kind, const char* name, uint64_t* dataSize,
                                   uint64_t* realSize, bool* more);
  [[nodiscard]] MemberEnd CopyData(uint64_t size);
  [[nodiscard]] MemberEnd CopySparse(uint64_t dataSize, uint64_t realSize);

  ByteSource& source_;
  const char* path_;
  MemberOutput out_;
  uint8_t* work_;
  size_t workSize_;
  PendingName pending_;
  PendingName pendingLink_;  // a GNU long link name for the next member
  PaxRecords pax_;           // the extended records for the next member
  char paxLink_[kStoredNameSize + 1];
  std::vector<SparseEntry> sparseMap_;
  bool havePendingSize_ = false;  // a pax "size" record for the next member
  uint64_t pendingSize_ = 0;
  uint64_t offset_ = 0;    // bytes read from the archive so far
  bool damaged_ = false;   // the source reported bad data
  bool cut_ = false;       // the source's compressed stream ended early
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
        more = TakeLongName(size, &pending_);
        break;
      case TarEntryKind::kLongLink:
        more = TakeLongName(size, &pendingLink_);
        break;
      case TarEntryKind::kPax:
        more = TakePaxHeader(size);
        break;
      case TarEntryKind::kSkip:
        // Volume labels, multi-volume pieces, global records: nothing of
        // a member.
        pending_.state = pendingLink_.state = PendingName::State::kNone;
        pax_ = PaxRecords{};
        more = SkipData("(a volume record)", TarBlocksFor(size));
        break;
      default:
        more = ExtractMember(header, kind, size);
        pending_.state = pendingLink_.state = PendingName::State::kNone;
        pax_ = PaxRecords{};
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
  if (damaged_ && !reported_) {
    FailArchive(BaseNameOf(path_), "damaged data; the rest of the archive is lost");
  } else if (cut_ && !reported_) {
    FailArchive(BaseNameOf(path_), endMarker ? "the compressed data ends before its checksum; the archive is not verified"
                                              : "the compressed data ends early; the rest of the archive is lost");
  }
}

bool Walk::CheckHeader(const uint8_t* header, TarEntryKind kind, uint64_t* size) {
  if (!TarChecksumMatches(header) || !ParseTarNumber(header + kTarSizeOffset, kTarSizeSize, size)) {
    havePendingSize_ = false;
    pending_.state = pendingLink_.state = PendingName::State::kNone;
    pax_ = PaxRecords{};
    return false;
  }
  // A pax "size" record stands for the size of the member it describes
  // (GNU and pax archives of members of 8 GiB and more carry one).
  if (kind != TarEntryKind::kPax && kind != TarEntryKind::kLongName && kind != TarEntryKind::kLongLink &&
      havePendingSize_) {
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
  FailArchive(BaseNameOf(path_), text);
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
    FailArchive(BaseNameOf(path_), "the archive ends inside a header");
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

// GNU long name (or long link target): the data is the name and its
// terminator. The blocks that
// can hold a name that fits once decoded are read; a longer name is
// refused, so the member it belongs to is skipped rather than written under
// a cut name. GNU names carry no mark of their character set.
bool Walk::TakeLongName(uint64_t size, PendingName* into) {
  PendingName& pending = *into;
  pending.state = PendingName::State::kNone;
  if (size == 0) return true;
  const uint64_t blocks = TarBlocksFor(size);
  uint64_t readBlocks = TarBlocksFor(sizeof pending.text);
  if (readBlocks > blocks) readBlocks = blocks;
  if (readBlocks * kTarBlock > workSize_) readBlocks = 1;
  const size_t readBytes = static_cast<size_t>(readBlocks) * kTarBlock;
  if (Read(work_, readBytes) != readBytes) return EndsInsideAHeader();
  const size_t inRead = size < readBytes ? static_cast<size_t>(size) : readBytes;
  const void* nul = memchr(work_, 0, inRead);
  const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - work_)
                                       : inRead;
  const bool endsInRead = nul != nullptr || size <= readBytes;
  if (endsInRead && length + 1 <= sizeof pending.text) {
    memcpy(pending.text, work_, length);
    pending.text[length] = '\0';
    pending.state = PendingName::State::kSet;
    pending.marking = NameMarking::kUnmarked;
  } else {
    pending.state = PendingName::State::kRefused;
  }
  return SkipBlocks(blocks - readBlocks) || EndsInsideAHeader();
}

// POSIX extended header: its "path" record names the next member (the
// header's own name field may hold a shortened form), in UTF-8 unless a
// "hdrcharset=BINARY" record says its bytes are the archiver's own; its
// "size" record gives the member's data size, "linkpath" a link's target,
// the GNU.sparse records a sparse file's map and real size.
bool Walk::TakePaxHeader(uint64_t size) {
  pending_.state = PendingName::State::kNone;
  havePendingSize_ = false;
  pax_ = PaxRecords{};
  const uint64_t blocks = TarBlocksFor(size);
  if (blocks * kTarBlock > workSize_) return SkipBlocks(blocks) || EndsInsideAHeader();
  const size_t bytes = static_cast<size_t>(blocks * kTarBlock);
  if (Read(work_, bytes) != bytes) return EndsInsideAHeader();
  pax_ = ReadPaxRecords(work_, static_cast<size_t>(size), pending_.text, sizeof pending_.text, paxLink_,
                        sizeof paxLink_, &sparseMap_);
  if (pax_.havePath) {
    pending_.state = PendingName::State::kSet;
    pending_.marking = pax_.binary ? NameMarking::kUnmarked : NameMarking::kUtf8;
  } else if (pax_.pathTooLong) {
    pending_.state = PendingName::State::kRefused;
  }
  if (pax_.haveLink || pax_.linkTooLong) {
    pendingLink_.state = pax_.haveLink ? PendingName::State::kSet : PendingName::State::kRefused;
    pendingLink_.marking = pax_.binary ? NameMarking::kUnmarked : NameMarking::kUtf8;
    memcpy(pendingLink_.text, paxLink_, sizeof paxLink_);
  }
  havePendingSize_ = pax_.haveSize;
  pendingSize_ = pax_.size;
  return true;
}

bool Walk::TakeName(const uint8_t* header, char* name) {
  switch (pending_.state) {
    case PendingName::State::kSet:
      if (DecodeStoredName(reinterpret_cast<const uint8_t*>(pending_.text), strlen(pending_.text),
                           pending_.marking, name, kOutputPathSize))
        return true;
      [[fallthrough]];
    case PendingName::State::kRefused:
      // Named by the header's own (shortened) name, when it has one.
      if (!TarHeaderName(header, name, kOutputPathSize) || name[0] == '\0') strcpy(name, "(a member with a long name)");
      RefuseMember(name, "the name is too long for an output path; skipped");
      return false;
    default: {
      // ustar and GNU headers carry no mark of their names' character set.
      char stored[kPathBufferSize];
      if (!TarHeaderName(header, stored, sizeof stored)) {
        strcpy(name, "(a member with a long name)");
        RefuseMember(name, "the name is too long for an output path; skipped");
        return false;
      }
      if (!DecodeStoredName(reinterpret_cast<const uint8_t*>(stored), strlen(stored), NameMarking::kUnmarked, name,
                            kOutputPathSize)) {
        strcpy(name, stored);
        RefuseMember(name, "the name is too long for an output path; skipped");
        return false;
      }
      return true;
    }
  }
}

bool Walk::TakeLinkTarget(const uint8_t* header, const char* name, char* target) {
  const uint8_t* stored = header + kTarLinkNameOffset;
  size_t length = 0;
  NameMarking marking = NameMarking::kUnmarked;
  if (pendingLink_.state == PendingName::State::kSet) {
    stored = reinterpret_cast<const uint8_t*>(pendingLink_.text);
    length = strlen(pendingLink_.text);
    marking = pendingLink_.marking;
  } else if (pendingLink_.state == PendingName::State::kNone) {
    while (length < kTarLinkNameSize && stored[length] != 0) ++length;
  }
  if (pendingLink_.state == PendingName::State::kRefused ||
      !DecodeStoredName(stored, length, marking, target, kOutputPathSize)) {
    RefuseMember(name, "the link target is too long; not created");
    return false;
  }
  return true;
}

bool Walk::ExtractMember(const uint8_t* header, TarEntryKind kind, uint64_t size) {
  uint64_t blocks = TarBlocksFor(size);
  char name[kOutputPathSize];
  if (!TakeName(header, name)) return SkipData(name, blocks);
  const uint8_t type = header[kTarTypeOffset];
  const uint32_t mode = static_cast<uint32_t>(ParseTarOctal(header + kTarModeOffset, kTarModeSize));
  MemberInfo info;
  info.name = name;
  info.size = size;
  // A name without a trailing separator still names a folder.
  info.isFolder = kind == TarEntryKind::kFolder || (kind == TarEntryKind::kFile && (mode & kTarModeFolder) != 0);
  uint64_t mtime = 0;
  if (!ParseTarNumber(header + kTarMtimeOffset, kTarMtimeSize, &mtime)) mtime = 0;  // before 1970
  info.SetUnixTime(static_cast<uint32_t>(mtime < UINT32_MAX ? mtime : UINT32_MAX));
  if (pax_.haveMtime && pax_.mtimeSeconds < (uint64_t{1} << 34)) {
    // The exact time, to the 100 ns a file time holds.
    info.time = UnixSecondsToFileTime(static_cast<int64_t>(pax_.mtimeSeconds), pax_.mtimeNanoseconds);
  }
  // The permission bits are the archive's; the output takes the umask off.
  info.hasMode = true;
  info.mode = mode & 07777;
  char target[kOutputPathSize];
  if (kind == TarEntryKind::kNode) {
    info.size = 0;
    info.kind = type == '1' ? MemberKind::kHardLink : type == '2' ? MemberKind::kSymlink
              : type == '6' ? MemberKind::kFifo : MemberKind::kDevice;
    info.method = type == '1' ? "link" : type == '2' ? "symlink" : type == '6' ? "fifo" : "device";
    if (type == '1' || type == '2') {
      if (!TakeLinkTarget(header, name, target)) return SkipData(name, blocks);
      info.linkTarget = target;
    }
    (void)out_.Begin(info);  // made, listed or named there; a link has no data of its own
    return SkipData(name, blocks);
  }
  uint64_t realSize = size;
  const bool sparse = kind == TarEntryKind::kSparse || pax_.sparse;
  if (sparse) {
    bool more = true;
    if (!ReadSparseMap(header, kind, name, &size, &realSize, &more)) return more;
    blocks = TarBlocksFor(size);
    info.size = realSize;
    info.sparse = true;
  }
  if (!out_.Begin(info)) return SkipData(name, blocks);
  const MemberEnd end = sparse ? CopySparse(size, realSize) : CopyData(size);
  if (end != MemberEnd::kComplete) reported_ = true;
  out_.End(end);
  return end == MemberEnd::kComplete;
}

bool Walk::ReadSparseMap(const uint8_t* header, TarEntryKind kind, const char* name, uint64_t* dataSize,
                         uint64_t* realSize, bool* more) {
  bool bad = false;
  if (kind == TarEntryKind::kSparse) {
    // The old GNU form: entries in the header, then in extension blocks
    // while the flag says more follow.
    sparseMap_.clear();
    auto take = [&](const uint8_t* entries, size_t count) {
      for (size_t i = 0; i < count; ++i) {
        SparseEntry entry;
        const uint8_t* field = entries + i * 24;
        if (field[0] == 0) break;
        if (!ParseTarNumber(field, 12, &entry.offset) || !ParseTarNumber(field + 12, 12, &entry.size) ||
            sparseMap_.size() >= kMaxSparseEntries) {
          bad = true;
          break;
        }
        sparseMap_.push_back(entry);
      }
    };
    take(header + kTarSparseOffset, kTarSparseEntries);
    if (!ParseTarNumber(header + kTarRealSizeOffset, 12, realSize)) bad = true;
    bool extended = header[kTarSparseExtendedOffset] != 0;
    uint8_t block[kTarBlock];
    while (extended) {
      if (!ReadBlock(block)) {
        *more = EndsInsideAHeader();
        return false;
      }
      take(block, kTarSparseExtensionEntries);
      extended = block[kTarSparseExtensionFlag] != 0;
    }
  } else if (pax_.sparseMapInData) {
    // Format 1.0: decimal numbers, one a line, at the start of the data
    // (their count, then offset and size pairs), padded to a whole block.
    sparseMap_.clear();
    *realSize = pax_.realSize;
    uint64_t count = 0, numbers = 0, value = 0;
    size_t digits = 0;
    bool counted = false;
    uint8_t block[kTarBlock];
    while (!bad && !(counted && numbers == 2 * count)) {
      if (*dataSize < kTarBlock || !ReadBlock(block)) {
        if (*dataSize >= kTarBlock) {
          *more = EndsInsideAHeader();
          return false;
        }
        bad = true;
        break;
      }
      *dataSize -= kTarBlock;
      for (size_t i = 0; i < kTarBlock && !bad && !(counted && numbers == 2 * count); ++i) {
        if (block[i] >= '0' && block[i] <= '9' && digits < 19) {
          value = value * 10 + (block[i] - '0');
          ++digits;
        } else if (block[i] == '\n' && digits > 0) {
          if (!counted) {
            count = value;
            counted = true;
            bad = count > kMaxSparseEntries;
          } else if (numbers++ % 2 == 0) {
            sparseMap_.push_back({value, 0});
          } else {
            sparseMap_.back().size = value;
          }
          value = 0;
          digits = 0;
        } else {
          bad = true;
        }
      }
    }
  } else {
    *realSize = pax_.realSize;
  }
  // The pieces go in order, inside the file, and hold the data exactly.
  bad = bad || pax_.sparseBad;
  uint64_t end = 0, stored = 0;
  for (const SparseEntry& entry : sparseMap_) {
    if (bad || entry.offset < end || entry.size > *realSize || entry.offset > *realSize - entry.size) {
      bad = true;
      break;
    }
    end = entry.offset + entry.size;
    stored += entry.size;
  }
  if (!bad && stored == *dataSize) return true;
  RefuseMember(name, "a sparse file whose map is damaged; skipped");
  *more = SkipData(name, TarBlocksFor(*dataSize));
  return false;
}

// A sparse member's data: the pieces, stored one after the other and
// padded to whole blocks at the end, each written where the map puts it;
// holes between them and after the last.
MemberEnd Walk::CopySparse(uint64_t dataSize, uint64_t realSize) {
  uint64_t blocksLeft = TarBlocksFor(dataSize);
  size_t have = 0, used = 0;
  uint64_t position = 0;
  bool writing = true;
  for (const SparseEntry& entry : sparseMap_) {
    if (writing && !out_.Skip(entry.offset - position)) writing = false;
    position = entry.offset;
    for (uint64_t need = entry.size; need > 0;) {
      if (used == have) {
        const uint64_t pieceBlocks = workSize_ / kTarBlock < blocksLeft ? workSize_ / kTarBlock : blocksLeft;
        const size_t piece = static_cast<size_t>(pieceBlocks) * kTarBlock;
        have = Read(work_, piece);
        used = 0;
        if (have != piece) return damaged_ ? MemberEnd::kDamaged : MemberEnd::kTruncated;
        blocksLeft -= pieceBlocks;
      }
      const size_t take = static_cast<size_t>(need < have - used ? need : have - used);
      if (writing && !out_.Write(work_ + used, take)) writing = false;
      used += take;
      need -= take;
      position += take;
    }
  }
  if (writing && !out_.Skip(realSize - position)) writing = false;
  if (!SkipBlocks(blocksLeft)) return damaged_ ? MemberEnd::kDamaged : MemberEnd::kTruncated;
  return MemberEnd::kComplete;
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

bool TarProbe(ByteSource& source, const char* path, bool emptyTaken) {
  if (!source.Open(path)) return false;
  uint8_t blocks[2 * kTarBlock];
  bool damaged = false;
  const size_t got = ReadFull(source, blocks, emptyTaken ? sizeof blocks : kTarBlock, &damaged, &damaged);
  const bool ok = got >= kTarBlock && (TarChecksumMatches(blocks) ||
                                       (got == sizeof blocks && IsZeroBlock(blocks) && IsZeroBlock(blocks + kTarBlock)));
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
