// Text in the cell grid: UTF-16 to code points and cell widths, writing text
// into the grid, and the one-line editor that edit controls and list-view
// renames share.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/window_internal.h"

namespace winui {

int CopyOut(const u16string& s, LPWSTR out, int size) {
  if (out == nullptr || size <= 0) return 0;
  const int n = std::min(static_cast<int>(s.size()), size - 1);
  std::copy(s.begin(), s.begin() + n, out);
  out[n] = 0;
  return n;
}

int CompareNoCase(const u16string& a, const u16string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const WCHAR x = towupper_w(a[i]), y = towupper_w(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::u32string Decode(const u16string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c < 0x20 || (c >= 0xD800 && c < 0xE000)) {
      c = U'?';
    }
    out += c;
  }
  return out;
}

u16string Encode(char32_t cp) {
  if (cp < 0x10000) return u16string(1, static_cast<WCHAR>(cp));
  return {static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10)), static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
}

int TextWidth(const u16string& s) {
  int w = 0;
  for (char32_t c : Decode(s)) w += winterm::CharWidth(c);
  return w;
}

int Put(int row, int col, const u16string& text, uint8_t attr, int maxCells) {
  winterm::Canvas& cv = g_canvas;
  if (row < 0 || row >= cv.rows) return 0;
  int used = 0;
  for (char32_t c : Decode(text)) {
    const int w = winterm::CharWidth(c);
    if (used + w > maxCells) break;
    const int at = col + used;
    if (at >= 0 && at + w <= cv.cols) {
      cv.At(row, at)->ch = c;
      cv.At(row, at)->attr = attr;
      if (w == 2) *cv.At(row, at + 1) = {0, attr};
    }
    used += w;
  }
  return used;
}
void Fill(int row, int col, int count, char32_t ch, uint8_t attr) {
  for (int i = 0; i < count; ++i) Put(row, col + i, u16string(1, static_cast<WCHAR>(ch)), attr, 1);
}

u16string Repeat(WCHAR c, size_t n) { return u16string(n, c); }

u16string PadRight(const u16string& s, int cells) {
  u16string out = s;
  for (int w = TextWidth(s); w < cells; ++w) out += u' ';
  return out;
}

bool IsLead(WCHAR c) { return c >= 0xD800 && c < 0xDC00; }
bool IsTrail(WCHAR c) { return c >= 0xDC00 && c < 0xE000; }
size_t PrevChar(const u16string& s, size_t i) {
  if (i == 0) return 0;
  --i;
  if (i > 0 && IsTrail(s[i]) && IsLead(s[i - 1])) --i;
  return i;
}
size_t NextChar(const u16string& s, size_t i) {
  if (i >= s.size()) return s.size();
  ++i;
  if (i < s.size() && IsTrail(s[i]) && IsLead(s[i - 1])) ++i;
  return i;
}

// Draws an edit line `width` cells wide, scrolled so that the caret shows
// (a password character stands for every character); the cursor goes to the
// caret when `cursor` is set.
void DrawEditLine(int row, int col, int width, EditLine* line, WCHAR passwordChar, uint8_t attr, bool cursor) {
  // Each character with its offset and the cells it takes.
  struct Shown {
    size_t at;
    char32_t cp;
    int cells;
  };
  std::vector<Shown> chars;
  for (size_t i = 0; i < line->text.size(); i = NextChar(line->text, i)) {
    const std::u32string cp = Decode(line->text.substr(i, NextChar(line->text, i) - i));
    const char32_t c = passwordChar != 0 ? passwordChar : (cp.empty() ? U'?' : cp[0]);
    chars.push_back({i, c, winterm::CharWidth(c)});
  }
  size_t caret = 0;
  while (caret < chars.size() && chars[caret].at < line->caret) ++caret;
  const int room = std::max(0, width - 1);  // the caret may stand behind the last character
  auto cells = [&](size_t from, size_t to) {
    int n = 0;
    for (size_t i = from; i < to; ++i) n += chars[i].cells;
    return n;
  };
  size_t first = std::min(line->scroll, chars.size());
  if (caret < first) first = caret;
  while (first < caret && cells(first, caret) > room) ++first;
  while (first > 0 && cells(first - 1, chars.size()) <= room) --first;  // no room left unused
  line->scroll = first;
  Fill(row, col, width, U'_', attr);
  int used = 0;
  for (size_t i = first; i < chars.size() && used + chars[i].cells <= width; ++i) {
    used += Put(row, col + used, Encode(chars[i].cp), attr, chars[i].cells);
  }
  if (cursor) {
    g_canvas.cursorRow = row;
    g_canvas.cursorCol = col + std::min(cells(first, caret), width - 1);
  }
}

// The keys of an edit line: typing inserts at the caret, Backspace and Delete
// remove the character before and after it, the arrows, Home and End move
// it. `maxCells` (negative: none) and `limit` (0: none) bound the text.
EditResult EditLineKey(EditLine* line, UINT vk, WCHAR ch, int maxCells, size_t limit) {
  u16string& t = line->text;
  size_t& caret = line->caret;
  caret = std::min(caret, t.size());
  if ((vk == 0 || vk == VK_SPACE) && ch >= 0x20) {
    if (maxCells >= 0 && TextWidth(t) + winterm::CharWidth(ch) > maxCells) return EditResult::kMoved;
    if (limit != 0 && t.size() >= limit) return EditResult::kMoved;
    t.insert(caret, 1, ch);
    ++caret;
    return EditResult::kChanged;
  }
  switch (vk) {
    case VK_BACK: {
      if (caret == 0) return EditResult::kMoved;
      const size_t p = PrevChar(t, caret);
      t.erase(p, caret - p);
      caret = p;
      return EditResult::kChanged;
    }
    case VK_DELETE:
      if (caret >= t.size()) return EditResult::kMoved;
      t.erase(caret, NextChar(t, caret) - caret);
      return EditResult::kChanged;
    case VK_LEFT: caret = PrevChar(t, caret); return EditResult::kMoved;
    case VK_RIGHT: caret = NextChar(t, caret); return EditResult::kMoved;
    case VK_HOME: caret = 0; return EditResult::kMoved;
    case VK_END: caret = t.size(); return EditResult::kMoved;
    default: return EditResult::kIgnored;
  }
}

// Text cut to fit `cells` cells with one to spare; a cut text ends in "~".
u16string Fit(const u16string& text, int cells, int* used) {
  int w = TextWidth(text);
  if (w <= cells - 1) {
    *used = w;
    return text;
  }
  u16string t;
  w = 0;
  for (char32_t cp : Decode(text)) {
    const int cw = winterm::CharWidth(cp);
    if (w + cw > cells - 2) break;
    w += cw;
    t += Encode(cp);
  }
  *used = w + 1;
  return t + u"~";
}

}  // namespace winui

namespace winterm {

void Canvas::Reset(int r, int c) {
  rows = r;
  cols = c;
  cells.assign(static_cast<size_t>(r) * c, Cell{});
  cursorRow = cursorCol = -1;
}

int CharWidth(char32_t c) {
  if (c == 0) return 0;
  if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
      (c >= 0x20000 && c <= 0x3FFFD))
    return 2;
  return 1;
}

}  // namespace winterm

int TerminalCharWidth(char32_t c) { return winterm::CharWidth(c); }
