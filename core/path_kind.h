// What a path names on disk: nothing, a file, a folder, or a storage card's
// mount folder (a folder marked with the temporary attribute as well).
#pragma once

#include "platform/windows.h"

// The attributes of which either makes an entry a folder.
constexpr DWORD kFolderish = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;

enum PathKindValue { kMissing = 0, kIsFile = 1, kIsFolder = 2, kStorageCard = 3 };

// From a find-first-file query on the path itself: kIsFolder for a folder
// or a storage card, never kStorageCard.
int PathKind(const WCHAR* path);
// From the path's attributes, telling a storage card apart.
int AttributeKind(const WCHAR* path);
