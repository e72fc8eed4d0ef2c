// Loading one cabinet: finding its start (also behind a self-extracting
// stub), reading CFHEADER, the CFFOLDER and CFFILE entries and the names.
#include "archive/cab/cab_headers.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/byte_order.h"
#include "core/charset.h"
#include "core/messages.h"
#include "core/names.h"
#include "core/output.h"

namespace cab {
namespace {

constexpr size_t kMaxStoredString = 65536;  // longest name or label accepted

char g_MessageBuffer[1024];

void FormatInto(const char* format, va_list args) {
  char full[4096];
  if (vsnprintf(full, sizeof full, format, args) < 0) full[0] = '\0';
  FormatMessageText(g_MessageBuffer, sizeof g_MessageBuffer, "%s", full);
}

// Lower-cases the one-byte ASCII letters from `from` on, stepping by whole
// characters so the second byte of a double-byte character stays.
void LowerFrom(char* from) {
  for (char* p = from; *p != '\0'; p = CharNext(p))
    if (CharLength(p) == 1 && *p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
}

// A stored name is UTF-8 when attribute 0x80 says so, else legacy text
// (cabinets are a Windows format). Decoded once, as it is loaded, so the
// output name, the listing, the notices and the comparison of a file that
// continues into the next cabinet all see the same text. A name that does
// not fit a path buffer stays as stored; its length then refuses it.
void DecodeFileName(FileRecord* file) {
  char decoded[kPathBufferSize];
  const NameMarking marking = (file->attributes & FileEntry::kUtf8Name) ? NameMarking::kUtf8 : NameMarking::kLegacy;
  if (!DecodeStoredName(reinterpret_cast<const uint8_t*>(file->name), strlen(file->name), marking, decoded,
                        sizeof decoded))
    return;
  // Never longer than the stored form, so it fits where that was.
  strcpy(file->name, decoded);
}

void WarnTruncated(CabinetRecord* cab) {
  if (!cab->truncationShown) Show("%s: WARNING; cabinet is truncated\n", cab->path);
  cab->truncationShown = true;
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
      if (s == r) WarnTruncated(cab);
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
  // 512-byte windows: the last kCarry bytes of the previous chunk, then the
  // new ones, so that a header across two chunks is seen whole.
  constexpr int64_t kCarry = CabinetHeader::kPlausibleSize, kChunk = sizeof window - kCarry;
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

// A new record, or null after the out-of-memory line.
template <typename Record>
Record* NewRecord() {
  auto* record = new (std::nothrow) Record;
  if (record == nullptr) g_CabPrint("out of memory!\n");
  return record;
}

bool ReadFolderEntries(Run& run, CabinetRecord* cab, FILE* f, long base, unsigned count) {
  cab->folderIndex = static_cast<FolderRecord**>(calloc(count, sizeof(FolderRecord*)));
  if (cab->folderIndex == nullptr) {
    g_CabPrint("out of memory!\n");
    return false;
  }
  FolderRecord** folderTail = &cab->folders;
  for (unsigned i = 0; i < count; ++i) {
    uint8_t e[FolderEntry::kSize] = {};
    BoundedRead(run, cab, f, e, sizeof e);
    if (run.fatal->set || !Skip(run, cab, f, cab->folderReserve)) return false;
    auto* folder = NewRecord<FolderRecord>();
    if (folder == nullptr) return false;
    const FolderEntry entry = FolderEntry::Load(e);
    folder->owned = run.ownedFolders;
    run.ownedFolders = folder;
    folder->part[0] = cab;
    folder->offset[0] = static_cast<uint32_t>(base) + entry.dataOffset;
    folder->type = entry.type;
    *folderTail = folder;
    folderTail = &folder->next;
    cab->folderIndex[i] = folder;
    cab->folderCount = static_cast<uint16_t>(i + 1);
  }
  return true;
}

bool ReadFileEntries(Run& run, CabinetRecord* cab, FILE* f, unsigned count) {
  FileRecord** fileTail = &cab->files;
  for (unsigned i = 0; i < count; ++i) {
    uint8_t e[FileEntry::kSize] = {};
    BoundedRead(run, cab, f, e, sizeof e);
    if (run.fatal->set) return false;
    auto* file = NewRecord<FileRecord>();
    if (file == nullptr) return false;
    const FileEntry entry = FileEntry::Load(e);
    file->size = entry.size;
    file->offset = entry.offset;
    file->folderIndex = entry.folderIndex;
    file->date = entry.date;
    file->time = entry.time;
    file->attributes = entry.attributes;
    *fileTail = file;
    fileTail = &file->next;
    file->name = ReadString(run, cab, f);
    if (file->name == nullptr) return false;
    DecodeFileName(file);
  }
  return true;
}

bool ReadCabinetHeaders(Run& run, CabinetRecord* cab, FILE* f) {
  long base = ftell(f);
  uint8_t h[CabinetHeader::kSize] = {};
  BoundedRead(run, cab, f, h, sizeof h);
  if (run.fatal->set) return false;
  const CabinetHeader header = CabinetHeader::Load(h);
  if (header.folderCount == 0) {
    Show("%s: no folders in cabinet\n", cab->path);
    return false;
  }
  if (header.fileCount == 0) {
    Show("%s: no files in cabinet\n", cab->path);
    return false;
  }
  if (header.majorVersion > 1 || (header.majorVersion == 1 && header.minorVersion > 3))
    Show("%s: WARNING; cabinet format version > 1.3\n", cab->path);
  cab->flags = header.flags;
  if (cab->flags & CabinetHeader::kFlagReserve) {
    uint8_t r[CabinetReserve::kSize] = {};
    BoundedRead(run, cab, f, r, sizeof r);
    const CabinetReserve reserve = CabinetReserve::Load(r);
    cab->folderReserve = reserve.folderReserve;
    cab->dataReserve = reserve.dataReserve;
    if (reserve.headerReserve > 60000) Show("%s: WARNING; header reserved space > 60000\n", cab->path);
    if (!Skip(run, cab, f, reserve.headerReserve)) return false;
  }
  if (cab->flags & CabinetHeader::kFlagPrevious) {
    cab->previousName = ReadString(run, cab, f);
    if (cab->previousName == nullptr) return false;
    cab->previousInfo = ReadString(run, cab, f);
  }
  if (cab->flags & CabinetHeader::kFlagNext) {
    cab->nextName = ReadString(run, cab, f);
    if (cab->nextName == nullptr) return false;
    cab->nextInfo = ReadString(run, cab, f);
  }
  if (run.fatal->set) return false;
  return ReadFolderEntries(run, cab, f, base, header.folderCount) &&
         ReadFileEntries(run, cab, f, header.fileCount);
}

}  // namespace

CabinetHeader CabinetHeader::Load(const uint8_t* h) {
  CabinetHeader header;
  header.cabinetSize = LoadLe32(h + kCabinetSizeAt);
  header.firstFile = LoadLe32(h + kFirstFileAt);
  header.minorVersion = h[24];
  header.majorVersion = h[25];
  header.folderCount = LoadLe16(h + 26);
  header.fileCount = LoadLe16(h + 28);
  header.flags = LoadLe16(h + 30);
  return header;
}

CabinetReserve CabinetReserve::Load(const uint8_t* r) { return {LoadLe16(r), r[2], r[3]}; }

FolderEntry FolderEntry::Load(const uint8_t* e) { return {LoadLe32(e), LoadLe16(e + 6)}; }

FileEntry FileEntry::Load(const uint8_t* e) {
  return {LoadLe32(e), LoadLe32(e + 4), LoadLe16(e + 8), LoadLe16(e + 10), LoadLe16(e + 12), LoadLe16(e + 14)};
}

DataEntry DataEntry::Load(const uint8_t* d) { return {LoadLe32(d), LoadLe16(d + 4), LoadLe16(d + 6)}; }

void Show(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatInto(format, args);
  va_end(args);
  // Paths and member names are shown with "/" between folders, as the
  // user types them; the line end stays the notice's own.
  const size_t length = strlen(g_MessageBuffer);
  const bool lineEnd = length > 0 && g_MessageBuffer[length - 1] == '\n';
  if (lineEnd) g_MessageBuffer[length - 1] = '\0';
  char shown[sizeof g_MessageBuffer * 4 + 2];
  DisplayName(shown, sizeof shown - 1, g_MessageBuffer);
  if (lineEnd) strcat(shown, "\n");
  g_CabShowMessage(shown);
}

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatInto(format, args);
  va_end(args);
  g_CabPrint(g_MessageBuffer);
}

void Fail(Run& run, const char* text) {
  if (run.fatal->set) return;
  run.fatal->set = true;
  FormatMessageText(run.fatal->text, sizeof run.fatal->text, "%s", text);
}

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

bool BoundedRead(Run& run, CabinetRecord* cab, FILE* f, void* dst, size_t n) {
  long at = ftell(f);
  size_t remaining = at < 0 || at > cab->length ? 0 : static_cast<size_t>(cab->length - at);
  bool whole = true;
  if (n > remaining) {
    WarnTruncated(cab);
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

bool PlausibleHeader(const uint8_t* at, int64_t offset, int64_t fileLength) {
  if (memcmp(at, kSignature, 4) != 0) return false;
  int64_t cabinetLength = LoadLe32(at + CabinetHeader::kCabinetSizeAt);
  int32_t firstFile = static_cast<int32_t>(LoadLe32(at + CabinetHeader::kFirstFileAt));
  // A cabinet that ends exactly at the end of the file is the usual case
  // behind a self-extracting stub, so it is accepted.
  return offset + cabinetLength <= fileLength && firstFile < static_cast<int32_t>(cabinetLength);
}

namespace {

FILE* OpenCabinetOrLowerCase(char* path) {
  FILE* f = OpenFileStream(path, "rb");
  if (f == nullptr) {
    char* from = LastSeparator(path);
    LowerFrom(from != nullptr ? from : path);
    f = OpenFileStream(path, "rb");
  }
  return f;
}

}  // namespace

FILE* OpenCabinet(Run& run, char* path) {
  FILE* f = OpenCabinetOrLowerCase(path);
  if (f == nullptr) Fail(run, path);
  return f;
}

CabinetRecord* LoadCabinet(Run& run, char* path, bool* missing) {
  auto* cab = new (std::nothrow) CabinetRecord;
  if (cab == nullptr) return nullptr;
  FILE* f = missing != nullptr ? OpenCabinetOrLowerCase(path) : OpenCabinet(run, path);
  if (f == nullptr && missing != nullptr) {
    *missing = true;
    delete cab;
    return nullptr;
  }
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

void FreeFolders(Run& run) {
  for (FolderRecord* folder = run.ownedFolders; folder != nullptr;) {
    FolderRecord* next = folder->owned;
    delete folder;
    folder = next;
  }
  run.ownedFolders = nullptr;
}

}  // namespace cab
