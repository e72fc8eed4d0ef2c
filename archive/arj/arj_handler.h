// ARJ archives: finds the main header (also behind a self-extracting stub),
// walks the member headers and hands each member to the member output with
// its time stamp, attributes and data CRC-32.
//
// Every header, main or member:
//
//   60 EA           id
//   u16 S           basic header size; 0 ends the archive, at most 2600
//   S bytes         basic header (fields below)
//   u32             CRC-32 of the S bytes
//   { u16 X; X bytes; u32 CRC }*  extended headers, ended by X = 0; skipped
//
// Basic header, little-endian, offsets within the S bytes:
//
//    0 u8  first header size F (where the name starts)
//    1 u8  archiver version          2 u8  minimum version to extract
//    3 u8  host system               4 u8  flags (bit 0: garbled)
//    5 u8  method 0..4               6 u8  file type (0 binary, 1 text)
//    7 u8  reserved                  8 u32 time stamp
//   12 u32 compressed size          16 u32 uncompressed size
//   20 u32 CRC-32 of the data       24 u16 entry name position
//   26 u16 file access mode         28 u16 host data
//    F     name, NUL-terminated, then a comment
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "archive/lzh/lzh_decoder.h"
#include "core/handler.h"
#include "core/member_output.h"

namespace arj {

constexpr uint32_t kArjMaxBasicHeader = 2600;
// Extract looks for the main header in this many leading bytes.
constexpr uint32_t kArjSearchBytes = 50000;

// Host systems whose names are legacy text (MS-DOS and Windows 95).
constexpr uint8_t kArjHostMsdos = 0;
constexpr uint8_t kArjHostWin95 = 10;
// The Unix archiver writes its time stamps as seconds since 1970 and its
// access modes as Unix permission bits.
constexpr uint8_t kArjHostUnix = 2;

struct ArjHeader {
  uint8_t firstHeaderSize = 0;
  uint8_t archiverVersion = 0;
  uint8_t extractVersion = 0;
  uint8_t hostSystem = 0;
  uint8_t flags = 0;
  uint8_t method = 0;
  uint8_t fileType = 0;
  uint32_t timeStamp = 0;  // MS-DOS time low, date high; Unix seconds on Unix hosts
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint32_t dataCrc = 0;
  uint16_t accessMode = 0;
  uint32_t headerCrc = 0;  // the stored CRC-32 of the basic header
  char name[512] = {};     // the decoded name; empty when it did not fit
};

// The offset of the first place in buffer[0, length), the start of a file of
// `fileSize` bytes, that holds a whole header (id, size at most 2600, basic
// header, matching CRC-32). Offsets below 50,000 are examined; when the file
// goes on past the buffer, only those below length - 2602 (below 49,999 when
// length is 2602 or less). -1 when there is none.
long ArjHeaderSearch(const uint8_t* buffer, size_t length, size_t fileSize);

enum class ArjHeaderResult {
  kRead,     // a header with a good CRC; its extended headers skipped
  kEnd,      // the end-of-archive header (size 0)
  kInvalid,  // wrong id, size above 2600, wrong CRC, or the stream ended
};

// Reads one header from the stream's position into `header`.
[[nodiscard]] ArjHeaderResult ReadArjHeader(FILE* stream, ArjHeader* header);

// True when this reader can extract the member: extract version at most 3,
// not garbled, method 0..4 (4 not from archiver version 1), binary or text.
bool IsArjMemberSupported(const ArjHeader& header);

// MS-DOS attribute bits for the member's access mode: the stored bits as
// they are, or, for a Unix host, archive plus read-only when the owner may
// not write.
uint32_t ArjAttributes(const ArjHeader& header);

}  // namespace arj

class ArjHandler : public FormatHandler {
 public:
  ArjHandler();
  bool MatchesExtension(const char* extension) override;
  bool Probe(const char* path, int32_t fileSize) override;
  bool Extract(const char* path, const char* outputFolder) override;

 private:
  // Hands the member whose header was just read to the output (or skips
  // it) and puts the stream at the next header; false when that is
  // impossible.
  bool ExtractMember(FILE* archive, MemberOutput& out);
  // Closes the archive and releases the decoder state.
  void Finish(FILE* archive);

  arj::ArjHeader header_;
  lzh::LzhDecoderState* lzhState_ = nullptr;  // one per Extract call
};
