#include "core/charset.h"

#include <cstring>

int8_t g_LeadByteTable[256];

// The code page the table was built for; decides which bytes may follow a
// lead byte.
static UINT s_tableCodePage = 932;

void BuildLeadByteTable() {
  const UINT codePage = GetACP();
  s_tableCodePage = codePage;
  for (int b = 0; b < 256; ++b) {
    int8_t len = 1;
    if (codePage == 65001) {
      // UTF-8: the lead byte tells the length of its sequence.
      if (b >= 0xC2 && b <= 0xDF) len = 2;
      else if (b >= 0xE0 && b <= 0xEF) len = 3;
      else if (b >= 0xF0 && b <= 0xF4) len = 4;
    } else if (codePage == 932) {
      if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) len = 2;
    }
    g_LeadByteTable[b] = len;
  }
  g_LeadByteTable[0] = 0;
}

// Whether `b` can follow a lead byte in the active code page. A lead byte
// followed by anything else (the terminator, a separator, a dot) stands
// alone, so the walkers split a path exactly where the host's conversion
// will, and never step over the end of the string.
static bool IsTrailByte(uint8_t b) {
  if (s_tableCodePage == 65001) return b >= 0x80 && b <= 0xBF;
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

size_t CharLength(const char* p) {
  const uint8_t first = static_cast<uint8_t>(*p);
  if (first == 0) return 0;
  const size_t len = static_cast<size_t>(g_LeadByteTable[first] > 0 ? g_LeadByteTable[first] : 1);
  for (size_t i = 1; i < len; ++i) {
    if (!IsTrailByte(static_cast<uint8_t>(p[i]))) return 1;
  }
  return len;
}

int NarrowToWide(const char* narrow, WCHAR* wide, size_t size) {
  if (wide == nullptr) return MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
  if (size == 0 || size > 0x7FFFFFFF) return 0;
  return MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, static_cast<int>(size)) > 0 ? 1 : 0;
}

int WideToNarrow(const WCHAR* wide, char* narrow, size_t size) {
  if (narrow == nullptr) return WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size == 0 || size > 0x7FFFFFFF) return 0;
  return WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, static_cast<int>(size), nullptr,
                             nullptr) > 0
             ? 1
             : 0;
}

static bool SameChar(const char* a, const char* b, size_t len) {
  if (len == 1) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    return x == y;
  }
  return memcmp(a, b, len) == 0;
}

int EqualsNoCaseN(const char* left, const char* right, size_t count) {
  size_t done = 0;
  while (done < count) {
    const size_t l = CharLength(left);
    const size_t r = CharLength(right);
    if (l == 0 || r == 0) return (l == 0 && r == 0) ? 0 : 1;
    if (l != r || !SameChar(left, right, l)) return 1;
    left += l;
    right += r;
    done += l;
  }
  return 0;
}

int EqualsNoCase(const char* left, const char* right) { return EqualsNoCaseN(left, right, SIZE_MAX); }

PathSplit SplitPath(const char* path) {
  PathSplit split{-1, -1};
  for (const char* p = path; *p != '\0'; p = CharNext(p)) {
    if (*p == '\\' || *p == '/') {
      split.lastSeparator = p - path;
      split.lastDot = -1;
    } else if (*p == '.') {
      split.lastDot = p - path;
    }
  }
  return split;
}

const char* ExtensionOf(const char* path) {
  const PathSplit split = SplitPath(path);
  if (split.lastDot < 0) return path + strlen(path);
  return path + split.lastDot + 1;
}

const char* BaseNameOf(const char* path) {
  const PathSplit split = SplitPath(path);
  return path + split.lastSeparator + 1;
}

const char* LastOccurrence(const char* s, char byte) {
  const char* found = nullptr;
  for (const char* p = s; *p != '\0'; p = CharNext(p)) {
    if (*p == byte) found = p;
  }
  return found;
}
