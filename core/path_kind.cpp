#include "core/path_kind.h"

int PathKind(const WCHAR* path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return kMissing;
  FindClose(search);
  return (found.dwFileAttributes & kFolderish) != 0 ? kIsFolder : kIsFile;
}

int AttributeKind(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kMissing;
  if ((attributes & kFolderish) == kFolderish) return kStorageCard;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kIsFolder;
  return kIsFile;
}
