// The three values the program keeps in the registry between runs, under
// HKEY_CURRENT_USER\Software\qv\DorvaneCE.
#pragma once

#include <cstddef>

#include "platform/windows.h"

// Size a caller's narrow buffer for ReadExtractPath must have: the narrow
// form of 259 wide characters (two bytes each) plus the terminator.
constexpr size_t kExtractPathNarrowSize = 259 * 2 + 1;

// Fills `out` with the stored path (empty text means the root folder, and a
// stored "\" reads as empty). False only when the key cannot be opened.
bool ReadExtractPath(char* out);
bool WriteExtractPath(const WCHAR* path);
bool ReadMakeDir();
bool ReadOpenDir();
bool WriteMakeDir(bool set);
bool WriteOpenDir(bool set);
