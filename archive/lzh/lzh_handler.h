// LZH archives (header levels 0 to 3) of the LHA family, LArc, LHARK and
// PMarc, plain or behind a self-extracting program stub.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/handler.h"
#include "core/output.h"

class LzhHandler : public FormatHandler {
 public:
  LzhHandler();
  bool MatchesExtension(const char* extension) override;
  bool Probe(const char* path, int32_t fileSize) override;
  bool Extract(const char* path, const char* outputFolder) override;

  // Probe looks for the first header within this many bytes, Extract within
  // the whole read-ahead buffer.
  static constexpr size_t kProbeLimit = 307200;

 private:
  // The fields of the current member header.
  struct LzhMemberHeader {
    uint8_t level;
    char name[kOutputPathSize];  // directory part + file name, decoded, separators as "\"
    bool nameTooLong;      // the name does not fit an output path: skip the member
    char methodId[6];
    uint64_t packedSize;   // level 1: less the extended headers
    uint64_t unpackedSize;
    uint16_t attribute;
    uint32_t timeStamp;    // levels 0, 1: DOS date << 16 | time; levels 2, 3: Unix seconds
    uint16_t dataCrc;      // CRC-16 of the member's data
    uint8_t os;            // the archiver's system id (0 when the header has none)
    bool hasUnixMode;      // a Unix permission extended header (0x50): kind and permission bits
    uint16_t unixMode;
    char linkTarget[520];  // a Unix symbolic link's target ("name|target"), decoded; else ""
    // The stored file name (without folders), as far as a MacBinary header
    // can repeat it.
    uint8_t fileName[64];
    size_t fileNameLength;
  };

  // Offset of the first member header among the first `length` bytes of the
  // file (held in `buffer`); false when there is none.
  bool HeaderSearch(const char* path, const uint8_t* buffer, size_t length, long* offset);
  // Reads one member header at the archive stream's position; false at the
  // end mark, at the end of the file and for a damaged header.
  bool ReadMemberHeader(uint8_t* scratch);
  // The walk found no member header at `at`: the end mark (a zero byte) or
  // the end of the file end the archive; anything else is a damaged or cut
  // header, and the archive fails with what follows it unread.
  void NoteHeaderEnd(const char* path, long at);
  // Reads n header bytes, adding them to the header CRC and checksum.
  size_t ReadHeaderBytes(uint8_t* dst, size_t n);
  // Whether the member just read, at the stream's position, is one that a
  // self-extracting stub carries for itself: its data is followed by an end
  // mark, and a member header follows that within a few bytes.
  bool StubsOwnMember(uint8_t* scratch);

  uint16_t headerCrc_ = 0;
  uint8_t headerChecksum_ = 0;
  FILE* archive_ = nullptr;
  LzhMemberHeader header_{};
};
