// The program's entry: the command-line forms, the settings it writes and
// the result report.
#pragma once

#include "platform/windows.h"

// Size of the token values and of every wide path buffer of the entry.
constexpr int kTokenValueSize = MAX_PATH;

// The archive path in the active code page, handed to ProcessArchive by the
// command line and by the main dialog's "Extract".
extern char g_NarrowPath[kTokenValueSize * 2];

// Finds key + "(" in the command line (without regard to case) and copies
// the text up to the next ")" into value[kTokenValueSize]. False, with an
// empty value, when either is missing or the text does not fit.
bool ParseToken(const WCHAR* key, const WCHAR* commandLine, WCHAR* value);

// The first occurrence of pattern in text after case mapping, or null (also
// when either is null or the pattern is longer than the text).
const WCHAR* FindNoCase(const WCHAR* text, const WCHAR* pattern);

// Shows " NOT_A_FILE: %d times\n..." when a counter is not zero; true when
// it was shown.
bool ResultReport();

// Start-up, one of the modes, tear-down. Returns the process exit status:
// 0 when nothing was reported, 2 when the result report was shown.
int Entry(const WCHAR* commandLine);

// The specified forms from separate arguments ("\"-separated already):
// joined with blanks they are the command line of Entry, except that
// several arguments whose joined text names no file and holds no token
// form are taken one by one, each as an archive path.
int EntryWithArguments(const WCHAR* const* arguments, int count);

// What every run needs before the first archive (false: out of memory),
// and its release.
bool StartProgram();
void EndProgram();

// Names a path that is no file to this program on standard error and counts
// it as NOT_A_FILE.
void NotAFile(const WCHAR* path, const char* reason);

// The plain form's handling of one path: a folder or a missing path counts
// as NOT_A_FILE (false), anything else goes to ProcessArchive (true).
bool ProcessPlainPath(const WCHAR* path);
