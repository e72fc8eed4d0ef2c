// Files and folders created below an output folder without following
// symbolic links: whatever an earlier run or another program left there, a
// member's bytes, times and attributes land below the folder and nowhere
// else. The output folder itself may be a link (see SetOutputRoot).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/windows.h"

// One output file being written. Plain data; `fd` is -1 when closed.
struct OutputFileHandle {
  int fd = -1;
  int folderFd = -1;   // the folder that holds the file
  char leaf[1024];     // the file's own name in host form, for removal
};

// The folder the last file went into, kept open for the next member: members
// of the same folder skip the walk from the output folder. Kept for one
// archive only (while nothing but the program's own writes change the tree,
// and it never makes links).
struct OutputFolderCache {
  std::string key;  // the host output folder and the member's folder part
  int fd = -1;
  uint64_t id = 0;  // the folder's inode number
  OutputFolderCache() = default;
  OutputFolderCache(const OutputFolderCache&) = delete;
  OutputFolderCache& operator=(const OutputFolderCache&) = delete;
  ~OutputFolderCache();
};

// The folder the user named for the output (a program path): it is opened
// as named, and may be a link the user keeps; every folder below it on the
// way to a member, an archive's own folder made after the archive's name
// included, is walked without following links. Empty (the default): the
// folder given to OpenOutputFolder is opened as named.
void SetOutputRoot(LPCWSTR root);

enum class OutputOpenResult {
  kOpened,      // the file is created (an existing file or link in its place was replaced)
  kExists,      // keepExisting was set and something already stands there
  kLinkInPath,  // one of the member's folders is a symbolic link: not followed
  kFailed,      // the host refused; the error number says why
};

// Creates every folder of `relative` ("\"-separated, below `folder`) and,
// unless `relative` ends in a separator, the file itself (replacing an
// existing file or link, never writing through a link). Folders that exist
// are used; a link in their place is refused. *error gets the host error
// number on kFailed (and the error of a folder that could not be made).
OutputOpenResult OpenOutputFile(LPCWSTR folder, LPCWSTR relative, bool keepExisting,
                                OutputFolderCache* cache, OutputFileHandle* file, int* error);

// The two halves of OpenOutputFile. OpenOutputFolder makes and opens the
// folders: on kOpened, file->folderFd holds the file's folder and
// file->leaf its name (both unset for a folder member, whose folders are
// all made), and *folderId tells folders apart (the same folder, the same
// id). CreateOutputLeaf then creates the file in it; on anything but
// kOpened the folder stays open for the caller to close (CloseOutputFile).
OutputOpenResult OpenOutputFolder(LPCWSTR folder, LPCWSTR relative, OutputFolderCache* cache,
                                  OutputFileHandle* file, uint64_t* folderId, int* error);
OutputOpenResult CreateOutputLeaf(OutputFileHandle* file, bool keepExisting, int* error);

// True when something (a file, folder or link) already stands where the
// file of a folder/leaf pair from OpenOutputFolder goes.
bool OutputLeafExists(const OutputFileHandle* file);

// Writes all bytes. False with *error set when a write fails or makes no
// progress (disk full, file size limit, I/O error).
bool WriteOutputFile(OutputFileHandle* file, const void* data, size_t size, int* error);

// Sets the last-write time (FILETIME, UTC) and, with readOnly, clears the
// write bits, both through the open file.
void StampOutputFile(OutputFileHandle* file, const FILETIME* lastWrite, bool readOnly);

// Closes the file. False with *error set when the close reports a failure.
bool CloseOutputFile(OutputFileHandle* file, int* error);

// Closes (when open) and removes the file: a partial file is not left behind.
void RemoveOutputFile(OutputFileHandle* file);

// The host's text for an error number.
const char* OutputErrorText(int error);
