// Cabinet headers: the layouts of a cabinet's header, folder, file and
// data-block entries, the records a cabinet is loaded into, and the loading
// of one cabinet. Shared by the folder data stream and the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "archive/cab/cab_reader.h"

namespace cab {

constexpr unsigned kSplitMax = 10;  // cabinets one folder may span
constexpr uint8_t kSignature[4] = {'M', 'S', 'C', 'F'};

// CFHEADER, the fixed start of every cabinet:
//    0 signature "MSCF" |  4 reserved      |  8 cabinet size | 12 reserved
//   16 first CFFILE     | 20 reserved      | 24 minor version | 25 major version
//   26 folder count     | 28 file count    | 30 flags         | 32 set id
//   34 index in the set
// With kFlagReserve, a reserve block follows (see CabinetReserve), then the
// previous cabinet's name and label (kFlagPrevious) and the next one's
// (kFlagNext), each a NUL-terminated string.
struct CabinetHeader {
  static constexpr size_t kSize = 36;
  // The fields up to the first CFFILE offset: enough to judge whether a
  // cabinet starts somewhere (see PlausibleHeader).
  static constexpr size_t kPlausibleSize = 20;
  static constexpr size_t kCabinetSizeAt = 8;
  static constexpr size_t kFirstFileAt = 16;

  static constexpr uint16_t kFlagPrevious = 0x01;
  static constexpr uint16_t kFlagNext = 0x02;
  static constexpr uint16_t kFlagReserve = 0x04;

  uint32_t cabinetSize;
  uint32_t firstFile;
  uint8_t minorVersion, majorVersion;
  uint16_t folderCount, fileCount;
  uint16_t flags;

  static CabinetHeader Load(const uint8_t* h);
};

// The reserve block behind CFHEADER (kFlagReserve):
//   0 header reserve size (bytes skipped behind this block) | 2 folder
//   reserve size (behind each CFFOLDER) | 3 data reserve size (behind each
//   CFDATA header)
struct CabinetReserve {
  static constexpr size_t kSize = 4;
  uint16_t headerReserve;
  uint8_t folderReserve, dataReserve;

  static CabinetReserve Load(const uint8_t* r);
};

// CFFOLDER, one per folder, then the folder reserve:
//   0 offset of the first CFDATA (from the cabinet's start) | 4 data block
//   count | 6 type: the method in bits 0-3, the LZX window exponent in bits
//   8-12
struct FolderEntry {
  static constexpr size_t kSize = 8;
  uint32_t dataOffset;
  uint16_t type;

  static FolderEntry Load(const uint8_t* e);
};

enum Method { kStored = 0, kMszip = 1, kQuantum = 2, kLzx = 3, kNoMethod = -1 };
constexpr int FolderMethod(uint16_t type) { return type & 0x0F; }
constexpr int WindowExponent(uint16_t type) { return (type >> 8) & 0x1F; }

// CFFILE, one per file, followed by its NUL-terminated name:
//    0 uncompressed size | 4 offset in the folder's uncompressed data
//    8 folder index (or one of the continuation values below)
//   10 DOS date | 12 DOS time | 14 attributes (0x01 read-only, 0x80 UTF-8 name)
struct FileEntry {
  static constexpr size_t kSize = 16;
  static constexpr uint16_t kReadOnly = 0x01;
  static constexpr uint16_t kUtf8Name = 0x80;
  // Folder indexes of files that continue over cabinets.
  static constexpr uint16_t kFromPrevious = 0xFFFD;
  static constexpr uint16_t kToNext = 0xFFFE;
  static constexpr uint16_t kPreviousAndNext = 0xFFFF;

  uint32_t size;
  uint32_t offset;
  uint16_t folderIndex, date, time, attributes;

  static FileEntry Load(const uint8_t* e);
};

// CFDATA, one per data block, followed by the data reserve and the block's
// data:
//   0 checksum (0: none) | 4 compressed size | 6 uncompressed size (0: the
//   block goes on in the next cabinet)
// The checksum covers the data, then bytes 4 to 7 of this header.
struct DataEntry {
  static constexpr size_t kSize = 8;
  static constexpr size_t kSummedAt = 4;  // the header bytes the checksum covers
  static constexpr size_t kSummedSize = 4;
  uint32_t checksum;
  uint16_t compressedSize, uncompressedSize;

  static DataEntry Load(const uint8_t* d);
};

struct FileRecord;
struct CabinetRecord;

struct FolderRecord {
  FolderRecord* next = nullptr;   // the cabinet's list (re-linked by merges)
  FolderRecord* owned = nullptr;  // every folder of the run, for freeing
  CabinetRecord* part[kSplitMax] = {};
  uint32_t offset[kSplitMax] = {};  // absolute file offset of each part's data
  uint16_t type = 0;
  uint8_t extraParts = 0;
  FileRecord* continued = nullptr;  // the file that continues into the next cabinet
};

struct FileRecord {
  FileRecord* next = nullptr;     // the cabinet's list
  FileRecord* process = nullptr;  // the list LinkFolders builds
  FolderRecord* folder = nullptr;
  char* name = nullptr;           // decoded program text
  uint32_t size = 0;
  uint32_t offset = 0;
  uint16_t folderIndex = 0, time = 0, date = 0, attributes = 0;
};

struct CabinetRecord {
  char* path = nullptr;
  long length = 0;
  CabinetRecord* previous = nullptr;
  CabinetRecord* next = nullptr;
  char* previousName = nullptr;
  char* nextName = nullptr;
  char* previousInfo = nullptr;
  char* nextInfo = nullptr;
  FolderRecord* folders = nullptr;
  FolderRecord** folderIndex = nullptr;  // position -> folder, for file entries
  uint16_t folderCount = 0;
  FileRecord* files = nullptr;
  uint8_t dataReserve = 0;
  uint8_t folderReserve = 0;
  uint16_t flags = 0;
  bool truncationShown = false;  // the truncation warning is shown once per cabinet
};

// One run of ExtractCabinet.
struct Run {
  CabFatal* fatal;
  const char* firstPath;
  FolderRecord* ownedFolders = nullptr;
  // The last block whose checksum did not match: stored and computed.
  uint32_t badStored = 0;
  uint32_t badComputed = 0;
};

// A notice (g_CabShowMessage) and a line for standard output (g_CabPrint),
// formatted into one shared message buffer.
void Show(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Ends the run with `text` as its program-ending condition (the first one
// counts).
void Fail(Run& run, const char* text);

// The last "\" or "/" of a path, or null.
char* LastSeparator(char* path);
// A malloc'ed copy, or null.
char* CopyString(const char* s);

// Reads n bytes at the stream's position. Past the end of the file the read
// is shortened after a warning (the destination keeps its content) and false
// comes back; a short read of bytes that are there is fatal.
bool BoundedRead(Run& run, CabinetRecord* cab, FILE* f, void* dst, size_t n);
// Skips n bytes forward; false (and fatal) when the seek fails.
bool Skip(Run& run, CabinetRecord* cab, FILE* f, long n);

// A cabinet header at `at` (kPlausibleSize bytes readable), `offset` bytes
// into a file of `fileLength`: the signature, a cabinet that fits in the
// file and a file-entry offset inside the cabinet.
bool PlausibleHeader(const uint8_t* at, int64_t offset, int64_t fileLength);

// Opens a cabinet, retrying with the file name part lower-cased (which
// changes `path` itself); null (and fatal) when neither opens.
FILE* OpenCabinet(Run& run, char* path);
// Loads one cabinet's headers; null when it is not loaded (or the run must
// end). Its folders join run.ownedFolders. With `missing`, a cabinet that
// cannot be opened is not fatal: *missing is set and null comes back.
CabinetRecord* LoadCabinet(Run& run, char* path, bool* missing = nullptr);
void FreeCabinet(CabinetRecord* cab);
void FreeFolders(Run& run);

}  // namespace cab
