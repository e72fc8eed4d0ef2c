#include "platform/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/host.h"

namespace {

std::atomic<int> g_openFolders{0};

// --- Temporary names -------------------------------------------------------
//
// ".dorvane-part-" and 16 hexadecimal digits: hidden, and of a form no
// archive member is likely to have. A file under such a name is either
// being written by a running program, which holds an flock on it, or was
// left by a killed one, and then nobody holds it.
constexpr char kTemporaryPrefix[] = ".dorvane-part-";
constexpr size_t kTemporaryPrefixLength = sizeof kTemporaryPrefix - 1;
constexpr size_t kTemporaryLength = kTemporaryPrefixLength + 16;

bool IsTemporaryName(const char* name) {
  if (strncmp(name, kTemporaryPrefix, kTemporaryPrefixLength) != 0 || strlen(name) != kTemporaryLength) return false;
  for (const char* p = name + kTemporaryPrefixLength; *p != '\0'; ++p) {
    if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) return false;
  }
  return true;
}

uint64_t RandomBase() {
  uint64_t value = 0;
  if (getrandom(&value, sizeof value, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof value)) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    value = static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(getpid()) << 32 ^
            static_cast<uint64_t>(now.tv_sec);
  }
  return value;
}

// Distinct in this process; unlikely to meet another process's.
void NextTemporaryName(char* out, size_t size) {
  static const uint64_t base = RandomBase();
  static std::atomic<uint64_t> counter{0};
  const uint64_t value = base + counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
  snprintf(out, size, "%s%016" PRIx64, kTemporaryPrefix, value);
}

// --- What the interrupt handler removes -----------------------------------
//
// Each temporary name is entered here before the file is created and taken
// out after it is renamed or removed, so the handler finds every one that
// may exist. A file created after the handler looked removes itself (see
// LeaveIfAbandoned): either the handler saw the entry, or the creator sees
// the flag, because both are sequentially consistent.
struct Guard {
  std::atomic<bool> used{false};
  std::atomic<int> folderFd{-1};
  char name[32];
};
Guard g_guards[64];
std::atomic<bool> g_abandoned{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the interrupt handler reads these");

int ClaimGuard(int folderFd, const char* name) {
  for (int i = 0; i < static_cast<int>(sizeof g_guards / sizeof g_guards[0]); ++i) {
    bool expected = false;
    if (g_guards[i].used.compare_exchange_strong(expected, true)) {
      snprintf(g_guards[i].name, sizeof g_guards[i].name, "%s", name);
      g_guards[i].folderFd.store(folderFd);
      return i;
    }
  }
  return -1;  // more files at once than entries: cannot happen with our few threads
}

void ReleaseGuard(int* guard) {
  if (*guard < 0) return;
  g_guards[*guard].folderFd.store(-1);
  g_guards[*guard].used.store(false);
  *guard = -1;
}

// The process is being ended by a signal: the name just made goes at once
// and this thread waits for the end.
void LeaveIfAbandoned(int folderFd, const char* name) {
  if (!g_abandoned.load()) return;
  unlinkat(folderFd, name, 0);
  for (;;) pause();
}

// Makes something under a fresh temporary name in the file's folder:
// `make(folderFd, name)` gives 0 or the error; a name that is taken
// (EEXIST) makes another try. Each name is entered for the interrupt
// handler before it is made. On 0, file->temp holds the name.
template <typename Make>
int MakeUnderTemporaryName(OutputFileHandle* file, Make make) {
  const int folderFd = file->folder->fd;
  for (int tries = 0; tries < 8; ++tries) {
    NextTemporaryName(file->temp, sizeof file->temp);
    file->guard = ClaimGuard(folderFd, file->temp);
    const int error = make(folderFd, file->temp);
    if (error == 0) {
      LeaveIfAbandoned(folderFd, file->temp);
      return 0;
    }
    ReleaseGuard(&file->guard);
    file->temp[0] = '\0';
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

// --- Anonymous files -------------------------------------------------------

std::atomic<OutputRoad> g_road{OutputRoad::kAnonymous};
// The last file system that refused O_TMPFILE: its folders go straight to
// temporary names.
std::atomic<uint64_t> g_refusingDevice{UINT64_MAX};

// How an anonymous file gets a name: linkat with AT_EMPTY_PATH needs
// CAP_DAC_READ_SEARCH before Linux 6.10 and fails with ENOENT without it;
// the /proc/self/fd link works for everyone where /proc is mounted. The
// first way that works is kept; when neither does, no more anonymous files
// are made, and the one at hand is copied to a temporary name.
enum LinkWay : int { kWayUnknown, kWayEmptyPath, kWayProc, kWayNone };
std::atomic<int> g_linkWay{kWayUnknown};

// ENOENT: the file cannot be linked at all.
int LinkAnonymous(int fd, int folderFd, const char* name) {
  if (g_road.load(std::memory_order_relaxed) == OutputRoad::kAnonymousWithoutLink) return ENOENT;
  const int way = g_linkWay.load(std::memory_order_relaxed);
  if (way != kWayProc) {
    if (linkat(fd, "", folderFd, name, AT_EMPTY_PATH) == 0) {
      if (way == kWayUnknown) g_linkWay.store(kWayEmptyPath);
      return 0;
    }
    if (errno != ENOENT || way == kWayEmptyPath) return errno;
  }
  char proc[48];
  snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  if (linkat(AT_FDCWD, proc, folderFd, name, AT_SYMLINK_FOLLOW) == 0) {
    g_linkWay.store(kWayProc);
    return 0;
  }
  return errno;
}

// Gives the open anonymous file a temporary name (locked first, so a
// cleaning run leaves it alone). 0 or the error.
int NameAnonymous(OutputFileHandle* file) {
  flock(file->fd, LOCK_EX | LOCK_NB);
  return MakeUnderTemporaryName(file, [file](int folderFd, const char* name) {
    return LinkAnonymous(file->fd, folderFd, name);
  });
}

bool AnonymousWanted(const OutputFolder& folder) {
  return g_road.load(std::memory_order_relaxed) != OutputRoad::kTemporaryName &&
         g_linkWay.load(std::memory_order_relaxed) != kWayNone &&
         g_refusingDevice.load(std::memory_order_relaxed) != folder.device;
}

// An anonymous file in the folder, or -1: the file system or kernel has
// none (*error 0) or the host refused (*error set).
int OpenAnonymous(const OutputFolder& folder, int* error) {
  *error = 0;
  // Readable, for the copy when it cannot be linked.
  const int fd = openat(folder.fd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd >= 0) return fd;
  // EOPNOTSUPP: this file system has none; EISDIR or EINVAL: a kernel that
  // does not know the flag.
  if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
    g_refusingDevice.store(folder.device);
  } else {
    *error = errno;
  }
  return -1;
}

// A new file under a fresh temporary name, locked. 0 or the error.
int CreateTemporary(OutputFileHandle* file) {
  return MakeUnderTemporaryName(file, [file](int folderFd, const char* name) {
    const int fd = openat(folderFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    flock(fd, LOCK_EX | LOCK_NB);
    file->fd = fd;
    return 0;
  });
}

// All of `from` (an anonymous file) into `to`, with its time and mode. 0 or
// the error.
int CopyFile(int from, int to) {
  struct stat st;
  if (fstat(from, &st) != 0) return errno;
  loff_t in = 0;
  for (;;) {
    const ssize_t n = copy_file_range(from, &in, to, nullptr, 1 << 30, 0);
    if (n == 0) break;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return errno;
    // No copy in the kernel between these: through a buffer.
    char buffer[1 << 16];
    for (;;) {
      const ssize_t got = pread(from, buffer, sizeof buffer, in);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return errno;
      if (got == 0) break;
      for (ssize_t done = 0; done < got;) {
        const ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return put < 0 ? errno : ENOSPC;
        done += put;
      }
      in += got;
    }
    break;
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
  futimens(to, times);
  fchmod(to, st.st_mode & 07777);
  return 0;
}

// The anonymous file cannot be linked here: no more are made, and this one
// is copied to a temporary name. 0 or the error.
int CopyToTemporary(OutputFileHandle* file) {
  g_linkWay.store(kWayNone);
  const int anonymous = file->fd;
  file->fd = -1;
  int error = CreateTemporary(file);
  if (error == 0) error = CopyFile(anonymous, file->fd);
  close(anonymous);
  return error;
}

// Renames the temporary name to `leaf` unless something stands there. 0 or
// the error (EEXIST: something stands there).
int PlaceWithoutReplacing(int folderFd, const char* temp, const char* leaf) {
  if (renameat2(folderFd, temp, folderFd, leaf, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // No RENAME_NOREPLACE on this file system: a second name, which fails when
  // the leaf is taken, then the temporary one goes.
  if (linkat(folderFd, temp, folderFd, leaf, 0) == 0) {
    unlinkat(folderFd, temp, 0);
    return 0;
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return errno;
  // No hard links either (FAT): look, then rename.
  struct stat st;
  if (fstatat(folderFd, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return renameat(folderFd, temp, folderFd, leaf) == 0 ? 0 : errno;
}

// Puts the file's temporary name in place of its leaf: replacing what
// stands there (a folder never is: renaming a non-folder over it fails),
// or with keepExisting only where nothing does. 0 or the error.
int PlaceTemporary(OutputFileHandle* file, bool keepExisting) {
  const int folderFd = file->folder->fd;
  const int failure = keepExisting ? PlaceWithoutReplacing(folderFd, file->temp, file->leaf)
                      : renameat(folderFd, file->temp, folderFd, file->leaf) == 0 ? 0 : errno;
  if (failure == 0) {
    // Renaming a hard link over another name of the same file does
    // nothing and leaves the temporary name: it goes.
    unlinkat(folderFd, file->temp, 0);
    ReleaseGuard(&file->guard);
    file->temp[0] = '\0';
  }
  return failure;
}

// Opens (creating when missing) the folder `name` inside `parent` without
// following a link in its place. -1 with *error on failure; ELOOP or
// ENOTDIR from a link. *created: this call made it.
int OpenFolderBelow(int parent, const char* name, bool* isLink, bool* created, int* error) {
  *isLink = false;
  *created = mkdirat(parent, name, 0777) == 0;
  if (!*created && errno != EEXIST) {
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
    bool created = false;
    const int next = OpenFolderBelow(current, component.c_str(), isLink, &created, error);
    close(current);
    if (next < 0) return -1;
    current = next;
  }
  return current;
}

// Searches a folder that existed before for leftovers of a killed run, once
// per cache.
void SearchOnce(OutputFolderCache* cache, const std::string& path, int fd, bool created) {
  if (cache->searched.insert(path).second && !created) RemoveLeftoverTemporaries(fd);
}

}  // namespace

OutputFolder::OutputFolder(int openFd) : fd(openFd) {
  ++g_openFolders;
  struct stat st;
  if (fstat(fd, &st) == 0) {
    device = static_cast<uint64_t>(st.st_dev);
    inode = static_cast<uint64_t>(st.st_ino);
  }
}

OutputFolder::~OutputFolder() {
  if (fd >= 0) close(fd);
  --g_openFolders;
}

int OpenOutputFolderCount() { return g_openFolders.load(); }

void SetOutputRoot(LPCWSTR root) {
  g_outputRoot.clear();
  if (root != nullptr && *root != 0 && host::ToHostPath(root, g_outputRoot)) {
    while (g_outputRoot.size() > 1 && g_outputRoot.back() == '/') g_outputRoot.pop_back();
  } else {
    g_outputRoot.clear();
  }
}

OutputOpenResult OpenOutputFolder(LPCWSTR folder, LPCWSTR relative, OutputFolderCache* cache,
                                  OutputFileHandle* file, int* error) {
  *error = 0;
  file->fd = -1;
  file->folder.reset();
  file->leaf[0] = '\0';
  file->temp[0] = '\0';
  file->guard = -1;
  std::string hostFolder;
  if (!host::ToHostPath(folder, hostFolder)) hostFolder = ".";
  std::string hostRelative = host::ToUtf8(relative);
  for (char& c : hostRelative) {
    if (c == '\\') c = '/';
  }

  const size_t lastSlash = hostRelative.rfind('/');
  const std::string key =
      hostFolder + '\n' + (lastSlash == std::string::npos ? std::string() : hostRelative.substr(0, lastSlash));
  if (cache->folder != nullptr && cache->key == key && lastSlash + 1 < hostRelative.size()) {
    // A file in the folder of the last one.
    const std::string leaf = hostRelative.substr(lastSlash + 1);
    if (leaf != "." && leaf.size() + 1 <= sizeof file->leaf) {
      file->folder = cache->folder;
      memcpy(file->leaf, leaf.c_str(), leaf.size() + 1);
      return OutputOpenResult::kOpened;
    }
  }
  // The output folder is opened as named (it may be a link the user
  // keeps), or walked from the output root.
  bool rootIsLink = false;
  int current = OpenWalkStart(hostFolder, &rootIsLink, error);
  if (current < 0) return rootIsLink ? OutputOpenResult::kLinkInPath : OutputOpenResult::kFailed;
  std::string searchKey = hostFolder + '\n';
  SearchOnce(cache, searchKey, current, false);
  // Walk the components; empty ones and "." are passed over.
  size_t start = 0;
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
      file->folder = std::make_shared<OutputFolder>(current);
      cache->folder = file->folder;
      cache->key = key;
      memcpy(file->leaf, component.c_str(), component.size() + 1);
      return OutputOpenResult::kOpened;
    }
    if (!component.empty() && component != ".") {
      bool isLink = false, created = false;
      const int next = OpenFolderBelow(current, component.c_str(), &isLink, &created, error);
      close(current);
      if (next < 0) return isLink ? OutputOpenResult::kLinkInPath : OutputOpenResult::kFailed;
      current = next;
      searchKey += '/';
      searchKey += component;
      SearchOnce(cache, searchKey, current, created);
    }
    start = slash + 1;
  }
}

bool OutputLeafExists(const OutputFileHandle* file) {
  struct stat st;
  return file->folder != nullptr && fstatat(file->folder->fd, file->leaf, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

OutputOpenResult CreateOutputLeaf(OutputFileHandle* file, bool keepExisting, int* error) {
  *error = 0;
  file->temp[0] = '\0';
  file->guard = -1;
  if (keepExisting && OutputLeafExists(file)) return OutputOpenResult::kExists;
  const OutputFolder& folder = *file->folder;
  if (AnonymousWanted(folder)) {
    const int fd = OpenAnonymous(folder, error);
    if (fd < 0 && *error != 0) return OutputOpenResult::kFailed;
    if (fd >= 0) {
      file->fd = fd;
      return OutputOpenResult::kOpened;
    }
  }
  *error = CreateTemporary(file);
  return *error == 0 ? OutputOpenResult::kOpened : OutputOpenResult::kFailed;
}

OutputCommitResult CommitOutputFile(OutputFileHandle* file, bool keepExisting, int* error) {
  *error = 0;
  const int folderFd = file->folder->fd;
  int failure = 0;
  if (file->temp[0] == '\0') {
    failure = LinkAnonymous(file->fd, folderFd, file->leaf);
    // Something stands there: a temporary name, renamed over it, replaces it.
    if (failure == EEXIST && !keepExisting) failure = NameAnonymous(file);
    if (failure == ENOENT && file->temp[0] == '\0') failure = CopyToTemporary(file);
  }
  if (file->temp[0] != '\0') failure = PlaceTemporary(file, keepExisting);
  if (failure != 0) {
    RemoveOutputFile(file);
    if (failure == EEXIST && keepExisting) return OutputCommitResult::kExists;
    *error = failure;
    return OutputCommitResult::kFailed;
  }
  const int fd = file->fd;
  file->fd = -1;
  if (close(fd) != 0) {
    // The data did not all reach the disk: the name goes again.
    *error = errno;
    unlinkat(folderFd, file->leaf, 0);
    file->folder.reset();
    return OutputCommitResult::kFailed;
  }
  file->folder.reset();
  return OutputCommitResult::kPlaced;
}

void RemoveOutputFile(OutputFileHandle* file) {
  if (file->fd >= 0) close(file->fd);
  file->fd = -1;
  if (file->temp[0] != '\0' && file->folder != nullptr) unlinkat(file->folder->fd, file->temp, 0);
  file->temp[0] = '\0';
  ReleaseGuard(&file->guard);
  file->folder.reset();
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

namespace {

struct timespec ToTimespec(const FILETIME& time) {
  const int64_t since1970 = static_cast<int64_t>(host::FileTimeValue(time)) - host::kUnixEpochIn100ns;
  int64_t seconds = since1970 / 10000000, rest = since1970 % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  struct timespec out;
  out.tv_sec = static_cast<time_t>(seconds);
  out.tv_nsec = static_cast<long>(rest * 100);
  return out;
}

void StampDescriptor(int fd, const OutputStamp& stamp) {
  if (stamp.hasMode || stamp.readOnly) {
    mode_t mode;
    if (stamp.hasMode) {
      mode = static_cast<mode_t>(stamp.mode & 0777 & ~OutputUmask());
    } else {
      struct stat st;
      mode = fstat(fd, &st) == 0 ? st.st_mode & 07777 : 0;
    }
    if (stamp.readOnly) mode &= ~static_cast<mode_t>(0222);
    // Files are made 0666 less the umask: most need no change.
    if (stamp.readOnly || !stamp.hasMode || mode != (0666 & ~OutputUmask())) fchmod(fd, mode);
  }
  if (stamp.hasTime) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, ToTimespec(stamp.time)};
    futimens(fd, times);
  }
}

// Makes the entry under a fresh temporary name in the folder. 0 or the
// error.
int MakeTemporaryNode(OutputFileHandle* file, OutputNodeKind kind, const char* target, const OutputFileHandle* linkTo,
                      const OutputStamp& stamp) {
  const int error = MakeUnderTemporaryName(file, [&](int folderFd, const char* name) {
    int made = -1;
    switch (kind) {
      case OutputNodeKind::kSymlink: made = symlinkat(target, folderFd, name); break;
      case OutputNodeKind::kHardLink: made = linkat(linkTo->folder->fd, linkTo->leaf, folderFd, name, 0); break;
      case OutputNodeKind::kFifo: made = mkfifoat(folderFd, name, 0666); break;  // as files are made
    }
    return made == 0 ? 0 : errno;
  });
  if (error != 0) return error;
  const int folderFd = file->folder->fd;
  if (kind == OutputNodeKind::kSymlink && stamp.hasTime) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, ToTimespec(stamp.time)};
    utimensat(folderFd, file->temp, times, AT_SYMLINK_NOFOLLOW);
  } else if (kind == OutputNodeKind::kFifo) {
    // Opening a FIFO for reading does not wait for a writer.
    const int fd = openat(folderFd, file->temp, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      OutputStamp fifo = stamp;
      if (!fifo.hasMode) {
        fifo.hasMode = true;
        fifo.mode = 0666;
      }
      StampDescriptor(fd, fifo);
      close(fd);
    }
  }
  return 0;
}

}  // namespace

void StampOutputFile(OutputFileHandle* file, const OutputStamp& stamp) {
  if (file->fd >= 0 && stamp.Any()) StampDescriptor(file->fd, stamp);
}

bool StampOutputFolder(const OutputFileHandle* at, const OutputStamp& stamp) {
  if (at->folder == nullptr) return false;
  const int fd = openat(at->folder->fd, at->leaf, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  StampDescriptor(fd, stamp);
  close(fd);
  return true;
}

uint32_t OutputUmask() {
  static const uint32_t mask = [] {
    // Linux gives it in /proc without changing it; the umask call that
    // reads it also sets it, which threads making files must not see.
    if (FILE* status = fopen("/proc/self/status", "re")) {
      char line[128];
      unsigned value = 0;
      bool found = false;
      while (!found && fgets(line, sizeof line, status) != nullptr) found = sscanf(line, "Umask: %o", &value) == 1;
      fclose(status);
      if (found) return static_cast<uint32_t>(value & 0777);
    }
    const mode_t old = umask(022);
    umask(old);
    return static_cast<uint32_t>(old & 0777);
  }();
  return mask;
}

OutputCommitResult CreateOutputNode(OutputFileHandle* file, OutputNodeKind kind, const char* target,
                                    const OutputFileHandle* linkTo, bool keepExisting, const OutputStamp& stamp,
                                    int* error) {
  *error = 0;
  file->fd = -1;
  int failure = MakeTemporaryNode(file, kind, target, linkTo, stamp);
  if (failure == 0) failure = PlaceTemporary(file, keepExisting);
  RemoveOutputFile(file);
  if (failure == 0) return OutputCommitResult::kPlaced;
  if (failure == EEXIST && keepExisting) return OutputCommitResult::kExists;
  *error = failure;
  return OutputCommitResult::kFailed;
}

bool SkipOutputFile(OutputFileHandle* file, uint64_t bytes, int* error) {
  if (bytes > static_cast<uint64_t>(INT64_MAX) || lseek(file->fd, static_cast<off_t>(bytes), SEEK_CUR) < 0) {
    *error = bytes > static_cast<uint64_t>(INT64_MAX) ? EFBIG : errno;
    return false;
  }
  return true;
}

bool SetOutputFileLength(OutputFileHandle* file, uint64_t length, int* error) {
  if (length > static_cast<uint64_t>(INT64_MAX) || ftruncate(file->fd, static_cast<off_t>(length)) != 0) {
    *error = length > static_cast<uint64_t>(INT64_MAX) ? EFBIG : errno;
    return false;
  }
  return true;
}

const char* OutputErrorText(int error) { return strerror(error); }

int RemoveLeftoverTemporaries(int folderFd) {
  const int listFd = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return 0;
  DIR* listing = fdopendir(listFd);
  if (listing == nullptr) {
    close(listFd);
    return 0;
  }
  int removed = 0;
  while (const dirent* entry = readdir(listing)) {
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
    if (!IsTemporaryName(entry->d_name)) continue;
    const int fd = openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    // A live run holds its temporaries locked.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        unlinkat(folderFd, entry->d_name, 0) == 0) {
      ++removed;
    }
    close(fd);
  }
  closedir(listing);
  return removed;
}

void AbandonOutputTemporaries() {
  g_abandoned.store(true);
  for (Guard& guard : g_guards) {
    const int fd = guard.folderFd.load();
    if (fd >= 0) unlinkat(fd, guard.name, 0);
  }
}

bool AnonymousOutputFilesWork(int folderFd) {
  const int fd = openat(folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  close(fd);
  return true;
}

void ChooseOutputRoad(OutputRoad road) {
  g_road.store(road);
  g_linkWay.store(kWayUnknown);
  g_refusingDevice.store(UINT64_MAX);
}
