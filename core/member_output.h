// The one road every member's bytes take: a file under the output folder,
// only a decode-and-check (testing), or only a listing line. Handlers
// describe each member, hand over its bytes and say how the decoding ended;
// what becomes of them, every check of a stored checksum, every output
// failure and its notice are decided here.
//
// A handler's loop over its members:
//
//   MemberOutput out(outputFolder);
//   for each member:
//     MemberInfo info; info.name = ...; info.size = ...; ...
//     if (out.Begin(info)) {          // false: skip the member's data
//       decode, calling out.Write(bytes, n) (or writing to out.Stream());
//       out.End(complete);
//     }
//     if (out.ArchiveEnded()) break;   // e.g. the disk is full
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/output.h"
#include "platform/output_file.h"
#include "platform/windows.h"

class OutputPool;
struct OutputJob;

// What a run does with the members' bytes.
enum class RunMode { kExtract, kTest, kList };

struct RunOptions {
  RunMode mode = RunMode::kExtract;
  bool keepExisting = false;  // never replace an existing file; name and skip it
  bool verbose = false;       // name each member as it is written or tested
  // The run's own output folder (narrow program path, never stored), or
  // null: the settings decide (see ReadOutputFolder).
  const char* outputFolder = nullptr;
  // The options form's habits (the other forms and the dialogs keep none):
  bool toStdout = false;       // extract: members' bytes to standard output, names to standard error
  bool nameArchives = false;   // several archives: member notices start with their archive
  bool formatNames = false;    // format names ("tar.gz") in the listing and status line
  bool plainFolders = false;   // -f folders without archive extensions, unique in the run
  bool json = false;           // list and test: one JSON document on standard output (listing_json.h)
};
extern RunOptions g_RunOptions;

// The archive's outcome as the members made it; ProcessArchive resets it
// before Extract and counts the archive as FAILED when `failed` is set.
struct ArchiveOutcome {
  bool failed = false;         // a member was lost, cut short or failed its checksum
  bool ended = false;          // output cannot go on (no space left): stop the archive
  uint64_t listedMembers = 0;  // for the listing's total line
  uint64_t listedSize = 0;
  uint64_t listedPacked = 0;
  bool packedKnown = true;     // every listed member had a packed size
  uint64_t members = 0;        // members decoded, or refused before that (test summary)
  uint64_t failedMembers = 0;  // ... of which failed
};
extern ArchiveOutcome g_ArchiveOutcome;
void ResetArchiveOutcome();
// In list mode: the archive's heading (name, handler, column titles).
void PrintListingHeader(const char* archiveName, const char* handlerName);
// In list mode: the total line of the archive (after its members' lines).
void PrintListingTotal();
// In test mode: the archive's closing line, "a.zip: 7 members tested, all
// OK" or "a.zip: 1 of 7 members FAILED" (`shown` is screen text).
void PrintTestSummary(const char* shown, bool archiveFailed);

constexpr uint64_t kUnknownSize = UINT64_MAX;

// Which checksum the output computes over the member's bytes.
enum class ChecksumKind { kNone, kCrc16, kCrc32 };

// What a member makes on disk.
enum class MemberKind : uint8_t {
  kFile,
  kFolder,    // the same as isFolder
  kSymlink,   // a symbolic link; its target is linkTarget, or the member's data when that is null
  kHardLink,  // a second name for the member linkTarget names, written earlier in this run
  kFifo,
  kDevice,    // a block or character device: named, never made
};

struct MemberInfo {
  const char* name = "";                  // program text; "\" or "/" separate folders
  uint64_t size = kUnknownSize;           // bytes the member decodes to
  uint64_t packedSize = kUnknownSize;     // bytes it takes in the archive
  const char* method = "";                // short method name for the listing
  bool isFolder = false;                  // a folder member (also: a name ending in a separator)
  bool hasTime = false;
  FILETIME time{};                        // last-write time, UTC
  bool readOnly = false;
  MemberKind kind = MemberKind::kFile;
  bool hasMode = false;                   // Unix permission bits as stored
  uint32_t mode = 0;
  const char* linkTarget = nullptr;       // see MemberKind
  bool sparse = false;                    // its data comes with holes (MemberOutput::Skip)
  bool encrypted = false;                 // its data is encrypted (for the JSON listing)
  ChecksumKind checksum = ChecksumKind::kNone;
  bool hasStoredChecksum = false;         // else see MemberOutput::SetStoredChecksum
  uint32_t storedChecksum = 0;

  // Time helpers: an MS-DOS date and time pair in local time, or seconds
  // since 1970 (UTC).
  void SetDosTime(uint16_t dosDate, uint16_t dosTime);
  void SetUnixTime(uint32_t seconds);
};

// How the decoding of a member ended, as the handler saw it.
enum class MemberEnd {
  kComplete,   // all data decoded
  kDamaged,    // the decoder met bad data
  kTruncated,  // the archive ended inside the member
};

class MemberOutput {
 public:
  explicit MemberOutput(const char* outputFolder);
  // A member still open is abandoned (its partial file removed); files
  // being written on worker threads are finished and their notices given.
  ~MemberOutput();
  MemberOutput(const MemberOutput&) = delete;
  MemberOutput& operator=(const MemberOutput&) = delete;

  // Starts a member. True: decode its data now, through Write or Stream,
  // then call End. False: skip its data (a folder, a listed member, a name
  // that does not fit, an existing file kept, a blocked path, a folder that
  // cannot be made: any notice is given and counted here). A small
  // member's file is created on a worker thread after End: when that
  // fails, the notice comes and the archive counts as failed a little
  // later, at the latest when the MemberOutput is destroyed. Notices
  // always come in member order, and members that share a path (a file and
  // a later folder of that name, a name that comes again) meet in archive
  // order: a later file of the same name replaces the earlier one, and a
  // member that needs a folder where an earlier member made a file, or a
  // file where one made a folder, fails (named, the archive FAILED).
  //
  // The member's file appears under its name only when it is complete:
  // one whose output fails, whose data is damaged or cut short, that fails
  // (Fail) or is abandoned leaves nothing under its name, and whatever
  // stood there before stays. A checksum that does not match keeps the
  // file (named, the archive FAILED): its data may still be of use.
  [[nodiscard]] bool Begin(const MemberInfo& info);
  // The member's next bytes. False once the member has failed (stop
  // decoding it; End is still called).
  bool Write(const void* data, size_t size);
  // A hole of `bytes` zero bytes in a sparse member's data (written as a
  // hole in the file). False as for Write.
  bool Skip(uint64_t bytes);
  // A stdio stream over Write for decoders that write to a FILE*. Valid
  // until End.
  FILE* Stream();
  // A checksum that is stored after the data (data descriptors, trailers).
  void SetStoredChecksum(uint32_t value);
  // A checksum a library or the format reader checked itself and found
  // wrong: reported like a mismatch of the computed one.
  void ReportChecksumError(uint32_t stored, uint32_t computed);
  // A member whose data decoded to another size than its headers give
  // (a checksum may still match): reported like a checksum error.
  void ReportSizeError(uint64_t stored, uint64_t decoded);
  // An authentication code (AES) that does not match the data: reported
  // like a checksum error.
  void ReportAuthenticationError();
  // A member that cannot be decoded at all (e.g. a wrong password): named
  // with the reason and counted as a failure; its partial file is removed.
  void Fail(const char* reason);
  // Ends the member: compares the checksum; flushes, stamps and closes its
  // file and puts it under its name (or hands it to a worker thread).
  void End(MemberEnd end);
  // True once the member has failed (a write, a checksum): decoding it
  // further is wasted.
  bool Failed() const { return failed_; }
  // True when output cannot go on and the handler should stop the archive.
  bool ArchiveEnded() const { return g_ArchiveOutcome.ended; }

  // The full program path of the member being written (extract mode).
  const char* Path() const { return path_; }
  // Bytes handed over for the member so far.
  uint64_t Written() const { return written_; }

 private:
  bool FlushBuffer();
  bool StartFile();
  bool StopDeferring();
  void Report(std::unique_ptr<OutputJob> job);
  void ReapFinished(bool wait);
  void WriteFailed(int error);
  void Finish(bool keepFile);
  void PrintListing(uint64_t size) const;
  bool PathPending(const char* relative, bool folder);
  static void BeforeNotice();
  // Links, FIFOs and devices (extract mode; the member's folder is open in
  // file_). False: nothing more to do for the member.
  bool BeginNode(LPCWSTR wideFolder);
  void MakeNode(OutputNodeKind kind, const OutputFileHandle* linkTo = nullptr);
  // True when the hard link's target was written (tested) whole in this run.
  bool TargetDone() const;
  // With -v: the member's name (and ": OK" when testing).
  void Announce() const;
  // Testing: a member with nothing to decode (a folder, a link, a FIFO, a
  // device) is counted as tested OK, as the listing counts it.
  void CountTested(const char* linkTarget) const;
  // The target's file, for a hard link: open in *target when a member of
  // that path was written whole in this run.
  bool FindLinkTarget(LPCWSTR wideFolder, OutputFileHandle* target);
  // Folders' times and modes, set once their contents are written.
  void StampFolders();
  OutputStamp StampOf(bool complete) const;

  const char* folder_;
  MemberInfo info_{};
  char name_[kOutputPathSize];   // info_.name points here once begun
  char path_[kOutputPathSize];
  char target_[kOutputPathSize];  // info_.linkTarget points here once begun
  bool open_ = false;            // between Begin (true) and End
  bool failed_ = false;          // the member failed (notice given)
  bool writeFailed_ = false;     // ... because its output failed: no file is kept
  bool refused_ = false;         // ... because its data is damaged, cut short or undecodable: no file is kept
  bool toFile_ = false;          // extract mode with a file open
  bool toStdout_ = false;        // extract mode, bytes to standard output (-c)
  bool held_ = false;            // the test hook was asked (see HoldForTest)
  bool haveStored_ = false;
  uint32_t stored_ = 0;
  uint32_t crc32_ = 0;
  uint16_t crc16_ = 0;
  uint64_t written_ = 0;
  OutputFileHandle file_{};
  OutputFolderCache folders_;
  FILE* stream_ = nullptr;
  uint8_t* buffer_ = nullptr;    // collects small writes
  size_t used_ = 0;
  // Small members are written on the pool's threads: the member's bytes
  // collect in job_ until End hands it over (see core/output_pool.h).
  std::unique_ptr<OutputPool> pool_;
  std::unique_ptr<OutputJob> job_;
  // The member's path below the output folder as a key (a hash of its
  // components), and the keys of the files handed to the pool and not yet
  // reaped, each with its count: a member that needs one of them as a
  // folder, or a file of that name with keepExisting, first waits for the
  // pool, so the outcome never depends on the threads' timing.
  uint64_t pathKey_ = 0;
  std::unordered_map<uint64_t, uint32_t> pending_;
  MemberOutput* outerActive_ = nullptr;  // the one whose notices came first before this
  // Every path written (extract) or tested in this run, true when whole:
  // what a hard link may name.
  std::unordered_map<uint64_t, bool> done_;
  // A symbolic link whose target is its data: the target so far.
  std::string linkData_;
  bool linkFromData_ = false;
  // Folder members, stamped at the end, deepest first.
  struct FolderStamp {
    std::basic_string<WCHAR> folder, relative;
    OutputStamp stamp;
  };
  std::vector<FolderStamp> folderStamps_;
};

// A member that never reaches Begin because its name cannot be used (e.g.
// a stored name longer than any output path): named with the reason and
// counted as a failure of the archive.
void RefuseMember(const char* name, const char* reason);

// A fault of the archive outside any member's data (a damaged header, data
// cut or damaged where no member's bytes lie, a check that cannot be made):
// named by the archive's name and failing it, whichever members -i and -x
// choose; it is no member, so the -t summary counts none for it.
void FailArchive(const char* archiveName, const char* reason);
// The walk met a member header at byte `at` that fails its checks or is cut
// short: the archive fails, with what follows unread.
void FailArchiveAtHeader(const char* archiveName, long at);

// A notice about one member: "<name>: <text>", shown as every notice is.
void MemberNotice(const char* name, const char* format, ...) __attribute__((format(printf, 2, 3)));
