// Files and folders created below an output folder without following
// symbolic links: whatever an earlier run or another program left there, a
// member's bytes, times and attributes land below the folder and nowhere
// else. The output folder itself may be a link (see SetOutputRoot).
//
// A member's file is written where no name points at it and put under its
// name only when it is complete (CommitOutputFile): an anonymous file
// (O_TMPFILE) linked into place where the file system allows it, otherwise
// a hidden temporary name of ours in the same folder renamed into place. An
// existing name is never opened for writing: replacing a file replaces the
// name, and a file that is given up (RemoveOutputFile) leaves nothing under
// the member's name and never touches what stood there before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "platform/windows.h"

// A folder below the output folder, open without following links; shared by
// the files being written into it and closed when the last lets go.
struct OutputFolder {
  explicit OutputFolder(int openFd);  // takes the descriptor
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;
  int fd = -1;
  uint64_t device = 0;  // of the file system that holds it
  uint64_t inode = 0;   // tells folders apart
};
using OutputFolderRef = std::shared_ptr<OutputFolder>;

// One output file. `fd` is -1 while none is open.
struct OutputFileHandle {
  int fd = -1;
  OutputFolderRef folder;  // the folder that holds the file
  char leaf[1024];         // the file's own name there, in host form
  char temp[32];           // its hidden temporary name while it has one, else ""
  int guard = -1;          // its entry in the table the interrupt handler empties
};

// The folder the last file went into, kept open for the next member: members
// of the same folder skip the walk from the output folder. Kept for one
// archive only (while nothing but the program's own writes change the tree,
// and it never makes links). It also remembers which folders were already
// searched for temporaries a killed run left behind.
struct OutputFolderCache {
  std::string key;  // the host output folder and the member's folder part
  OutputFolderRef folder;
  std::unordered_set<std::string> searched;  // host paths of folders searched or made by us
};

// The folder the user named for the output (a program path): it is opened
// as named, and may be a link the user keeps; every folder below it on the
// way to a member, an archive's own folder made after the archive's name
// included, is walked without following links. Empty (the default): the
// folder given to OpenOutputFolder is opened as named.
void SetOutputRoot(LPCWSTR root);

enum class OutputOpenResult {
  kOpened,      // the folder is open, or the file is created (not yet under its name)
  kExists,      // keepExisting was set and something already stands there
  kLinkInPath,  // one of the member's folders is a symbolic link: not followed
  kFailed,      // the host refused; the error number says why
};

// Makes and opens the folders of `relative` ("\"-separated, below
// `folder`): on kOpened, file->folder holds the file's folder and file->leaf
// its name (both unset for a folder member, whose folders are all made).
// Folders that exist are used; a link in their place is refused. Each folder
// that existed before is searched once per cache for temporaries of ours
// that a killed run left (see RemoveLeftoverTemporaries). *error gets the
// host error number on kFailed.
OutputOpenResult OpenOutputFolder(LPCWSTR folder, LPCWSTR relative, OutputFolderCache* cache,
                                  OutputFileHandle* file, int* error);

// Creates the file in file->folder where nothing names it yet (anonymous, or
// under a hidden temporary name); on kOpened file->fd is open for writing.
// With keepExisting, kExists when something already stands under the leaf.
OutputOpenResult CreateOutputLeaf(OutputFileHandle* file, bool keepExisting, int* error);

enum class OutputCommitResult {
  kPlaced,  // the file stands under its name, replacing what stood there
  kExists,  // keepExisting was set and something stands there: the file is dropped
  kFailed,  // e.g. a folder stands there: the file is dropped; *error says why
};

// Puts the complete file under its name (replacing a file or link that
// stands there, never writing into it; with keepExisting replacing
// nothing), then closes it and lets go of its folder. A close that reports
// a failure takes the name away again (kFailed).
OutputCommitResult CommitOutputFile(OutputFileHandle* file, bool keepExisting, int* error);

// Gives the file up: closes it, removes its temporary name, lets go of its
// folder. Nothing under the leaf is touched.
void RemoveOutputFile(OutputFileHandle* file);

// True when something (a file, folder or link) already stands where the
// file of a folder/leaf pair from OpenOutputFolder goes.
bool OutputLeafExists(const OutputFileHandle* file);

// Writes all bytes. False with *error set when a write fails or makes no
// progress (disk full, file size limit, I/O error).
bool WriteOutputFile(OutputFileHandle* file, const void* data, size_t size, int* error);

// What a member's file, folder or link gets once it is complete.
struct OutputStamp {
  bool hasTime = false;
  FILETIME time{};        // last-write time, UTC
  bool hasMode = false;   // Unix permission bits: the process umask is taken
  uint32_t mode = 0;      // off, setuid, setgid and sticky are dropped
  bool readOnly = false;  // the write bits are cleared (after the mode)
  bool Any() const { return hasTime || hasMode || readOnly; }
};

// Stamps the open file through its descriptor.
void StampOutputFile(OutputFileHandle* file, const OutputStamp& stamp);

// Stamps the folder `leaf` of file->folder, opened without following a
// link in its place (a link there is left alone). False when it cannot be
// opened.
bool StampOutputFolder(const OutputFileHandle* at, const OutputStamp& stamp);

// The process umask, read once without changing it.
uint32_t OutputUmask();

// Entries that are not regular files, made under file->folder/leaf. Each
// is made under a hidden temporary name first and renamed into place,
// replacing a file or link that stands there (with keepExisting, nothing
// is replaced: kExists). A folder standing there is never replaced.
enum class OutputNodeKind {
  kSymlink,   // `target` is stored in the link as it stands; never followed
  kHardLink,  // a second name for `linkTo` (folder and leaf), never followed
  kFifo,
};
OutputCommitResult CreateOutputNode(OutputFileHandle* file, OutputNodeKind kind, const char* target,
                                    const OutputFileHandle* linkTo, bool keepExisting, const OutputStamp& stamp,
                                    int* error);

// Moves the file's write position `bytes` on, leaving a hole; and, at the
// end, sets its length (a file that ends in a hole). False with *error.
bool SkipOutputFile(OutputFileHandle* file, uint64_t bytes, int* error);
bool SetOutputFileLength(OutputFileHandle* file, uint64_t length, int* error);

// The host's text for an error number.
const char* OutputErrorText(int error);

// Removes from the open folder every regular file whose name has the form
// of our temporaries (".dorvane-part-" and 16 hexadecimal digits) and that
// no running program holds (each live one is locked with flock). Returns
// how many were removed.
int RemoveLeftoverTemporaries(int folderFd);

// For the interrupt handler, async-signal-safe: removes every temporary
// name of ours that is being written now, and makes any created from now on
// remove itself at once. Anonymous files need nothing: they go with the
// process.
void AbandonOutputTemporaries();

// True when the file system of `folderFd` makes anonymous files.
bool AnonymousOutputFilesWork(int folderFd);

// For tests of each road on any file system: anonymous files where the file
// system has them (the program's way), temporary names only, or anonymous
// files that cannot be linked (as without /proc and the capability), which
// are then copied to a temporary name.
enum class OutputRoad { kAnonymous, kTemporaryName, kAnonymousWithoutLink };
void ChooseOutputRoad(OutputRoad road);

// Descriptors the output holds now through OutputFolder objects.
int OpenOutputFolderCount();
