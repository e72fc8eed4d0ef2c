// What a path names, from a find-first-file query on the path itself. Kept
// here until the folder browser shares it.
#pragma once

#include "platform/windows.h"

enum class PathKind { Missing = 0, IsFile = 1, IsFolder = 2 };

// IsFolder for an entry with the directory attribute or the temporary one
// (which marks a storage card's mount folder), IsFile for any other entry.
PathKind ClassifyPath(LPCWSTR path);
