// Cabinet reader: loads a cabinet and the cabinets it continues into, links
// folders that run over several cabinets, and hands each file's bytes from
// the folder data stream to the member output.
#include "archive/cab/cab_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/cab/cab_folder_stream.h"
#include "archive/cab/cab_headers.h"
#include "archive/cab/cab_result.h"
#include "core/charset.h"
#include "core/member_output.h"
#include "core/messages.h"
#include "core/output.h"

namespace cab {
namespace {

constexpr unsigned kMaxChain = 1024;  // cabinets one set may hold

void PrintToStdout(const char* text) { fputs(text, stdout); }

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
      const uint16_t index = file->folderIndex;
      const bool fromPrevious = index == FileEntry::kFromPrevious || index == FileEntry::kPreviousAndNext;
      const bool toNext = index == FileEntry::kToNext || index == FileEntry::kPreviousAndNext;
      if (index < FileEntry::kFromPrevious)
        file->folder = index < cab->folderCount ? cab->folderIndex[index] : nullptr;
      if (toNext && cab->next != nullptr && lastFolder != nullptr && lastFolder->continued == nullptr)
        lastFolder->continued = file;
      if (fromPrevious) {
        if (index == FileEntry::kPreviousAndNext) mayMerge = false;
        if (predecessor != nullptr) {
          FileRecord* c = predecessor->continued;
          if (c != nullptr && c->offset == file->offset && c->size == file->size &&
              strcmp(c->name, file->name) == 0 && predecessor->type == firstFolder->type) {
            if (predecessor->extraParts + 2u > kSplitMax) {
              Print("%s: internal error, increase CAB_SPLITMAX :)\n", run.firstPath);
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

void ReportResult(CabResult r, FolderRecord* fileFolder) {
  FolderRecord* folder = StreamFolder() != nullptr ? StreamFolder() : fileFolder;
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
    case CabResult::InputError:
      if (reached) {
        out.End(r == CabResult::Corrupt ? MemberEnd::kDamaged : MemberEnd::kTruncated);
      } else {
        out.Fail(r == CabResult::Corrupt ? "damaged data in its folder; skipped"
                                         : "its folder's data cannot be read; skipped");
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
  switch (FolderMethod(folderType)) {
    case kStored: return "stored";
    case kMszip: return "mszip";
    case kQuantum: return "quantum";
    case kLzx: return "lzx";
    default: return "";
  }
}

// Ends a member whose folder could not be brought to its bytes: the stream
// no longer matches any offset.
void AbandonMember(Run& run, MemberOutput& out, CabResult r, FolderRecord* folder) {
  if (!run.fatal->set) ReportResult(r, folder);
  DropFolder();
  EndMember(run, out, r, false);
}

void ExtractCabinetFile(Run& run, MemberOutput& out, FileRecord* file, const CabOptions& options) {
  char name[kPathBufferSize];
  if (!MemberName(file->name, options.lowerCaseNames, name)) {
    RefuseMember(file->name, "the name is too long for an output path; skipped");
    return;  // the next file discards this one's data
  }
  MemberInfo info;
  info.name = name;
  info.size = file->size;
  info.method = MethodName(file->folder->type);
  info.SetDosTime(file->date, file->time);
  info.readOnly = (file->attributes & FileEntry::kReadOnly) != 0;
  if (!out.Begin(info)) return;

  if (StreamFolder() != file->folder || file->offset < StreamOffset()) {
    const CabResult r = StartFolder(run, file->folder);
    if (r != CabResult::Ok) return AbandonMember(run, out, r, file->folder);
  }
  if (file->offset > StreamOffset()) {
    const CabResult r =
        ReadFolderData(run, file->name, file->offset - StreamOffset(), nullptr, options.tolerateErrors);
    if (r != CabResult::Ok || run.fatal->set)
      return AbandonMember(run, out, r == CabResult::Ok ? CabResult::InputError : r, file->folder);
  }
  const CabResult r = ReadFolderData(run, file->name, file->size, &out, options.tolerateErrors);
  if (r != CabResult::Ok) DropFolder();
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

bool InChain(CabinetRecord* first, const char* path) {
  for (CabinetRecord* c = first; c != nullptr; c = c->next)
    if (strcmp(c->path, path) == 0) return true;
  return false;
}

// Loads the cabinets `first` continues into, each named beside the first
// one, as far as they can be read.
void LoadSet(Run& run, CabinetRecord* first, const char* path, const CabOptions& options) {
  unsigned chain = 1;
  for (CabinetRecord* cab = first; cab != nullptr && (cab->flags & CabinetHeader::kFlagNext) && !run.fatal->set;
       cab = cab->next) {
    if (!options.quiet) Show("%s: extends to %s (%s)\n", path, cab->nextName, cab->nextInfo ? cab->nextInfo : "");
    char* slash = LastSeparator(first->path);
    if (slash != nullptr) {
      size_t dir = static_cast<size_t>(slash - first->path) + 1;
      char* composed = static_cast<char*>(malloc(dir + strlen(cab->nextName) + 1));
      if (composed == nullptr) {
        Fail(run, "out of memory!\n");
        return;
      }
      memcpy(composed, first->path, dir);
      strcpy(composed + dir, cab->nextName);
      free(cab->nextName);
      cab->nextName = composed;
    }
    // A set that leads back into itself ends at the cabinet already loaded.
    if (InChain(first, cab->nextName) || ++chain > kMaxChain) return;
    bool missing = false;
    CabinetRecord* next = LoadCabinet(run, cab->nextName, &missing);
    if (next == nullptr) {
      if (missing) {
        const char* slash = LastSeparator(cab->nextName);
        Show("%s: the next cabinet %s is missing\n", path, slash != nullptr ? slash + 1 : cab->nextName);
      } else if (!run.fatal->set) {
        Show("%s: can't read next cabinet %s\n", path, cab->nextName);
      }
      return;
    }
    cab->next = next;
    next->previous = cab;
  }
}

// A set whose next cabinet could not be loaded is incomplete: the files
// that run into it are named and the archive fails.
void RefuseCutOffFiles(CabinetRecord* first) {
  CabinetRecord* last = first;
  while (last->next != nullptr) last = last->next;
  if ((last->flags & CabinetHeader::kFlagNext) == 0) return;
  g_ArchiveOutcome.failed = true;
  for (FileRecord* file = last->files; file != nullptr; file = file->next) {
    if (file->folderIndex == FileEntry::kToNext || file->folderIndex == FileEntry::kPreviousAndNext)
      RefuseMember(file->name, "continues into the next cabinet, which cannot be read; skipped");
  }
}

void ProcessFiles(Run& run, FileRecord* files, const char* outputFolder, const CabOptions& options) {
  MemberOutput out(outputFolder);
  if (options.listOnly) {
    g_CabPrint("File size | Date       Time     | Name\n");
    g_CabPrint("----------+---------------------+-------------\n");
    for (FileRecord* f = files; f != nullptr; f = f->process) ListFile(f);
    g_CabPrint("\n");
    return;
  }
  for (FileRecord* f = files; f != nullptr && !run.fatal->set && !out.ArchiveEnded(); f = f->process) {
    if (!options.quiet) Print("  extracting: %s\n", f->name);
    ExtractCabinetFile(run, out, f, options);
  }
  if (!options.quiet && !run.fatal->set) g_CabPrint("Finished processing cabinet.\n\n");
}

}  // namespace
}  // namespace cab

void (*g_CabShowMessage)(const char* text) = ShowMessage;
void (*g_CabPrint)(const char* text) = cab::PrintToStdout;

int ExtractCabinet(const char* path, const char* outputFolder, const CabOptions& options, CabFatal* fatal) {
  using namespace cab;
  Run run{fatal, path};
  if (options.listOnly || !options.quiet) Show("%s cabinet: %s\n", options.listOnly ? "Viewing" : "Extracting", path);
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
  if (first->flags & CabinetHeader::kFlagPrevious)
    Show("%s: WARNING; this is not the first cabinet in sequence\n", path);
  LoadSet(run, first, path, options);
  if (!fatal->set) {
    FileRecord* files = LinkFolders(run, first);
    DropFolder();
    ProcessFiles(run, files, outputFolder, options);
    if (!options.listOnly && !fatal->set) RefuseCutOffFiles(first);
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
  using cab::CabinetHeader;
  if (fileSize < 4) return false;
  if (memcmp(g_ReadAheadBuffer, cab::kSignature, 4) == 0) return true;
  // A cabinet behind a self-extracting stub, within the buffered bytes.
  constexpr int64_t kNeed = CabinetHeader::kPlausibleSize;
  int64_t buffered = fileSize < static_cast<int32_t>(kReadAheadSize) ? fileSize : kReadAheadSize;
  for (int64_t o = 1; o + kNeed <= buffered; ++o) {
    const uint8_t* at = static_cast<const uint8_t*>(memchr(g_ReadAheadBuffer + o, 'M', buffered - o));
    if (at == nullptr) return false;
    o = at - g_ReadAheadBuffer;
    if (o + kNeed <= buffered && cab::PlausibleHeader(at, o, fileSize)) return true;
  }
  return false;
}

bool CabHandler::Extract(const char* path, const char* outputFolder) {
  CabFatal fatal;
  // A first cabinet that cannot be read (cut short in its headers, no
  // folders or files) has been named; its members are lost.
  const int result = ExtractCabinet(path, outputFolder, CabOptions{}, &fatal);
  if (fatal.set) ProgramError(fatal.text);
  return result == 0;
}
