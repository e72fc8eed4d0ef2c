// Find-first-file over one folder.
//
// The pattern's last component may hold "*" (any run of characters) and "?"
// (one character), matched without regard to letter case as on the device;
// "*.*" matches every name. A last component without wildcards names one
// entry exactly (letter case as the host file system has it). The folder is
// read whole when the search starts, so deleting or renaming entries while
// walking the results is safe. "." and ".." are not listed (the device's
// file system has no such entries), nor are names too long for cFileName.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/host.h"

namespace {

struct FindObject : host::HandleObject {
  std::vector<WIN32_FIND_DATAW> found;
  size_t next = 0;
};

bool HasWildcards(const std::u16string& s) { return s.find_first_of(u"*?") != std::u16string::npos; }

// Glob match over UTF-16 units, letters compared upper-cased; "*" retries
// from the last star only, so the match is linear in practice.
bool Matches(const std::u16string& pattern, const std::u16string& name) {
  if (pattern == u"*.*") return true;
  size_t p = 0, n = 0, star = std::u16string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == u'?' || towupper_w(pattern[p]) == towupper_w(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star != std::u16string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// Fills one result from the host entry; false when it cannot be shown (gone
// already, or a name longer than cFileName holds).
bool Describe(const std::string& hostPath, const std::u16string& name, WIN32_FIND_DATAW& data) {
  if (name.size() >= MAX_PATH) return false;
  struct stat st;
  if (stat(hostPath.c_str(), &st) != 0 && lstat(hostPath.c_str(), &st) != 0) return false;
  data = WIN32_FIND_DATAW{};
  data.dwFileAttributes = host::AttributesOfStat(st);
  // No creation time on the host: the modification time stands in, which is
  // also what the stamping functions set both to.
  data.ftLastWriteTime = host::FileTimeOfTimespec(st.st_mtim);
  data.ftCreationTime = data.ftLastWriteTime;
  data.ftLastAccessTime = host::FileTimeOfTimespec(st.st_atim);
  uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data.nFileSizeLow = static_cast<DWORD>(size);
  name.copy(data.cFileName, name.size());
  data.cFileName[name.size()] = 0;
  return true;
}

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* found) {
  if (!pattern || !*pattern || !found) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string whole(pattern);
  size_t cut = whole.find_last_of(u"\\/");
  std::u16string folder = cut == std::u16string::npos ? u"." : whole.substr(0, cut ? cut : 1);
  std::u16string name = cut == std::u16string::npos ? whole : whole.substr(cut + 1);
  if (name.empty()) return Fail(ERROR_FILE_NOT_FOUND);

  std::string hostFolder;
  host::ToHostPath(folder.c_str(), hostFolder);
  std::string prefix = hostFolder == "/" ? "/" : hostFolder + "/";
  auto search = new FindObject;
  search->kind = host::HandleKind::Find;

  if (!HasWildcards(name)) {
    WIN32_FIND_DATAW data;
    std::string hostName = host::ToUtf8(name.c_str());
    if (Describe(prefix + hostName, name, data)) search->found.push_back(data);
  } else {
    DIR* dir = opendir(hostFolder.c_str());
    if (!dir) {
      DWORD error = errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                        : host::ErrorFromErrno(errno);
      delete search;
      return Fail(error);
    }
    while (const dirent* entry = readdir(dir)) {
      std::string hostName = entry->d_name;
      if (hostName == "." || hostName == "..") continue;
      std::u16string wideName = host::FromUtf8(hostName.data(), hostName.size());
      WIN32_FIND_DATAW data;
      if (Matches(name, wideName) && Describe(prefix + hostName, wideName, data))
        search->found.push_back(data);
    }
    closedir(dir);
  }

  if (search->found.empty()) {
    // Tell a missing folder from a folder without matches.
    struct stat st;
    bool folderExists = stat(hostFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    delete search;
    return Fail(folderExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  }
  *found = search->found[search->next++];
  SetLastError(ERROR_SUCCESS);
  return search;
}

BOOL FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* found) {
  host::HandleObject* object = host::ObjectOf(handle);
  if (!object || object->kind != host::HandleKind::Find || !found)
    return host::Fail(ERROR_INVALID_HANDLE);
  auto* search = static_cast<FindObject*>(object);
  if (search->next >= search->found.size()) return host::Fail(ERROR_NO_MORE_FILES);
  *found = search->found[search->next++];
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  host::HandleObject* object = host::ObjectOf(handle);
  if (!object || object->kind != host::HandleKind::Find) return host::Fail(ERROR_INVALID_HANDLE);
  object->kind = host::HandleKind::Closed;
  delete static_cast<FindObject*>(object);
  return TRUE;
}
