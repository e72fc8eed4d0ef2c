// The dialog manager: dialogs made from templates, the messages a dialog
// procedure leaves alone, the focus and Tab order, the keys every dialog
// shares (Tab, Escape, Enter, the menu bar's F10), the modal loop, drawing
// the screen, and the message box drawn as a dialog.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/window_internal.h"

namespace winui {

namespace {

int g_modalDepth = 0;  // modal loops running, nested

bool IsTabStop(const Window* c) {
  return c->visible && c->enabled && c->kind != ControlKind::Label && c->kind != ControlKind::Icon;
}

}  // namespace

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
  if (message == WM_COMMAND) {
    Lock lock(g_ui);
    ++d->commandsRunning;
  }
  const INT_PTR handled = proc != nullptr ? proc(H(d), message, wParam, lParam) : FALSE;
  if (message == WM_COMMAND) {
    Lock lock(g_ui);
    if (g_live.count(d) != 0) --d->commandsRunning;
  }
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

namespace {

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

// ---------------------------------------------------------------- drawing

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

}  // namespace

// Draws every window into the grid and, with a terminal, shows it.
void Render() {
  Lock lock(g_ui);
  g_canvas.Reset(g_screenRows, g_screenCols);
  Window* active = ActiveDialog();
  Window* menuOwner = nullptr;
  // The dialog that takes the keys is drawn last: the progress window, made
  // on its own thread, may come up after a prompt and must not cover it.
  // A dialog busy with a command (the main dialog while its "Extract" runs)
  // waits for no keys, and the progress window shown meanwhile lies on it.
  const bool activeLast = active != nullptr && active->commandsRunning == 0;
  for (Window* d : g_topLevels) {
    if (!d->visible) continue;
    if (d != active || !activeLast) DrawDialog(d, d == active);
    if (d->menu != nullptr) menuOwner = d;
  }
  if (activeLast) DrawDialog(active, true);
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

// ---------------------------------------------------------------- keys

namespace {

// The open menu takes the arrows, Enter and Escape; a chosen item is sent
// to the dialog as WM_COMMAND. False when no menu of this dialog is open.
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

}  // namespace

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

}  // namespace winui

using namespace winui;

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
