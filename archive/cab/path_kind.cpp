#include "archive/cab/path_kind.h"

namespace {
constexpr DWORD kAttributeTemporary = 0x100;
}

PathKind ClassifyPath(LPCWSTR path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return PathKind::Missing;
  FindClose(search);
  if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | kAttributeTemporary)) return PathKind::IsFolder;
  return PathKind::IsFile;
}
