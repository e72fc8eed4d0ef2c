// Files posted in parts (yEnc "=ypart" sections, uuencoded text cut into
// numbered parts or into split pieces): every part met in one run is decoded
// into a spool file and recorded here; at the end of the run each file is
// put together from its parts and written whole, or named with the parts
// that are missing and not written at all.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class MemberOutput;

namespace text {

enum class PartKind {
  kYenc,        // placed by its "=ypart begin= end=" offsets
  kUuNumbered,  // "Part 002 of 003 of file x" marks its place
  kUuFirst,     // a "begin" section that stops without "end": split pieces follow
  kUuPiece,     // encoded lines without "begin" or mark: a later split piece
};

struct PartRecord {
  PartKind kind = PartKind::kYenc;
  std::string name;         // the output name (program text); empty for a piece
  std::string folder;       // the output folder of the file the part came in
  std::string path;         // the file it came in: split pieces are ordered by it
  unsigned number = 0;      // the part's number as the encoder gave it (0: none)
  unsigned total = 0;       // parts in all, when the encoder says (0: unknown)
  uint64_t begin = 0;       // yEnc: first and last byte of the part in the file,
  uint64_t end = 0;         //   counted from 1
  uint64_t fileSize = 0;    // yEnc: the whole file's size
  bool hasPartCrc = false;  // yEnc pcrc32: the CRC-32 of this part's bytes
  uint32_t partCrc = 0;
  bool hasCrc = false;      // yEnc crc32: the CRC-32 of the whole file
  uint32_t crc = 0;
  bool last = false;        // uuencode: the part holds the end line
  bool damaged = false;     // the part's text was cut short or damaged
  long spoolOffset = 0;     // where its decoded bytes sit in the spool
  uint64_t length = 0;
};

// The spool the parts' decoded bytes are appended to, positioned at its end;
// null when no spool can be made.
FILE* PartSpool();

// Records a part whose bytes were appended to the spool from
// record.spoolOffset on (its length is taken from the spool's end).
void AddPart(PartRecord record);
// The part recorded last.
PartRecord& LastPart();
// Forgets the part recorded last (its bytes stay in the spool, unused).
void DropLastPart();

// Hands `length` spooled bytes from `offset` on to the member output; their
// CRC-32 into *crc. False when they cannot all be read back or written.
bool CopyFromSpool(long offset, uint64_t length, MemberOutput& out, uint32_t* crc);

// Puts together every file whose parts were recorded in this run and
// writes it through a member output over its folder; a file with parts
// missing, or with a damaged part, is named and counts as FAILED. Forgets
// the parts and the spool.
void FinishParts();

}  // namespace text
