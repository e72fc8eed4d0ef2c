// Output paths and files: the toolbox every handler shares for turning
// archive names into files under the output folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/windows.h"

// Narrow path and name buffers hold this many bytes, terminator included.
// A path or name that does not fit is refused, never cut.
constexpr size_t kPathBufferSize = MAX_PATH;

// A member's name and the output path made from it may be longer: up to
// the host's path limit (PATH_MAX on Linux), terminator included. Files
// are made by walking the path's folders one at a time, so only each
// component must fit the file system's own limit.
constexpr size_t kOutputPathSize = 4096;

// File attributes the handlers apply.
constexpr DWORD kAttrArchive = 0x20;
constexpr DWORD kAttrArchiveReadOnly = 0x21;

// The joining rule: folder + name when the name begins with "\", otherwise
// folder + "\" + name (so a name beginning with "/" still lands inside).
// Every ".." component of the name becomes "__", so no name can climb out
// of the folder. False (and `out` empty) when
// the result does not fit in `size` bytes.
[[nodiscard]] bool JoinOutputPath(char* out, size_t size, const char* folder, const char* name);

// Replaces every ".." component of `name` (between separators "\" or "/")
// with "__", in place.
void NeutraliseDotDot(char* name);

// BaseNameOf(path) into `out` (kPathBufferSize bytes); with a suffix,
// appends "." and the suffix, else cuts the copy at its last dot. False when
// the result does not fit.
[[nodiscard]] bool SingleOutputName(char* out, const char* path, const char* suffix);

// Sanitises the path in place (separators become "\", forbidden characters
// and control bytes become "_") and creates every folder on it. Returns path.
char* PrepareOutputPath(char* path);
// The same sanitising without creating anything.
void SanitiseOutputPath(char* path);

bool CreateFolder(const char* path);
void DeleteOutputFile(const char* path);
void SetAttributes(const char* path, DWORD attributes);
void StampFileTime(const char* path, const FILETIME& utc);
void StampDosTime(const char* path, uint16_t dosDate, uint16_t dosTime);
// Stamps the exact instant: seconds since 1970 as UTC.
void StampUnixTime(const char* path, uint32_t seconds);

// Reads one line (LF, CR LF or CR ends it; 0x00 ends it and is dropped),
// storing at most capacity-1 bytes and a terminator. Null when the stream's
// end-of-file indicator is set afterwards (the buffer still holds what was
// read), otherwise the buffer.
char* ReadTextLine(char* buffer, int capacity, FILE* stream);

// The C library's fopen for a narrow program path ("rb", "wb", ...). While
// standard input is piped input, its path gives a reader of that.
FILE* OpenFileStream(const char* path, const char* mode);

// The host form (UTF-8, "/"-separated) of a narrow program path, for
// libraries that open files by name (gzopen, BZ2_bzopen). False when the
// path cannot be converted or does not fit.
[[nodiscard]] bool HostPath(const char* path, char* out, size_t size);
