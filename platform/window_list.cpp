// The list view: rows in list view (names flowing down and across columns)
// or report view (one row per line under column headers), its messages, its
// keys and the rename of a row in place.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/window_internal.h"

namespace winui {

namespace {

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

}  // namespace

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

// ---------------------------------------------------------------- messages

namespace {

LRESULT InsertColumn(Window* c, WPARAM wParam, const LVCOLUMNW* col) {
  ListColumn lc;
  if (col->mask & LVCF_TEXT) lc.text = Str(col->pszText);
  if (col->mask & LVCF_FMT) lc.fmt = col->fmt;
  if (col->mask & LVCF_WIDTH) lc.cx = col->cx;
  const size_t at = std::min(static_cast<size_t>(wParam), c->columns.size());
  c->columns.insert(c->columns.begin() + static_cast<long>(at), lc);
  MarkDirty();
  return static_cast<LRESULT>(at);
}

// A sorted list view puts a new row after those whose names sort before or
// equal to it, wherever the caller asked for it.
LRESULT InsertItem(Window* c, const LVITEMW* item) {
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

// LVM_SETITEMW: the text goes to the item or one of its sub-items; the
// image and the parameter belong to the item itself.
void SetItem(ListRow* row, const LVITEMW* item) {
  const int sub = item->iSubItem;
  if (item->mask & LVIF_TEXT) {
    if (sub == 0) {
      row->text = Str(item->pszText);
    } else {
      if (row->sub.size() < static_cast<size_t>(sub)) row->sub.resize(static_cast<size_t>(sub));
      row->sub[static_cast<size_t>(sub - 1)] = Str(item->pszText);
    }
  }
  if (sub == 0 && (item->mask & LVIF_IMAGE)) row->image = item->iImage;
  if (sub == 0 && (item->mask & LVIF_PARAM)) row->param = item->lParam;
  MarkDirty();
}

// LVM_GETITEMW, and LVM_GETITEMTEXTW, which gives only the text and returns
// its length.
LRESULT GetItem(const ListRow& row, UINT message, LVITEMW* item) {
  const UINT mask = message == LVM_GETITEMTEXTW ? LVIF_TEXT : item->mask;
  const int sub = item->iSubItem;
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

// Focus and selection are one state here (single selection); index -1
// sets it on every row.
LRESULT SetItemState(Window* c, int index, const LVITEMW* item) {
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

LRESULT SortItems(Window* c, PFNLVCOMPARE compare, LPARAM parameter) {
  std::stable_sort(c->rows.begin(), c->rows.end(), [&](const ListRow& a, const ListRow& b) {
    return compare(a.param, b.param, parameter) < 0;
  });
  ListScrollToFocus(c);
  MarkDirty();
  return TRUE;
}

}  // namespace

LRESULT ListViewMessage(Window* c, UINT message, WPARAM wParam, LPARAM lParam) {
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
    case LVM_INSERTCOLUMNW:
      return InsertColumn(c, wParam, reinterpret_cast<const LVCOLUMNW*>(lParam));
    case LVM_INSERTITEMW:
      return InsertItem(c, reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_SETITEMW:
    case LVM_GETITEMW:
    case LVM_GETITEMTEXTW: {
      auto* item = reinterpret_cast<LVITEMW*>(lParam);
      const size_t index = message == LVM_GETITEMTEXTW ? wParam : static_cast<size_t>(item->iItem);
      if (index >= c->rows.size()) return FALSE;
      if (message != LVM_SETITEMW) return GetItem(c->rows[index], message, item);
      SetItem(&c->rows[index], item);
      return TRUE;
    }
    case LVM_GETNEXTITEM: {
      const int start = static_cast<int>(static_cast<intptr_t>(wParam));
      for (int i = start + 1; i < static_cast<int>(c->rows.size()); ++i) {
        if (LOWORD(lParam) == LVNI_ALL || c->rows[static_cast<size_t>(i)].focused) return i;
      }
      return -1;
    }
    case LVM_SETITEMSTATE:
      return SetItemState(c, static_cast<int>(static_cast<intptr_t>(wParam)), reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_SORTITEMS:
      return SortItems(c, reinterpret_cast<PFNLVCOMPARE>(lParam), static_cast<LPARAM>(wParam));
  }
  return 0;
}

// ---------------------------------------------------------------- drawing

void DrawListView(Window* c, int r0, int c0, int width, uint8_t dim, bool focused, bool dialogActive) {
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
}

// ---------------------------------------------------------------- keys

namespace {

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

// Typing a letter moves to the next row that begins with it.
void FocusNextStartingWith(Window* list, WCHAR ch) {
  const int n = static_cast<int>(list->rows.size());
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
}

}  // namespace

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
      FocusNextStartingWith(list, ch);
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

}  // namespace winui
