// The window layer: windows, controls, messages, the dialog manager's
// keyboard handling, menus, message boxes and drawing into the cell grid.
//
// One lock guards every window and the grid, because the progress window is
// created, drawn and destroyed on the progress thread while the main thread
// runs its dialogs. The lock is never held while a dialog procedure runs:
// the main thread calls the extraction from inside a procedure, and the
// progress thread must be able to draw meanwhile.
#include "platform/window.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_terminal.h"

namespace {

using std::u16string;

constexpr int kDluPerCol = 3, kDluPerRow = 8;
constexpr int kPxPerCol = 6, kPxPerRow = 26;

struct ListRow {
  u16string text;
  std::vector<u16string> sub;  // sub-items 1 and on
  int image = 0;
  LPARAM param = 0;
  bool focused = false;
};
struct ListColumn {
  u16string text;
  int fmt = LVCFMT_LEFT;
  int cx = 0;  // pixels
};

// One line of editable text: an edit control's, or a list row's while it is
// renamed. The caret is an offset into the UTF-16 text, always between two
// characters; `scroll` is the first character shown.
struct EditLine {
  u16string text;
  size_t caret = 0;
  size_t scroll = 0;
  void SetText(const u16string& t) {
    text = t;
    caret = t.size();
    scroll = 0;
  }
};

}  // namespace

struct Window {
  bool isDialog = false;
  ControlKind kind = ControlKind::Label;
  int id = 0;
  DWORD style = 0, exStyle = 0;
  u16string text;
  Window* parent = nullptr;  // the dialog, for controls
  Window* owner = nullptr;   // for dialogs
  std::vector<Window*> children;
  RECT rect{};  // cells: screen for dialogs, parent's client area for controls
  bool visible = false, enabled = true;
  LONG_PTR userData = 0, msgResult = 0;
  std::thread::id thread;
  // dialog
  DLGPROC proc = nullptr;
  Window* focus = nullptr;
  bool ended = false;
  INT_PTR result = 0;
  bool fullScreen = false;
  const MenuTemplate* menu = nullptr;
  // check box, edit (the text is in `line`; `text` mirrors it)
  int check = BST_UNCHECKED;
  EditLine line;
  WCHAR passwordChar = 0;
  size_t limit = 0;  // 0: none
  // list view
  std::vector<ListRow> rows;
  std::vector<ListColumn> columns;
  DWORD lvExStyle = 0;
  int top = 0;
  bool editing = false;
  int editRow = -1;
  EditLine editLine;
  HIMAGELIST images = nullptr;
  // drop-down list
  std::vector<u16string> entries;
  int current = -1;
};

struct ImageList {
  int count = 0;
  int capacity = 0;
};

namespace {

// The window layer's state is never destroyed: a fatal error ends the
// program with exit() while the progress thread may still be drawing, and
// must not pull the windows away under it.
std::recursive_mutex& g_ui = *new std::recursive_mutex;
std::vector<Window*>& g_topLevels = *new std::vector<Window*>;  // z order, last on top
std::set<Window*>& g_live = *new std::set<Window*>;
HINSTANCE g_module = nullptr;
int g_screenRows = 24, g_screenCols = 80;
bool g_dirty = true;
winterm::Canvas& g_canvas = *new winterm::Canvas;
IdleDriver g_idleDriver = nullptr;
void* g_idleContext = nullptr;
std::map<std::thread::id, std::deque<MSG>>& g_queues = *new std::map<std::thread::id, std::deque<MSG>>;
std::thread::id g_inputThread;  // the thread that reads the terminal
int g_modalDepth = 0;

// The open menu of a menu bar (F10), if any.
struct OpenMenu {
  Window* dialog = nullptr;
  int popup = 0, item = 0;
} g_menu;

using Lock = std::lock_guard<std::recursive_mutex>;

Window* W(HWND h) {
  Window* w = reinterpret_cast<Window*>(h);
  return (w != nullptr && g_live.count(w) != 0) ? w : nullptr;
}
HWND H(Window* w) { return reinterpret_cast<HWND>(w); }

u16string Str(LPCWSTR s) { return s != nullptr ? u16string(s) : u16string(); }

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

// UTF-16 to code points, for the grid.
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

// A code point as UTF-16.
u16string Encode(char32_t cp) {
  if (cp < 0x10000) return u16string(1, static_cast<WCHAR>(cp));
  return {static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10)), static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
}

int TextWidth(const u16string& s) {
  int w = 0;
  for (char32_t c : Decode(s)) w += winterm::CharWidth(c);
  return w;
}

void MarkDirty() { g_dirty = true; }

// ---------------------------------------------------------------- drawing

// Writes text at a cell, at most maxCells wide; returns the cells used.
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

enum class EditResult { kIgnored, kMoved, kChanged };

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

// A row's name as shown: folders are marked with "/".
u16string RowName(const ListRow& row) { return row.text + (row.image == 1 ? u"/" : u""); }

bool IsReport(const Window* c) { return (c->style & LVS_TYPEMASK) == LVS_REPORT; }

// Where a list view's rows go. In report view one row of the control is
// one row of the list, below the column headers. In list view the names
// flow down a column and on into the next, the columns as wide as the
// widest name, as many side by side as the control's width holds; the view
// scrolls sideways by whole columns.
struct ListGeometry {
  int rows = 1;      // list rows per column
  int columns = 1;   // columns shown at once
  int cellWidth = 1; // cells per column
};
ListGeometry ListLayout(const Window* c) {
  ListGeometry g;
  const int width = std::max(1, static_cast<int>(c->rect.right - c->rect.left));
  const int height = c->rect.bottom - c->rect.top;
  if (IsReport(c)) {
    g.rows = std::max(1, height - 1);
    g.cellWidth = width;
    return g;
  }
  g.rows = std::max(1, height);
  int widest = 1;
  for (const ListRow& row : c->rows) widest = std::max(widest, TextWidth(RowName(row)));
  g.cellWidth = std::min(width, widest + 2);
  g.columns = std::max(1, width / g.cellWidth);
  return g;
}

// One row of a list view as shown: the name, and in report view the columns.
u16string ListLine(const Window* c, const ListRow& row, int width) {
  const u16string name = RowName(row);
  int w;
  if (!IsReport(c) || c->columns.empty()) return PadRight(Fit(name, width, &w), width);
  u16string line;
  for (size_t i = 0; i < c->columns.size(); ++i) {
    const ListColumn& col = c->columns[i];
    const int cells = std::max(1, col.cx / kPxPerCol);
    u16string t = Fit(i == 0 ? name : (i - 1 < row.sub.size() ? row.sub[i - 1] : u16string()), cells, &w);
    if (col.fmt == LVCFMT_RIGHT) t = Repeat(u' ', static_cast<size_t>(std::max(0, cells - 1 - w))) + t + u" ";
    else t = PadRight(t, cells);
    line += t;
  }
  return PadRight(line, width);
}

// Rows one page holds.
int ListVisibleRows(const Window* c) {
  const ListGeometry g = ListLayout(c);
  return g.rows * g.columns;
}
int ListFocus(const Window* c) {
  for (size_t i = 0; i < c->rows.size(); ++i)
    if (c->rows[i].focused) return static_cast<int>(i);
  return -1;
}
void ListScrollToFocus(Window* c) {
  const int f = ListFocus(c);
  const ListGeometry g = ListLayout(c);
  if (f < 0) {
    if (!IsReport(c)) c->top -= c->top % g.rows;  // columns start at a multiple of their height
    return;
  }
  if (IsReport(c)) {
    if (f < c->top) c->top = f;
    if (f >= c->top + g.rows) c->top = f - g.rows + 1;
    return;
  }
  int first = c->top / g.rows;  // the first column shown
  const int column = f / g.rows;
  if (column < first) first = column;
  if (column >= first + g.columns) first = column - g.columns + 1;
  c->top = first * g.rows;
}

Window* ActiveDialog();

void DrawControl(Window* d, Window* c, bool dialogActive) {
  if (!c->visible) return;
  const int r0 = d->rect.top + 1 + c->rect.top, c0 = d->rect.left + 1 + c->rect.left;
  const int clientRight = d->rect.right - 1;
  const int width = std::max(0, std::min(c->rect.right - c->rect.left, clientRight - c0));
  const bool focused = dialogActive && d->focus == c;
  const uint8_t dim = c->enabled ? winterm::kPlain : winterm::kDim;
  switch (c->kind) {
    case ControlKind::Label: {
      size_t start = 0;
      int row = r0;
      while (start <= c->text.size() && row < d->rect.top + 1 + c->rect.bottom) {
        const size_t nl = c->text.find(u'\n', start);
        const u16string line = c->text.substr(start, nl == u16string::npos ? u16string::npos : nl - start);
        Put(row++, c0, line, dim, width);
        if (nl == u16string::npos) break;
        start = nl + 1;
      }
      break;
    }
    case ControlKind::Icon:
      Put(r0, c0, u"[DV]", winterm::kBold, width);
      break;
    case ControlKind::Button: {
      const bool def = (c->style & 0xF) == BS_DEFPUSHBUTTON;
      const u16string open = def ? u"<" : u"[", close = def ? u">" : u"]";
      uint8_t attr = dim | (focused ? winterm::kReverse : 0);
      const int inner = std::max(0, width - 2);
      u16string t = c->text;
      const int tw = std::min(TextWidth(t), inner);
      const int left = (inner - tw) / 2;
      Put(r0, c0, open + Repeat(u' ', static_cast<size_t>(inner)) + close, attr, width);
      Put(r0, c0 + 1 + left, t, attr, inner);
      break;
    }
    case ControlKind::CheckBox: {
      const u16string box = c->check == BST_CHECKED ? u"[x] " : u"[ ] ";
      Put(r0, c0, box + c->text, dim | (focused ? winterm::kReverse : 0), width);
      break;
    }
    case ControlKind::Edit:
      DrawEditLine(r0, c0, width, &c->line, c->passwordChar, winterm::kUnderline | dim, focused);
      break;
    case ControlKind::ComboBox: {
      const u16string t = c->current >= 0 && c->current < static_cast<int>(c->entries.size())
                              ? c->entries[static_cast<size_t>(c->current)]
                              : u16string();
      const uint8_t attr = dim | (focused ? winterm::kReverse : winterm::kUnderline);
      Put(r0, c0, PadRight(t, std::max(0, width - 2)), attr, std::max(0, width - 2));
      Put(r0, c0 + width - 2, u" v", attr, 2);
      break;
    }
    case ControlKind::ListView: {
      const int height = c->rect.bottom - c->rect.top;
      int row = r0;
      if ((c->style & LVS_TYPEMASK) == LVS_REPORT) {
        u16string header;
        for (const ListColumn& col : c->columns) {
          const int cells = std::max(1, col.cx / kPxPerCol);
          header += col.fmt == LVCFMT_RIGHT ? Repeat(u' ', static_cast<size_t>(std::max(0, cells - 1 - TextWidth(col.text)))) + col.text + u" "
                                            : PadRight(col.text, cells);
        }
        Put(row++, c0, PadRight(header, width), winterm::kUnderline | winterm::kBold, width);
      }
      const ListGeometry g = ListLayout(c);
      const int shown = g.rows * g.columns;
      int editAt = -1, editLeft = 0;
      for (int i = 0; i < shown && c->top + i < static_cast<int>(c->rows.size()); ++i) {
        const int index = c->top + i;
        const ListRow& lr = c->rows[static_cast<size_t>(index)];
        const int at = row + i % g.rows, left = c0 + (i / g.rows) * g.cellWidth;
        const int cells = std::min(g.cellWidth, width - (left - c0));
        if (cells <= 0) break;
        uint8_t attr = dim;
        if (lr.focused) attr |= focused ? winterm::kReverse : winterm::kBold;
        if (c->editing && c->editRow == index) {
          editAt = at;
          editLeft = left;
        } else {
          // The highlight spans the name, not the spacing between columns.
          int used;
          const u16string name = IsReport(c) ? ListLine(c, lr, cells) : Fit(RowName(lr), cells, &used);
          Put(at, left, name, attr, cells);
        }
      }
      // A rename may use the rest of the line, over the columns to its right.
      if (editAt >= 0) DrawEditLine(editAt, editLeft, width - (editLeft - c0), &c->editLine, 0, winterm::kUnderline, dialogActive);
      if (c->rows.empty() && height > 0) Put(r0 + ((c->style & LVS_TYPEMASK) == LVS_REPORT ? 1 : 0), c0, u"(empty)", winterm::kDim, width);
      break;
    }
  }
}

void DrawDialog(Window* d, bool active) {
  const int top = d->rect.top, left = d->rect.left;
  const int w = d->rect.right - d->rect.left, h = d->rect.bottom - d->rect.top;
  if (w < 2 || h < 2) return;
  const uint8_t frame = active ? winterm::kBold : winterm::kPlain;
  for (int r = top; r < top + h; ++r) Fill(r, left, w, U' ', winterm::kPlain);
  Fill(top, left + 1, w - 2, U'─', frame);
  Fill(top + h - 1, left + 1, w - 2, U'─', frame);
  for (int r = top + 1; r < top + h - 1; ++r) {
    Put(r, left, u"│", frame, 1);
    Put(r, left + w - 1, u"│", frame, 1);
  }
  Put(top, left, u"┌", frame, 1);
  Put(top, left + w - 1, u"┐", frame, 1);
  Put(top + h - 1, left, u"└", frame, 1);
  Put(top + h - 1, left + w - 1, u"┘", frame, 1);
  u16string buttons;
  if (d->exStyle & WS_EX_CAPTIONOKBTN) buttons += u"[OK]";
  if (d->style & WS_SYSMENU) buttons += u"[x]";
  const int bw = TextWidth(buttons);
  if (!d->text.empty()) Put(top, left + 2, u" " + d->text + u" ", frame | (active ? winterm::kReverse : 0), w - 4 - bw);
  if (bw > 0 && bw < w - 2) Put(top, left + w - 1 - bw, buttons, frame, bw);
  for (Window* c : d->children) DrawControl(d, c, active);
}

void DrawMenuBar(Window* d) {
  const int row = g_canvas.rows - 1;
  Fill(row, 0, g_canvas.cols, U' ', winterm::kReverse);
  u16string bar = u" F10:";
  std::vector<int> starts;
  for (int i = 0; i < d->menu->popupCount; ++i) {
    bar += u"  ";
    starts.push_back(TextWidth(bar));
    bar += d->menu->popups[i].text;
  }
  Put(row, 0, bar, winterm::kReverse, g_canvas.cols);
  if (g_menu.dialog != d) return;
  const MenuPopup& p = d->menu->popups[g_menu.popup];
  Put(row, starts[static_cast<size_t>(g_menu.popup)], p.text, winterm::kBold, g_canvas.cols);
  int width = 0;
  for (int i = 0; i < p.itemCount; ++i) width = std::max(width, TextWidth(p.items[i].text));
  width += 4;
  const int left = std::min(starts[static_cast<size_t>(g_menu.popup)] - 1, g_canvas.cols - width);
  const int top = row - p.itemCount - 2;
  Put(top, left, u"┌" + Repeat(u'─', static_cast<size_t>(width - 2)) + u"┐", winterm::kBold, width);
  for (int i = 0; i < p.itemCount; ++i) {
    Put(top + 1 + i, left, u"│", winterm::kBold, 1);
    Put(top + 1 + i, left + 1, PadRight(u" " + Str(p.items[i].text), width - 2),
        i == g_menu.item ? winterm::kReverse : winterm::kPlain, width - 2);
    Put(top + 1 + i, left + width - 1, u"│", winterm::kBold, 1);
  }
  Put(row - 1, left, u"└" + Repeat(u'─', static_cast<size_t>(width - 2)) + u"┘", winterm::kBold, width);
}

// Draws every window into the grid and, with a terminal, shows it.
void Render() {
  Lock lock(g_ui);
  g_canvas.Reset(g_screenRows, g_screenCols);
  Window* active = ActiveDialog();
  Window* menuOwner = nullptr;
  // The dialog that takes the keys is drawn last: the progress window, made
  // on its own thread, may come up after a prompt and must not cover it.
  for (Window* d : g_topLevels) {
    if (!d->visible) continue;
    if (d != active) DrawDialog(d, false);
    if (d->menu != nullptr) menuOwner = d;
  }
  if (active != nullptr) DrawDialog(active, true);
  if (menuOwner != nullptr) DrawMenuBar(menuOwner);
  g_dirty = false;
  if (winterm::IsOpen()) winterm::Present(g_canvas);
}

// The dialog that takes the keys: the topmost visible, enabled one that is
// not a tool window (the progress window never takes the focus).
Window* ActiveDialog() {
  for (auto it = g_topLevels.rbegin(); it != g_topLevels.rend(); ++it) {
    Window* d = *it;
    if (d->visible && d->enabled && (d->exStyle & WS_EX_TOOLWINDOW) == 0) return d;
  }
  return nullptr;
}

// ---------------------------------------------------------------- geometry

void PlaceCentered(Window* d) {
  const int w = d->rect.right - d->rect.left, h = d->rect.bottom - d->rect.top;
  const int left = std::max(0, (g_screenCols - w) / 2), top = std::max(0, (g_screenRows - h) / 2);
  d->rect = {left, top, left + w, top + h};
}

// The full-screen layout: the work area less the menu bar's row.
void PlaceFullScreen(Window* d) { d->rect = {0, 0, g_screenCols, std::max(3, g_screenRows - 1)}; }

// ---------------------------------------------------------------- queues

std::deque<MSG>& Queue(std::thread::id t) { return g_queues[t]; }

// ---------------------------------------------------------------- controls

bool IsTabStop(const Window* c) {
  return c->visible && c->enabled && c->kind != ControlKind::Label && c->kind != ControlKind::Icon;
}

struct Notice {
  Window* to;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

LRESULT SendToDialog(Window* d, UINT message, WPARAM wParam, LPARAM lParam);

// A control's own handling of a message. Runs under the lock; a
// notification it must send to its dialog is returned in *notice instead.
LRESULT ControlMessage(Window* c, UINT message, WPARAM wParam, LPARAM lParam, Notice* notice) {
  switch (message) {
    case WM_SETTEXT:
      c->text = Str(reinterpret_cast<LPCWSTR>(lParam));
      c->line.SetText(c->text);
      MarkDirty();
      return TRUE;
    case WM_GETTEXT:
      return CopyOut(c->text, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(c->text.size());
  }
  switch (c->kind) {
    case ControlKind::Button:
    case ControlKind::CheckBox:
      if (message == BM_GETCHECK) return c->check;
      if (message == BM_SETCHECK) {
        c->check = static_cast<int>(wParam) == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
        MarkDirty();
        return 0;
      }
      if (message == BM_CLICK) {
        if (!c->enabled) return 0;
        if (c->kind == ControlKind::CheckBox) c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        MarkDirty();
        *notice = {c->parent, WM_COMMAND, MAKEWPARAM(c->id, BN_CLICKED), reinterpret_cast<LPARAM>(c)};
        return 0;
      }
      return 0;
    case ControlKind::Edit:
      if (message == EM_SETPASSWORDCHAR) {
        c->passwordChar = static_cast<WCHAR>(wParam);
        MarkDirty();
        return TRUE;
      }
      if (message == EM_GETPASSWORDCHAR) return c->passwordChar;
      if (message == EM_LIMITTEXT) {
        c->limit = wParam;
        return 0;
      }
      return 0;
    case ControlKind::ComboBox:
      switch (message) {
        case CB_RESETCONTENT:
          c->entries.clear();
          c->current = -1;
          MarkDirty();
          return 0;
        case CB_ADDSTRING:
        case CB_INSERTSTRING: {
          const int at = message == CB_ADDSTRING ? -1 : static_cast<int>(wParam);
          const u16string s = Str(reinterpret_cast<LPCWSTR>(lParam));
          if (at < 0 || at >= static_cast<int>(c->entries.size())) {
            c->entries.push_back(s);
            return static_cast<LRESULT>(c->entries.size() - 1);
          }
          c->entries.insert(c->entries.begin() + at, s);
          if (c->current >= at) ++c->current;
          MarkDirty();
          return at;
        }
        case CB_GETCOUNT:
          return static_cast<LRESULT>(c->entries.size());
        case CB_GETCURSEL:
          return c->current;
        case CB_SETCURSEL:
          c->current = static_cast<int>(wParam) < static_cast<int>(c->entries.size()) ? static_cast<int>(wParam) : -1;
          MarkDirty();
          return c->current < 0 ? CB_ERR : c->current;
        case CB_GETLBTEXT:
        case CB_GETLBTEXTLEN: {
          if (wParam >= c->entries.size()) return CB_ERR;
          const u16string& s = c->entries[wParam];
          if (message == CB_GETLBTEXTLEN) return static_cast<LRESULT>(s.size());
          LPWSTR out = reinterpret_cast<LPWSTR>(lParam);
          std::copy(s.begin(), s.end(), out);
          out[s.size()] = 0;
          return static_cast<LRESULT>(s.size());
        }
        case CB_SELECTSTRING: {
          // The first entry beginning with the text (letter case ignored),
          // searched after `start` and wrapping round.
          const u16string s = Str(reinterpret_cast<LPCWSTR>(lParam));
          const int n = static_cast<int>(c->entries.size());
          const int start = static_cast<int>(static_cast<intptr_t>(wParam));
          for (int k = 1; k <= n; ++k) {
            const int i = ((start < 0 ? -1 : start) + k + n) % n;
            const u16string& e = c->entries[static_cast<size_t>(i)];
            if (e.size() >= s.size() && CompareNoCase(e.substr(0, s.size()), s) == 0) {
              c->current = i;
              MarkDirty();
              return i;
            }
          }
          return CB_ERR;
        }
      }
      return 0;
    case ControlKind::ListView:
      switch (message) {
        case LVM_SETIMAGELIST:
          c->images = reinterpret_cast<HIMAGELIST>(lParam);
          return 0;
        case LVM_GETITEMCOUNT:
          return static_cast<LRESULT>(c->rows.size());
        case LVM_DELETEALLITEMS:
          c->rows.clear();
          c->top = 0;
          MarkDirty();
          return TRUE;
        case LVM_SETEXTENDEDLISTVIEWSTYLE: {
          const DWORD old = c->lvExStyle;
          const DWORD mask = wParam != 0 ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
          c->lvExStyle = (old & ~mask) | (static_cast<DWORD>(lParam) & mask);
          return old;
        }
        case LVM_GETEXTENDEDLISTVIEWSTYLE:
          return c->lvExStyle;
        case LVM_INSERTCOLUMNW: {
          const auto* col = reinterpret_cast<const LVCOLUMNW*>(lParam);
          ListColumn lc;
          if (col->mask & LVCF_TEXT) lc.text = Str(col->pszText);
          if (col->mask & LVCF_FMT) lc.fmt = col->fmt;
          if (col->mask & LVCF_WIDTH) lc.cx = col->cx;
          const size_t at = std::min(static_cast<size_t>(wParam), c->columns.size());
          c->columns.insert(c->columns.begin() + static_cast<long>(at), lc);
          MarkDirty();
          return static_cast<LRESULT>(at);
        }
        case LVM_INSERTITEMW: {
          const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
          ListRow row;
          if (item->mask & LVIF_TEXT) row.text = Str(item->pszText);
          if (item->mask & LVIF_IMAGE) row.image = item->iImage;
          if (item->mask & LVIF_PARAM) row.param = item->lParam;
          size_t at = std::min(static_cast<size_t>(std::max(0, item->iItem)), c->rows.size());
          if (c->style & LVS_SORTASCENDING) {
            at = 0;
            while (at < c->rows.size() && CompareNoCase(c->rows[at].text, row.text) <= 0) ++at;
          }
          c->rows.insert(c->rows.begin() + static_cast<long>(at), row);
          MarkDirty();
          return static_cast<LRESULT>(at);
        }
        case LVM_SETITEMW:
        case LVM_GETITEMW:
        case LVM_GETITEMTEXTW: {
          auto* item = reinterpret_cast<LVITEMW*>(lParam);
          const size_t index = message == LVM_GETITEMTEXTW ? wParam : static_cast<size_t>(item->iItem);
          if (index >= c->rows.size()) return FALSE;
          ListRow& row = c->rows[index];
          const UINT mask = message == LVM_GETITEMTEXTW ? LVIF_TEXT : item->mask;
          const int sub = item->iSubItem;
          if (message == LVM_SETITEMW) {
            if (mask & LVIF_TEXT) {
              if (sub == 0) {
                row.text = Str(item->pszText);
              } else {
                if (row.sub.size() < static_cast<size_t>(sub)) row.sub.resize(static_cast<size_t>(sub));
                row.sub[static_cast<size_t>(sub - 1)] = Str(item->pszText);
              }
            }
            if (sub == 0 && (mask & LVIF_IMAGE)) row.image = item->iImage;
            if (sub == 0 && (mask & LVIF_PARAM)) row.param = item->lParam;
            MarkDirty();
            return TRUE;
          }
          if (mask & LVIF_TEXT) {
            const u16string empty;
            const u16string& t = sub == 0 ? row.text : (static_cast<size_t>(sub) <= row.sub.size() ? row.sub[static_cast<size_t>(sub - 1)] : empty);
            const int n = CopyOut(t, item->pszText, item->cchTextMax);
            if (message == LVM_GETITEMTEXTW) return n;
          }
          if (mask & LVIF_IMAGE) item->iImage = row.image;
          if (mask & LVIF_PARAM) item->lParam = row.param;
          if (mask & LVIF_STATE) item->state = row.focused ? (LVIS_FOCUSED | LVIS_SELECTED) : 0;
          return TRUE;
        }
        case LVM_GETNEXTITEM: {
          const int start = static_cast<int>(static_cast<intptr_t>(wParam));
          for (int i = start + 1; i < static_cast<int>(c->rows.size()); ++i) {
            if (LOWORD(lParam) == LVNI_ALL || c->rows[static_cast<size_t>(i)].focused) return i;
          }
          return -1;
        }
        case LVM_SETITEMSTATE: {
          const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
          const int index = static_cast<int>(static_cast<intptr_t>(wParam));
          if ((item->stateMask & (LVIS_FOCUSED | LVIS_SELECTED)) == 0) return TRUE;
          const bool on = (item->state & (LVIS_FOCUSED | LVIS_SELECTED)) != 0;
          for (size_t i = 0; i < c->rows.size(); ++i) {
            if (index < 0 || static_cast<int>(i) == index) c->rows[i].focused = on;
            else if (on) c->rows[i].focused = false;
          }
          ListScrollToFocus(c);
          MarkDirty();
          return TRUE;
        }
        case LVM_SORTITEMS: {
          auto compare = reinterpret_cast<PFNLVCOMPARE>(lParam);
          const LPARAM parameter = static_cast<LPARAM>(wParam);
          std::stable_sort(c->rows.begin(), c->rows.end(), [&](const ListRow& a, const ListRow& b) {
            return compare(a.param, b.param, parameter) < 0;
          });
          ListScrollToFocus(c);
          MarkDirty();
          return TRUE;
        }
      }
      return 0;
    default:
      return 0;
  }
}

void Deliver(const Notice& n) {
  if (n.to != nullptr) SendToDialog(n.to, n.message, n.wParam, n.lParam);
}

LRESULT SendToDialog(Window* d, UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC proc;
  {
    Lock lock(g_ui);
    if (g_live.count(d) == 0) return 0;
    proc = d->proc;
    d->msgResult = 0;
  }
  const INT_PTR handled = proc != nullptr ? proc(H(d), message, wParam, lParam) : FALSE;
  if (message == WM_INITDIALOG) return handled;
  if (handled) {
    Lock lock(g_ui);
    if (message == WM_NOTIFY && g_live.count(d) != 0) return d->msgResult;
    return handled;
  }
  // The dialog manager's own handling of what the procedure left alone.
  switch (message) {
    case WM_SETTEXT: {
      Lock lock(g_ui);
      d->text = Str(reinterpret_cast<LPCWSTR>(lParam));
      MarkDirty();
      return TRUE;
    }
    case WM_GETTEXT: {
      Lock lock(g_ui);
      return CopyOut(d->text, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
    }
    case WM_GETTEXTLENGTH: {
      Lock lock(g_ui);
      return static_cast<LRESULT>(d->text.size());
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) return SendToDialog(d, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE:
      return SendToDialog(d, WM_COMMAND, IDCANCEL, 0);
  }
  return 0;
}

// ---------------------------------------------------------------- dialogs

Window* CreateFromTemplate(const DialogTemplate* t, HWND owner, DLGPROC proc) {
  Lock lock(g_ui);
  auto* d = new Window;
  d->isDialog = true;
  d->style = t->style;
  d->exStyle = t->exStyle;
  d->text = Str(t->caption);
  d->owner = W(owner);
  d->proc = proc;
  d->thread = std::this_thread::get_id();
  d->id = t->resourceId;
  const int cols = t->cx / kDluPerCol, rows = t->cy / kDluPerRow;
  d->rect = {0, 0, cols + 2, rows + 2};
  PlaceCentered(d);
  for (int i = 0; i < t->itemCount; ++i) {
    const DialogItem& it = t->items[i];
    auto* c = new Window;
    c->kind = it.kind;
    c->id = it.id;
    c->style = it.style;
    c->text = Str(it.text);
    c->line.SetText(c->text);
    c->parent = d;
    c->thread = d->thread;
    c->visible = true;
    c->enabled = (it.style & WS_DISABLED) == 0;
    const int left = it.x / kDluPerCol, top = it.y / kDluPerRow;
    int right = std::max(left + 1, (it.x + it.cx) / kDluPerCol);
    int bottom = std::max(top + 1, (it.y + it.cy) / kDluPerRow);
    if (it.kind != ControlKind::Label && it.kind != ControlKind::ListView) bottom = top + 1;
    c->rect = {left, top, right, bottom};
    g_live.insert(c);
    d->children.push_back(c);
  }
  g_live.insert(d);
  g_topLevels.push_back(d);
  MarkDirty();
  return d;
}

void FreeWindow(Window* d) {
  for (Window* c : d->children) {
    g_live.erase(c);
    delete c;
  }
  g_live.erase(d);
  g_topLevels.erase(std::remove(g_topLevels.begin(), g_topLevels.end(), d), g_topLevels.end());
  if (g_menu.dialog == d) g_menu.dialog = nullptr;
  delete d;
  MarkDirty();
}

Window* FirstTabStop(Window* d) {
  for (Window* c : d->children)
    if (IsTabStop(c)) return c;
  return nullptr;
}

// Moves the focus, as the dialog manager does; a list view that gets the
// focus without a focused row focuses its first one.
void FocusControl(Window* d, Window* c) {
  d->focus = c;
  if (c != nullptr && c->kind == ControlKind::ListView && ListFocus(c) < 0 && !c->rows.empty()) {
    c->rows[0].focused = true;
    ListScrollToFocus(c);
  }
  MarkDirty();
}

void MoveFocus(Window* d, int step) {
  std::vector<Window*> stops;
  for (Window* c : d->children)
    if (IsTabStop(c)) stops.push_back(c);
  if (stops.empty()) return;
  auto it = std::find(stops.begin(), stops.end(), d->focus);
  int i = it == stops.end() ? (step > 0 ? -1 : 0) : static_cast<int>(it - stops.begin());
  const int n = static_cast<int>(stops.size());
  FocusControl(d, stops[static_cast<size_t>(((i + step) % n + n) % n)]);
}

void RunModalLoop(Window* d);

// ---------------------------------------------------------------- keys

void Notify(Window* list, int code, NMHDR* header) {
  header->hwndFrom = H(list);
  header->idFrom = static_cast<UINT_PTR>(list->id);
  header->code = code;
  SendToDialog(list->parent, WM_NOTIFY, static_cast<WPARAM>(list->id), reinterpret_cast<LPARAM>(header));
}

void BeginLabelEdit(Window* list) {
  int row;
  {
    Lock lock(g_ui);
    if ((list->style & LVS_EDITLABELS) == 0 || list->editing) return;
    row = ListFocus(list);
    if (row < 0) return;
  }
  NMLVDISPINFOW info{};
  info.item.iItem = row;
  Notify(list, LVN_BEGINLABELEDITW, &info.hdr);
  Lock lock(g_ui);
  if (!g_live.count(list) || list->parent->msgResult != 0) return;  // refused
  if (static_cast<size_t>(row) >= list->rows.size()) return;
  list->editing = true;
  list->editRow = row;
  list->editLine.SetText(list->rows[static_cast<size_t>(row)].text);
  MarkDirty();
}

void EndLabelEdit(Window* list, bool accept) {
  u16string text;
  int row;
  {
    Lock lock(g_ui);
    if (!list->editing) return;
    list->editing = false;
    text = list->editLine.text;
    row = list->editRow;
    MarkDirty();
  }
  NMLVDISPINFOW info{};
  info.item.iItem = row;
  info.item.mask = LVIF_TEXT;
  info.item.pszText = accept ? &text[0] : nullptr;
  info.item.cchTextMax = static_cast<int>(text.size() + 1);
  Notify(list, LVN_ENDLABELEDITW, &info.hdr);
  Lock lock(g_ui);
  if (accept && g_live.count(list) && list->parent->msgResult != 0 && static_cast<size_t>(row) < list->rows.size())
    list->rows[static_cast<size_t>(row)].text = text;
}

bool MenuKey(Window* d, UINT vk) {
  int command = 0;
  {
    Lock lock(g_ui);
    if (g_menu.dialog != d) return false;
    const int popups = d->menu->popupCount;
    const MenuPopup& p = d->menu->popups[g_menu.popup];
    switch (vk) {
      case VK_LEFT: g_menu.popup = (g_menu.popup + popups - 1) % popups; g_menu.item = 0; break;
      case VK_RIGHT: g_menu.popup = (g_menu.popup + 1) % popups; g_menu.item = 0; break;
      case VK_UP: g_menu.item = (g_menu.item + p.itemCount - 1) % p.itemCount; break;
      case VK_DOWN: g_menu.item = (g_menu.item + 1) % p.itemCount; break;
      case VK_ESCAPE: case VK_F10: g_menu.dialog = nullptr; break;
      case VK_RETURN: case VK_SPACE:
        command = p.items[g_menu.item].id;
        g_menu.dialog = nullptr;
        break;
      default: break;
    }
    MarkDirty();
  }
  if (command != 0) SendToDialog(d, WM_COMMAND, static_cast<WPARAM>(command), 0);
  return true;
}

bool ListKey(Window* d, Window* list, UINT vk, WCHAR ch) {
  if (list->editing) {
    {
      Lock lock(g_ui);
      MarkDirty();
      if (EditLineKey(&list->editLine, vk, ch, -1, MAX_PATH - 1) != EditResult::kIgnored) return true;
    }
    if (vk == VK_RETURN) EndLabelEdit(list, true);
    else if (vk == VK_ESCAPE) EndLabelEdit(list, false);
    return true;  // everything else is swallowed while a rename runs
  }
  if (vk == VK_F2) {
    BeginLabelEdit(list);
    return true;
  }
  if (vk == VK_RETURN || vk == VK_SPACE) {
    {
      // Keys act on the first row while none has the focus yet.
      Lock lock(g_ui);
      if (ListFocus(list) < 0 && !list->rows.empty()) list->rows[0].focused = true;
    }
    NMHDR h{};
    Notify(list, NM_CLICK, &h);
    if (vk == VK_RETURN && g_live.count(list)) Notify(list, NM_DBLCLK, &h);
    return true;
  }
  int delta = 0;
  {
    Lock lock(g_ui);
    const int n = static_cast<int>(list->rows.size()), page = ListVisibleRows(list);
    if (vk == 0 && ch >= 0x20 && n > 0) {
      // Typing a letter moves to the next row that begins with it.
      const int from = ListFocus(list);
      for (int k = 1; k <= n; ++k) {
        const int i = (from + k + n) % n;
        const u16string& t = list->rows[static_cast<size_t>(i)].text;
        if (!t.empty() && towupper_w(t[0]) == towupper_w(ch)) {
          for (int j = 0; j < n; ++j) list->rows[static_cast<size_t>(j)].focused = j == i;
          ListScrollToFocus(list);
          MarkDirty();
          break;
        }
      }
      return true;
    }
    const int columnStep = IsReport(list) ? 0 : ListLayout(list).rows;
    switch (vk) {
      case VK_UP: delta = -1; break;
      case VK_DOWN: delta = 1; break;
      case VK_LEFT: delta = ListFocus(list) >= columnStep ? -columnStep : 0; break;
      case VK_RIGHT: delta = columnStep; break;
      case VK_PRIOR: delta = -page; break;
      case VK_NEXT: delta = page; break;
      case VK_HOME: delta = -n; break;
      case VK_END: delta = n; break;
      default: break;
    }
    if (delta != 0 && n > 0) {
      const int f = std::clamp(ListFocus(list) + delta, 0, n - 1);
      for (int i = 0; i < n; ++i) list->rows[static_cast<size_t>(i)].focused = i == f;
      ListScrollToFocus(list);
      MarkDirty();
    }
  }
  if (vk != 0) {
    NMLVKEYDOWN key{};
    key.wVKey = static_cast<WORD>(vk);
    Notify(list, LVN_KEYDOWN, &key.hdr);
  }
  return delta != 0 || vk != 0;
}

bool ComboKey(Window* combo, UINT vk) {
  {
    Lock lock(g_ui);
    const int n = static_cast<int>(combo->entries.size());
    int next = combo->current;
    if (vk == VK_UP || vk == VK_LEFT) next = std::max(0, next - 1);
    else if (vk == VK_DOWN || vk == VK_RIGHT) next = std::min(n - 1, next + 1);
    else if (vk == VK_HOME) next = 0;
    else if (vk == VK_END) next = n - 1;
    else return false;
    if (n == 0 || next == combo->current) return true;
    combo->current = next;
    MarkDirty();
  }
  SendToDialog(combo->parent, WM_COMMAND, MAKEWPARAM(combo->id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  return true;
}

bool EditKey(Window* edit, UINT vk, WCHAR ch) {
  {
    Lock lock(g_ui);
    // Without horizontal scrolling an edit takes only what fits its width.
    const int width = edit->rect.right - edit->rect.left;
    const int maxCells = (edit->style & ES_AUTOHSCROLL) != 0 ? -1 : std::max(0, width - 1);
    const EditResult r = EditLineKey(&edit->line, vk, ch, maxCells, edit->limit);
    if (r == EditResult::kIgnored) return false;
    MarkDirty();
    if (r == EditResult::kMoved) return true;
    edit->text = edit->line.text;
  }
  SendToDialog(edit->parent, WM_COMMAND, MAKEWPARAM(edit->id, EN_CHANGE), reinterpret_cast<LPARAM>(edit));
  return true;
}

}  // namespace

// ================================================================ public

void SetModuleResources(HINSTANCE module) { g_module = module; }
HMODULE GetModuleHandleW(LPCWSTR) { return g_module; }

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (module == nullptr) return nullptr;
  const int id = static_cast<int>(reinterpret_cast<uintptr_t>(name));
  if (type == RT_DIALOG) {
    for (int i = 0; i < module->dialogCount; ++i)
      if (module->dialogs[i]->resourceId == id) return module->dialogs[i];
  } else if (type == RT_MENU) {
    for (int i = 0; i < module->menuCount; ++i)
      if (module->menus[i]->resourceId == id) return module->menus[i];
  }
  return nullptr;
}
HGLOBAL LoadResource(HMODULE, HRSRC resource) { return resource; }

HWND CreateDialogIndirectParamW(HINSTANCE, const DialogTemplate* tmpl, HWND owner, DLGPROC proc,
                                LPARAM parameter) {
  if (tmpl == nullptr) return nullptr;
  Window* d = CreateFromTemplate(tmpl, owner, proc);
  HWND first;
  {
    Lock lock(g_ui);
    first = H(FirstTabStop(d));
  }
  if (SendToDialog(d, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), parameter)) {
    Lock lock(g_ui);
    if (g_live.count(d) && d->focus == nullptr) FocusControl(d, W(first));
  }
  Lock lock(g_ui);
  if (g_live.count(d) == 0) return nullptr;
  if (d->style & WS_VISIBLE) d->visible = true;
  return H(d);
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, const DialogTemplate* tmpl, HWND owner, DLGPROC proc,
                                LPARAM parameter) {
  if (tmpl == nullptr) return -1;
  Window* ownerWindow;
  bool ownerWasEnabled = false;
  {
    Lock lock(g_ui);
    ownerWindow = W(owner);
    if (ownerWindow != nullptr) {
      ownerWasEnabled = ownerWindow->enabled;
      ownerWindow->enabled = false;
    }
  }
  HWND h = CreateDialogIndirectParamW(instance, tmpl, owner, proc, parameter);
  Window* d = W(h);
  INT_PTR result = -1;
  if (d != nullptr) {
    {
      Lock lock(g_ui);
      d->visible = true;
      MarkDirty();
    }
    RunModalLoop(d);
    {
      Lock lock(g_ui);
      result = d->result;
    }
    DestroyWindow(h);
  }
  Lock lock(g_ui);
  if (ownerWindow != nullptr && g_live.count(ownerWindow)) ownerWindow->enabled = ownerWasEnabled;
  MarkDirty();
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  Lock lock(g_ui);
  Window* d = W(dialog);
  if (d == nullptr || !d->isDialog) return FALSE;
  d->ended = true;
  d->result = result;
  return TRUE;
}

BOOL DestroyWindow(HWND window) {
  Window* d;
  {
    Lock lock(g_ui);
    d = W(window);
    if (d == nullptr || !d->isDialog) return FALSE;
  }
  SendToDialog(d, WM_DESTROY, 0, 0);
  {
    Lock lock(g_ui);
    FreeWindow(d);
  }
  Render();
  return TRUE;
}

BOOL IsWindow(HWND window) {
  Lock lock(g_ui);
  return W(window) != nullptr;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Notice notice{};
  LRESULT result;
  Window* dialog = nullptr;
  {
    Lock lock(g_ui);
    Window* w = W(window);
    if (w == nullptr) return 0;
    if (w->isDialog) dialog = w;
    else result = ControlMessage(w, message, wParam, lParam, &notice);
  }
  if (dialog != nullptr) return SendToDialog(dialog, message, wParam, lParam);
  Deliver(notice);
  return result;
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(GetDlgItem(dialog, id), message, wParam, lParam);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Lock lock(g_ui);
  Window* w = W(window);
  Queue(w != nullptr ? w->thread : std::this_thread::get_id()).push_back({window, message, wParam, lParam});
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  Lock lock(g_ui);
  Queue(std::this_thread::get_id()).push_back({nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
}

BOOL PeekMessageW(MSG* msg, HWND, UINT, UINT, UINT remove) {
  Lock lock(g_ui);
  auto& q = Queue(std::this_thread::get_id());
  if (q.empty()) return FALSE;
  *msg = q.front();
  if (remove & PM_REMOVE) q.pop_front();
  return TRUE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* msg) {
  if (msg->hwnd == nullptr) return 0;
  return SendMessageW(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void keybd_event(BYTE vk, BYTE, DWORD flags, uintptr_t) {
  if (flags & KEYEVENTF_KEYUP) return;
  Lock lock(g_ui);
  Queue(std::this_thread::get_id()).push_back({nullptr, WM_KEYDOWN, vk, 0});
}

HWND GetDlgItem(HWND dialog, int id) {
  Lock lock(g_ui);
  Window* d = W(dialog);
  if (d == nullptr) return nullptr;
  for (Window* c : d->children)
    if (c->id == id) return H(c);
  return nullptr;
}

int GetDlgCtrlID(HWND control) {
  Lock lock(g_ui);
  Window* c = W(control);
  return c != nullptr ? c->id : 0;
}

HWND GetParent(HWND window) {
  Lock lock(g_ui);
  Window* w = W(window);
  return w == nullptr ? nullptr : H(w->isDialog ? w->owner : w->parent);
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
  return SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
}
int GetWindowTextW(HWND window, LPWSTR text, int size) {
  if (text != nullptr && size > 0) text[0] = 0;
  return static_cast<int>(SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(text)));
}
int GetWindowTextLengthW(HWND window) { return static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0)); }
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) { return SetWindowTextW(GetDlgItem(dialog, id), text); }
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int size) {
  return static_cast<UINT>(GetWindowTextW(GetDlgItem(dialog, id), text, size));
}
BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  SendDlgItemMessageW(dialog, id, BM_SETCHECK, check, 0);
  return TRUE;
}
UINT IsDlgButtonChecked(HWND dialog, int id) {
  return static_cast<UINT>(SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0));
}

BOOL EnableWindow(HWND window, BOOL enable) {
  Lock lock(g_ui);
  Window* w = W(window);
  if (w == nullptr) return FALSE;
  const BOOL wasDisabled = !w->enabled;
  w->enabled = enable != FALSE;
  if (!w->enabled && !w->isDialog && w->parent->focus == w) w->parent->focus = nullptr;
  MarkDirty();
  return wasDisabled;
}
BOOL IsWindowEnabled(HWND window) {
  Lock lock(g_ui);
  Window* w = W(window);
  return w != nullptr && w->enabled;
}
BOOL ShowWindow(HWND window, int command) {
  Lock lock(g_ui);
  Window* w = W(window);
  if (w == nullptr) return FALSE;
  const BOOL was = w->visible;
  w->visible = command != SW_HIDE;
  if (!w->visible && !w->isDialog && w->parent->focus == w) w->parent->focus = nullptr;
  MarkDirty();
  return was;
}
BOOL IsWindowVisible(HWND window) {
  Lock lock(g_ui);
  Window* w = W(window);
  return w != nullptr && w->visible;
}
BOOL UpdateWindow(HWND window) {
  if (!IsWindow(window)) return FALSE;
  Render();
  return TRUE;
}
BOOL InvalidateRect(HWND, const RECT*, BOOL) {
  Lock lock(g_ui);
  MarkDirty();
  return TRUE;
}

HWND SetFocus(HWND window) {
  Lock lock(g_ui);
  Window* w = W(window);
  if (w == nullptr) return nullptr;
  Window* d = w->isDialog ? w : w->parent;
  Window* old = d->focus;
  if (!w->isDialog) FocusControl(d, w);
  return H(old);
}
HWND GetFocus() {
  Lock lock(g_ui);
  Window* d = ActiveDialog();
  return d != nullptr ? H(d->focus) : nullptr;
}

BOOL SetForegroundWindow(HWND window) {
  Lock lock(g_ui);
  Window* w = W(window);
  if (w == nullptr || !w->isDialog) return FALSE;
  g_topLevels.erase(std::remove(g_topLevels.begin(), g_topLevels.end(), w), g_topLevels.end());
  g_topLevels.push_back(w);
  MarkDirty();
  return TRUE;
}

LONG_PTR SetWindowLongW(HWND window, int index, LONG_PTR value) {
  Lock lock(g_ui);
  Window* w = W(window);
  if (w == nullptr) return 0;
  LONG_PTR old = 0;
  switch (index) {
    case GWL_USERDATA: old = w->userData; w->userData = value; break;
    case DWL_MSGRESULT: old = w->msgResult; w->msgResult = value; break;
    case GWL_STYLE: old = static_cast<LONG_PTR>(w->style); w->style = static_cast<DWORD>(value); break;
    case GWL_EXSTYLE: old = static_cast<LONG_PTR>(w->exStyle); w->exStyle = static_cast<DWORD>(value); break;
    default: break;
  }
  if (w->kind == ControlKind::ListView) ListScrollToFocus(w);
  MarkDirty();
  return old;
}
LONG_PTR GetWindowLongW(HWND window, int index) {
  Lock lock(g_ui);
  Window* w = W(window);
  if (w == nullptr) return 0;
  switch (index) {
    case GWL_USERDATA: return w->userData;
    case DWL_MSGRESULT: return w->msgResult;
    case GWL_STYLE: return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(w->exStyle);
    default: return 0;
  }
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
  Lock lock(g_ui);
  Window* w = W(window);
  if (w == nullptr) return FALSE;
  RECT r = w->rect;
  if ((flags & SWP_NOMOVE) == 0) {
    const LONG width = r.right - r.left, height = r.bottom - r.top;
    r.left = x / kPxPerCol;
    r.top = y / kPxPerRow;
    r.right = r.left + width;
    r.bottom = r.top + height;
  }
  if ((flags & SWP_NOSIZE) == 0) {
    const LONG right = (x + cx) / kPxPerCol, bottom = (y + cy) / kPxPerRow;
    r.right = std::max(r.left + 1, (flags & SWP_NOMOVE) ? r.left + cx / kPxPerCol : right);
    r.bottom = std::max(r.top + 1, (flags & SWP_NOMOVE) ? r.top + cy / kPxPerRow : bottom);
  }
  w->rect = r;
  if (w->kind == ControlKind::ListView) ListScrollToFocus(w);
  MarkDirty();
  return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  Lock lock(g_ui);
  Window* w = W(window);
  if (w == nullptr) return FALSE;
  const int border = w->isDialog ? 2 : 0;
  *rect = {0, 0, (w->rect.right - w->rect.left - border) * kPxPerCol,
           (w->rect.bottom - w->rect.top - border) * kPxPerRow};
  return TRUE;
}
BOOL GetWindowRect(HWND window, RECT* rect) {
  Lock lock(g_ui);
  Window* w = W(window);
  if (w == nullptr) return FALSE;
  *rect = {w->rect.left * kPxPerCol, w->rect.top * kPxPerRow, w->rect.right * kPxPerCol, w->rect.bottom * kPxPerRow};
  return TRUE;
}

BOOL SystemParametersInfoW(UINT action, UINT, void* value, UINT) {
  if (action != SPI_GETWORKAREA) return FALSE;
  Lock lock(g_ui);
  *static_cast<RECT*>(value) = {0, 0, g_screenCols * kPxPerCol, g_screenRows * kPxPerRow};
  return TRUE;
}

int GetSystemMetrics(int index) { return (index == SM_CXSMICON || index == SM_CYSMICON) ? 16 : 0; }

HCURSOR LoadCursorW(HINSTANCE, LPCWSTR name) { return name; }
HCURSOR SetCursor(HCURSOR cursor) {
  static HCURSOR current = nullptr;
  Lock lock(g_ui);
  HCURSOR old = current;
  current = cursor;
  return old;
}
HIMAGELIST ImageList_Create(int, int, UINT, int initial, int) {
  auto* list = new ImageList;
  list->capacity = initial;
  return list;
}
int ImageList_ReplaceIcon(HIMAGELIST list, int index, HICON) {
  if (list == nullptr) return -1;
  if (index >= 0 && index < list->count) return index;
  if (list->count >= list->capacity) return -1;
  return list->count++;
}
BOOL ImageList_Destroy(HIMAGELIST list) {
  delete list;
  return list != nullptr;
}
int ImageList_GetImageCount(HIMAGELIST list) { return list != nullptr ? list->count : 0; }
HICON LoadImageW(HINSTANCE, LPCWSTR name, UINT, int, int, UINT) { return name; }

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
  HRSRC menu = FindResourceW(info->hInstRes, MAKEINTRESOURCEW(info->nToolBarId), RT_MENU);
  Lock lock(g_ui);
  Window* d = W(info->hwndParent);
  if (d == nullptr || menu == nullptr) return FALSE;
  d->menu = static_cast<const MenuTemplate*>(menu);
  info->hwndMB = info->hwndParent;
  MarkDirty();
  return TRUE;
}

BOOL SHInitDialog(SHINITDLGINFO* info) {
  Lock lock(g_ui);
  Window* d = W(info->hDlg);
  if (d == nullptr) return FALSE;
  if ((info->dwMask & SHIDIM_FLAGS) && (info->dwFlags & SHIDIF_SIZEDLGFULLSCREEN)) {
    d->fullScreen = true;
    PlaceFullScreen(d);
    MarkDirty();
  }
  return TRUE;
}
BOOL SHDoneButton(HWND dialog, DWORD) { return IsWindow(dialog); }

void GetScreenSize(int* rows, int* cols) {
  Lock lock(g_ui);
  *rows = g_screenRows;
  *cols = g_screenCols;
}

void SetScreenSize(int rows, int cols) {
  std::vector<Window*> resized;
  {
    Lock lock(g_ui);
    g_screenRows = std::max(rows, 4);
    g_screenCols = std::max(cols, 10);
    for (Window* d : g_topLevels) {
      if (d->fullScreen) {
        PlaceFullScreen(d);
        resized.push_back(d);
      } else {
        PlaceCentered(d);
      }
    }
    MarkDirty();
  }
  for (Window* d : resized) {
    RECT client;
    GetClientRect(H(d), &client);
    SendToDialog(d, WM_SIZE, 0, static_cast<LPARAM>((client.bottom << 16) | (client.right & 0xFFFF)));
  }
}

void SetIdleDriver(IdleDriver driver, void* context) {
  Lock lock(g_ui);
  g_idleDriver = driver;
  g_idleContext = context;
}

void SnapshotScreen(char* out, size_t size) {
  std::u16string text;
  {
    Lock lock(g_ui);
    Render();
    for (int r = 0; r < g_canvas.rows; ++r) {
      std::u16string line;
      for (int c = 0; c < g_canvas.cols; ++c) {
        const char32_t ch = g_canvas.At(r, c)->ch;
        if (ch != 0) line += Encode(ch);
      }
      while (!line.empty() && line.back() == u' ') line.pop_back();
      text += line + u"\n";
    }
  }
  if (size == 0) return;
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, static_cast<int>(size), nullptr, nullptr);
  if (n <= 0) out[0] = '\0';
}

void DialogKey(HWND dialog, UINT vk, WCHAR ch) {
  Window* d;
  Window* focus;
  {
    Lock lock(g_ui);
    d = W(dialog);
    if (d == nullptr || !d->isDialog) return;
    MarkDirty();
    if (vk == VK_F10 && d->menu != nullptr && g_menu.dialog != d) {
      g_menu = {d, 0, 0};
      return;
    }
  }
  if (MenuKey(d, vk)) return;
  {
    Lock lock(g_ui);
    focus = d->focus;
    if (focus != nullptr && focus->kind == ControlKind::ListView && focus->editing) {
      // A rename takes every key until it ends.
    } else if (vk == VK_TAB || vk == VK_BACKTAB) {
      MoveFocus(d, vk == VK_TAB ? 1 : -1);
      return;
    }
  }
  if (focus != nullptr) {
    switch (focus->kind) {
      case ControlKind::ListView:
        if ((vk != VK_ESCAPE || focus->editing) && ListKey(d, focus, vk, ch)) return;
        break;
      case ControlKind::ComboBox:
        if (ComboKey(focus, vk)) return;
        break;
      case ControlKind::Edit:
        if (EditKey(focus, vk, ch)) return;
        break;
      case ControlKind::Button:
      case ControlKind::CheckBox:
        if (vk == VK_SPACE || (vk == VK_RETURN && focus->kind == ControlKind::Button)) {
          SendMessageW(H(focus), BM_CLICK, 0, 0);
          return;
        }
        if (vk == VK_UP || vk == VK_LEFT || vk == VK_DOWN || vk == VK_RIGHT) {
          Lock lock(g_ui);
          MoveFocus(d, (vk == VK_UP || vk == VK_LEFT) ? -1 : 1);
          return;
        }
        break;
      default:
        break;
    }
  }
  if (vk == VK_ESCAPE) {
    SendToDialog(d, WM_COMMAND, IDCANCEL, 0);
  } else if (vk == VK_RETURN) {
    // The default push button, or IDOK when the dialog has none.
    int id = IDOK;
    Window* button = nullptr;
    {
      Lock lock(g_ui);
      for (Window* c : d->children)
        if (c->kind == ControlKind::Button && (c->style & 0xF) == BS_DEFPUSHBUTTON) button = c;
      if (button != nullptr) id = button->id;
    }
    if (button != nullptr) SendMessageW(H(button), BM_CLICK, 0, 0);
    else SendToDialog(d, WM_COMMAND, static_cast<WPARAM>(id), 0);
  }
}

namespace {

void RunModalLoop(Window* d) {
  {
    Lock lock(g_ui);
    ++g_modalDepth;
  }
  bool quit = false;
  WPARAM quitCode = 0;
  for (;;) {
    {
      Lock lock(g_ui);
      if (g_live.count(d) == 0 || d->ended) break;
    }
    MSG m;
    if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        quit = true;
        quitCode = m.wParam;
        Lock lock(g_ui);
        d->ended = true;
        d->result = 0;
        break;
      }
      if (m.hwnd == nullptr && (m.message == WM_KEYDOWN || m.message == WM_CHAR)) {
        DialogKey(H(d), m.message == WM_KEYDOWN ? static_cast<UINT>(m.wParam) : 0,
                  m.message == WM_CHAR ? static_cast<WCHAR>(m.wParam) : 0);
      } else {
        DispatchMessageW(&m);
      }
      continue;
    }
    if (winterm::IsOpen() && std::this_thread::get_id() == g_inputThread) {
      bool dirty;
      {
        Lock lock(g_ui);
        dirty = g_dirty;
      }
      if (dirty) Render();
      if (!winterm::WaitInput(200)) continue;
      winterm::Key key;
      bool got;
      {
        Lock lock(g_ui);  // ncurses is drawn from two threads: one lock for all of it
        got = winterm::ReadKey(&key);
      }
      if (!got) continue;
      if (key.resize) SetScreenSize(key.rows, key.cols);
      else DialogKey(H(d), key.vk, key.ch);
      continue;
    }
    IdleDriver driver;
    void* context;
    {
      Lock lock(g_ui);
      driver = g_idleDriver;
      context = g_idleContext;
    }
    if (driver == nullptr || !driver(H(d), context)) {
      Lock lock(g_ui);
      d->ended = true;
      d->result = -1;
    }
  }
  Lock lock(g_ui);
  --g_modalDepth;
  // An outer loop must see the quit request too.
  if (quit && g_modalDepth > 0) Queue(std::this_thread::get_id()).push_back({nullptr, WM_QUIT, quitCode, 0});
}

// ---------------------------------------------------------------- message box

INT_PTR CALLBACK_MessageBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message != WM_COMMAND) return FALSE;
  const int id = LOWORD(wParam);
  const bool yesNo = GetDlgItem(dialog, IDYES) != nullptr;
  if ((yesNo && (id == IDYES || id == IDNO)) || (!yesNo && (id == IDOK || id == IDCANCEL))) {
    EndDialog(dialog, yesNo ? id : IDOK);
  }
  return TRUE;
}

}  // namespace

int WindowMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  int screenCols, screenRows;
  GetScreenSize(&screenRows, &screenCols);
  const u16string icon = (type & 0xF0) == MB_ICONQUESTION ? u"(?) "
                         : (type & 0xF0) == MB_ICONEXCLAMATION ? u"(!) "
                         : (type & 0xF0) == MB_ICONHAND ? u"(x) "
                         : (type & 0xF0) == MB_ICONINFORMATION ? u"(i) " : u"";
  // Lines of the text, wrapped to what the screen can hold.
  const int maxWidth = std::max(10, screenCols - 6);
  std::vector<u16string> lines;
  u16string all = icon + Str(text);
  while (!all.empty() && all.back() == u'\n') all.pop_back();
  size_t start = 0;
  for (;;) {
    const size_t nl = all.find(u'\n', start);
    u16string line = all.substr(start, nl == u16string::npos ? u16string::npos : nl - start);
    while (TextWidth(line) > maxWidth) {
      size_t cut = 0;
      int w = 0;
      while (cut < line.size() && w + winterm::CharWidth(line[cut]) <= maxWidth) w += winterm::CharWidth(line[cut++]);
      lines.push_back(line.substr(0, cut));
      line = line.substr(cut);
    }
    lines.push_back(line);
    if (nl == u16string::npos) break;
    start = nl + 1;
  }
  const bool yesNo = (type & 0xF) == MB_YESNO;
  const u16string title = caption != nullptr ? Str(caption) : u16string(u"Error");
  int width = std::max(TextWidth(title) + 6, yesNo ? 24 : 12);
  for (const u16string& l : lines) width = std::max(width, TextWidth(l) + 2);
  width = std::min(width, screenCols - 2);
  const int height = static_cast<int>(lines.size()) + 2;
  std::u16string body;
  for (size_t i = 0; i < lines.size(); ++i) body += (i ? u"\n" : u"") + lines[i];
  std::vector<DialogItem> items;
  items.push_back({0xFFFF, ControlKind::Label, body.c_str(), 0, short(1 * kDluPerCol), 0,
                   short((width - 2) * kDluPerCol), short(lines.size() * kDluPerRow)});
  const short by = static_cast<short>((height - 1) * kDluPerRow);
  if (yesNo) {
    const int left = width / 2 - 10;
    items.push_back({IDYES, ControlKind::Button, u"Yes", BS_DEFPUSHBUTTON, short(left * kDluPerCol), by, 8 * kDluPerCol, kDluPerRow});
    items.push_back({IDNO, ControlKind::Button, u"No", BS_PUSHBUTTON, short((left + 12) * kDluPerCol), by, 8 * kDluPerCol, kDluPerRow});
  } else {
    items.push_back({IDOK, ControlKind::Button, u"OK", BS_DEFPUSHBUTTON, short((width / 2 - 4) * kDluPerCol), by, 6 * kDluPerCol, kDluPerRow});
  }
  const DialogTemplate tmpl{0, WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER, 0, title.c_str(), 9, nullptr,
                            short(width * kDluPerCol), short(height * kDluPerRow), items.data(),
                            static_cast<int>(items.size())};
  const INT_PTR r = DialogBoxIndirectParamW(g_module, &tmpl, owner, CALLBACK_MessageBoxProc, 0);
  if (r == IDYES || r == IDNO || r == IDOK) return static_cast<int>(r);
  return yesNo ? IDNO : IDOK;
}

// ---------------------------------------------------------------- grid

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

bool StartTerminal() {
  int rows, cols;
  if (!winterm::Open(&rows, &cols)) return false;
  {
    Lock lock(g_ui);
    g_inputThread = std::this_thread::get_id();
    // At exit (a fatal error ends the program with exit()) the terminal is
    // given back under the lock, so the progress thread is not drawing then.
    static bool registered = false;
    if (!registered) atexit(StopTerminal);
    registered = true;
  }
  SetScreenSize(rows, cols);
  return true;
}

void StopTerminal() {
  Lock lock(g_ui);
  winterm::Close();
}
