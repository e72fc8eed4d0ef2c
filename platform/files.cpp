// Files and folders: creation and removal, attributes, file handles and
// their times, stdio streams by wide path.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/host.h"

namespace {

struct FileObject : host::HandleObject {
  int fd;
};

// The host form of a path argument; sets ERROR_PATH_NOT_FOUND when there is
// none (null or empty).
bool HostOf(LPCWSTR path, std::string& out) {
  if (host::ToHostPath(path, out)) return true;
  SetLastError(ERROR_PATH_NOT_FOUND);
  return false;
}

// Win32 tells a missing file (its folder exists) from a missing folder on
// the way to it; ENOENT does not.
BOOL FailOnPath(const std::string& path) {
  int err = errno;
  if (err != ENOENT) return host::Fail(host::ErrorFromErrno(err));
  size_t slash = path.find_last_of('/');
  std::string parent = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
  struct stat st;
  bool folderExists = stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return host::Fail(folderExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
}

}  // namespace

namespace host {

DWORD AttributesOfStat(const struct stat& st) {
  bool readOnly = (st.st_mode & S_IWUSR) == 0;
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY | (readOnly ? FILE_ATTRIBUTE_READONLY : 0);
  if (S_ISREG(st.st_mode)) return FILE_ATTRIBUTE_ARCHIVE | (readOnly ? FILE_ATTRIBUTE_READONLY : 0);
  return readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

FILETIME FileTimeOfTimespec(const struct timespec& ts) {
  int64_t value = kUnixEpochIn100ns + static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
  return MakeFileTime(value < 0 ? 0 : static_cast<uint64_t>(value));
}

BOOL CloseFileObject(HandleObject* object) {
  auto* file = static_cast<FileObject*>(object);
  int result = close(file->fd);
  file->kind = HandleKind::Closed;
  delete file;
  // The descriptor is gone even when close reports an error; report it all
  // the same (a delayed write error on some file systems).
  return result == 0 ? TRUE : FailWithErrno();
}

}  // namespace host

BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES*) {
  std::string hostPath;
  if (!HostOf(path, hostPath)) return FALSE;
  if (mkdir(hostPath.c_str(), 0777) != 0) return FailOnPath(hostPath);
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR path) {
  std::string hostPath;
  if (!HostOf(path, hostPath)) return FALSE;
  if (rmdir(hostPath.c_str()) == 0) return TRUE;
  if (errno == ENOTEMPTY || errno == EEXIST) return host::Fail(ERROR_DIR_NOT_EMPTY);
  if (errno == ENOTDIR) return host::Fail(ERROR_DIRECTORY);
  return FailOnPath(hostPath);
}

BOOL DeleteFileW(LPCWSTR path) {
  std::string hostPath;
  if (!HostOf(path, hostPath)) return FALSE;
  struct stat st;
  if (lstat(hostPath.c_str(), &st) != 0) return FailOnPath(hostPath);
  // As on the device: folders and read-only files are not deleted.
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)))
    return host::Fail(ERROR_ACCESS_DENIED);
  if (unlink(hostPath.c_str()) != 0) return FailOnPath(hostPath);
  return TRUE;
}

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) {
  std::string source, target;
  if (!HostOf(from, source) || !HostOf(to, target)) return FALSE;
  // MoveFile never replaces an existing target.
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
    return TRUE;
  struct stat st;
  if (errno == EINVAL || errno == ENOSYS) {
    // A file system without RENAME_NOREPLACE: check, then rename.
    if (lstat(target.c_str(), &st) == 0) return host::Fail(ERROR_ALREADY_EXISTS);
    if (rename(source.c_str(), target.c_str()) == 0) return TRUE;
  }
  if (errno == EEXIST) return host::Fail(ERROR_ALREADY_EXISTS);
  // ENOENT with the source present: the target's folder is missing.
  if (errno == ENOENT && lstat(source.c_str(), &st) == 0) return host::Fail(ERROR_PATH_NOT_FOUND);
  return FailOnPath(source);
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
  std::string hostPath;
  if (!HostOf(path, hostPath)) return FALSE;
  struct stat st;
  if (stat(hostPath.c_str(), &st) != 0) return FailOnPath(hostPath);
  // Only read-only has a host meaning, and only for files: a folder's
  // read-only bit does not stop files being made in it on the device.
  if (S_ISDIR(st.st_mode)) return TRUE;
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = (attributes & FILE_ATTRIBUTE_READONLY) ? mode & ~0222
                                                          : mode | (mode & S_IWUSR ? 0 : S_IWUSR);
  if (wanted != mode && chmod(hostPath.c_str(), wanted) != 0) return FailOnPath(hostPath);
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  std::string hostPath;
  struct stat st;
  if (!HostOf(path, hostPath)) return INVALID_FILE_ATTRIBUTES;
  if (stat(hostPath.c_str(), &st) != 0) {
    FailOnPath(hostPath);
    return INVALID_FILE_ATTRIBUTES;
  }
  return host::AttributesOfStat(st);
}

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
  char host[PATH_MAX];
  if (getcwd(host, sizeof host) == nullptr) {
    host::FailWithErrno();
    return 0;
  }
  const std::u16string path = host::FromHostPath(host);
  if (path.size() + 1 > size) return static_cast<DWORD>(path.size() + 1);
  memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(path.size());
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD, SECURITY_ATTRIBUTES*, DWORD disposition,
                   DWORD, HANDLE) {
  std::string hostPath;
  if (!HostOf(path, hostPath)) return INVALID_HANDLE_VALUE;
  bool read = access & GENERIC_READ, write = access & GENERIC_WRITE;
  int flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
  struct stat before;
  bool existed = stat(hostPath.c_str(), &before) == 0;
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
      if (!write) {
        host::Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      flags |= O_TRUNC;
      break;
    default: host::Fail(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  if (existed && S_ISDIR(before.st_mode)) {
    host::Fail(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(hostPath.c_str(), flags, 0666);
  if (fd < 0) {
    if (errno == EEXIST)
      host::Fail(ERROR_FILE_EXISTS);
    else
      FailOnPath(hostPath);
    return INVALID_HANDLE_VALUE;
  }
  auto* file = new FileObject;
  file->kind = host::HandleKind::File;
  file->fd = fd;
  // Win32 reports success with ERROR_ALREADY_EXISTS when these two find
  // the file already there.
  bool reportExisting = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return file;
}

BOOL SetFileTime(HANDLE handle, const FILETIME*, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
  host::HandleObject* object = host::ObjectOf(handle);
  if (!object || object->kind != host::HandleKind::File) return host::Fail(ERROR_INVALID_HANDLE);
  // The creation time has no settable host counterpart and is left out.
  struct timespec times[2];
  const FILETIME* given[2] = {lastAccess, lastWrite};
  for (int i = 0; i < 2; ++i) {
    if (!given[i]) {
      times[i].tv_sec = 0;
      times[i].tv_nsec = UTIME_OMIT;
      continue;
    }
    uint64_t value = host::FileTimeValue(*given[i]);
    if (value > static_cast<uint64_t>(INT64_MAX)) return host::Fail(ERROR_INVALID_PARAMETER);
    int64_t since1970 = static_cast<int64_t>(value) - host::kUnixEpochIn100ns;
    int64_t seconds = since1970 / 10000000, rest = since1970 % 10000000;
    if (rest < 0) {
      rest += 10000000;
      --seconds;
    }
    times[i].tv_sec = static_cast<time_t>(seconds);
    times[i].tv_nsec = static_cast<long>(rest * 100);
  }
  if (futimens(static_cast<FileObject*>(object)->fd, times) != 0) return host::FailWithErrno();
  return TRUE;
}

FILE* _wfopen(LPCWSTR path, LPCWSTR mode) {
  std::string hostPath;
  char narrowMode[16];
  size_t n = 0;
  for (; mode && mode[n] && n + 1 < sizeof narrowMode; ++n) {
    if (mode[n] >= 0x80) break;
    narrowMode[n] = static_cast<char>(mode[n]);
  }
  if (!host::ToHostPath(path, hostPath) || !mode || mode[n] != 0) {
    errno = EINVAL;
    return nullptr;
  }
  narrowMode[n] = '\0';
  return fopen(hostPath.c_str(), narrowMode);
}

bool HostPathFromWide(LPCWSTR path, char* out, size_t outSize) {
  std::string hostPath;
  if (!host::ToHostPath(path, hostPath) || hostPath.size() >= outSize) {
    if (out && outSize) out[0] = '\0';
    return false;
  }
  memcpy(out, hostPath.c_str(), hostPath.size() + 1);
  return true;
}
