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
//   30 u32 with flag 0x08 (and F at least 34): where this piece of a file
//          split over volumes starts in the file
//    F     name, NUL-terminated, then a comment
//
// Multi-volume archives (.arj, then .a01, .a02, ... beside it) are whole
// archives each. Flag 0x04 in the main header: the archive goes on in the
// next volume; in a member header: the member does. Flag 0x08 in a member
// header: this piece continues a member from the volume before. Every piece
// has its own method, sizes and CRC-32.
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

constexpr uint8_t kArjFlagGarbled = 0x01;
constexpr uint8_t kArjFlagVolume = 0x04;   // goes on in the next volume
constexpr uint8_t kArjFlagExtFile = 0x08;  // continues from the volume before

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
  uint32_t extPosition = 0;  // with kArjFlagExtFile: where this piece starts in the file
  uint32_t headerCrc = 0;  // the stored CRC-32 of the basic header
  char name[512] = {};     // the decoded name; empty when it did not fit
  // A Unix special file (file type 6) from its 'U' extended header: the
  // kind (1 a hard link) and the target, decoded; -1 when none came.
  int specialKind = -1;
  char linkTarget[512] = {};
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

// The name of volume `number` (1 and on) of the archive at `path`: its
// extension replaced by "a01" .. "a99", then "100" and on. False when it
// does not fit.
bool ArjVolumeName(const char* path, unsigned number, char* out, size_t size);
// The number of the volume at `path` by its extension: "a01" is 1, "100"
// is 100; any other (the first volume's "arj") is 0.
unsigned ArjVolumeNumber(const char* path);

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
  // impossible. A member that goes on in later volumes is read across
  // them; `archive` is then the volume where it ends.
  bool ExtractMember(FILE*& archive, MemberOutput& out);
  // The pieces of a member split over volumes, from the one whose header
  // was just read; the member has begun.
  bool ExtractPieces(FILE*& archive, MemberOutput& out);
  // Replaces `archive` by the next volume, at its first member header.
  // False (`archive` closed and null) when it is missing or unreadable;
  // the notice is given here.
  bool OpenNextVolume(FILE*& archive);
  // Closes the archive and releases the decoder state.
  void Finish(FILE* archive);

  arj::ArjHeader header_;
  lzh::LzhDecoderState* lzhState_ = nullptr;  // one per Extract call
  const char* path_ = nullptr;     // the first volume, as given
  unsigned volume_ = 0;            // the volume being read (0: the first)
  uint8_t mainFlags_ = 0;          // the flags of its main header
  bool skipContinued_ = false;     // the member going on in the next volume is not wanted
};
