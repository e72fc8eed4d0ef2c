// The simple controls: labels, the icon, push buttons, check boxes, edits
// and the drop-down list; how each is drawn, its messages and its keys. The
// list view has its own file (window_list.cpp).
#include <algorithm>
#include <string>

#include "platform/window_internal.h"

namespace winui {

// ---------------------------------------------------------------- drawing

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
    case ControlKind::ListView:
      DrawListView(c, r0, c0, width, dim, focused, dialogActive);
      break;
  }
}

// ---------------------------------------------------------------- messages

namespace {

// Push buttons and check boxes: a click toggles a check box and tells the
// dialog (BN_CLICKED), unless the control is disabled.
LRESULT ButtonMessage(Window* c, UINT message, WPARAM wParam, Notice* notice) {
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
}

LRESULT EditMessage(Window* c, UINT message, WPARAM wParam) {
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
}

// CB_ADDSTRING appends (at -1); CB_INSERTSTRING inserts at an index, or
// appends when the index is past the end.
LRESULT ComboInsert(Window* c, int at, const u16string& s) {
  if (at < 0 || at >= static_cast<int>(c->entries.size())) {
    c->entries.push_back(s);
    return static_cast<LRESULT>(c->entries.size() - 1);
  }
  c->entries.insert(c->entries.begin() + at, s);
  if (c->current >= at) ++c->current;
  MarkDirty();
  return at;
}

// The first entry beginning with the text (letter case ignored), searched
// after `start` and wrapping round.
LRESULT ComboSelectString(Window* c, int start, const u16string& s) {
  const int n = static_cast<int>(c->entries.size());
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

LRESULT ComboMessage(Window* c, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case CB_RESETCONTENT:
      c->entries.clear();
      c->current = -1;
      MarkDirty();
      return 0;
    case CB_ADDSTRING:
    case CB_INSERTSTRING:
      return ComboInsert(c, message == CB_ADDSTRING ? -1 : static_cast<int>(wParam),
                         Str(reinterpret_cast<LPCWSTR>(lParam)));
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
    case CB_SELECTSTRING:
      return ComboSelectString(c, static_cast<int>(static_cast<intptr_t>(wParam)),
                               Str(reinterpret_cast<LPCWSTR>(lParam)));
  }
  return 0;
}

}  // namespace

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
      return ButtonMessage(c, message, wParam, notice);
    case ControlKind::Edit:
      return EditMessage(c, message, wParam);
    case ControlKind::ComboBox:
      return ComboMessage(c, message, wParam, lParam);
    case ControlKind::ListView:
      return ListViewMessage(c, message, wParam, lParam);
    default:
      return 0;
  }
}

// ---------------------------------------------------------------- keys

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

}  // namespace winui
