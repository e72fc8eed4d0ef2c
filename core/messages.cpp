#include "core/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/charset.h"
#include "core/progress.h"
#include "platform/output_file.h"

static FatalErrorHandler g_fatalHandler = nullptr;

WCHAR* ToWide(const char* narrow) {
  const int n = MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
  if (n <= 0) return nullptr;
  auto* wide = static_cast<WCHAR*>(LocalAlloc(LPTR, (static_cast<size_t>(n) + 1) * sizeof(WCHAR)));
  if (wide == nullptr) return nullptr;
  MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, n);
  return wide;
}

char* ToNarrow(const WCHAR* wide) {
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return nullptr;
  auto* narrow = static_cast<char*>(LocalAlloc(LPTR, static_cast<size_t>(n) + 1));
  if (narrow == nullptr) return nullptr;
  WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, n, nullptr, nullptr);
  return narrow;
}

static void (*g_beforeNotice)() = nullptr;

void SetBeforeNoticeHook(void (*hook)()) { g_beforeNotice = hook; }

void ShowMessage(const char* text) {
  if (g_beforeNotice != nullptr) g_beforeNotice();
  StatusLineGap gap;  // a notice never lands behind the progress status line
  WCHAR* wide = ToWide(text);
  static const WCHAR kEmpty[] = {0};
  MessageBoxW(nullptr, wide != nullptr ? wide : kEmpty, kEmpty, MB_OK);
  if (wide != nullptr) LocalFree(wide);
}

// Copies as much of `src` as fits into dst[size] (terminated), ending at a
// whole character so a double-byte character is never split.
static void CopyCut(char* dst, size_t size, const char* src) {
  size_t used = 0;
  for (const char* p = src; *p != '\0';) {
    const size_t len = CharLength(p);
    if (used + len + 1 > size) break;
    memcpy(dst + used, p, len);
    used += len;
    p += len;
  }
  dst[used] = '\0';
}

void FormatMessageText(char* buffer, size_t size, const char* format, ...) {
  if (size == 0) return;
  char full[4096];
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(full, sizeof full, format, args);
  va_end(args);
  if (n < 0) {
    buffer[0] = '\0';
    return;
  }
  CopyCut(buffer, size, full);
}

[[noreturn]] void FatalError(const char* prefix, const char* text) {
  // The formatted text must fit a 256-character box; longer text is cut at a
  // whole character, keeping the closing line end.
  char joined[1024];
  FormatMessageText(joined, sizeof joined, "Dorvane: %s%s", prefix, text);
  WCHAR* wide = ToWide(joined);
  WCHAR box[256];
  size_t n = 0;
  if (wide != nullptr) {
    while (wide[n] != 0 && n < 254) {
      box[n] = wide[n];
      ++n;
    }
    // Do not leave half of a surrogate pair at the cut.
    if (n > 0 && wide[n] != 0 && box[n - 1] >= 0xD800 && box[n - 1] <= 0xDBFF) --n;
    LocalFree(wide);
  }
  box[n++] = u'\n';
  box[n] = 0;
  static const WCHAR kCaption[] = {u'E', u'r', u'r', u'o', u'r', u'!', 0};
  {
    // Released before the end: closing the progress window at exit waits
    // for its thread, which may want the line.
    StatusLineGap gap;
    MessageBoxW(nullptr, box, kCaption, MB_OK | MB_ICONSTOP);
  }
  if (g_fatalHandler != nullptr) g_fatalHandler();
  // The member being written is not complete: no temporary of it stays.
  AbandonOutputTemporaries();
  exit(1);
}

void SetFatalErrorHandler(FatalErrorHandler handler) { g_fatalHandler = handler; }

[[noreturn]] void ProgramError(const char* text) { FatalError("program error ", text); }
