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
  kSkip,      // links, devices, FIFOs, contiguous, multi-volume, sparse,
              // volume labels, global pax records, GNU long link names
};
TarEntryKind ClassifyTarType(uint8_t typeflag);

// The member name of a header: the name field, behind the prefix field and
// a "/" when the header is POSIX ("ustar\0") and has a prefix. False (and
// `out` empty) when it does not fit in `size` bytes.
[[nodiscard]] bool TarHeaderName(const uint8_t* block, char* out, size_t size);

// What POSIX extended header data ("<length> <key>=<value>\n" records)
// says about the next member. Records up to a malformed one count; a later
// record replaces an earlier one of the same key.
struct PaxRecords {
  bool havePath = false;  // a "path" record whose value fits the caller's buffer
  bool pathTooLong = false;
  bool binary = false;    // "hdrcharset=BINARY": the path is the archiver's raw bytes, not UTF-8
  bool haveSize = false;  // a "size" record: the member's data size, in place of its header's
  uint64_t size = 0;
};
// Reads the records; the path's value goes to path[pathSize] (terminated).
PaxRecords ReadPaxRecords(const uint8_t* data, size_t size, char* path, size_t pathSize);

}  // namespace tar
