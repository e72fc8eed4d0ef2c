// Stored names: the bytes an archiver wrote for a member's name, turned into
// the program's narrow text (the active code page, Shift-JIS by default).
//
// Archivers write names in one of two ways: UTF-8 (what current tools on
// every system write, and what some formats say outright), or the code page
// of the system they ran on (Shift-JIS for old Japanese archives). Every
// handler hands its stored names here with what its format says about them;
// none decodes names on its own.
//
// UTF-8 characters become narrow text the way host paths do (see
// platform/codepage.cpp): a character code page 932 lacks takes one of the
// user-defined-area codes for the run, a whole double-byte character to the
// path walkers, and becomes the same character again in the host file name.
// Names are written as stored: decomposed forms are not normalised.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/output.h"

// What the format says about a stored name's bytes.
enum class NameMarking {
  kUtf8,      // marked as UTF-8 (ZIP flag bit 11, cabinet attribute 0x80,
              // pax path records, MIME parameters in UTF-8); a marked name
              // that is not well-formed UTF-8 is read as legacy text
  kUnmarked,  // nothing said: UTF-8 when IsUtf8Name, else legacy text. A
              // Shift-JIS name that happens to be well-formed UTF-8 (pairs
              // of half-width katakana such as "ﾃｽ", bytes C3 BD = "ý") is
              // then read as UTF-8: only a header naming the host tells.
  kLegacy,    // written on MS-DOS or Windows: the legacy code page, always
};

// The most bytes a stored name may take and still fit an output path once
// converted: 4,095 characters of at most four bytes each. Readers keep this
// many bytes of a name; a longer one cannot fit and is refused.
constexpr size_t kStoredNameSize = 4 * (kOutputPathSize - 1);

// True when the bytes are well-formed UTF-8 (shortest forms only, no
// surrogates, nothing past U+10FFFF) and hold at least one multi-byte
// sequence. Pure ASCII is false: it reads the same either way.
bool IsUtf8Name(const uint8_t* bytes, size_t length);

// Turns a stored name into narrow text in `out` (`size` bytes with the
// terminator). The name ends at `length` or at its first 0x00 byte. Legacy
// text is taken byte for byte, as the active code page reads it. False, and
// `out` empty, when the converted name does not fit: such a name is
// refused, never cut into a different name.
[[nodiscard]] bool DecodeStoredName(const uint8_t* bytes, size_t length, NameMarking marking,
                                    char* out, size_t size);

// A name given in a named character set (a MIME parameter's "UTF-8",
// "ISO-2022-JP", "Shift_JIS", ...): converted to UTF-8 with iconv, then as a
// marked UTF-8 name. A character set iconv does not know, or bytes that are
// not text in it, give the bytes as an unmarked name. False, and `out`
// empty, when the result does not fit.
[[nodiscard]] bool DecodeNameInCharset(const char* charset, const uint8_t* bytes, size_t length,
                                       char* out, size_t size);
