#include "core/member_output.h"

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <algorithm>

#include "core/charset.h"
#include "core/checksum.h"
#include "core/datetime.h"
#include "core/listing_json.h"
#include "core/member_filter.h"
#include "core/messages.h"
#include "core/names.h"
#include "core/output_pool.h"
#include "core/progress.h"
#include "core/standard_output.h"

RunOptions g_RunOptions;
ArchiveOutcome g_ArchiveOutcome;

namespace {

// Writes below this size are collected; larger ones go straight out.
constexpr size_t kCollectSize = 256 * 1024;

// The output whose files still on worker threads are finished, and their
// notices given, before any other notice (see SetBeforeNoticeHook), and
// whether that is under way.
MemberOutput* g_active = nullptr;
bool g_reaping = false;

// FNV-1a, 64 bits: the path keys.
constexpr uint64_t kHashBasis = 14695981039346656037ull;
constexpr uint64_t kHashPrime = 1099511628211ull;

// Narrow program text as UTF-8 for standard output.
void PrintNarrow(FILE* out, const char* narrow) {
  char shown[kOutputPathSize * 2];
  DisplayName(shown, sizeof shown, narrow);
  if (WCHAR* wide = ToWide(shown)) {
    char utf8[kOutputPathSize * 4];
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr) != 0)
      fputs(utf8, out);
    LocalFree(wide);
  }
}

void PrintNumberOrDash(char* out, size_t size, uint64_t value) {
  if (value == kUnknownSize) {
    snprintf(out, size, "%10s", "-");
  } else {
    snprintf(out, size, "%10" PRIu64, value);
  }
}

// A test hook: with DORVANE_TEST_HOLD_MEMBER set to the last part of a
// member's name, the process stops itself (SIGSTOP) once that member's file
// is being written here, so that a test can send a signal at a known point
// inside it.
void HoldForTest(const char* name) {
  static const char* const hold = getenv("DORVANE_TEST_HOLD_MEMBER");
  if (hold == nullptr) return;
  const size_t length = strlen(name), holdLength = strlen(hold);
  if (length < holdLength || strcmp(name + length - holdLength, hold) != 0) return;
  if (length == holdLength || name[length - holdLength - 1] == '/' || name[length - holdLength - 1] == '\\')
    raise(SIGSTOP);
}

// The stdio stream of a member: every flush goes through MemberOutput::Write.
ssize_t StreamWrite(void* cookie, const char* data, size_t size) {
  return static_cast<MemberOutput*>(cookie)->Write(data, size) ? static_cast<ssize_t>(size) : 0;
}

}  // namespace

void ResetArchiveOutcome() { g_ArchiveOutcome = ArchiveOutcome{}; }

void PrintListingHeader(const char* archiveName, const char* handlerName) {
  PrintNarrow(stdout, archiveName);
  fputs(" (", stdout);
  PrintNarrow(stdout, handlerName);
  fputs("):\n      Size     Packed  Method  Date       Time   Name\n", stdout);
}

void PrintListingTotal() {
  StatusLineGap gap;
  char size[32], packed[32];
  PrintNumberOrDash(size, sizeof size, g_ArchiveOutcome.listedSize);
  PrintNumberOrDash(packed, sizeof packed,
                    g_ArchiveOutcome.packedKnown ? g_ArchiveOutcome.listedPacked : kUnknownSize);
  printf("---------- ----------\n%s %s  %" PRIu64 " %s\n", size, packed, g_ArchiveOutcome.listedMembers,
         g_ArchiveOutcome.listedMembers == 1 ? "member" : "members");
  fflush(stdout);
}

void PrintTestSummary(const char* shown, bool archiveFailed) {
  const ArchiveOutcome& o = g_ArchiveOutcome;
  const char* noun = o.members == 1 ? "member" : "members";
  StatusLineGap gap;
  if (o.failedMembers != 0) {
    printf("%s: %" PRIu64 " of %" PRIu64 " %s FAILED\n", shown, o.failedMembers, o.members, noun);
  } else if (archiveFailed) {
    printf("%s: %" PRIu64 " %s tested, the archive FAILED\n", shown, o.members, noun);
  } else {
    printf("%s: %" PRIu64 " %s tested, all OK\n", shown, o.members, noun);
  }
  fflush(stdout);
}

void MemberNotice(const char* name, const char* format, ...) {
  char text[768];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  char shown[kOutputPathSize * 2];
  if (const char* archive = NoticeArchiveShownFor(name)) {
    snprintf(shown, sizeof shown, "%s", archive);
  } else {
    DisplayName(shown, sizeof shown, name);
  }
  // Joined without a cut, so that a long name never hides the reason.
  const std::string line = std::string(shown) + ": " + text;
  ShowMessage(line.c_str());
}

void RefuseMember(const char* name, const char* reason) {
  if (!MemberSelected(name)) return;  // a member the user left out is not missed
  MemberNotice(name, "%s", reason);
  ++g_ArchiveOutcome.members;
  ++g_ArchiveOutcome.failedMembers;
  g_ArchiveOutcome.failed = true;
  if (g_RunOptions.mode == RunMode::kTest) {
    MemberInfo info;
    info.name = name;
    JsonMember(info, kUnknownSize, nullptr, "FAILED");
  }
}

void FailArchive(const char* archiveName, const char* reason) {
  MemberNotice(archiveName, "%s", reason);
  g_ArchiveOutcome.failed = true;
}

void FailArchiveAtHeader(const char* archiveName, long at) {
  MemberNotice(archiveName, "no valid member header at byte %ld (damaged or cut short); the rest is not read", at);
  g_ArchiveOutcome.failed = true;
}

void MemberInfo::SetDosTime(uint16_t dosDate, uint16_t dosTime) {
  FILETIME local;
  hasTime = DosToCalendar(dosDate, dosTime, &local) && LocalFileTimeToFileTime(&local, &time);
}

void MemberInfo::SetUnixTime(uint32_t seconds) {
  time = UnixSecondsToFileTime(seconds);
  hasTime = true;
}

MemberOutput::MemberOutput(const char* outputFolder) : folder_(outputFolder) {
  name_[0] = '\0';
  path_[0] = '\0';
  outerActive_ = g_active;
  g_active = this;
  SetBeforeNoticeHook(&MemberOutput::BeforeNotice);
}

MemberOutput::~MemberOutput() {
  if (open_) {
    if (stream_ != nullptr) fclose(stream_);
    stream_ = nullptr;
    Finish(false);
  }
  ReapFinished(true);
  StampFolders();
  pool_.reset();
  free(buffer_);
  if (g_active == this) g_active = outerActive_;
}

void MemberOutput::BeforeNotice() {
  if (g_active != nullptr && !g_reaping) g_active->ReapFinished(true);
}

// Gives the notices of files the workers have finished, in member order.
void MemberOutput::ReapFinished(bool wait) {
  if (pool_ == nullptr) return;
  const bool outer = g_reaping;
  g_reaping = true;  // the notices given here need no reaping first
  while (std::unique_ptr<OutputJob> job = pool_->Reap(wait)) Report(std::move(job));
  g_reaping = outer;
}

namespace {

// The key of a "\"-separated path below the output folder: a hash of its
// components, taken as the platform walks them (empty ones and "." are
// passed over). `visit` sees the key of each folder on the way.
template <typename Visit>
uint64_t KeyPath(const char* relative, Visit visit) {
  uint64_t hash = kHashBasis;
  bool any = false;
  const char* start = relative;
  for (const char* p = relative;;) {
    const bool last = *p == '\0';
    if (!last && *p != '\\') {
      p = CharNext(p);
      continue;
    }
    const size_t length = static_cast<size_t>(p - start);
    if (length != 0 && !(length == 1 && *start == '.')) {
      if (any) hash = (hash ^ '\\') * kHashPrime;
      for (const char* c = start; c < p; ++c) hash = (hash ^ static_cast<uint8_t>(*c)) * kHashPrime;
      any = true;
      if (!last) visit(hash);
    }
    if (last) break;
    start = ++p;
  }
  return hash;
}

// The key of a member name (or a hard link's target) as the path it takes
// below the output folder; 0 when it cannot be one.
uint64_t NameKey(const char* name) {
  char path[kOutputPathSize];
  if (!JoinOutputPath(path, sizeof path, "", name)) return 0;
  SanitiseOutputPath(path);
  return KeyPath(path, [](uint64_t) {});
}

// A link target (program text) in host form: UTF-8, "/" between folders.
bool HostLinkTarget(const char* target, char* out, size_t size) {
  WCHAR wide[kOutputPathSize];
  if (!NarrowToWide(target, wide, kOutputPathSize)) return false;
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, static_cast<int>(size), nullptr, nullptr) == 0) return false;
  for (char* p = out; *p != '\0'; ++p) {
    if (*p == '\\') *p = '/';
  }
  return true;
}

}  // namespace

// Keys the member's path (sets pathKey_) and tells whether a file still
// with the pool stands where this member needs a folder, or, for a folder
// member or when existing files are kept, where this member goes. The
// components are taken as the platform walks them: empty ones and "." are
// passed over.
bool MemberOutput::PathPending(const char* relative, bool folder) {
  bool pending = false;
  pathKey_ = KeyPath(relative, [&](uint64_t folderKey) {
    if (!pending_.empty() && pending_.count(folderKey) != 0) pending = true;
  });
  if ((folder || g_RunOptions.keepExisting) && !pending_.empty() && pending_.count(pathKey_) != 0) pending = true;
  return pending;
}

void MemberOutput::Report(std::unique_ptr<OutputJob> job) {
  auto key = pending_.find(job->pathKey);
  if (key != pending_.end() && --key->second == 0) pending_.erase(key);
  done_[job->pathKey] = job->result == OutputJob::Result::kWritten && job->whole;
  switch (job->result) {
    case OutputJob::Result::kWritten:
    case OutputJob::Result::kSkipped:
      break;
    case OutputJob::Result::kExists:
      MemberNotice(job->name, "exists; kept, not replaced");
      break;
    case OutputJob::Result::kCreateFailed:
    case OutputJob::Result::kWriteFailed:
      MemberNotice(job->name, job->result == OutputJob::Result::kCreateFailed ? "cannot be created: %s"
                                                                             : "cannot be written: %s",
                   OutputErrorText(job->error));
      g_ArchiveOutcome.failed = true;
      if (job->error == ENOSPC || job->error == EDQUOT) {
        g_ArchiveOutcome.ended = true;
        pool_->SkipRemaining();
      }
      break;
  }
  pool_->Recycle(std::move(job));
}

// Creates the member's file here and now (folder already open in file_),
// after every file handed to the workers is done: the files of one name
// keep the archive's order.
bool MemberOutput::StartFile() {
  ReapFinished(true);
  int error = 0;
  switch (CreateOutputLeaf(&file_, g_RunOptions.keepExisting, &error)) {
    case OutputOpenResult::kOpened:
      return true;
    case OutputOpenResult::kExists:
      MemberNotice(name_, "exists; kept, not replaced");
      break;
    case OutputOpenResult::kLinkInPath:
    case OutputOpenResult::kFailed:
      MemberNotice(name_, "cannot be created: %s", OutputErrorText(error));
      g_ArchiveOutcome.failed = true;
      if (error == ENOSPC || error == EDQUOT) g_ArchiveOutcome.ended = true;
      break;
  }
  RemoveOutputFile(&file_);
  return false;
}

// A member grown past what a job holds is written here from now on.
bool MemberOutput::StopDeferring() {
  std::unique_ptr<OutputJob> job = std::move(job_);
  file_ = std::move(job->file);
  job->file.folder.reset();
  bool ok = StartFile();
  int error = 0;
  if (!ok) {
    failed_ = true;
    writeFailed_ = true;  // nothing of it is kept
    toFile_ = false;
  } else if (!job->data.empty() && !WriteOutputFile(&file_, job->data.data(), job->data.size(), &error)) {
    WriteFailed(error);
    ok = false;
  }
  pool_->Recycle(std::move(job));
  return ok;
}

bool MemberOutput::Begin(const MemberInfo& info) {
  if (open_) End(MemberEnd::kComplete);
  info_ = info;
  const size_t nameLength = strlen(info.name);
  if (nameLength + 1 > sizeof name_) {
    memcpy(name_, info.name, sizeof name_ - 1);
    name_[sizeof name_ - 1] = '\0';
  } else {
    memcpy(name_, info.name, nameLength + 1);
  }
  info_.name = name_;
  failed_ = false;
  writeFailed_ = false;
  refused_ = false;
  held_ = false;
  toFile_ = false;
  toStdout_ = false;
  haveStored_ = info.hasStoredChecksum;
  stored_ = info.storedChecksum;
  crc32_ = 0;
  crc16_ = 0;
  written_ = 0;
  used_ = 0;
  path_[0] = '\0';
  const char* last = name_;
  for (const char* p = name_; *p != '\0'; p = CharNext(p)) last = p;
  const bool folder = info.isFolder || info.kind == MemberKind::kFolder || (*last == '\\' || *last == '/');
  if (!MemberSelected(name_)) return false;  // -i and -x
  const bool node = !folder && info.kind != MemberKind::kFile && info.kind != MemberKind::kFolder;
  linkFromData_ = info.kind == MemberKind::kSymlink && info.linkTarget == nullptr && !folder;
  linkData_.clear();
  if (info.linkTarget != nullptr) {
    const size_t length = strlen(info.linkTarget);
    if (length + 1 > sizeof target_) {
      RefuseMember(name_, "the link target is too long; not created");
      return false;
    }
    memcpy(target_, info.linkTarget, length + 1);
    info_.linkTarget = target_;
  }

  if (g_RunOptions.mode == RunMode::kList) {
    // Members whose size the header gives are listed without decoding;
    // the others are decoded to count their bytes and listed at End.
    if (folder || (info.size != kUnknownSize && !linkFromData_)) {
      PrintListing(folder || node ? 0 : info.size);
      return false;
    }
    open_ = true;
    return true;
  }
  if (folder && g_RunOptions.mode == RunMode::kTest) {
    CountTested(nullptr);  // nothing to decode
    return false;
  }
  if (node && info.linkTarget != nullptr && info.linkTarget[0] == '\0') {
    RefuseMember(name_, "a link without a target; not created");
    return false;
  }
  if (name_[0] == '\0') {
    RefuseMember("(a member without a name)", "skipped");
    return false;
  }
  SetProgressMember(name_);
  if (info.kind == MemberKind::kDevice && !folder) {
    if (g_RunOptions.mode == RunMode::kExtract) MemberNotice(name_, "a device; not created");
    if (g_RunOptions.mode == RunMode::kTest) CountTested(nullptr);
    return false;
  }
  if (g_RunOptions.mode == RunMode::kTest) {
    pathKey_ = NameKey(name_);
    if (node && !linkFromData_) {
      // Nothing to decode: a hard link holds when its target tested whole.
      const bool whole = info.kind != MemberKind::kHardLink || TargetDone();
      if (!whole) RefuseMember(name_, "a hard link to a member that was not tested whole");
      done_[pathKey_] = whole;
      if (whole) {
        Announce();
        CountTested(info_.linkTarget);
      }
      return false;
    }
  }

  if (g_RunOptions.mode == RunMode::kExtract && g_RunOptions.toStdout) {
    // Only files have bytes to give; folders, links and FIFOs are passed
    // over.
    if (folder || node || !StandardOutputTakes(name_)) {
      if (StandardOutputRefused()) g_ArchiveOutcome.ended = true;
      return false;
    }
    toStdout_ = true;
  } else if (g_RunOptions.mode == RunMode::kExtract) {
    if (nameLength + 1 > sizeof name_ || !JoinOutputPath(path_, sizeof path_, folder_, name_)) {
      MemberNotice(name_, "the name is too long for an output path; skipped");
      g_ArchiveOutcome.failed = true;
      return false;
    }
    const size_t folderLength = strlen(folder_);
    char* relative = path_ + folderLength;
    SanitiseOutputPath(relative);
    WCHAR wideFolder[kPathBufferSize * 2];
    WCHAR wideRelative[kOutputPathSize + 2];
    const int relativeUnits = NarrowToWide(relative, wideRelative, kOutputPathSize);
    if ((folderLength != 0 && !NarrowToWide(folder_, wideFolder, kPathBufferSize * 2)) || !relativeUnits) {
      MemberNotice(name_, "the name cannot be converted for the file system; skipped");
      g_ArchiveOutcome.failed = true;
      return false;
    }
    if (folderLength == 0) wideFolder[0] = 0;
    if (PathPending(relative, folder)) ReapFinished(true);
    if (folder) {  // a folder member: only its folders are made
      size_t n = 0;
      while (wideRelative[n] != 0) ++n;
      if (n == 0 || (wideRelative[n - 1] != u'\\' && wideRelative[n - 1] != u'/')) {
        wideRelative[n] = u'\\';
        wideRelative[n + 1] = 0;
      }
    }
    int error = 0;
    switch (OpenOutputFolder(wideFolder, wideRelative, &folders_, &file_, &error)) {
      case OutputOpenResult::kOpened:
      case OutputOpenResult::kExists:
        break;
      case OutputOpenResult::kLinkInPath:
        MemberNotice(name_, "a folder on its path is a symbolic link; not followed, member skipped");
        g_ArchiveOutcome.failed = true;
        return false;
      case OutputOpenResult::kFailed:
        MemberNotice(name_, "cannot be created: %s", OutputErrorText(error));
        g_ArchiveOutcome.failed = true;
        if (error == ENOSPC || error == EDQUOT) g_ArchiveOutcome.ended = true;
        return false;
    }
    if (folder) {
      RemoveOutputFile(&file_);
      // Its time and mode wait until its contents are written.
      const OutputStamp stamp = StampOf(true);
      if (stamp.Any()) {
        size_t n = 0;
        while (wideRelative[n] != 0) ++n;
        while (n > 0 && (wideRelative[n - 1] == u'\\' || wideRelative[n - 1] == u'/')) --n;
        if (n > 0) folderStamps_.push_back({wideFolder, std::basic_string<WCHAR>(wideRelative, n), stamp});
      }
      return false;
    }
    if (file_.folder == nullptr) {
      RemoveOutputFile(&file_);
      return false;
    }
    if (node && !BeginNode(wideFolder)) return false;
    if (g_RunOptions.keepExisting && OutputLeafExists(&file_)) {
      MemberNotice(name_, "exists; kept, not replaced");
      RemoveOutputFile(&file_);
      return false;
    }
    ReapFinished(false);
    if (linkFromData_) {
      // Its data is the target: collected, and the link made at End.
    } else if ((info.size == kUnknownSize || info.size <= OutputPool::kJobBytes) && !info.sparse) {
      if (pool_ == nullptr) pool_ = std::make_unique<OutputPool>();
      job_ = pool_->NewJob();
      job_->file = std::move(file_);
      file_.folder.reset();
      job_->keepExisting = g_RunOptions.keepExisting;
      job_->pathKey = pathKey_;
      memcpy(job_->name, name_, sizeof name_);
      if (info.size != kUnknownSize) job_->data.reserve(info.size);
    } else if (!StartFile()) {
      return false;
    }
    toFile_ = !linkFromData_;
  }
  // Testing names a member once, with its result, at End.
  if (g_RunOptions.mode == RunMode::kExtract) Announce();
  open_ = true;
  return true;
}

void MemberOutput::Announce() const {
  if (!g_RunOptions.verbose) return;
  // With -c or --json standard output carries only the bytes or the document.
  FILE* names = toStdout_ || g_RunOptions.json ? stderr : stdout;
  StatusLineGap gap;
  PrintNarrow(names, name_);
  fputs(g_RunOptions.mode == RunMode::kTest ? ": OK\n" : "\n", names);
  fflush(names);
}

void MemberOutput::CountTested(const char* linkTarget) const {
  ++g_ArchiveOutcome.members;
  JsonMember(info_, 0, linkTarget, "OK");
}

OutputStamp MemberOutput::StampOf(bool complete) const {
  OutputStamp stamp;
  stamp.hasTime = complete && info_.hasTime;
  stamp.time = info_.time;
  stamp.hasMode = info_.hasMode;
  stamp.mode = info_.mode;
  stamp.readOnly = info_.readOnly;
  return stamp;
}

bool MemberOutput::TargetDone() const {
  const auto found = done_.find(NameKey(info_.linkTarget));
  return found != done_.end() && found->second;
}

// Makes a link or FIFO now; true only for a symbolic link whose target is
// still to come as its data.
bool MemberOutput::BeginNode(LPCWSTR wideFolder) {
  // Members of this name still with the workers come first.
  ReapFinished(true);
  if (linkFromData_) return true;
  switch (info_.kind) {
    case MemberKind::kSymlink:
      MakeNode(OutputNodeKind::kSymlink);
      break;
    case MemberKind::kFifo:
      MakeNode(OutputNodeKind::kFifo);
      break;
    default: {  // a hard link
      OutputFileHandle target{};
      WCHAR wideTarget[kOutputPathSize + 2];
      char path[kOutputPathSize];
      int error = 0;
      if (TargetDone() && JoinOutputPath(path, sizeof path, "", info_.linkTarget) &&
          (SanitiseOutputPath(path), NarrowToWide(path, wideTarget, kOutputPathSize)) &&
          OpenOutputFolder(wideFolder, wideTarget, &folders_, &target, &error) == OutputOpenResult::kOpened &&
          target.folder != nullptr) {
        MakeNode(OutputNodeKind::kHardLink, &target);
      } else {
        RemoveOutputFile(&file_);
        char shown[kOutputPathSize * 2];
        DisplayName(shown, sizeof shown, info_.linkTarget);
        MemberNotice(name_, "a hard link to %s, which was not extracted whole; not created", shown);
        g_ArchiveOutcome.failed = true;
        done_[pathKey_] = false;
      }
      RemoveOutputFile(&target);
      break;
    }
  }
  return false;
}

void MemberOutput::MakeNode(OutputNodeKind kind, const OutputFileHandle* linkTo) {
  char target[kOutputPathSize * 4] = "";
  const char* text = linkFromData_ ? linkData_.c_str() : info_.linkTarget;
  if (kind == OutputNodeKind::kSymlink && !HostLinkTarget(text, target, sizeof target)) {
    RemoveOutputFile(&file_);
    RefuseMember(name_, "the link target cannot be converted for the file system; not created");
    done_[pathKey_] = false;
    return;
  }
  int error = 0;
  const OutputCommitResult made =
      CreateOutputNode(&file_, kind, target, linkTo, g_RunOptions.keepExisting, StampOf(true), &error);
  done_[pathKey_] = made == OutputCommitResult::kPlaced;
  if (made == OutputCommitResult::kPlaced) {
    // The folder cache stays right: a link never replaces a folder.
    Announce();
  } else if (made == OutputCommitResult::kExists) {
    MemberNotice(name_, "exists; kept, not replaced");
  } else {
    MemberNotice(name_, "cannot be created: %s", OutputErrorText(error));
    g_ArchiveOutcome.failed = true;
    if (error == ENOSPC || error == EDQUOT) g_ArchiveOutcome.ended = true;
  }
}

void MemberOutput::StampFolders() {
  if (folderStamps_.empty()) return;
  // Deepest first, so a folder made read-only is made so after what is in
  // it; folders of one depth in archive order.
  auto depth = [](const FolderStamp& f) {
    size_t n = 0;
    for (WCHAR c : f.relative) n += c == u'\\' || c == u'/';
    return n;
  };
  std::stable_sort(folderStamps_.begin(), folderStamps_.end(),
                   [&](const FolderStamp& a, const FolderStamp& b) { return depth(a) > depth(b); });
  for (const FolderStamp& f : folderStamps_) {
    OutputFileHandle at{};
    int error = 0;
    if (OpenOutputFolder(f.folder.c_str(), f.relative.c_str(), &folders_, &at, &error) == OutputOpenResult::kOpened)
      StampOutputFolder(&at, f.stamp);
    RemoveOutputFile(&at);
  }
  folderStamps_.clear();
}

bool MemberOutput::Write(const void* data, size_t size) {
  if (!open_ || failed_) return false;
  if (size == 0) return true;
  switch (info_.checksum) {
    case ChecksumKind::kCrc32: crc32_ = Crc32Update(crc32_, data, size); break;
    case ChecksumKind::kCrc16: crc16_ = Crc16Update(crc16_, data, size); break;
    case ChecksumKind::kNone: break;
  }
  written_ += size;
  if (toStdout_) {
    int error = 0;
    if (WriteStandardOutput(data, size, &error)) return true;
    WriteFailed(error);
    return false;
  }
  if (linkFromData_) {
    // The target: no longer than a path can be.
    if (linkData_.size() + size >= kOutputPathSize * 4) {
      MemberNotice(name_, "the link target is too long; not created");
      failed_ = true;
      refused_ = true;
      g_ArchiveOutcome.failed = true;
      return false;
    }
    linkData_.append(static_cast<const char*>(data), size);
    return true;
  }
  if (!toFile_) return true;
  if (job_ != nullptr) {
    if (job_->data.size() + size <= OutputPool::kJobBytes) {
      const auto* bytes = static_cast<const uint8_t*>(data);
      job_->data.insert(job_->data.end(), bytes, bytes + size);
      return true;
    }
    if (!StopDeferring()) return false;
  }
  if (!held_) {
    held_ = true;
    HoldForTest(name_);
  }
  // The collect buffer is made for the first member written here.
  if (buffer_ == nullptr && size < kCollectSize / 2) buffer_ = static_cast<uint8_t*>(malloc(kCollectSize));
  if (buffer_ != nullptr && size < kCollectSize / 2) {
    if (used_ + size > kCollectSize && !FlushBuffer()) return false;
    memcpy(buffer_ + used_, data, size);
    used_ += size;
    return true;
  }
  if (!FlushBuffer()) return false;
  int error = 0;
  if (!WriteOutputFile(&file_, data, size, &error)) {
    WriteFailed(error);
    return false;
  }
  return true;
}

bool MemberOutput::FlushBuffer() {
  if (used_ == 0 || !toFile_ || writeFailed_) {
    used_ = 0;
    return !writeFailed_;
  }
  int error = 0;
  const bool ok = WriteOutputFile(&file_, buffer_, used_, &error);
  used_ = 0;
  if (!ok) WriteFailed(error);
  return ok;
}

void MemberOutput::WriteFailed(int error) {
  MemberNotice(name_, "cannot be written: %s", OutputErrorText(error));
  failed_ = true;
  writeFailed_ = true;
  g_ArchiveOutcome.failed = true;
  if (error == ENOSPC || error == EDQUOT) g_ArchiveOutcome.ended = true;
}

bool MemberOutput::Skip(uint64_t bytes) {
  if (!open_ || failed_) return false;
  if (bytes == 0) return true;
  if (info_.checksum != ChecksumKind::kNone || job_ != nullptr || linkFromData_) {
    // Through Write: a checksum covers the zeros, and a member collected
    // for the workers holds them.
    static const uint8_t zeros[64 * 1024] = {};
    for (uint64_t left = bytes; left > 0;) {
      const size_t piece = left < sizeof zeros ? static_cast<size_t>(left) : sizeof zeros;
      if (!Write(zeros, piece)) return false;
      left -= piece;
    }
    return true;
  }
  if (toFile_) {
    if (!FlushBuffer()) return false;
    int error = 0;
    if (!SkipOutputFile(&file_, bytes, &error)) {
      WriteFailed(error);
      return false;
    }
  }
  written_ += bytes;
  return true;
}

FILE* MemberOutput::Stream() {
  if (stream_ == nullptr && open_) {
    cookie_io_functions_t io{};
    io.write = StreamWrite;
    stream_ = fopencookie(this, "w", io);
    if (stream_ != nullptr) setvbuf(stream_, nullptr, _IOFBF, 64 * 1024);
  }
  return stream_;
}

void MemberOutput::SetStoredChecksum(uint32_t value) {
  haveStored_ = true;
  stored_ = value;
}

void MemberOutput::ReportChecksumError(uint32_t stored, uint32_t computed) {
  if (!open_ || failed_) return;
  MemberNotice(name_, "checksum error (stored %08" PRIx32 ", computed %08" PRIx32 ")", stored, computed);
  failed_ = true;  // the file stays: its data may still be useful
  g_ArchiveOutcome.failed = true;
}

void MemberOutput::ReportSizeError(uint64_t stored, uint64_t decoded) {
  if (!open_ || failed_) return;
  MemberNotice(name_, "size differs: stored %" PRIu64 ", got %" PRIu64, stored, decoded);
  failed_ = true;  // the file stays, as with a checksum error
  g_ArchiveOutcome.failed = true;
}

void MemberOutput::ReportAuthenticationError() {
  if (!open_ || failed_) return;
  MemberNotice(name_, "the authentication code does not match: the data is damaged or was changed");
  failed_ = true;  // the file stays, as with a checksum error
  g_ArchiveOutcome.failed = true;
}

void MemberOutput::Fail(const char* reason) {
  if (!open_) return;
  if (stream_ != nullptr) fclose(stream_);
  stream_ = nullptr;
  if (!failed_) MemberNotice(name_, "%s", reason);
  failed_ = true;
  g_ArchiveOutcome.failed = true;
  Finish(false);
}

void MemberOutput::End(MemberEnd end) {
  if (!open_) return;
  if (stream_ != nullptr) fclose(stream_);  // its last bytes go through Write
  stream_ = nullptr;
  FlushBuffer();
  int flushError = 0;
  if (toStdout_ && !failed_ && !FlushStandardOutput(&flushError)) WriteFailed(flushError);
  bool complete = end == MemberEnd::kComplete;
  if (!failed_ && end != MemberEnd::kComplete) {
    const bool extracting = g_RunOptions.mode == RunMode::kExtract && !toStdout_;
    if (end == MemberEnd::kDamaged) {
      MemberNotice(name_, extracting ? "damaged data; not extracted" : "damaged data");
    } else {
      MemberNotice(name_, extracting ? "the archive ends inside this member; not extracted"
                                     : "the archive ends inside this member");
    }
    failed_ = true;
    refused_ = true;
    g_ArchiveOutcome.failed = true;
  }
  if (!failed_ && haveStored_ && info_.checksum != ChecksumKind::kNone) {
    const uint32_t computed = info_.checksum == ChecksumKind::kCrc32 ? crc32_ : crc16_;
    if (computed != stored_) {
      if (info_.checksum == ChecksumKind::kCrc16) {
        MemberNotice(name_, "checksum error (stored %04" PRIx32 ", computed %04" PRIx32 ")", stored_, computed);
      } else {
        MemberNotice(name_, "checksum error (stored %08" PRIx32 ", computed %08" PRIx32 ")", stored_, computed);
      }
      failed_ = true;
      g_ArchiveOutcome.failed = true;
    }
  }
  if (linkFromData_ && !failed_ && memchr(linkData_.data(), 0, linkData_.size()) != nullptr) {
    MemberNotice(name_, "the link target holds a zero byte; not created");
    failed_ = true;
    g_ArchiveOutcome.failed = true;
  }
  if (linkFromData_ && !failed_) {
    // The target as stored text, as names are.
    char target[kOutputPathSize];
    if (DecodeStoredName(reinterpret_cast<const uint8_t*>(linkData_.data()), linkData_.size(),
                         NameMarking::kUnmarked, target, sizeof target)) {
      linkData_ = target;
    } else {
      MemberNotice(name_, "the link target is too long; not created");
      failed_ = true;
      g_ArchiveOutcome.failed = true;
    }
  }
  if (g_RunOptions.mode == RunMode::kList) PrintListing(linkFromData_ ? 0 : written_);
  if (g_RunOptions.mode == RunMode::kTest) {
    done_[pathKey_] = !failed_;
    if (!failed_) Announce();
  }
  if (linkFromData_ && g_RunOptions.mode == RunMode::kExtract && file_.folder != nullptr) {
    if (failed_) {
      RemoveOutputFile(&file_);
      done_[pathKey_] = false;
    } else {
      MakeNode(OutputNodeKind::kSymlink);
    }
  }
  // A failed write and damaged or cut-short data leave nothing behind; a
  // checksum error keeps the file, unstamped when the reader also found it
  // incomplete.
  const bool keep = !writeFailed_ && !refused_;
  if (job_ != nullptr) {
    job_->stamp = StampOf(complete);
    job_->whole = !failed_;
  } else if (toFile_ && keep) {
    int error = 0;
    if (info_.sparse && !SetOutputFileLength(&file_, written_, &error)) {
      WriteFailed(error);
      Finish(false);
      return;
    }
    StampOutputFile(&file_, StampOf(complete));
  }
  Finish(keep);
}

void MemberOutput::Finish(bool keepFile) {
  if (open_) ++g_ArchiveOutcome.members;
  if (open_ && failed_) ++g_ArchiveOutcome.failedMembers;
  if (open_ && g_RunOptions.mode == RunMode::kTest)
    JsonMember(info_, written_, linkFromData_ ? linkData_.c_str() : nullptr, failed_ ? "FAILED" : "OK");
  open_ = false;
  if (!toFile_) return;
  toFile_ = false;
  if (job_ != nullptr) {  // a small member: the workers write it, or nothing is made
    if (keepFile) {
      // Room for it: the oldest jobs are waited for and reported.
      const bool outer = g_reaping;
      g_reaping = true;
      while (!pool_->HasRoom(*job_)) {
        if (std::unique_ptr<OutputJob> done = pool_->Reap(true)) Report(std::move(done));
      }
      g_reaping = outer;
      ++pending_[job_->pathKey];
      pool_->Submit(std::move(job_));
      ReapFinished(false);
    } else {
      pool_->Recycle(std::move(job_));
    }
    return;
  }
  if (!keepFile) {
    RemoveOutputFile(&file_);
    return;
  }
  int error = 0;
  const OutputCommitResult placed = CommitOutputFile(&file_, g_RunOptions.keepExisting, &error);
  done_[pathKey_] = placed == OutputCommitResult::kPlaced && !failed_;
  switch (placed) {
    case OutputCommitResult::kPlaced:
      break;
    case OutputCommitResult::kExists:
      MemberNotice(name_, "exists; kept, not replaced");
      break;
    case OutputCommitResult::kFailed:
      MemberNotice(name_, "cannot be created: %s", OutputErrorText(error));
      g_ArchiveOutcome.failed = true;
      if (error == ENOSPC || error == EDQUOT) g_ArchiveOutcome.ended = true;
      break;
  }
}

void MemberOutput::PrintListing(uint64_t size) const {
  char sizeText[32], packedText[32], when[32] = "                ";
  PrintNumberOrDash(sizeText, sizeof sizeText, size);
  PrintNumberOrDash(packedText, sizeof packedText, info_.packedSize);
  FILETIME local;
  SYSTEMTIME st;
  if (info_.hasTime && FileTimeToLocalFileTime(&info_.time, &local) && FileTimeToSystemTime(&local, &st)) {
    snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
  }
  const char* target = linkFromData_ ? linkData_.c_str() : info_.linkTarget;
  const bool link = target != nullptr && (info_.kind == MemberKind::kSymlink || info_.kind == MemberKind::kHardLink);
  if (g_RunOptions.json) {
    JsonMember(info_, size, link ? target : nullptr, nullptr);
  } else {
    StatusLineGap gap;
    printf("%s %s  %-7s %s  ", sizeText, packedText, info_.method, when);
    PrintNarrow(stdout, name_);
    if (link) {
      fputs(info_.kind == MemberKind::kSymlink ? " -> " : " => ", stdout);
      PrintNarrow(stdout, target);
    }
    fputc('\n', stdout);
  }
  ++g_ArchiveOutcome.listedMembers;
  if (size != kUnknownSize) g_ArchiveOutcome.listedSize += size;
  if (info_.packedSize == kUnknownSize) {
    g_ArchiveOutcome.packedKnown = false;
  } else {
    g_ArchiveOutcome.listedPacked += info_.packedSize;
  }
}
