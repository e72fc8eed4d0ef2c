#include "core/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/charset.h"
#include "core/progress.h"
#include "platform/output_file.h"

static FatalErrorHandler g_fatalHandler = nullptr;
static const char* g_programPrefix = "Dorvane: ";

void SetCommandLineMessages(bool commandLine) { g_programPrefix = commandLine ? "dorvane: " : "Dorvane: "; }

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

namespace {

// The escape of one byte: a backslash and three octal digits.
size_t OctalEscape(char* out, uint8_t byte) {
  out[0] = '\\';
  out[1] = static_cast<char>('0' + (byte >> 6));
  out[2] = static_cast<char>('0' + ((byte >> 3) & 7));
  out[3] = static_cast<char>('0' + (byte & 7));
  return 4;
}

// The escape that shows the character at p (`length` bytes), or 0 when it is
// shown as it is.
// The escape of a C0 control or DEL: a letter where C has one, else octal.
size_t ControlEscape(char* escape, uint8_t b) {
  if (b >= '\a' && b <= '\r') {
    escape[0] = '\\';
    escape[1] = "abtnvfr"[b - '\a'];
    return 2;
  }
  return OctalEscape(escape, b);
}

size_t EscapeOf(const char* p, size_t length, char* escape) {
  const auto b = static_cast<uint8_t>(*p);
  if (length == 1 && (b < 0x20 || b == 0x7F)) return ControlEscape(escape, b);
  if (b < 0x80) return 0;
  // C1 controls and stray bytes are known only as wide characters: a C1
  // control reaches the program text as a code of the code page's own (a
  // user-defined code in Shift-JIS, C2 xx in UTF-8).
  char one[8] = {};
  if (length >= sizeof one) return 0;
  memcpy(one, p, length);
  WCHAR wide[4] = {};
  if (!NarrowToWide(one, wide, 4) || wide[0] == 0 || wide[1] != 0) return 0;
  const WCHAR c = wide[0];
  if (c >= 0x80 && c <= 0x9F) {  // its UTF-8 form is C2 80 to C2 9F
    const size_t n = OctalEscape(escape, 0xC2);
    return n + OctalEscape(escape + n, static_cast<uint8_t>(c));
  }
  if (c >= 0xDC80 && c <= 0xDCFF) return OctalEscape(escape, static_cast<uint8_t>(c - 0xDC00));
  return 0;
}

void Escape(char* out, size_t size, const char* text, bool slashes) {
  if (size == 0) return;
  size_t used = 0;
  for (const char* p = text; *p != '\0';) {
    const size_t length = CharLength(p);
    char escape[16];
    size_t n = EscapeOf(p, length, escape);
    const char* piece = escape;
    if (n == 0) {
      piece = p;
      n = length;
      if (slashes && length == 1 && *p == '\\') piece = "/";
    }
    if (used + n + 1 > size) break;
    memcpy(out + used, piece, n);
    used += n;
    p += length;
  }
  out[used] = '\0';
}

}  // namespace

void EscapeControls(char* out, size_t size, const char* text) { Escape(out, size, text, false); }

std::string EscapeHostControls(const std::string& text) {
  std::string shown;
  char escape[16];
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<uint8_t>(text[i]);
    if (b < 0x20 || b == 0x7F) {
      shown.append(escape, ControlEscape(escape, b));
    } else if (b == 0xC2 && i + 1 < text.size() && (static_cast<uint8_t>(text[i + 1]) & 0xE0) == 0x80) {
      const size_t n = OctalEscape(escape, b);  // a C1 control, U+0080 to U+009F
      shown.append(escape, n + OctalEscape(escape + n, static_cast<uint8_t>(text[++i])));
    } else {
      shown += text[i];
    }
  }
  return shown;
}

void DisplayName(char* out, size_t size, const char* name) { Escape(out, size, name, true); }

static void (*g_beforeNotice)() = nullptr;

namespace {
std::string g_noticePath, g_noticeShown;
bool g_noticePrefix = false;
}  // namespace

void SetNoticeArchive(const char* path, const char* shown, bool prefix) {
  g_noticePath = path != nullptr ? path : "";
  g_noticeShown = path != nullptr && shown != nullptr ? shown : "";
  g_noticePrefix = path != nullptr && prefix;
}

const char* NoticeArchiveShownFor(const char* name) {
  return !g_noticePath.empty() && g_noticePath == name ? g_noticeShown.c_str() : nullptr;
}

void SetBeforeNoticeHook(void (*hook)()) { g_beforeNotice = hook; }

void ShowMessage(const char* text) {
  if (g_beforeNotice != nullptr) g_beforeNotice();
  StatusLineGap gap;  // a notice never lands behind the progress status line
  // One line end that ends the text is the notice's own; any other is shown
  // as an escape, with every control character the text holds.
  const size_t length = strlen(text);
  const bool lineEnd = length > 0 && text[length - 1] == '\n';
  std::string body(text, length - (lineEnd ? 1 : 0));
  // A notice that does not start by naming the archive, or the program, is
  // about something inside the archive.
  if (g_noticePrefix && body.compare(0, g_noticeShown.size() + 1, g_noticeShown + ":") != 0 &&
      body.compare(0, 9, "dorvane: ") != 0)
    body = g_noticeShown + ": " + body;
  std::string shown(4 * body.size() + 2, '\0');
  EscapeControls(&shown[0], shown.size() - 1, body.c_str());
  shown.resize(strlen(shown.c_str()));
  if (lineEnd) shown += '\n';
  WCHAR* wide = ToWide(shown.c_str());
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
  char joined[1024], shown[1024];
  FormatMessageText(joined, sizeof joined, "%s%s%s", g_programPrefix, prefix, text);
  EscapeControls(shown, sizeof shown, joined);
  WCHAR* wide = ToWide(shown);
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
