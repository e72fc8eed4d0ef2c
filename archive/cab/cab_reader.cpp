// Cabinet reader: loads the headers of a cabinet and the cabinets it
// continues into, links folders that run over several cabinets, and decodes
// each file's folder through the block decoders.
#include "archive/cab/cab_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "archive/cab/cab_result.h"
#include "archive/cab/lzx_decoder.h"
#include "archive/cab/mszip_decoder.h"
#include "core/charset.h"
#include "core/member_output.h"
#include "core/messages.h"
#include "core/names.h"
#include "core/output.h"

namespace {

constexpr unsigned kSplitMax = 10;         // cabinets one folder may span
constexpr unsigned kMaxChain = 1024;       // cabinets one set may hold
constexpr size_t kMaxStoredString = 65536; // longest name or label accepted
constexpr uint8_t kSignature[4] = {'M', 'S', 'C', 'F'};
constexpr size_t kStreamBuffer = 256 * 1024;  // read buffer of the folder data stream

// CFHEADER flags.
constexpr uint8_t kFlagPrevious = 0x01;
constexpr uint8_t kFlagNext = 0x02;
constexpr uint8_t kFlagReserve = 0x04;

// Folder indexes of files that continue over cabinets.
constexpr uint16_t kFromPrevious = 0xFFFD;
constexpr uint16_t kToNext = 0xFFFE;
constexpr uint16_t kPreviousAndNext = 0xFFFF;

enum Method { kStored = 0, kMszip = 1, kQuantum = 2, kLzx = 3, kNoMethod = -1 };

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
  char* name = nullptr;
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
  uint8_t flags = 0;
  bool truncationShown = false;  // the truncation warning is shown once per cabinet
};

// The decoder state shared by all runs (one extraction at a time).
struct CabinetDecoderState {
  FolderRecord* folder = nullptr;  // null: the next file opens its folder afresh
  uint32_t offset = 0;             // uncompressed offset reached in the folder
  const uint8_t* pending = nullptr;
  uint32_t pendingLength = 0;
  unsigned part = 0;
  int method = kNoMethod;      // decoder of the current folder
  int lastMethod = kNoMethod;  // method of the last folder prepared
  FILE* stream = nullptr;
  CabinetRecord* streamCabinet = nullptr;
  uint8_t input[kCabInputSize + kCabInputSpare];
  uint8_t output[kCabOutputSize + kCabOutputSlack];
  char streamBuffer[kStreamBuffer];  // read buffer of `stream`
  MszipState mszip;
  LzxState lzx;
};
CabinetDecoderState g_Decoder;
char g_MessageBuffer[1024];

// Lines for standard output carry names: narrow program text, written as
// UTF-8 like every other name the program shows.
void PrintToStdout(const char* text) {
  WCHAR* wide = ToWide(text);
  char utf8[4 * sizeof g_MessageBuffer];
  if (wide != nullptr && WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr) > 0)
    fputs(utf8, stdout);
  else
    fputs(text, stdout);
  if (wide != nullptr) LocalFree(wide);
}

// One run of ExtractCabinet.
struct Run {
  CabFatal* fatal;
  const char* firstPath;
  FolderRecord* ownedFolders = nullptr;
  // The last block whose checksum did not match: stored and computed.
  uint32_t badStored = 0;
  uint32_t badComputed = 0;
};

void Show(const char* text) {
  FormatMessageText(g_MessageBuffer, sizeof g_MessageBuffer, "%s", text);
  g_CabShowMessage(g_MessageBuffer);
}
template <typename... Args>
void Show(const char* format, Args... args) {
  FormatMessageText(g_MessageBuffer, sizeof g_MessageBuffer, format, args...);
  g_CabShowMessage(g_MessageBuffer);
}

void Fail(Run& run, const char* text) {
  if (run.fatal->set) return;
  run.fatal->set = true;
  FormatMessageText(run.fatal->text, sizeof run.fatal->text, "%s", text);
}

uint32_t Get16(const uint8_t* p) { return p[0] | (uint32_t{p[1]} << 8); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (Get16(p + 2) << 16); }

// Lower-cases the one-byte ASCII letters from `from` on, stepping by whole
// characters so the second byte of a double-byte character stays.
void LowerFrom(char* from) {
  for (char* p = from; *p != '\0'; p = CharNext(p))
    if (CharLength(p) == 1 && *p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
}

// The last "\" or "/" of a path, or null.
char* LastSeparator(char* path) {
  PathSplit split = SplitPath(path);
  return split.lastSeparator < 0 ? nullptr : path + split.lastSeparator;
}

char* CopyString(const char* s) {
  size_t n = strlen(s) + 1;
  char* copy = static_cast<char*>(malloc(n));
  if (copy != nullptr) memcpy(copy, s, n);
  return copy;
}

// Reads n bytes at the stream's position. Past the end of the file the read
// is shortened after a warning (the destination keeps its content) and false
// comes back; a short read of bytes that are there is fatal.
bool BoundedRead(Run& run, CabinetRecord* cab, FILE* f, void* dst, size_t n) {
  long at = ftell(f);
  size_t remaining = at < 0 || at > cab->length ? 0 : static_cast<size_t>(cab->length - at);
  bool whole = true;
  if (n > remaining) {
    if (!cab->truncationShown) Show("%s: WARNING; cabinet is truncated\n", cab->path);
    cab->truncationShown = true;
    n = remaining;
    whole = false;
  }
  if (n > 0 && fread(dst, 1, n, f) != n) {
    Fail(run, cab->path);
    return false;
  }
  return whole;
}

bool Skip(Run& run, CabinetRecord* cab, FILE* f, long n) {
  // A seek drops the stream's read buffer, so skipping nothing (no reserved
  // bytes, the usual case) is not one.
  if (n == 0) return true;
  if (fseek(f, n, SEEK_CUR) != 0) {
    Fail(run, cab->path);
    return false;
  }
  return true;
}

// A stored name is UTF-8 when attribute 0x80 says so, else legacy text
// (cabinets are a Windows format). Decoded once, as it is loaded, so the
// output name, the listing, the notices and the comparison of a file that
// continues into the next cabinet all see the same text. A name that does
// not fit a path buffer stays as stored; its length then refuses it.
void DecodeFileName(FileRecord* file) {
  char decoded[kPathBufferSize];
  if (!DecodeStoredName(reinterpret_cast<const uint8_t*>(file->name), strlen(file->name),
                        (file->attributes & 0x80) ? NameMarking::kUtf8 : NameMarking::kLegacy, decoded,
                        sizeof decoded))
    return;
  // Never longer than the stored form, so it fits where that was.
  strcpy(file->name, decoded);
}

// A NUL-terminated string, read in attempts of 256, 512, ... bytes; null when
// the file ends first (after the truncation warning) or it is too long.
char* ReadString(Run& run, CabinetRecord* cab, FILE* f) {
  long p = ftell(f);
  if (p < 0 || p > cab->length) return nullptr;
  size_t r = static_cast<size_t>(cab->length - p);
  char* buffer = nullptr;
  for (size_t s = 256;; s += 256) {
    if (s > r) s = r;
    char* grown = static_cast<char*>(realloc(buffer, s + 1));
    if (grown == nullptr) {
      free(buffer);
      Fail(run, "out of memory!\n");
      return nullptr;
    }
    buffer = grown;
    if (s > 0 && fread(buffer, 1, s, f) != s) {
      free(buffer);
      Fail(run, cab->path);
      return nullptr;
    }
    void* nul = memchr(buffer, 0, s);
    if (nul != nullptr) {
      size_t length = static_cast<char*>(nul) - buffer;
      if (fseek(f, p + static_cast<long>(length) + 1, SEEK_SET) != 0) {
        free(buffer);
        Fail(run, cab->path);
        return nullptr;
      }
      return buffer;
    }
    if (s == r || s >= kMaxStoredString) {
      if (s == r && !cab->truncationShown) Show("%s: WARNING; cabinet is truncated\n", cab->path);
      cab->truncationShown = cab->truncationShown || s == r;
      free(buffer);
      return nullptr;
    }
    if (fseek(f, p, SEEK_SET) != 0) {
      free(buffer);
      Fail(run, cab->path);
      return nullptr;
    }
  }
}

// A cabinet header at `at` (20 bytes readable): the signature, a cabinet
// that fits in the file and a file-entry offset inside the cabinet.
bool PlausibleHeader(const uint8_t* at, int64_t offset, int64_t fileLength) {
  if (memcmp(at, kSignature, 4) != 0) return false;
  int64_t cabinetLength = Get32(at + 8);
  int32_t firstFile = static_cast<int32_t>(Get32(at + 16));
  // A cabinet that ends exactly at the end of the file is the usual case
  // behind a self-extracting stub, so it is accepted.
  return offset + cabinetLength <= fileLength && firstFile < static_cast<int32_t>(cabinetLength);
}

// Finds the cabinet's start and leaves the stream there.
bool LocateCabinet(Run& run, CabinetRecord* cab, FILE* f) {
  uint8_t window[512] = {};
  if (cab->length >= 4) {
    if (fread(window, 1, 4, f) != 4 || fseek(f, 0, SEEK_SET) != 0) {
      Fail(run, cab->path);
      return false;
    }
    if (memcmp(window, kSignature, 4) == 0) return true;
  }
  // 512-byte windows: the last 20 bytes of the previous chunk, then 492 new.
  constexpr int64_t kCarry = 20, kChunk = 492;
  memset(window, 0, sizeof window);
  for (int64_t chunkStart = 0; chunkStart < cab->length; chunkStart += kChunk) {
    int64_t n = cab->length - chunkStart < kChunk ? cab->length - chunkStart : kChunk;
    if (fread(window + kCarry, 1, static_cast<size_t>(n), f) != static_cast<size_t>(n)) {
      Fail(run, cab->path);
      return false;
    }
    int64_t windowStart = chunkStart - kCarry;
    for (int64_t o = windowStart < 0 ? 0 : windowStart; o + kCarry <= chunkStart + n; ++o) {
      if (PlausibleHeader(window + (o - windowStart), o, cab->length)) {
        if (fseek(f, static_cast<long>(o), SEEK_SET) != 0) {
          Fail(run, cab->path);
          return false;
        }
        return true;
      }
    }
    memmove(window, window + n, kCarry);
  }
  Show("%s: not a Microsoft cabinet file\n", cab->path);
  return false;
}

bool ReadCabinetHeaders(Run& run, CabinetRecord* cab, FILE* f) {
  long base = ftell(f);
  uint8_t h[36] = {};
  BoundedRead(run, cab, f, h, sizeof h);
  if (run.fatal->set) return false;
  unsigned folders = Get16(h + 26), files = Get16(h + 28);
  if (folders == 0) {
    Show("%s: no folders in cabinet\n", cab->path);
    return false;
  }
  if (files == 0) {
    Show("%s: no files in cabinet\n", cab->path);
    return false;
  }
  if (h[25] > 1 || (h[25] == 1 && h[24] > 3)) Show("%s: WARNING; cabinet format version > 1.3\n", cab->path);
  cab->flags = static_cast<uint8_t>(h[30]);
  if (cab->flags & kFlagReserve) {
    uint8_t r[4] = {};
    BoundedRead(run, cab, f, r, sizeof r);
    unsigned headerReserve = Get16(r);
    cab->folderReserve = r[2];
    cab->dataReserve = r[3];
    if (headerReserve > 60000) Show("%s: WARNING; header reserved space > 60000\n", cab->path);
    if (!Skip(run, cab, f, headerReserve)) return false;
  }
  if (cab->flags & kFlagPrevious) {
    cab->previousName = ReadString(run, cab, f);
    if (cab->previousName == nullptr) return false;
    cab->previousInfo = ReadString(run, cab, f);
  }
  if (cab->flags & kFlagNext) {
    cab->nextName = ReadString(run, cab, f);
    if (cab->nextName == nullptr) return false;
    cab->nextInfo = ReadString(run, cab, f);
  }
  if (run.fatal->set) return false;
  cab->folderIndex = static_cast<FolderRecord**>(calloc(folders, sizeof(FolderRecord*)));
  if (cab->folderIndex == nullptr) {
    g_CabPrint("out of memory!\n");
    return false;
  }
  FolderRecord** folderTail = &cab->folders;
  for (unsigned i = 0; i < folders; ++i) {
    uint8_t e[8] = {};
    BoundedRead(run, cab, f, e, sizeof e);
    if (run.fatal->set || !Skip(run, cab, f, cab->folderReserve)) return false;
    auto* folder = new (std::nothrow) FolderRecord;
    if (folder == nullptr) {
      g_CabPrint("out of memory!\n");
      return false;
    }
    folder->owned = run.ownedFolders;
    run.ownedFolders = folder;
    folder->part[0] = cab;
    folder->offset[0] = static_cast<uint32_t>(base) + Get32(e);
    folder->type = static_cast<uint16_t>(Get16(e + 6));
    *folderTail = folder;
    folderTail = &folder->next;
    cab->folderIndex[i] = folder;
    cab->folderCount = static_cast<uint16_t>(i + 1);
  }
  FileRecord** fileTail = &cab->files;
  for (unsigned i = 0; i < files; ++i) {
    uint8_t e[16] = {};
    BoundedRead(run, cab, f, e, sizeof e);
    if (run.fatal->set) return false;
    auto* file = new (std::nothrow) FileRecord;
    if (file == nullptr) {
      g_CabPrint("out of memory!\n");
      return false;
    }
    file->size = Get32(e);
    file->offset = Get32(e + 4);
    file->folderIndex = static_cast<uint16_t>(Get16(e + 8));
    file->date = static_cast<uint16_t>(Get16(e + 10));
    file->time = static_cast<uint16_t>(Get16(e + 12));
    file->attributes = static_cast<uint16_t>(Get16(e + 14));
    *fileTail = file;
    fileTail = &file->next;
    file->name = ReadString(run, cab, f);
    if (file->name == nullptr) return false;
    DecodeFileName(file);
  }
  return true;
}

void FreeCabinet(CabinetRecord* cab) {
  for (FileRecord* file = cab->files; file != nullptr;) {
    FileRecord* next = file->next;
    free(file->name);
    delete file;
    file = next;
  }
  free(cab->folderIndex);
  free(cab->path);
  free(cab->previousName);
  free(cab->nextName);
  free(cab->previousInfo);
  free(cab->nextInfo);
  delete cab;
}

FILE* OpenCabinet(Run& run, char* path) {
  FILE* f = OpenFileStream(path, "rb");
  if (f == nullptr) {
    char* from = LastSeparator(path);
    LowerFrom(from != nullptr ? from : path);
    f = OpenFileStream(path, "rb");
  }
  if (f == nullptr) Fail(run, path);
  return f;
}

// Loads one cabinet; null when it is not loaded (or the run must end). The
// lower-case retry of the opening changes `path` itself.
CabinetRecord* LoadCabinet(Run& run, char* path) {
  auto* cab = new (std::nothrow) CabinetRecord;
  if (cab == nullptr) return nullptr;
  FILE* f = OpenCabinet(run, path);
  cab->path = CopyString(path);
  if (cab->path == nullptr) {
    if (f != nullptr) fclose(f);
    delete cab;
    Fail(run, "out of memory!\n");
    return nullptr;
  }
  bool ok = false;
  if (f != nullptr) {
    if (fseek(f, 0, SEEK_END) != 0 || (cab->length = ftell(f)) < 0 || fseek(f, 0, SEEK_SET) != 0) {
      Fail(run, cab->path);
    } else {
      ok = LocateCabinet(run, cab, f) && ReadCabinetHeaders(run, cab, f);
    }
    fclose(f);
  }
  if (!ok || run.fatal->set) {
    FreeCabinet(cab);
    return nullptr;
  }
  return cab;
}

// Builds the list of files to process; merges a folder that continues from
// the previous cabinet into that cabinet's last folder.
FileRecord* LinkFolders(Run& run, CabinetRecord* first) {
  FileRecord* head = nullptr;
  FileRecord** tail = &head;
  FolderRecord* predecessor = nullptr;
  for (CabinetRecord* cab = first; cab != nullptr; cab = cab->next) {
    FolderRecord* firstFolder = cab->folders;
    FolderRecord* lastFolder = cab->folderCount ? cab->folderIndex[cab->folderCount - 1] : nullptr;
    bool mayMerge = true;
    for (FileRecord* file = cab->files; file != nullptr; file = file->next) {
      uint16_t index = file->folderIndex;
      if (index < kFromPrevious) file->folder = index < cab->folderCount ? cab->folderIndex[index] : nullptr;
      if ((index == kToNext || index == kPreviousAndNext) && cab->next != nullptr && lastFolder != nullptr &&
          lastFolder->continued == nullptr)
        lastFolder->continued = file;
      if (index == kFromPrevious || index == kPreviousAndNext) {
        if (index == kPreviousAndNext) mayMerge = false;
        if (predecessor != nullptr) {
          FileRecord* c = predecessor->continued;
          if (c != nullptr && c->offset == file->offset && c->size == file->size &&
              strcmp(c->name, file->name) == 0 && predecessor->type == firstFolder->type) {
            if (predecessor->extraParts + 2u > kSplitMax) {
              FormatMessageText(g_MessageBuffer, sizeof g_MessageBuffer,
                                "%s: internal error, increase CAB_SPLITMAX :)\n", run.firstPath);
              g_CabPrint(g_MessageBuffer);
              mayMerge = false;
            } else {
              unsigned k = ++predecessor->extraParts;
              predecessor->part[k] = firstFolder->part[0];
              predecessor->offset[k] = firstFolder->offset[0];
              predecessor->next = firstFolder->next;
              predecessor->continued = firstFolder->continued;
              if (firstFolder == lastFolder) lastFolder = predecessor;
              cab->folders = predecessor;
              cab->folderIndex[0] = predecessor;
              firstFolder = predecessor;
              predecessor = nullptr;
            }
          } else {
            mayMerge = false;
          }
        }
        if (mayMerge) file->folder = firstFolder;
      }
      if (file->folder != nullptr) {
        *tail = file;
        tail = &file->process;
      }
    }
    predecessor = lastFolder;
  }
  *tail = nullptr;
  return head;
}

void CloseDecoderStream() {
  if (g_Decoder.stream != nullptr) fclose(g_Decoder.stream);
  g_Decoder.stream = nullptr;
  g_Decoder.streamCabinet = nullptr;
}

void DropFolder() {
  CloseDecoderStream();
  g_Decoder.folder = nullptr;
}

// Opens a folder part's cabinet at that part's data.
bool OpenPart(Run& run, FolderRecord* folder, unsigned part) {
  CloseDecoderStream();
  CabinetRecord* cab = folder->part[part];
  g_Decoder.stream = OpenCabinet(run, cab->path);
  if (g_Decoder.stream == nullptr) return false;
  // Data blocks are read one after another: a buffer of several blocks
  // takes them in a few large reads.
  setvbuf(g_Decoder.stream, g_Decoder.streamBuffer, _IOFBF, sizeof g_Decoder.streamBuffer);
  g_Decoder.streamCabinet = cab;
  if (fseek(g_Decoder.stream, static_cast<long>(folder->offset[part]), SEEK_SET) != 0) {
    Fail(run, cab->path);
    return false;
  }
  return true;
}

// Decodes the input block; *data points at its bytes afterwards (the output
// buffer, or the LZX window, which holds them until the next block).
CabResult DecodeBlock(size_t inLength, size_t outLength, const uint8_t** data) {
  *data = g_Decoder.output;
  switch (g_Decoder.method) {
    case kStored:
      if (inLength != outLength) return CabResult::Corrupt;
      memcpy(g_Decoder.output, g_Decoder.input, outLength);
      return CabResult::Ok;
    case kMszip:
      return MszipDecodeBlock(g_Decoder.mszip, g_Decoder.input, inLength, g_Decoder.output, outLength);
    case kLzx:
      return LzxDecodeBlockInPlace(g_Decoder.lzx, g_Decoder.input, inLength, g_Decoder.output, outLength,
                                   data);
    default:
      return CabResult::Unsupported;
  }
}

// Produces the next n bytes of the current folder, handing them to `out` or
// discarding them (out null). OutputError: the output has failed the member
// and said so.
CabResult ReadFolderData(Run& run, FileRecord* file, uint32_t n, MemberOutput* out, bool tolerateErrors) {
  CabinetDecoderState& st = g_Decoder;
  while (n > 0) {
    uint32_t use = st.pendingLength < n ? st.pendingLength : n;
    if (use > 0) {
      if (out != nullptr && !out->Write(st.pending, use)) return CabResult::OutputError;
      st.pending += use;
      st.pendingLength -= use;
      n -= use;
      if (n == 0) return CabResult::Ok;
    }
    // One whole block, its pieces joined when it is split over cabinets.
    size_t in = 0;
    uint32_t uncompressed = 0;
    for (;;) {
      CabinetRecord* cab = st.streamCabinet;
      uint8_t h[8] = {};
      bool whole = BoundedRead(run, cab, st.stream, h, sizeof h);
      if (run.fatal->set) return CabResult::InputError;
      if (!whole || !Skip(run, cab, st.stream, cab->dataReserve)) return CabResult::InputError;
      uint32_t stored = Get32(h), size = Get16(h + 4);
      uncompressed = Get16(h + 6);
      if (in + size > kCabInputSize) return CabResult::InputError;
      whole = BoundedRead(run, cab, st.stream, st.input + in, size);
      if (run.fatal->set || !whole) return CabResult::InputError;
      memset(st.input + in + size, 0, kCabInputSpare);
      const uint32_t computed = stored == 0 ? 0 : BlockChecksum(h + 4, 4, BlockChecksum(st.input + in, size, 0));
      if (computed != stored) {
        run.badStored = stored;
        run.badComputed = computed;
        if (!tolerateErrors || st.method != kMszip) return CabResult::Checksum;
        Show("%s: WARNING: checksum failed\n", file->name);
      }
      in += size;
      if (uncompressed != 0) break;
      if (++st.part > st.folder->extraParts) return CabResult::InputError;
      if (!OpenPart(run, st.folder, st.part)) return CabResult::InputError;
    }
    // A block may not declare more than the output buffer holds.
    const uint8_t* data = st.output;
    CabResult r = uncompressed > kCabOutputSize ? CabResult::Corrupt : DecodeBlock(in, uncompressed, &data);
    if (r != CabResult::Ok) {
      if (!tolerateErrors || st.method != kMszip) return r;
      Show("%s: WARNING: failed decrunching block\n", file->name);
    }
    st.pending = data;
    st.pendingLength = uncompressed;
  }
  return CabResult::Ok;
}

void ReportResult(CabResult r, FolderRecord* fileFolder) {
  FolderRecord* folder = g_Decoder.folder != nullptr ? g_Decoder.folder : fileFolder;
  const char* path = folder->part[0]->path;
  switch (r) {
    case CabResult::Ok: return;
    case CabResult::Unsupported: Show("%s: unsupported data format\n", path); return;
    case CabResult::Corrupt: Show("%s: illegal or corrupt data\n", path); return;
    case CabResult::NoMemory: Show("out of memory!\n"); return;
    case CabResult::Checksum: Show("%s: checksum error\n", path); return;
    case CabResult::InputError: Show("%s: input error\n", path); return;
    case CabResult::OutputError: Show("%s: output error\n", path); return;
  }
  Show("%s: unknown error (BUG)\n", path);
}

// Ends the member by the result of decoding its data. `reached`: the
// decoding got into the member's own bytes (else nothing of it was made).
void EndMember(Run& run, MemberOutput& out, CabResult r, bool reached) {
  char reason[128];
  switch (r) {
    case CabResult::Ok:
      out.End(MemberEnd::kComplete);
      return;
    case CabResult::Checksum:
      if (reached) {
        out.ReportChecksumError(run.badStored, run.badComputed);
        out.End(MemberEnd::kDamaged);
      } else {
        FormatMessageText(reason, sizeof reason,
                          "checksum error (stored %08x, computed %08x) in its folder; skipped",
                          run.badStored, run.badComputed);
        out.Fail(reason);
      }
      return;
    case CabResult::Corrupt:
      if (reached) {
        out.End(MemberEnd::kDamaged);
      } else {
        out.Fail("damaged data in its folder; skipped");
      }
      return;
    case CabResult::InputError:
      if (reached) {
        out.End(MemberEnd::kTruncated);
      } else {
        out.Fail("its folder's data cannot be read; skipped");
      }
      return;
    case CabResult::OutputError:  // already named and counted
      out.End(MemberEnd::kDamaged);
      return;
    case CabResult::Unsupported:
      out.Fail("unsupported data format; skipped");
      return;
    case CabResult::NoMemory:
      out.Fail("not enough memory to decode");
      return;
  }
  out.Fail("cannot be decoded");
}

// The member name: the stored name with "\" and "/" swapped (so stored
// folders become folders here), lower-cased on request. False when it does
// not fit.
bool MemberName(const char* name, bool lowerCase, char* converted) {
  size_t used = 0;
  for (const char* p = name; *p != '\0';) {
    size_t len = CharLength(p);
    if (used + len >= kPathBufferSize) return false;
    if (len == 1) {
      char c = *p == '/' ? '\\' : *p == '\\' ? '/' : *p;
      if (lowerCase && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      converted[used] = c;
    } else {
      memcpy(converted + used, p, len);
    }
    used += len;
    p += len;
  }
  converted[used] = '\0';
  return true;
}

const char* MethodName(uint16_t folderType) {
  switch (folderType & 0x0F) {
    case kStored: return "stored";
    case kMszip: return "mszip";
    case kQuantum: return "quantum";
    case kLzx: return "lzx";
    default: return "";
  }
}

void ExtractCabinetFile(Run& run, MemberOutput& out, FileRecord* file, bool lowerCase, bool tolerateErrors) {
  CabinetDecoderState& st = g_Decoder;
  char name[kPathBufferSize];
  if (!MemberName(file->name, lowerCase, name)) {
    RefuseMember(file->name, "the name is too long for an output path; skipped");
    return;  // the next file discards this one's data
  }
  MemberInfo info;
  info.name = name;
  info.size = file->size;
  info.method = MethodName(file->folder->type);
  info.SetDosTime(file->date, file->time);
  info.readOnly = (file->attributes & 0x01) != 0;
  if (!out.Begin(info)) return;

  if (st.folder != file->folder || file->offset < st.offset) {
    FolderRecord* folder = file->folder;
    int method = folder->type & 0x0F;
    int w = (folder->type >> 8) & 0x1F;
    if (st.lastMethod == kLzx && method != kLzx) LzxRelease(st.lzx);
    st.lastMethod = method;
    CabResult r = CabResult::Ok;
    if (method == kLzx) r = LzxInit(st.lzx, w);
    else if (method != kStored && method != kMszip) r = CabResult::Unsupported;  // Quantum too
    if (r != CabResult::Ok) {
      ReportResult(r, folder);
      DropFolder();
      EndMember(run, out, r, false);
      return;
    }
    st.method = method;
    if (!OpenPart(run, folder, 0)) {
      EndMember(run, out, CabResult::InputError, false);
      return;
    }
    st.folder = folder;
    st.offset = 0;
    st.pendingLength = 0;
    st.part = 0;
  }
  if (file->offset > st.offset) {
    CabResult r = ReadFolderData(run, file, file->offset - st.offset, nullptr, tolerateErrors);
    if (r != CabResult::Ok || run.fatal->set) {
      if (!run.fatal->set) ReportResult(r, file->folder);
      DropFolder();  // the stream no longer matches the offset
      EndMember(run, out, r == CabResult::Ok ? CabResult::InputError : r, false);
      return;
    }
    st.offset = file->offset;
  }
  CabResult r = ReadFolderData(run, file, file->size, &out, tolerateErrors);
  if (r == CabResult::Ok) {
    st.offset += file->size;
  } else {
    DropFolder();
  }
  if (!run.fatal->set && r != CabResult::OutputError) ReportResult(r, file->folder);
  EndMember(run, out, r, true);
}

// Listing line, with the decoded name.
void ListFile(const FileRecord* file) {
  char name[1024];
  FormatMessageText(name, sizeof name, "%s", file->name);
  Show("%9u | %02d.%02d.%04d %02d:%02d:%02d | %s\n", file->size, file->date & 0x1F, (file->date >> 5) & 0x0F,
       (file->date >> 9) + 1980, file->time >> 11, (file->time >> 5) & 0x3F, (file->time & 0x1F) * 2, name);
}

void FreeFolders(Run& run) {
  for (FolderRecord* folder = run.ownedFolders; folder != nullptr;) {
    FolderRecord* next = folder->owned;
    delete folder;
    folder = next;
  }
  run.ownedFolders = nullptr;
}

bool InChain(CabinetRecord* first, const char* path) {
  for (CabinetRecord* c = first; c != nullptr; c = c->next)
    if (strcmp(c->path, path) == 0) return true;
  return false;
}

}  // namespace

void (*g_CabShowMessage)(const char* text) = ShowMessage;
void (*g_CabPrint)(const char* text) = PrintToStdout;

uint32_t BlockChecksum(const uint8_t* data, size_t length, uint32_t seed) {
  // The XOR of the little-endian 32-bit groups, taken eight bytes at a time:
  // the two halves of the 64-bit XOR fold into the same value.
  uint64_t lanes[4] = {};
  size_t i = 0;
  for (; i + 32 <= length; i += 32) {
    uint64_t v[4];
    memcpy(v, data + i, 32);
    for (int k = 0; k < 4; ++k) lanes[k] ^= v[k];
  }
  uint64_t wide = lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3];
  for (; i + 8 <= length; i += 8) {
    uint64_t v;
    memcpy(&v, data + i, 8);
    wide ^= v;
  }
  seed ^= Get32(reinterpret_cast<const uint8_t*>(&wide)) ^ Get32(reinterpret_cast<const uint8_t*>(&wide) + 4);
  for (; i + 4 <= length; i += 4) seed ^= Get32(data + i);
  switch (length - i) {
    case 3: seed ^= (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2]; break;
    case 2: seed ^= (uint32_t{data[i]} << 8) | data[i + 1]; break;
    case 1: seed ^= data[i]; break;
  }
  return seed;
}

int ExtractCabinet(const char* path, const char* outputFolder, bool tolerateErrors, bool listOnly,
                   bool lowerCaseNames, bool quiet, CabFatal* fatal) {
  Run run{fatal, path};
  if (listOnly || !quiet) Show("%s cabinet: %s\n", listOnly ? "Viewing" : "Extracting", path);
  char* firstPath = CopyString(path);
  if (firstPath == nullptr) {
    Fail(run, "out of memory!\n");
    return 1;
  }
  CabinetRecord* first = LoadCabinet(run, firstPath);
  free(firstPath);
  if (first == nullptr) {
    FreeFolders(run);
    return 1;
  }
  if (first->flags & kFlagPrevious) Show("%s: WARNING; this is not the first cabinet in sequence\n", path);
  unsigned chain = 1;
  for (CabinetRecord* cab = first; cab != nullptr && (cab->flags & kFlagNext) && !fatal->set; cab = cab->next) {
    if (!quiet) Show("%s: extends to %s (%s)\n", path, cab->nextName, cab->nextInfo ? cab->nextInfo : "");
    char* slash = LastSeparator(first->path);
    if (slash != nullptr) {
      size_t dir = static_cast<size_t>(slash - first->path) + 1;
      char* composed = static_cast<char*>(malloc(dir + strlen(cab->nextName) + 1));
      if (composed == nullptr) {
        Fail(run, "out of memory!\n");
        break;
      }
      memcpy(composed, first->path, dir);
      strcpy(composed + dir, cab->nextName);
      free(cab->nextName);
      cab->nextName = composed;
    }
    // A set that leads back into itself ends at the cabinet already loaded.
    if (InChain(first, cab->nextName) || ++chain > kMaxChain) break;
    CabinetRecord* next = LoadCabinet(run, cab->nextName);
    if (next == nullptr) {
      if (!fatal->set) Show("%s: can't read next cabinet %s\n", path, cab->nextName);
      break;
    }
    cab->next = next;
    next->previous = cab;
  }
  if (!fatal->set) {
    MemberOutput out(outputFolder);
    FileRecord* files = LinkFolders(run, first);
    g_Decoder.folder = nullptr;
    if (listOnly) {
      g_CabPrint("File size | Date       Time     | Name\n");
      g_CabPrint("----------+---------------------+-------------\n");
      for (FileRecord* f = files; f != nullptr; f = f->process) ListFile(f);
      g_CabPrint("\n");
    } else {
      for (FileRecord* f = files; f != nullptr && !fatal->set && !out.ArchiveEnded(); f = f->process) {
        if (!quiet) {
          FormatMessageText(g_MessageBuffer, sizeof g_MessageBuffer, "  extracting: %s\n", f->name);
          g_CabPrint(g_MessageBuffer);
        }
        ExtractCabinetFile(run, out, f, lowerCaseNames, tolerateErrors);
      }
      if (!quiet && !fatal->set) g_CabPrint("Finished processing cabinet.\n\n");
    }
  }
  DropFolder();
  for (CabinetRecord* cab = first; cab != nullptr;) {
    CabinetRecord* next = cab->next;
    FreeCabinet(cab);
    cab = next;
  }
  FreeFolders(run);
  return 0;
}

bool CabHandler::Probe(const char* path, int32_t fileSize) {
  if (fileSize < 4) return false;
  if (memcmp(g_ReadAheadBuffer, kSignature, 4) == 0) return true;
  // A cabinet behind a self-extracting stub, within the buffered bytes.
  int64_t buffered = fileSize < static_cast<int32_t>(kReadAheadSize) ? fileSize : kReadAheadSize;
  for (int64_t o = 1; o + 20 <= buffered; ++o) {
    const uint8_t* at = static_cast<const uint8_t*>(memchr(g_ReadAheadBuffer + o, 'M', buffered - o));
    if (at == nullptr) return false;
    o = at - g_ReadAheadBuffer;
    if (o + 20 <= buffered && PlausibleHeader(at, o, fileSize)) return true;
  }
  return false;
}

bool CabHandler::Extract(const char* path, const char* outputFolder) {
  CabFatal fatal;
  ExtractCabinet(path, outputFolder, false, false, false, true, &fatal);
  if (fatal.set) ProgramError(fatal.text);
  return true;
}
