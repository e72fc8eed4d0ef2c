// The central directory of a ZIP archive: every member's method, flags,
// CRC-32, sizes and the place of its local header, as the archiver wrote
// them once the data was out. Members written to a stream (flag bit 3) have
// their sizes only here and in a data descriptor, so the reader walks the
// directory when there is one and falls back to the local headers when
// there is none (a cut archive, a stream).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/names.h"
#include "platform/windows.h"

namespace zip {

struct ZipDirectoryEntry {
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;    // Zip64 values in place of 0xFFFFFFFF
  uint64_t uncompressedSize = 0;
  uint64_t localOffset = 0;       // in the archive as read (segments joined, stub counted)
  uint8_t host = 0;               // "version made by", high byte: 0 MS-DOS, 3 Unix, 10 NTFS...
  uint32_t external = 0;          // external attributes: Unix mode (high half) or MS-DOS attributes
  bool hasUtcTime = false;        // from the entry's own extra field (see FindZipUtcTime)
  FILETIME utcTime{};
  std::string storedName;         // the name's bytes, only to name a member whose local header is lost
};

class ZipDirectory {
 public:
  // Finds the end record (and the Zip64 one behind a locator) within the
  // last 64 KiB and a bit of the stream, and reads every entry. True when
  // the whole directory was read; the stream's position is then
  // unspecified. `segmentStarts` maps a disk number to where that segment
  // starts in the stream (empty: one segment at 0).
  [[nodiscard]] bool Load(FILE* stream, const std::vector<uint64_t>& segmentStarts = {});
  // Only the end record: how many segments the set has (1 for an archive
  // in one file), or 0 when there is no end record.
  static uint32_t SegmentCount(FILE* stream);

  const std::vector<ZipDirectoryEntry>& entries() const { return entries_; }
  // What the directory says about the unmarked name of the member whose
  // local header is at `localOffset`: legacy text for MS-DOS (0) and NTFS
  // (10) hosts; unmarked when the directory does not say.
  NameMarking MarkingAt(uint64_t localOffset) const;

 private:
  std::vector<ZipDirectoryEntry> entries_;
  std::vector<uint64_t> legacy_;  // sorted local offsets of MS-DOS/NTFS members
};

// Walks the fields of an extra-field area (a 2-byte id, a 2-byte size,
// that many bytes), stopping at the end or at a field that runs past it:
//   for (ExtraFields f(extra, length); f.Next();) if (f.id == ...) ...
struct ExtraFields {
  ExtraFields(const uint8_t* extra, size_t length) : extra_(extra), length_(length) {}
  bool Next();
  uint16_t id = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;

 private:
  const uint8_t* extra_;
  size_t length_;
  size_t at_ = 0;
};

// The exact modification time, UTC, from an extra field: extended
// timestamp (0x5455: a flags byte, bit 0 = a signed 32-bit Unix time
// follows), the old Info-ZIP Unix field (0x5855: access, then modification
// time), or NTFS (0x000a: 4 reserved bytes, then tagged attributes; tag 1 of
// 24 bytes holds the modification, access and creation FILETIMEs).
bool FindZipUtcTime(const uint8_t* extra, size_t length, FILETIME* time);

// The methods archivers write: a header with another number is no header.
bool IsKnownMethod(uint16_t method);
// The short name of a method for the listing ("deflate", "lzma"); "" for a
// number no archiver writes.
const char* MethodName(uint16_t method);
// The name of a method this reader does not decode, for the notice
// ("LZMA (14)"); "" for the methods it decodes.
const char* UnsupportedMethodName(uint16_t method);

}  // namespace zip
