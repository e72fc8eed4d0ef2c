#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/host.h"

namespace {

// Opens (creating when missing) the folder `name` inside `parent` without
// following a link in its place. -1 with *error on failure; ELOOP or
// ENOTDIR from a link.
int OpenFolderBelow(int parent, const char* name, bool* isLink, int* error) {
  *isLink = false;
  if (mkdirat(parent, name, 0777) != 0 && errno != EEXIST) {
    *error = errno;
    return -1;
  }
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) return fd;
  *error = errno;
  struct stat st;
  if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) *isLink = true;
  return -1;
}

// The output root in host form (see SetOutputRoot); written only between
// archives, on the thread that opens the folders.
std::string g_outputRoot;

// Opens the folder a member's walk starts from: as named, unless it lies
// below the output root; then only the root is opened as named and the
// folders from there on are walked without following links.
int OpenWalkStart(const std::string& hostFolder, bool* isLink, int* error) {
  *isLink = false;
  const std::string& root = g_outputRoot;
  const bool rootIsSlash = root == "/";
  const bool below = !root.empty() && hostFolder.size() > root.size() &&
                     hostFolder.compare(0, root.size(), root) == 0 &&
                     (rootIsSlash || hostFolder[root.size()] == '/');
  int current = open(below ? root.c_str() : hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (current < 0) {
    *error = errno;
    return -1;
  }
  if (!below) return current;
  for (size_t start = root.size(); start < hostFolder.size();) {
    size_t slash = hostFolder.find('/', start);
    if (slash == std::string::npos) slash = hostFolder.size();
    const std::string component = hostFolder.substr(start, slash - start);
    start = slash + 1;
    if (component.empty() || component == ".") continue;
    const int next = OpenFolderBelow(current, component.c_str(), isLink, error);
    close(current);
    if (next < 0) return -1;
    current = next;
  }
  return current;
}

}  // namespace

void SetOutputRoot(LPCWSTR root) {
  g_outputRoot.clear();
  if (root != nullptr && *root != 0 && host::ToHostPath(root, g_outputRoot)) {
    while (g_outputRoot.size() > 1 && g_outputRoot.back() == '/') g_outputRoot.pop_back();
  } else {
    g_outputRoot.clear();
  }
}

OutputFolderCache::~OutputFolderCache() {
  if (fd >= 0) close(fd);
}

OutputOpenResult OpenOutputFolder(LPCWSTR folder, LPCWSTR relative, OutputFolderCache* cache,
                                  OutputFileHandle* file, uint64_t* folderId, int* error) {
  *error = 0;
  *folderId = 0;
  file->fd = -1;
  file->folderFd = -1;
  file->leaf[0] = '\0';
  std::string hostFolder;
  if (!host::ToHostPath(folder, hostFolder)) hostFolder = ".";
  std::string hostRelative = host::ToUtf8(relative);
  for (char& c : hostRelative) {
    if (c == '\\') c = '/';
  }

  const size_t lastSlash = hostRelative.rfind('/');
  const std::string key =
      hostFolder + '\n' + (lastSlash == std::string::npos ? std::string() : hostRelative.substr(0, lastSlash));
  size_t start = 0;
  int current = -1;
  if (cache->fd >= 0 && cache->key == key) {
    current = dup(cache->fd);
    if (current >= 0 && lastSlash != std::string::npos) start = lastSlash + 1;
  }
  if (current < 0) {
    start = 0;
    // The output folder is opened as named (it may be a link the user
    // keeps), or walked from the output root.
    bool isLink = false;
    current = OpenWalkStart(hostFolder, &isLink, error);
    if (current < 0) return isLink ? OutputOpenResult::kLinkInPath : OutputOpenResult::kFailed;
  }
  // Walk the components; empty ones and "." are passed over.
  for (;;) {
    size_t slash = hostRelative.find('/', start);
    const bool last = slash == std::string::npos;
    const std::string component = hostRelative.substr(start, last ? std::string::npos : slash - start);
    if (last) {
      if (component.empty() || component == ".") {  // a folder member: the folders are made
        close(current);
        return OutputOpenResult::kOpened;
      }
      if (component.size() + 1 > sizeof file->leaf) {
        close(current);
        *error = ENAMETOOLONG;
        return OutputOpenResult::kFailed;
      }
      if (cache->key != key) {
        if (cache->fd >= 0) close(cache->fd);
        cache->fd = dup(current);
        cache->key = cache->fd >= 0 ? key : std::string();
        struct stat st;
        cache->id = cache->fd >= 0 && fstat(cache->fd, &st) == 0 ? static_cast<uint64_t>(st.st_ino) : 0;
      }
      *folderId = cache->id;
      file->folderFd = current;
      memcpy(file->leaf, component.c_str(), component.size() + 1);
      return OutputOpenResult::kOpened;
    }
    if (!component.empty() && component != ".") {
      bool isLink = false;
      const int next = OpenFolderBelow(current, component.c_str(), &isLink, error);
      close(current);
      if (next < 0) return isLink ? OutputOpenResult::kLinkInPath : OutputOpenResult::kFailed;
      current = next;
    }
    start = slash + 1;
  }
}

bool OutputLeafExists(const OutputFileHandle* file) {
  struct stat st;
  return file->folderFd >= 0 && fstatat(file->folderFd, file->leaf, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

OutputOpenResult CreateOutputLeaf(OutputFileHandle* file, bool keepExisting, int* error) {
  *error = 0;
  // A fresh name needs one call; only when something stands there already
  // is it looked at: a link or file in the way is removed first (the link,
  // never its target); a folder in the way stays and the open fails.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  int fd = openat(file->folderFd, file->leaf, kFlags | O_EXCL, 0666);
  if (fd < 0 && errno == EEXIST) {
    if (keepExisting) return OutputOpenResult::kExists;
    struct stat st;
    if (fstatat(file->folderFd, file->leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
      unlinkat(file->folderFd, file->leaf, 0);
    fd = openat(file->folderFd, file->leaf, kFlags | O_TRUNC, 0666);
  }
  if (fd < 0) {
    *error = errno;
    return OutputOpenResult::kFailed;
  }
  file->fd = fd;
  return OutputOpenResult::kOpened;
}

OutputOpenResult OpenOutputFile(LPCWSTR folder, LPCWSTR relative, bool keepExisting,
                                OutputFolderCache* cache, OutputFileHandle* file, int* error) {
  uint64_t folderId = 0;
  OutputOpenResult result = OpenOutputFolder(folder, relative, cache, file, &folderId, error);
  if (result != OutputOpenResult::kOpened || file->folderFd < 0) return result;
  result = CreateOutputLeaf(file, keepExisting, error);
  if (result != OutputOpenResult::kOpened) {
    close(file->folderFd);
    file->folderFd = -1;
  }
  return result;
}

bool WriteOutputFile(OutputFileHandle* file, const void* data, size_t size, int* error) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = write(file->fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write that makes no progress is a full disk to the caller.
      *error = n < 0 ? errno : ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void StampOutputFile(OutputFileHandle* file, const FILETIME* lastWrite, bool readOnly) {
  if (file->fd < 0) return;
  if (lastWrite != nullptr) {
    const int64_t since1970 = static_cast<int64_t>(host::FileTimeValue(*lastWrite)) - host::kUnixEpochIn100ns;
    int64_t seconds = since1970 / 10000000, rest = since1970 % 10000000;
    if (rest < 0) {
      rest += 10000000;
      --seconds;
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(rest * 100);
    futimens(file->fd, times);
  }
  if (readOnly) {
    struct stat st;
    if (fstat(file->fd, &st) == 0) fchmod(file->fd, st.st_mode & ~static_cast<mode_t>(0222));
  }
}

bool CloseOutputFile(OutputFileHandle* file, int* error) {
  bool ok = true;
  if (file->fd >= 0 && close(file->fd) != 0) {
    *error = errno;
    ok = false;
  }
  file->fd = -1;
  if (file->folderFd >= 0) close(file->folderFd);
  file->folderFd = -1;
  return ok;
}

void RemoveOutputFile(OutputFileHandle* file) {
  if (file->fd >= 0) close(file->fd);
  file->fd = -1;
  if (file->folderFd >= 0 && file->leaf[0] != '\0') unlinkat(file->folderFd, file->leaf, 0);
  if (file->folderFd >= 0) close(file->folderFd);
  file->folderFd = -1;
}

const char* OutputErrorText(int error) { return strerror(error); }
