// Notices and fatal errors brought to the screen, and the allocating
// narrow/wide conversions.
#pragma once

#include <string>

#include "platform/windows.h"

// Newly allocated (LocalAlloc, zero-filled) conversions in the active code
// page; null when the conversion or the allocation fails. Free with LocalFree.
WCHAR* ToWide(const char* narrow);
char* ToNarrow(const WCHAR* wide);

// A notice: a message box with an empty caption and OK. Its text is shown
// through EscapeControls (a line end that ends it stays one). Texts longer than
// the 1024-byte message buffer are cut at a character boundary by callers
// that format into it (see FormatMessageText).
void ShowMessage(const char* text);

// The archive being handled, for notices (ProcessArchive sets it around
// each archive; a null path clears it). A notice about `path` itself names
// it as `shown` (screen text, e.g. "stdin" for standard input); with
// `prefix` (a run of several archives) every other notice starts with
// "<shown>: " too, so the user can tell which archive it is about.
void SetNoticeArchive(const char* path, const char* shown, bool prefix);
// `shown` when `name` is the archive set above, else null.
const char* NoticeArchiveShownFor(const char* name);

// Called before each notice is shown (null: nothing). The member output
// sets it to give first the notices about earlier members whose files are
// still being written on worker threads, so that notices come in the order
// of the members whatever the threads' timing.
void SetBeforeNoticeHook(void (*hook)());

// "Dorvane: <prefix><text>" in a box captioned "Error!" with the stop icon,
// then the program ends with exit status 1. The command-line forms say
// "dorvane: ", as all their own messages do (see SetCommandLineMessages).
[[noreturn]] void FatalError(const char* prefix, const char* text);
// Program-ending errors start with "dorvane: " (true: a command-line form)
// or with the dialogs' "Dorvane: " (false, the default).
void SetCommandLineMessages(bool commandLine);
// FatalError with the prefix "program error ".
[[noreturn]] void ProgramError(const char* text);

// Called by FatalError after the box instead of ending the process, when
// set. It must not return. Only harnesses that run many inputs in one
// process (the fuzz targets) set it: theirs throws, and ProcessArchive closes
// its progress window on the way out.
typedef void (*FatalErrorHandler)();
void SetFatalErrorHandler(FatalErrorHandler handler);

// Text for the screen, made from program text: every control character
// (C0, DEL, and C1, U+0080 to U+009F) and every byte that is no character of
// the code page is written as an escape, as GNU tar and bsdtar show names:
// \a \b \t \n \v \f \r, or a backslash and three octal digits for each byte
// of its UTF-8 form (ESC is \033, U+009B is \302\233, a stray byte 0x9B is
// \233). Nothing else changes, so a name that holds none of them shows as it
// is; the escapes are plain ASCII, so escaping twice changes nothing more.
// Cut at a whole character or escape when it does not fit. Only what is
// shown is escaped: files keep the names their archives give them.
void EscapeControls(char* out, size_t size, const char* text);
// The same escapes for UTF-8 text from the host (what the user typed on the
// command line), whatever the active code page.
std::string EscapeHostControls(const std::string& text);

// A member or file name for the screen: "/" between its folders, as the
// user types them, and escaped as EscapeControls says. Every name that a
// notice, a listing line, the status line or the password prompt shows
// goes through here (ShowMessage escapes the whole notice as well).
void DisplayName(char* out, size_t size, const char* name);

// printf into a narrow buffer, cut at a whole character when it does not fit.
void FormatMessageText(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
