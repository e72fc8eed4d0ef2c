// Notices and fatal errors brought to the screen, and the allocating
// narrow/wide conversions.
#pragma once

#include "platform/windows.h"

// Newly allocated (LocalAlloc, zero-filled) conversions in the active code
// page; null when the conversion or the allocation fails. Free with LocalFree.
WCHAR* ToWide(const char* narrow);
char* ToNarrow(const WCHAR* wide);

// A notice: a message box with an empty caption and OK. Texts longer than
// the 1024-byte message buffer are cut at a character boundary by callers
// that format into it (see FormatMessageText).
void ShowMessage(const char* text);

// Called before each notice is shown (null: nothing). The member output
// sets it to give first the notices about earlier members whose files are
// still being written on worker threads, so that notices come in the order
// of the members whatever the threads' timing.
void SetBeforeNoticeHook(void (*hook)());

// "Dorvane: <prefix><text>" in a box captioned "Error!" with the stop icon,
// then the program ends with exit status 1.
[[noreturn]] void FatalError(const char* prefix, const char* text);
// FatalError with the prefix "program error ".
[[noreturn]] void ProgramError(const char* text);

// Called by FatalError after the box instead of ending the process, when
// set. It must not return. Only harnesses that run many inputs in one
// process (the fuzz targets) set it: theirs throws, and ProcessArchive closes
// its progress window on the way out.
typedef void (*FatalErrorHandler)();
void SetFatalErrorHandler(FatalErrorHandler handler);

// printf into a narrow buffer, cut at a whole character when it does not fit.
void FormatMessageText(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
