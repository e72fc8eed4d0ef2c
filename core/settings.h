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

// The current folder as a narrow program path ("\"-separated, no final
// separator; the root is empty text) in out[kExtractPathNarrowSize]. False,
// with empty text, when it cannot be had or does not fit.
bool CurrentFolderPath(char* out);
// The folder extraction goes into, in out[kExtractPathNarrowSize]: the stored
// ExtractPath as ReadExtractPath gives it, or the current folder when no
// ExtractPath is stored (an absent value must not mean the root folder).
// False when no ExtractPath is stored and the current folder cannot be had.
bool ReadOutputFolder(char* out);
bool ReadMakeDir();
bool ReadOpenDir();
bool WriteMakeDir(bool set);
bool WriteOpenDir(bool set);
