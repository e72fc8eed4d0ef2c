// Narrow strings and path names.
//
// Inside the program every path, member name and display name is a narrow,
// zero-terminated string in the system code page (Shift-JIS by default). They
// are walked by whole characters, so the second byte of a double-byte
// character is never taken for a separator, a dot or a forbidden character.
// Wide (UTF-16) text is made only at calls into the platform.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/windows.h"

// Bytes of the character that starts with each byte value: 0 for the
// terminator, 2 for a lead byte, 1 otherwise. For code page 932 (the default)
// the lead bytes are 0x81-0x9F and 0xE0-0xFC. Filled by BuildLeadByteTable.
extern int8_t g_LeadByteTable[256];

// Fills g_LeadByteTable for the active code page. Code page 932 gives the
// Shift-JIS table; 1252 has no lead bytes; 65001 marks UTF-8 lead bytes with
// the length of their sequence.
void BuildLeadByteTable();

// True when the byte starts a character of more than one byte.
inline bool IsLeadByte(uint8_t b) { return g_LeadByteTable[b] > 1; }

// Length in bytes of the character at p, never counting past a terminator:
// a lead byte followed by 0x00 is a character of one byte (the dangling lead
// byte stands alone). 0 at the terminator itself.
size_t CharLength(const char* p);

// p moved past one whole character; stays put at the terminator.
inline const char* CharNext(const char* p) { return p + CharLength(p); }
inline char* CharNext(char* p) { return p + CharLength(p); }

// Narrow <-> wide with the active code page, whole string and terminator.
// Without a buffer: the units needed, terminator included (0 on failure).
// With a buffer of `size` units: true when the whole text fitted.
int NarrowToWide(const char* narrow, WCHAR* wide, size_t size);
int WideToNarrow(const WCHAR* wide, char* narrow, size_t size);

// 0 when equal (same bytes, or one-byte ASCII letters differing only in
// case), non-zero otherwise. Callers pass the constant on the right.
int EqualsNoCase(const char* left, const char* right);

// Same, over at most `count` bytes of each (whole characters); a string that
// ends before `count` bytes must end in the other too.
int EqualsNoCaseN(const char* left, const char* right, size_t count);

struct PathSplit {
  long lastSeparator;  // byte position of the last "\" or "/", or -1
  long lastDot;        // byte position of the last "." after it, or -1
};
PathSplit SplitPath(const char* path);

// The text after the last dot of the last component ("" when none).
const char* ExtensionOf(const char* path);
// The text after the last separator (the whole path when none).
const char* BaseNameOf(const char* path);
// The last character that begins with `byte` (never a second byte), or null.
const char* LastOccurrence(const char* s, char byte);
