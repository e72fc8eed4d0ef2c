// The window layer's Win32 entry points: resources, creating and ending
// dialogs, the message calls and queues, window text, state and geometry,
// the menu bar and full-screen dialogs, the screen size, and taking over the
// terminal. The work behind them is in the other platform/window_*.cpp files
// (see window_internal.h).
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

#include "platform/window_internal.h"

namespace winui {

std::recursive_mutex& g_ui = *new std::recursive_mutex;
std::vector<Window*>& g_topLevels = *new std::vector<Window*>;
std::set<Window*>& g_live = *new std::set<Window*>;
HINSTANCE g_module = nullptr;
int g_screenRows = 24, g_screenCols = 80;
bool g_dirty = true;
winterm::Canvas& g_canvas = *new winterm::Canvas;
IdleDriver g_idleDriver = nullptr;
void* g_idleContext = nullptr;
std::thread::id g_inputThread;
OpenMenu g_menu;

namespace {

// Each thread's message queue.
std::map<std::thread::id, std::deque<MSG>>& g_queues = *new std::map<std::thread::id, std::deque<MSG>>;

}  // namespace

std::deque<MSG>& Queue(std::thread::id t) { return g_queues[t]; }

}  // namespace winui

using namespace winui;

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
    // A dialog destroyed since the lock was released (a procedure, or the
    // progress thread, may close one) has no client area and gets no WM_SIZE.
    RECT client;
    if (!GetClientRect(H(d), &client)) continue;
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
