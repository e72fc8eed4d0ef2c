// The TAR header block and the rules for reading its fields.
//
//   offset size field     use
//        0  100 name      member path, to the first 0x00 or the field's end
//      100    8 mode      octal; 040000 marks a folder, 0200 owner write
//      124   12 size      octal (or base-256) byte count of the data that follows
//      136   12 mtime     octal (or base-256) seconds since 1970
//      148    8 chksum    octal sum of the block, chksum counted as blanks
//      156    1 typeflag
//      257    6 magic     "ustar\0" for POSIX headers
//      345  155 prefix    POSIX: folder part of a path too long for `name`
//
// Member data follows in whole 512-byte blocks; an all-zero block ends the
// archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tar {

constexpr size_t kTarBlock = 512;

constexpr size_t kTarNameOffset = 0, kTarNameSize = 100;
constexpr size_t kTarModeOffset = 100, kTarModeSize = 8;
constexpr size_t kTarSizeOffset = 124, kTarSizeSize = 12;
constexpr size_t kTarMtimeOffset = 136, kTarMtimeSize = 12;
constexpr size_t kTarChksumOffset = 148, kTarChksumSize = 8;
constexpr size_t kTarTypeOffset = 156;
constexpr size_t kTarLinkNameOffset = 157, kTarLinkNameSize = 100;
constexpr size_t kTarMagicOffset = 257;
constexpr size_t kTarPrefixOffset = 345, kTarPrefixSize = 155;

// Old GNU sparse headers: four map entries (offset, byte count; 12 octal
// bytes each) at 386, the "more entries follow" byte at 482, the real size
// at 483; each extension block holds 21 entries and its flag at 504.
constexpr size_t kTarSparseOffset = 386, kTarSparseEntries = 4;
constexpr size_t kTarSparseExtendedOffset = 482, kTarRealSizeOffset = 483;
constexpr size_t kTarSparseExtensionEntries = 21, kTarSparseExtensionFlag = 504;

constexpr uint32_t kTarModeFolder = 040000;
constexpr uint32_t kTarModeOwnerWrite = 0200;

// Octal field rule: at most `width` characters; "0"-"7" add a digit, a
// blank is passed over wherever it stands, anything else (0x00 included)
// ends the number. An empty or blank field is 0.
uint64_t ParseTarOctal(const uint8_t* field, size_t width);

// A numeric field (size, mtime): octal as ParseTarOctal reads it, or, when
// its first byte has the high bit set, GNU's base-256 form (the remaining
// bits, big-endian), which GNU tar writes for sizes of 8 GiB and more.
// False for a negative base-256 number or one past 63 bits.
[[nodiscard]] bool ParseTarNumber(const uint8_t* field, size_t width, uint64_t* value);

// The sum of the block with the chksum field counted as eight blanks equals
// the field's octal value. The bytes are summed unsigned, or signed as some
// old archivers did.
bool TarChecksumMatches(const uint8_t* block);

bool IsZeroBlock(const uint8_t* block);

// Number of 512-byte blocks that `size` bytes of data take.
inline uint64_t TarBlocksFor(uint64_t size) { return (size + kTarBlock - 1) / kTarBlock; }

// What the walk does with a member, by its typeflag.
enum class TarEntryKind {
  kFile,      // "0", 0x00 and every type not listed below
  kFolder,    // "5" and GNU "D"
  kLongName,  // GNU "L" and "N": the data is the next member's name
  kPax,       // POSIX "x": records for the next member (its path)
  kLongLink,  // GNU "K": the data is the next member's link target
  kNode,      // "1" hard link, "2" symbolic link, "3"/"4" devices, "6" FIFO
  kSparse,    // GNU "S": a sparse file, its map in the header
  kSkip,      // multi-volume pieces, volume labels, global pax records
};
TarEntryKind ClassifyTarType(uint8_t typeflag);

// The member name of a header: the name field, behind the prefix field and
// a "/" when the header is POSIX ("ustar\0") and has a prefix. False (and
// `out` empty) when it does not fit in `size` bytes.
[[nodiscard]] bool TarHeaderName(const uint8_t* block, char* out, size_t size);

// What POSIX extended header data ("<length> <key>=<value>\n" records)
// says about the next member. Records up to a malformed one count; a later
// record replaces an earlier one of the same key.
// One piece of a sparse file's data: where it goes and its length; the
// file is zero elsewhere.
struct SparseEntry {
  uint64_t offset = 0, size = 0;
};

struct PaxRecords {
  bool havePath = false;  // a "path" (or GNU.sparse.name) record whose value fits the caller's buffer
  bool pathTooLong = false;
  bool haveLink = false;  // a "linkpath" record whose value fits
  bool linkTooLong = false;
  bool binary = false;    // "hdrcharset=BINARY": the path is the archiver's raw bytes, not UTF-8
  bool haveSize = false;  // a "size" record: the member's data size, in place of its header's
  uint64_t size = 0;
  bool haveMtime = false;  // an "mtime" record: seconds since 1970 and a fraction
  uint64_t mtimeSeconds = 0;
  uint32_t mtimeNanoseconds = 0;
  // GNU sparse files. Format 0.0 gives the map as offset/numbytes record
  // pairs, 0.1 as one "GNU.sparse.map" list, 1.0 (major 1) at the start of
  // the data; GNU.sparse.size or .realsize is the file's real size.
  bool sparse = false;
  bool sparseMapInData = false;
  bool sparseBad = false;  // a record of the map that is no number, or an odd count
  uint64_t realSize = 0;
};
// Reads the records; the path's value goes to path[pathSize] and the link
// target's to link[linkSize] (terminated); the sparse map of formats 0.0
// and 0.1 to *map (at most kMaxSparseEntries).
PaxRecords ReadPaxRecords(const uint8_t* data, size_t size, char* path, size_t pathSize, char* link,
                          size_t linkSize, std::vector<SparseEntry>* map);

// A bound on a sparse file's map (16 bytes each in memory).
constexpr size_t kMaxSparseEntries = 1 << 20;

// Decimal digits only, the whole of [text, text + length), below 2^62.
bool ParseTarDecimal(const uint8_t* text, size_t length, uint64_t* value);

}  // namespace tar
