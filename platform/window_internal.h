// Inside the window layer: the window record, the layer's shared state and
// the helpers its files share. Internal to platform/window*.cpp.
//
//   window_text.cpp      text in cells: widths, drawing text, edit lines
//   window_controls.cpp  labels, buttons, check boxes, edits, drop-down lists
//   window_list.cpp      the list view
//   window_dialog.cpp    the dialog manager: dialogs, focus, keys, the modal
//                        loop, drawing the screen, the menu bar, message boxes
//   window.cpp           the Win32 entry points and the terminal's start
//
// One lock (g_ui) guards every window and the grid, because the progress
// window is created, drawn and destroyed on the progress thread while the
// main thread runs its dialogs. The lock is never held while a dialog
// procedure runs: the main thread calls the extraction from inside a
// procedure, and the progress thread must be able to draw meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "platform/window_terminal.h"

namespace winui {

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

}  // namespace winui

struct Window {
  bool isDialog = false;
  ControlKind kind = ControlKind::Label;
  int id = 0;
  DWORD style = 0, exStyle = 0;
  std::u16string text;
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
  int commandsRunning = 0;  // WM_COMMAND calls of its procedure under way
  bool fullScreen = false;
  const MenuTemplate* menu = nullptr;
  // check box, edit (the text is in `line`; `text` mirrors it)
  int check = BST_UNCHECKED;
  winui::EditLine line;
  WCHAR passwordChar = 0;
  size_t limit = 0;  // 0: none
  // list view
  std::vector<winui::ListRow> rows;
  std::vector<winui::ListColumn> columns;
  DWORD lvExStyle = 0;
  int top = 0;
  bool editing = false;
  int editRow = -1;
  winui::EditLine editLine;
  HIMAGELIST images = nullptr;
  // drop-down list
  std::vector<std::u16string> entries;
  int current = -1;
};

struct ImageList {
  int count = 0;
  int capacity = 0;
};

namespace winui {

// ---------------------------------------------------------------- state
// Defined in window.cpp and never destroyed: a fatal error ends the program
// with exit() while the progress thread may still be drawing, and must not
// pull the windows away under it.
extern std::recursive_mutex& g_ui;
extern std::vector<Window*>& g_topLevels;  // z order, last on top
extern std::set<Window*>& g_live;
extern HINSTANCE g_module;
extern int g_screenRows, g_screenCols;
extern bool g_dirty;
extern winterm::Canvas& g_canvas;
extern IdleDriver g_idleDriver;
extern void* g_idleContext;
extern std::thread::id g_inputThread;  // the thread that reads the terminal

// The open menu of a menu bar (F10), if any.
struct OpenMenu {
  Window* dialog = nullptr;
  int popup = 0, item = 0;
};
extern OpenMenu g_menu;

using Lock = std::lock_guard<std::recursive_mutex>;

inline Window* W(HWND h) {
  Window* w = reinterpret_cast<Window*>(h);
  return (w != nullptr && g_live.count(w) != 0) ? w : nullptr;
}
inline HWND H(Window* w) { return reinterpret_cast<HWND>(w); }
inline u16string Str(LPCWSTR s) { return s != nullptr ? u16string(s) : u16string(); }
inline void MarkDirty() { g_dirty = true; }

// ---------------------------------------------------------------- text (window_text.cpp)
int CopyOut(const u16string& s, LPWSTR out, int size);
int CompareNoCase(const u16string& a, const u16string& b);
std::u32string Decode(const u16string& s);  // UTF-16 to code points, for the grid
u16string Encode(char32_t cp);              // a code point as UTF-16
int TextWidth(const u16string& s);
// Writes text at a cell, at most maxCells wide; returns the cells used.
int Put(int row, int col, const u16string& text, uint8_t attr, int maxCells);
void Fill(int row, int col, int count, char32_t ch, uint8_t attr);
u16string Repeat(WCHAR c, size_t n);
u16string PadRight(const u16string& s, int cells);
// Text cut to fit `cells` cells with one to spare; a cut text ends in "~".
u16string Fit(const u16string& text, int cells, int* used);
void DrawEditLine(int row, int col, int width, EditLine* line, WCHAR passwordChar, uint8_t attr, bool cursor);
enum class EditResult { kIgnored, kMoved, kChanged };
EditResult EditLineKey(EditLine* line, UINT vk, WCHAR ch, int maxCells, size_t limit);

// ---------------------------------------------------------------- controls (window_controls.cpp)
// A notification a control sends its dialog once the lock is released.
struct Notice {
  Window* to;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
LRESULT ControlMessage(Window* c, UINT message, WPARAM wParam, LPARAM lParam, Notice* notice);
void DrawControl(Window* d, Window* c, bool dialogActive);
bool ComboKey(Window* combo, UINT vk);
bool EditKey(Window* edit, UINT vk, WCHAR ch);

// ---------------------------------------------------------------- list view (window_list.cpp)
LRESULT ListViewMessage(Window* c, UINT message, WPARAM wParam, LPARAM lParam);
void DrawListView(Window* c, int r0, int c0, int width, uint8_t dim, bool focused, bool dialogActive);
int ListFocus(const Window* c);
void ListScrollToFocus(Window* c);
bool ListKey(Window* d, Window* list, UINT vk, WCHAR ch);

// ---------------------------------------------------------------- dialogs (window_dialog.cpp)
LRESULT SendToDialog(Window* d, UINT message, WPARAM wParam, LPARAM lParam);
void Deliver(const Notice& n);
Window* CreateFromTemplate(const DialogTemplate* t, HWND owner, DLGPROC proc);
void FreeWindow(Window* d);
Window* FirstTabStop(Window* d);
void FocusControl(Window* d, Window* c);
void RunModalLoop(Window* d);
void Render();
Window* ActiveDialog();
void PlaceCentered(Window* d);
void PlaceFullScreen(Window* d);
std::deque<MSG>& Queue(std::thread::id t);

}  // namespace winui
