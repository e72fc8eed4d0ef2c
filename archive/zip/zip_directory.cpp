#include "archive/zip/zip_directory.h"

#include <algorithm>

#include "core/byte_order.h"
#include "core/datetime.h"

namespace zip {
namespace {

constexpr uint32_t kEndSignature = 0x06054B50;          // "PK\5\6"
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;  // "PK\6\7"
constexpr uint32_t kZip64EndSignature = 0x06064B50;      // "PK\6\6"
constexpr uint32_t kDirectorySignature = 0x02014B50;     // "PK\1\2"
constexpr size_t kEndRecordSize = 22;
constexpr size_t kLocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kEntrySize = 46;
// No archive holds more members than this; a count above it is damage.
constexpr uint64_t kMaxEntries = 1u << 24;

// What the end records say.
struct End {
  uint64_t at = 0;          // where the end record starts in the stream
  uint64_t directoryAt = 0; // where the Zip64 end record starts, else `at`
  uint32_t disk = 0;        // the number of the segment holding the end record
  uint32_t directoryDisk = 0;
  uint64_t entries = 0;
  uint64_t size = 0;
  uint64_t offset = 0;      // of the directory, in its segment
};

bool ReadAt(FILE* stream, uint64_t at, uint8_t* buffer, size_t size) {
  return fseeko(stream, static_cast<off_t>(at), SEEK_SET) == 0 && fread(buffer, 1, size, stream) == size;
}

// The end record is 22 bytes and a comment of at most 65,535 bytes at the
// end of the stream; the last signature there is taken.
bool FindEnd(FILE* stream, End& end) {
  if (fseeko(stream, 0, SEEK_END) != 0) return false;
  const off_t fileSize = ftello(stream);
  if (fileSize < static_cast<off_t>(kEndRecordSize)) return false;
  std::vector<uint8_t> tail(static_cast<size_t>(std::min<off_t>(fileSize, kEndRecordSize + 0xFFFF)));
  const uint64_t tailStart = static_cast<uint64_t>(fileSize) - tail.size();
  if (!ReadAt(stream, tailStart, tail.data(), tail.size())) return false;
  size_t i = tail.size() - kEndRecordSize + 1;
  while (i-- > 0 && LoadLe32(tail.data() + i) != kEndSignature) {
  }
  if (i == SIZE_MAX) return false;
  const uint8_t* e = tail.data() + i;
  end.at = end.directoryAt = tailStart + i;
  end.disk = LoadLe16(e + 4);
  end.directoryDisk = LoadLe16(e + 6);
  end.entries = LoadLe16(e + 10);
  end.size = LoadLe32(e + 12);
  end.offset = LoadLe32(e + 16);
  // Zip64: a locator right in front names the Zip64 end record, whose
  // fields replace those the 16- and 32-bit ones could not hold.
  uint8_t locator[kLocatorSize];
  uint8_t record[kZip64EndSize];
  if (end.at >= kLocatorSize && ReadAt(stream, end.at - kLocatorSize, locator, sizeof locator) &&
      LoadLe32(locator) == kZip64LocatorSignature) {
    // The record normally stands right in front of the locator (its size
    // may grow by an extensible data field; the locator's offset, which a
    // stub in front moves and which counts within a segment, is tried then).
    for (const uint64_t where : {end.at - kLocatorSize - kZip64EndSize, LoadLe64(locator + 8)}) {
      if (where > end.at || !ReadAt(stream, where, record, sizeof record) || LoadLe32(record) != kZip64EndSignature)
        continue;
      end.directoryAt = where;
      end.disk = LoadLe32(record + 16);
      end.directoryDisk = LoadLe32(record + 20);
      end.entries = LoadLe64(record + 32);
      end.size = LoadLe64(record + 40);
      end.offset = LoadLe64(record + 48);
      break;
    }
  }
  return end.entries <= kMaxEntries;
}

// The Zip64 extra field (0x0001) of a directory entry: the uncompressed
// size, the compressed size, the local header's offset and its disk, each
// present only when its field in the entry is all ones.
void TakeZip64(const uint8_t* extra, size_t length, ZipDirectoryEntry& entry, uint32_t& disk) {
  for (ExtraFields f(extra, length); f.Next();) {
    if (f.id != 0x0001) continue;
    size_t used = 0;
    for (uint64_t* value : {&entry.uncompressedSize, &entry.compressedSize, &entry.localOffset}) {
      if (*value == 0xFFFFFFFF && used + 8 <= f.size) {
        *value = LoadLe64(f.data + used);
        used += 8;
      }
    }
    if (disk == 0xFFFF && used + 4 <= f.size) disk = LoadLe32(f.data + used);
    return;
  }
}

}  // namespace

bool ExtraFields::Next() {
  if (at_ + 4 > length_) return false;
  id = LoadLe16(extra_ + at_);
  size = LoadLe16(extra_ + at_ + 2);
  if (size > length_ - at_ - 4) return false;
  data = extra_ + at_ + 4;
  at_ += 4 + size;
  return true;
}

uint32_t ZipDirectory::SegmentCount(FILE* stream) {
  End end;
  return FindEnd(stream, end) ? end.disk + 1 : 0;
}

bool ZipDirectory::Load(FILE* stream, const std::vector<uint64_t>& segmentStarts) {
  entries_.clear();
  legacy_.clear();
  End end;
  if (!FindEnd(stream, end)) return false;
  auto startOf = [&](uint32_t disk, uint64_t* start) {
    if (segmentStarts.empty()) {
      *start = 0;
      return disk == 0;
    }
    if (disk >= segmentStarts.size()) return false;
    *start = segmentStarts[disk];
    return true;
  };
  uint64_t base = 0;
  if (!startOf(end.directoryDisk, &base)) return false;
  // In one file, data in front of the archive (a self-extractor's stub)
  // moves every offset by its length: the directory ends where the end
  // records begin.
  uint64_t shift = 0;
  if (segmentStarts.empty()) {
    if (end.size > end.directoryAt) return false;
    const uint64_t actual = end.directoryAt - end.size;
    if (actual < end.offset) return false;
    shift = actual - end.offset;
  }
  if (fseeko(stream, static_cast<off_t>(base + end.offset + shift), SEEK_SET) != 0) return false;
  std::vector<uint8_t> variable;
  uint64_t used = 0;
  for (uint64_t n = 0; n < end.entries; ++n) {
    uint8_t e[kEntrySize];
    if (used + kEntrySize > end.size || fread(e, 1, sizeof e, stream) != sizeof e ||
        LoadLe32(e) != kDirectorySignature)
      return false;
    ZipDirectoryEntry entry;
    entry.host = e[5];
    entry.flags = LoadLe16(e + 8);
    entry.method = LoadLe16(e + 10);
    entry.crc = LoadLe32(e + 16);
    entry.compressedSize = LoadLe32(e + 20);
    entry.uncompressedSize = LoadLe32(e + 24);
    const size_t nameLength = LoadLe16(e + 28), extraLength = LoadLe16(e + 30), commentLength = LoadLe16(e + 32);
    uint32_t disk = LoadLe16(e + 34);
    entry.external = LoadLe32(e + 38);
    entry.localOffset = LoadLe32(e + 42);
    variable.resize(nameLength + extraLength + commentLength);
    if (fread(variable.data(), 1, variable.size(), stream) != variable.size()) return false;
    entry.storedName.assign(variable.begin(), variable.begin() + static_cast<ptrdiff_t>(nameLength));
    TakeZip64(variable.data() + nameLength, extraLength, entry, disk);
    entry.hasUtcTime = FindZipUtcTime(variable.data() + nameLength, extraLength, &entry.utcTime);
    uint64_t start = 0;
    if (!startOf(disk, &start)) return false;
    entry.localOffset += start + shift;
    if (entry.host == 0 || entry.host == 10) legacy_.push_back(entry.localOffset);
    entries_.push_back(std::move(entry));
    used += kEntrySize + variable.size();
  }
  std::sort(legacy_.begin(), legacy_.end());
  return true;
}

NameMarking ZipDirectory::MarkingAt(uint64_t localOffset) const {
  return std::binary_search(legacy_.begin(), legacy_.end(), localOffset) ? NameMarking::kLegacy
                                                                         : NameMarking::kUnmarked;
}

namespace {

struct Method {
  uint16_t id;
  const char* shortName;  // for the listing
  const char* longName;   // for the notice of a method not decoded here
};
constexpr Method kMethods[] = {
    {0, "stored", ""},       {1, "shrunk", ""},         {2, "reduce1", ""},     {3, "reduce2", ""},
    {4, "reduce3", ""},      {5, "reduce4", ""},        {6, "implode", ""},     {7, "tokenize", "tokenizing (7)"},
    {8, "deflate", ""},      {9, "deflate64", ""}, {10, "terse", "IBM TERSE (10)"},
    {12, "bzip2", ""}, {14, "lzma", ""},  {16, "cmpsc", "IBM CMPSC (16)"},
    {18, "terse", "IBM TERSE (18)"}, {19, "lz77", "IBM LZ77 (19)"}, {20, "zstd", ""},
    {93, "zstd", ""}, {94, "mp3", "MP3 (94)"}, {95, "xz", ""}, {96, "jpeg", "JPEG (96)"},
    {97, "wavpack", "WavPack (97)"}, {98, "ppmd", ""}, {99, "aes", ""},
};

const Method* Find(uint16_t id) {
  for (const Method& m : kMethods)
    if (m.id == id) return &m;
  return nullptr;
}

}  // namespace

const char* MethodName(uint16_t method) {
  const Method* m = Find(method);
  return m != nullptr ? m->shortName : "";
}

bool IsKnownMethod(uint16_t method) { return Find(method) != nullptr; }

const char* UnsupportedMethodName(uint16_t method) {
  const Method* m = Find(method);
  return m != nullptr ? m->longName : "";
}

bool FindZipUtcTime(const uint8_t* extra, size_t length, FILETIME* time) {
  for (ExtraFields f(extra, length); f.Next();) {
    if (f.id == 0x5455 && f.size >= 5 && (f.data[0] & 1) != 0) {
      *time = UnixSecondsToFileTime(static_cast<int32_t>(LoadLe32(f.data + 1)));
      return true;
    }
    if (f.id == 0x5855 && f.size >= 8) {
      *time = UnixSecondsToFileTime(static_cast<int32_t>(LoadLe32(f.data + 4)));
      return true;
    }
    if (f.id == 0x000a && f.size >= 4) {
      for (size_t at = 4; at + 4 <= f.size;) {
        const uint16_t tag = LoadLe16(f.data + at), size = LoadLe16(f.data + at + 2);
        if (size > f.size - at - 4) break;
        if (tag == 1 && size >= 24) {
          const uint64_t value = LoadLe64(f.data + at + 4);
          if (value == 0) break;
          time->dwLowDateTime = static_cast<DWORD>(value);
          time->dwHighDateTime = static_cast<DWORD>(value >> 32);
          return true;
        }
        at += 4 + size;
      }
    }
  }
  return false;
}

}  // namespace zip
