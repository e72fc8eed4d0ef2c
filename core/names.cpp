#include "core/names.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "core/charset.h"

namespace {

bool HasHighByte(const uint8_t* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (bytes[i] >= 0x80) return true;
  return false;
}

// The name's own length: up to `length` or its first 0x00 byte.
size_t NameLength(const uint8_t* bytes, size_t length) {
  const void* nul = memchr(bytes, 0, length);
  return nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - bytes) : length;
}

bool Refuse(char* out, size_t size) {
  if (size > 0) out[0] = '\0';
  return false;
}

bool CopyBytes(const uint8_t* bytes, size_t length, char* out, size_t size) {
  if (length + 1 > size) return Refuse(out, size);
  memcpy(out, bytes, length);
  out[length] = '\0';
  return true;
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
    const char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

bool IsUtf8Name(const uint8_t* bytes, size_t length) {
  if (length == 0 || length > 0x7FFFFFFF || !HasHighByte(bytes, length)) return false;
  // The platform's UTF-8 reader takes shortest forms only and refuses
  // surrogates and values past U+10FFFF; any such byte fails the count.
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes),
                             static_cast<int>(length), nullptr, 0) > 0;
}

bool DecodeStoredName(const uint8_t* bytes, size_t length, NameMarking marking, char* out,
                      size_t size) {
  length = NameLength(bytes, length);
  const bool utf8 = marking != NameMarking::kLegacy && IsUtf8Name(bytes, length);
  // Legacy text is already narrow text; so is UTF-8 when it is the active
  // code page.
  if (!utf8 || GetACP() == CP_UTF8) return CopyBytes(bytes, length, out, size);
  // A character takes at most four bytes of UTF-8 and at least one of
  // narrow text, so a longer name could not fit `out`.
  if (size == 0 || length > 4 * (size - 1)) return Refuse(out, size);
  std::vector<WCHAR> wide(length + 1);
  const int units = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(bytes),
                                        static_cast<int>(length), wide.data(), static_cast<int>(length));
  if (units <= 0) return Refuse(out, size);
  wide[static_cast<size_t>(units)] = 0;
  if (!WideToNarrow(wide.data(), out, size)) return Refuse(out, size);
  return true;
}

bool DecodeNameInCharset(const char* charset, const uint8_t* bytes, size_t length, char* out,
                         size_t size) {
  length = NameLength(bytes, length);
  if (EqualsIgnoringCase(charset, "UTF-8") || EqualsIgnoringCase(charset, "UTF8"))
    return DecodeStoredName(bytes, length, NameMarking::kUtf8, out, size);
  const iconv_t cd = iconv_open("UTF-8", charset);
  if (cd == reinterpret_cast<iconv_t>(-1))
    return DecodeStoredName(bytes, length, NameMarking::kUnmarked, out, size);
  // A name that fits takes at most kStoredNameSize bytes of UTF-8; one more
  // tells that it does not.
  char utf8[kStoredNameSize + 1];
  char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
  size_t inLeft = length;
  char* op = utf8;
  size_t outLeft = sizeof utf8;
  size_t result = iconv(cd, &in, &inLeft, &op, &outLeft);
  if (result != static_cast<size_t>(-1)) result = iconv(cd, nullptr, nullptr, &op, &outLeft);
  const int error = errno;
  iconv_close(cd);
  if (result == static_cast<size_t>(-1)) {
    if (error == E2BIG) return Refuse(out, size);
    return DecodeStoredName(bytes, length, NameMarking::kUnmarked, out, size);
  }
  return DecodeStoredName(reinterpret_cast<const uint8_t*>(utf8), static_cast<size_t>(op - utf8),
                          NameMarking::kUtf8, out, size);
}
