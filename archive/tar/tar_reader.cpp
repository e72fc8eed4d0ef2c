#include "archive/tar/tar_reader.h"

#include <cstdio>
#include <cstring>

#include "archive/tar/tar_header.h"
#include "core/charset.h"
#include "core/names.h"
#include "core/output.h"

namespace {

// Reads until `count` bytes arrived or the source gives nothing more.
size_t ReadFull(ByteSource& source, uint8_t* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    size_t want = count - done;
    if (want > 0x40000000) want = 0x40000000;
    const int32_t n = source.Read(buffer + done, static_cast<int32_t>(want));
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
  Walk(ByteSource& source, const char* outputFolder, uint8_t* work, size_t workSize)
      : source_(source),
        folder_(outputFolder),
        work_(work),
        // Data moves in whole blocks.
        workSize_(workSize / kTarBlock * kTarBlock) {}

  void Run();

 private:
  bool ReadBlock(uint8_t* block) { return ReadFull(source_, block, kTarBlock) == kTarBlock; }
  [[nodiscard]] bool SkipBlocks(uint64_t blocks);
  [[nodiscard]] bool TakeLongName(uint64_t size);
  [[nodiscard]] bool TakePaxHeader(uint64_t size);
  [[nodiscard]] bool ExtractMember(const uint8_t* header, TarEntryKind kind, uint64_t size);
  [[nodiscard]] bool CopyData(FILE* out, uint64_t size, bool* complete);
  void PreparePath(char* path);

  ByteSource& source_;
  const char* folder_;
  uint8_t* work_;
  size_t workSize_;
  PendingName pending_;
  // The folder part of the last path that went through PrepareOutputPath,
  // as joined and as prepared (the same length: sanitising replaces single
  // bytes). Archivers store a folder's members one after the other, so the
  // folders of the next path are usually made already.
  char lastRawFolder_[kPathBufferSize];
  char lastPreparedFolder_[kPathBufferSize];
  size_t lastFolderLength_ = kPathBufferSize;  // none yet
};

void Walk::Run() {
  uint8_t header[kTarBlock];
  if (!ReadBlock(header)) return;
  while (!IsZeroBlock(header)) {
    const uint64_t size = ParseTarOctal(header + kTarSizeOffset, kTarSizeSize);
    const TarEntryKind kind = ClassifyTarType(header[kTarTypeOffset]);
    bool more;
    switch (kind) {
      case TarEntryKind::kLongName:
        more = TakeLongName(size);
        break;
      case TarEntryKind::kPax:
        more = TakePaxHeader(size);
        break;
      case TarEntryKind::kSkip:
        pending_.state = PendingName::State::kNone;
        more = SkipBlocks(TarBlocksFor(size));
        break;
      default:
        more = ExtractMember(header, kind, size);
        pending_.state = PendingName::State::kNone;
        break;
    }
    if (!more || !ReadBlock(header)) return;
  }
}

bool Walk::SkipBlocks(uint64_t blocks) {
  while (blocks > 0) {
    const uint64_t pieceBlocks = workSize_ / kTarBlock < blocks ? workSize_ / kTarBlock : blocks;
    const size_t piece = static_cast<size_t>(pieceBlocks) * kTarBlock;
    if (ReadFull(source_, work_, piece) != piece) return false;
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
  if (ReadFull(source_, work_, readBytes) != readBytes) return false;
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
  return SkipBlocks(blocks - readBlocks);
}

// POSIX extended header: its "path" record names the next member (the
// header's own name field may hold a shortened form), in UTF-8 unless a
// "hdrcharset=BINARY" record says its bytes are the archiver's own. Other
// records are not used.
bool Walk::TakePaxHeader(uint64_t size) {
  pending_.state = PendingName::State::kNone;
  const uint64_t blocks = TarBlocksFor(size);
  if (blocks * kTarBlock > workSize_) return SkipBlocks(blocks);
  const size_t bytes = static_cast<size_t>(blocks * kTarBlock);
  if (ReadFull(source_, work_, bytes) != bytes) return false;
  bool tooLong = false, binary = false;
  if (PaxPath(work_, static_cast<size_t>(size), pending_.text, sizeof pending_.text, &tooLong,
              &binary)) {
    pending_.state = PendingName::State::kSet;
    pending_.marking = binary ? NameMarking::kUnmarked : NameMarking::kUtf8;
  } else if (tooLong) {
    pending_.state = PendingName::State::kRefused;
  }
  return true;
}

bool Walk::ExtractMember(const uint8_t* header, TarEntryKind kind, uint64_t size) {
  const uint64_t blocks = TarBlocksFor(size);
  char name[kPathBufferSize];
  bool haveName;
  switch (pending_.state) {
    case PendingName::State::kSet:
      haveName = DecodeStoredName(reinterpret_cast<const uint8_t*>(pending_.text), strlen(pending_.text),
                                  pending_.marking, name, sizeof name);
      break;
    case PendingName::State::kRefused:
      haveName = false;
      break;
    default: {
      // ustar and GNU headers carry no mark of their names' character set.
      char stored[kPathBufferSize];
      haveName = TarHeaderName(header, stored, sizeof stored) &&
                 DecodeStoredName(reinterpret_cast<const uint8_t*>(stored), strlen(stored),
                                  NameMarking::kUnmarked, name, sizeof name);
      break;
    }
  }
  char path[kPathBufferSize];
  if (!haveName || name[0] == '\0' || !JoinOutputPath(path, sizeof path, folder_, name))
    return SkipBlocks(blocks);
  PreparePath(path);

  const uint32_t mode = static_cast<uint32_t>(ParseTarOctal(header + kTarModeOffset, kTarModeSize));
  if (kind == TarEntryKind::kFolder || (mode & kTarModeFolder) != 0) {
    // PrepareOutputPath made the folders above; a name without a trailing
    // separator still names a folder.
    CreateFolder(path);
    return SkipBlocks(blocks);
  }
  FILE* out = OpenFileStream(path, "wb");
  if (out == nullptr) return SkipBlocks(blocks);
  // Data is written in whole pieces; a stream buffer would only split them.
  setvbuf(out, nullptr, _IONBF, 0);
  bool complete = false;
  const bool more = CopyData(out, size, &complete);
  fclose(out);
  if (!complete) return more;
  const uint32_t mtime = static_cast<uint32_t>(ParseTarOctal(header + kTarMtimeOffset, kTarMtimeSize));
  // The time first, while the file can still be opened for writing.
  StampUnixTime(path, mtime);
  SetAttributes(path, (mode & kTarModeOwnerWrite) != 0 ? kAttrArchive : kAttrArchiveReadOnly);
  return true;
}

// PrepareOutputPath for a member path, creating folders only when the
// folder part differs from the last member's; within the same folder only
// the name is sanitised.
void Walk::PreparePath(char* path) {
  const char* separator = nullptr;
  for (const char* p = path; *p != '\0'; p = CharNext(p))
    if (*p == '\\' || *p == '/') separator = p;
  const size_t length = separator != nullptr ? static_cast<size_t>(separator - path) : 0;
  if (separator != nullptr && length == lastFolderLength_ && memcmp(path, lastRawFolder_, length) == 0) {
    PrepareOutputPath(path + length + 1);
    memcpy(path, lastPreparedFolder_, length);
    path[length] = '\\';
    return;
  }
  memcpy(lastRawFolder_, path, length);
  PrepareOutputPath(path);
  memcpy(lastPreparedFolder_, path, length);
  lastFolderLength_ = separator != nullptr ? length : kPathBufferSize;
}

// Copies the member's data in pieces of whole blocks, writing only the
// member's bytes of the last block. `complete` is false when the archive
// ended early (what arrived is written, and the walk ends) or a write
// failed (the walk goes on).
bool Walk::CopyData(FILE* out, uint64_t size, bool* complete) {
  uint64_t remaining = size;
  bool writing = true;
  while (remaining > 0) {
    const uint64_t blockBytes = TarBlocksFor(remaining) * kTarBlock;
    const size_t piece = static_cast<size_t>(blockBytes < workSize_ ? blockBytes : workSize_);
    const size_t got = ReadFull(source_, work_, piece);
    const size_t useful = static_cast<size_t>(got < remaining ? got : remaining);
    if (writing && fwrite(work_, 1, useful, out) != useful) writing = false;
    if (got != piece) {
      *complete = false;
      return false;
    }
    remaining -= useful;
  }
  *complete = writing;
  return true;
}

}  // namespace

bool TarProbe(ByteSource& source, const char* path) {
  if (!source.Open(path)) return false;
  uint8_t block[kTarBlock];
  const bool ok = ReadFull(source, block, kTarBlock) == kTarBlock && TarChecksumMatches(block);
  source.Close();
  return ok;
}

bool TarExtract(ByteSource& source, const char* path, const char* outputFolder, uint8_t* work,
                size_t workSize) {
  if (work == nullptr || workSize < kTarBlock) return false;
  if (!source.Open(path)) return false;
  Walk(source, outputFolder, work, workSize).Run();
  source.Close();
  return true;
}
