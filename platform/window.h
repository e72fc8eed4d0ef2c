// The small window layer: dialogs from templates (modal and modeless), the
// message calls, the controls the program's dialogs use (labels, push
// buttons, check boxes, edits with a password character, the list view in
// list and report view, the drop-down list, the icon), the menu bar and the
// message box, under their Win32 names and semantics.
//
// Dialog procedures are ordinary functions driven by messages, so they can be
// exercised without a terminal: with no terminal attached the layer keeps its
// windows in memory and a modal loop that runs out of input asks the idle
// driver (SetIdleDriver) what to do next. The terminal (window_curses.cpp) is
// only the renderer and the source of key presses.
//
// Geometry: one character cell is 3 x 8 dialog units, and 6 x 26 pixels (a
// menu bar, 26 pixels high on the device, is one row).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/windows.h"

typedef intptr_t LRESULT;
typedef intptr_t INT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;

#define LOWORD(l) ((WORD)((uintptr_t)(l) & 0xFFFF))
#define HIWORD(l) ((WORD)(((uintptr_t)(l) >> 16) & 0xFFFF))
#define MAKEWPARAM(low, high) ((WPARAM)(((DWORD)(WORD)(low)) | (((DWORD)(WORD)(high)) << 16)))
#define MAKEINTRESOURCEW(id) ((LPCWSTR)(uintptr_t)(WORD)(id))

typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);

struct RECT {
  LONG left, top, right, bottom;
};

// ---------------------------------------------------------------- templates
// Kinds of control a template can hold (the Win32 class plus its style).
enum class ControlKind { Label, Button, CheckBox, Edit, ListView, ComboBox, Icon };

struct DialogItem {
  int id;
  ControlKind kind;
  const WCHAR* text;
  DWORD style;
  short x, y, cx, cy;  // dialog units
};

struct DialogTemplate {
  int resourceId;
  DWORD style;
  DWORD exStyle;
  const WCHAR* caption;
  short pointSize;
  const WCHAR* face;
  short cx, cy;  // dialog units
  const DialogItem* items;
  int itemCount;
};

struct MenuItem {
  const WCHAR* text;
  int id;
};
struct MenuPopup {
  const WCHAR* text;
  const MenuItem* items;
  int itemCount;
};
struct MenuTemplate {
  int resourceId;
  const MenuPopup* popups;
  int popupCount;
};

// A module's resources: its dialog templates and menus. The instance handle
// points at them, so FindResourceW finds a template by number.
struct ModuleResources {
  const DialogTemplate* const* dialogs;
  int dialogCount;
  const MenuTemplate* const* menus;
  int menuCount;
};
typedef const ModuleResources* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef const void* HRSRC;
typedef const void* HGLOBAL;
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_MENU MAKEINTRESOURCEW(4)

// The program's own module, as registered by the shell.
void SetModuleResources(HINSTANCE module);
HMODULE GetModuleHandleW(LPCWSTR name);  // null name: the program's module
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);

// ---------------------------------------------------------------- styles
#define WS_POPUP 0x80000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_SYSMENU 0x00080000u
#define WS_TABSTOP 0x00010000u
#define DS_MODALFRAME 0x80u
#define DS_SETFONT 0x40u
#define DS_CENTER 0x0800u
#define WS_EX_TOOLWINDOW 0x80u
#define WS_EX_CAPTIONOKBTN 0x80000000u

#define BS_PUSHBUTTON 0x0u
#define BS_DEFPUSHBUTTON 0x1u
#define BS_AUTOCHECKBOX 0x3u
#define ES_PASSWORD 0x20u
#define ES_AUTOHSCROLL 0x80u
#define CBS_DROPDOWNLIST 0x3u

#define LVS_ICON 0x0u
#define LVS_REPORT 0x1u
#define LVS_SMALLICON 0x2u
#define LVS_LIST 0x3u
#define LVS_TYPEMASK 0x3u
#define LVS_SINGLESEL 0x4u
#define LVS_SHOWSELALWAYS 0x8u
#define LVS_SORTASCENDING 0x10u
#define LVS_AUTOARRANGE 0x100u
#define LVS_EDITLABELS 0x200u
#define LVS_EX_FULLROWSELECT 0x20u

// ---------------------------------------------------------------- messages
#define WM_DESTROY 0x0002
#define WM_SIZE 0x0005
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_NOTIFY 0x004E
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_USER 0x0400
#define SC_CLOSE 0xF060

#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_CLICK 0x00F5
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BN_CLICKED 0

#define EM_LIMITTEXT 0x00C5
#define EM_SETPASSWORDCHAR 0x00CC
#define EM_GETPASSWORDCHAR 0x00D2
#define EN_CHANGE 0x0300

#define CB_ERR (-1)
#define CB_ADDSTRING 0x0143
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_GETLBTEXTLEN 0x0149
#define CB_INSERTSTRING 0x014A
#define CB_RESETCONTENT 0x014B
#define CB_SELECTSTRING 0x014D
#define CB_SETCURSEL 0x014E
#define CBN_SELCHANGE 1

#define LVM_FIRST 0x1000
#define LVM_SETIMAGELIST (LVM_FIRST + 3)
#define LVM_GETITEMCOUNT (LVM_FIRST + 4)
#define LVM_DELETEALLITEMS (LVM_FIRST + 9)
#define LVM_GETNEXTITEM (LVM_FIRST + 12)
#define LVM_SETITEMSTATE (LVM_FIRST + 43)
#define LVM_SORTITEMS (LVM_FIRST + 48)
#define LVM_SETEXTENDEDLISTVIEWSTYLE (LVM_FIRST + 54)
#define LVM_GETEXTENDEDLISTVIEWSTYLE (LVM_FIRST + 55)
#define LVM_GETITEMW (LVM_FIRST + 75)
#define LVM_SETITEMW (LVM_FIRST + 76)
#define LVM_INSERTITEMW (LVM_FIRST + 77)
#define LVM_INSERTCOLUMNW (LVM_FIRST + 97)
#define LVM_GETITEMTEXTW (LVM_FIRST + 115)
#define LVM_EDITLABELW (LVM_FIRST + 118)

#define LVIF_TEXT 0x1u
#define LVIF_IMAGE 0x2u
#define LVIF_PARAM 0x4u
#define LVIF_STATE 0x8u
#define LVIS_FOCUSED 0x1u
#define LVIS_SELECTED 0x2u
#define LVNI_ALL 0x0
#define LVNI_FOCUSED 0x1
#define LVNI_SELECTED 0x2
#define LVCF_FMT 0x1u
#define LVCF_WIDTH 0x2u
#define LVCF_TEXT 0x4u
#define LVCF_SUBITEM 0x8u
#define LVCFMT_LEFT 0
#define LVCFMT_RIGHT 1
#define LVSIL_SMALL 1

struct LVITEMW {
  UINT mask;
  int iItem;
  int iSubItem;
  UINT state;
  UINT stateMask;
  LPWSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
};
struct LVCOLUMNW {
  UINT mask;
  int fmt;
  int cx;  // pixels
  LPWSTR pszText;
  int cchTextMax;
  int iSubItem;
};
typedef int (*PFNLVCOMPARE)(LPARAM first, LPARAM second, LPARAM parameter);

// Notifications (WM_NOTIFY, lParam points at the header).
struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  int code;
};
struct NMLVKEYDOWN {
  NMHDR hdr;
  WORD wVKey;
  UINT flags;
};
struct NMLVDISPINFOW {
  NMHDR hdr;
  LVITEMW item;  // pszText null: the rename was cancelled
};
#define NM_CLICK (-2)
#define NM_DBLCLK (-3)
#define NM_RCLICK (-5)
#define LVN_KEYDOWN (-155)
#define LVN_BEGINLABELEDITW (-175)
#define LVN_ENDLABELEDITW (-176)

// Virtual keys.
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_DELETE 0x2E
#define VK_F2 0x71
#define VK_F10 0x79
// Not a Win32 key: Shift-Tab as one key, as terminals deliver it.
#define VK_BACKTAB 0xE0
#define KEYEVENTF_KEYUP 0x2
#define KEYEVENTF_SILENT 0x4

#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_USERDATA (-21)
#define DWL_MSGRESULT 0

#define SW_HIDE 0
#define SW_SHOW 5
#define SWP_NOSIZE 0x1u
#define SWP_NOMOVE 0x2u
#define SWP_NOZORDER 0x4u
#define SPI_GETWORKAREA 0x30
#define SM_CXSMICON 49
#define SM_CYSMICON 50
#define PM_REMOVE 0x1u
#define MB_ICONINFORMATION 0x00000040
#define MB_SETFOREGROUND 0x00010000

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// ---------------------------------------------------------------- dialogs
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, const DialogTemplate* tmpl, HWND owner,
                                DLGPROC proc, LPARAM parameter);
HWND CreateDialogIndirectParamW(HINSTANCE instance, const DialogTemplate* tmpl, HWND owner,
                                DLGPROC proc, LPARAM parameter);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL PeekMessageW(MSG* msg, HWND window, UINT first, UINT last, UINT remove);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
void keybd_event(BYTE vk, BYTE scan, DWORD flags, uintptr_t extra);

HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
HWND GetParent(HWND window);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR text, int size);
int GetWindowTextLengthW(HWND window);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int size);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
BOOL UpdateWindow(HWND window);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
HWND SetFocus(HWND window);
HWND GetFocus();
BOOL SetForegroundWindow(HWND window);
LONG_PTR SetWindowLongW(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongW(HWND window, int index);
BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL SystemParametersInfoW(UINT action, UINT param, void* value, UINT winIni);
int GetSystemMetrics(int index);

// The wait cursor and image lists have nothing to show in a terminal; they
// keep their Win32 shapes so the callers read as on the device.
typedef const void* HCURSOR;
typedef const void* HICON;
#define IDC_WAIT MAKEINTRESOURCEW(32514)
#define IMAGE_ICON 1
#define ILC_COLOR 0
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);
HCURSOR SetCursor(HCURSOR cursor);
struct ImageList;
typedef ImageList* HIMAGELIST;
HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int grow);
int ImageList_ReplaceIcon(HIMAGELIST list, int index, HICON icon);
BOOL ImageList_Destroy(HIMAGELIST list);
int ImageList_GetImageCount(HIMAGELIST list);
HICON LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);

// ---------------------------------------------------------------- menu bar
struct SHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;
  DWORD clrBk;
};
#define SHCMBF_HMENU 0x0010
BOOL SHCreateMenuBar(SHMENUBARINFO* info);

struct SHINITDLGINFO {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
};
#define SHIDIM_FLAGS 0x0001
#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008
// Full-screen dialogs follow the screen: on a size change they are laid
// over the work area again (leaving the menu bar's row) and get WM_SIZE.
BOOL SHInitDialog(SHINITDLGINFO* info);
#define SHDB_SHOW 0x0001
BOOL SHDoneButton(HWND dialog, DWORD state);

// ---------------------------------------------------------------- the terminal
// Keyboard input to the active dialog, as the terminal delivers it: a
// virtual key, or a typed character (vk 0). The modal loop calls this for
// every key; tests may call it to drive a dialog like a user.
void DialogKey(HWND dialog, UINT vk, WCHAR ch);

// The message box drawn as a dialog (install with SetMessageBoxHandler).
int WindowMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Without a terminal, a modal loop with no message left calls the driver
// with its dialog; the driver acts (sends messages, keys) and returns true,
// or returns false to give up, which ends the dialog with -1. Tests only.
typedef bool (*IdleDriver)(HWND dialog, void* context);
void SetIdleDriver(IdleDriver driver, void* context);

// The screen size in cells (80 x 24 without a terminal). A change lays the
// full-screen dialogs out again and centres the others.
void GetScreenSize(int* rows, int* cols);
// Cells a character takes on a terminal: 2 for East Asian wide ones.
int TerminalCharWidth(char32_t c);
void SetScreenSize(int rows, int cols);

// The screen as text, one string per row (UTF-8), drawn from the current
// windows without a terminal; for tests of what the user sees.
void SnapshotScreen(char* out, size_t size);

// The terminal: StartTerminal takes it over with ncurses (false when no
// terminal is attached or it cannot be set up); from then on every window is
// drawn there and keys come from it. StopTerminal gives it back; it is also
// given back at exit and on SIGINT, SIGTERM, SIGHUP and fatal signals.
bool StartTerminal();
void StopTerminal();
