// Internal helpers of the platform layer, shared by its source files: the one
// UTF-16 <-> UTF-8 conversion, the one path conversion, the errno mapping and
// the common head of every kernel-object handle. Not for the program's use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/windows.h"

struct stat;
struct timespec;

namespace host {

// ---------------------------------------------------------------- UTF-8
// UTF-16 to UTF-8. Surrogate pairs become four-byte sequences. A lone
// surrogate U+DC80..U+DCFF stands for the raw byte 0x80..0xFF that a UTF-8 or
// code-page decode could not read (see DecodeUtf8) and becomes that byte
// again, so host names that are not valid UTF-8 survive a round trip. Any
// other lone surrogate becomes U+FFFD; `lossy` (when given) is set then.
void AppendUtf8(std::string& out, const WCHAR* src, size_t units, bool* lossy = nullptr);

// UTF-8 to UTF-16, calling `emit` for every unit. Each byte that does not
// begin a valid, shortest-form sequence becomes U+DC00 + byte (U+DC80 to
// U+DCFF), and decoding goes on with the next byte. Returns the number of
// such bytes.
template <typename Emit>
size_t DecodeUtf8(const char* src, size_t bytes, Emit emit);

std::string ToUtf8(const WCHAR* src);              // zero-terminated; "" for null
std::u16string FromUtf8(const char* src, size_t bytes);

// ---------------------------------------------------------------- paths
// The host form of a program path: "\" becomes "/", UTF-16 becomes UTF-8.
// False for a null or empty path.
bool ToHostPath(LPCWSTR path, std::string& out);
// A host path back in program form: UTF-8 to UTF-16, "/" becomes "\".
std::u16string FromHostPath(const char* path);

// ---------------------------------------------------------------- errors
// The Win32 error value for an errno value, as file calls report it.
DWORD ErrorFromErrno(int err);
// Sets the thread's last error from errno and returns FALSE, the usual way a
// failed host call ends a Win32 function.
BOOL FailWithErrno();
BOOL Fail(DWORD error);

// ---------------------------------------------------------------- file times
// FILETIME counts 100 ns since 1601-01-01; this many lie before 1970-01-01.
constexpr int64_t kUnixEpochIn100ns = 116444736000000000LL;

inline uint64_t FileTimeValue(const FILETIME& ft) {
  return static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}
inline FILETIME MakeFileTime(uint64_t value) {
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// The attributes the device would show for a host file's status: folder
// 0x10, read-only 0x01 when the owner may not write, archive 0x20 for plain
// files, normal 0x80 for anything else.
DWORD AttributesOfStat(const struct stat& st);
// A host time stamp as a FILETIME (times before 1601 become 0).
FILETIME FileTimeOfTimespec(const struct timespec& ts);

// ---------------------------------------------------------------- handles
// Every handle this layer gives out points at an object that starts with
// this head, so CloseHandle can tell files from threads and processes, and
// FindClose can refuse what is not a search.
enum class HandleKind : uint32_t {
  File = 0x46696C65,     // "File"
  Find = 0x46696E64,     // "Find"
  Thread = 0x54687264,   // "Thrd"
  Process = 0x50726F63,  // "Proc"
  Closed = 0xDEADDEAD,
};
struct HandleObject {
  HandleKind kind;
};
// The object behind a handle, or null for null and INVALID_HANDLE_VALUE.
HandleObject* ObjectOf(HANDLE handle);

// Closers of each kind (in the file that owns the kind), for CloseHandle.
BOOL CloseFileObject(HandleObject* object);
BOOL CloseThreadObject(HandleObject* object);
BOOL CloseProcessObject(HandleObject* object);

// ---------------------------------------------------------------- inline

template <typename Emit>
size_t DecodeUtf8(const char* src, size_t bytes, Emit emit) {
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  size_t invalid = 0;
  size_t i = 0;
  while (i < bytes) {
    unsigned char b = s[i];
    if (b < 0x80) {
      emit(static_cast<WCHAR>(b));
      ++i;
      continue;
    }
    // Length and the smallest code point of a sequence of that length, so
    // overlong forms are refused; the second byte's range also refuses
    // encoded surrogates (ED A0..BF) and values above U+10FFFF (F4 90..).
    size_t length = 0;
    char32_t c = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
      c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      c = b & 0x0F;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      c = b & 0x07;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    }
    bool ok = length != 0 && i + length <= bytes;
    for (size_t k = 1; ok && k < length; ++k) {
      unsigned char t = s[i + k];
      unsigned char lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
      if (t < lo || t > hi) ok = false;
      c = (c << 6) | (t & 0x3F);
    }
    if (!ok) {
      emit(static_cast<WCHAR>(0xDC00 + b));
      ++invalid;
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      emit(static_cast<WCHAR>(0xD800 + (c >> 10)));
      emit(static_cast<WCHAR>(0xDC00 + (c & 0x3FF)));
    } else {
      emit(static_cast<WCHAR>(c));
    }
    i += length;
  }
  return invalid;
}

}  // namespace host
