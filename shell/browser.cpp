#include "shell/browser.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/path_kind.h"
#include "shell/resources/resources.h"

namespace {

constexpr int kNameEdit = 901, kAncestors = 902, kFileList = 903;

// ASCII text formatted into a wide buffer (the texts here are all ASCII).
void FormatWide(WCHAR* out, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
void FormatWide(WCHAR* out, size_t size, const char* format, ...) {
  char text[64];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  size_t i = 0;
  for (; text[i] != '\0' && i + 1 < size; ++i) out[i] = static_cast<WCHAR>(text[i]);
  out[i] = 0;
}

// out = a + b in a MAX_PATH buffer; false (out unchanged) when it does not
// fit, so a long path is refused instead of overrunning the buffer.
bool JoinPath(WCHAR* out, const WCHAR* a, const WCHAR* b) {
  const size_t la = wcslen_w(a), lb = wcslen_w(b);
  if (la + lb >= MAX_PATH) return false;
  WCHAR joined[MAX_PATH];
  memcpy(joined, a, la * sizeof(WCHAR));
  memcpy(joined + la, b, lb * sizeof(WCHAR));
  joined[la + lb] = 0;
  memcpy(out, joined, (la + lb + 1) * sizeof(WCHAR));
  return true;
}

bool EndsWithSeparator(const WCHAR* s) {
  const size_t n = wcslen_w(s);
  return n > 0 && s[n - 1] == u'\\';
}

void EnsureSeparator(WCHAR* folder) {
  if (!EndsWithSeparator(folder)) JoinPath(folder, folder, u"\\");
}

// The name edit's text into NameField. "/" counts like "\": users on Linux
// type paths with it.
void ReadNameField(HWND dialog, BrowserRequest* request) {
  GetDlgItemTextW(dialog, kNameEdit, request->NameField, MAX_PATH);
  for (WCHAR* p = request->NameField; *p != 0; ++p) {
    if (*p == u'/') *p = u'\\';
  }
}

BrowserRequest* RequestOf(HWND dialog) {
  return reinterpret_cast<BrowserRequest*>(GetWindowLongW(dialog, GWL_USERDATA));
}

HWND List(HWND dialog) { return GetDlgItem(dialog, kFileList); }

int FocusedRow(HWND dialog) {
  return static_cast<int>(SendMessageW(List(dialog), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

bool RowName(HWND dialog, int row, WCHAR* name) {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.pszText = name;
  item.cchTextMax = MAX_PATH;
  name[0] = 0;
  return SendMessageW(List(dialog), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != 0;
}

void FillList(HWND dialog, BrowserRequest* request) {
  HWND list = List(dialog);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  WCHAR pattern[MAX_PATH];
  if (!JoinPath(pattern, request->CurrentFolder, u"*.*")) return;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  do {
    const WCHAR* name = found.cFileName;
    const DWORD attributes = found.dwFileAttributes;
    if (name[0] == u'.') continue;
    if (request->Mode == kPickFolder && (attributes & kFolderish) == 0) continue;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      WCHAR upper[MAX_PATH];
      size_t i = 0;
      for (; name[i] != 0 && i + 1 < MAX_PATH; ++i) upper[i] = towupper_w(name[i]);
      upper[i] = 0;
      bool matched = false;
      for (int p = 0; p < request->Patterns.count && !matched; ++p)
        matched = WildcardMatch(request->Patterns.entries[p].text, upper);
      if (!matched) continue;
    }
    WCHAR size[32] = {0};
    if ((attributes & kFolderish) == 0) FormatSize(found.nFileSizeLow, size, 32);
    WCHAR date[32] = {0};
    FILETIME local;
    SYSTEMTIME st;
    if (FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) && FileTimeToSystemTime(&local, &st)) {
      FormatWide(date, 32, "%04d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                 st.wSecond);
    }
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<WCHAR*>(name);
    item.iImage = (attributes & kFolderish) != 0 ? 1 : 0;
    item.lParam = static_cast<LPARAM>(attributes);
    const int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMW sub{};
    sub.mask = LVIF_TEXT;
    sub.iItem = row;
    sub.iSubItem = 1;
    sub.pszText = size;
    SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&sub));
    sub.iSubItem = 2;
    sub.pszText = date;
    SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&sub));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  SetCursor(nullptr);
}

void FillAncestors(HWND dialog, const BrowserRequest* request) {
  HWND combo = GetDlgItem(dialog, kAncestors);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  // On screen the root is "/", as Linux users write it.
  SendMessageW(combo, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(u"/"));
  WCHAR last[2 * MAX_PATH] = u"/";
  const WCHAR* p = request->CurrentFolder[0] != 0 ? request->CurrentFolder + 1 : request->CurrentFolder;
  int depth = 0;
  for (;;) {
    const WCHAR* end = p;
    while (*end != 0 && *end != u'\\') ++end;
    if (*end != u'\\') break;  // a final component without "\" is not listed
    ++depth;
    size_t n = 0;
    for (int i = 0; i < depth; ++i) last[n++] = u' ';
    for (const WCHAR* c = p; c < end; ++c) last[n++] = *c;
    last[n] = 0;
    SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(depth), reinterpret_cast<LPARAM>(last));
    p = end + 1;
  }
  SendMessageW(combo, CB_SELECTSTRING, 0, reinterpret_cast<LPARAM>(last));
}

// Folders first; everything else compares equal (the sort is stable, so the
// name order within each group stays).
int CompareRows(LPARAM first, LPARAM second, LPARAM) {
  return ((static_cast<DWORD>(second) & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0) -
         ((static_cast<DWORD>(first) & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0);
}

void SortList(HWND dialog) {
  SendMessageW(List(dialog), LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(CompareRows));
}

void Refresh(HWND dialog, BrowserRequest* request) {
  FillList(dialog, request);
  FillAncestors(dialog, request);
  SortList(dialog);
}

void Layout(HWND dialog, const BrowserRequest* request) {
  RECT client;
  GetClientRect(dialog, &client);
  const int w = client.right, h = client.bottom;
  HWND edit = GetDlgItem(dialog, kNameEdit);
  HWND combo = GetDlgItem(dialog, kAncestors);
  if (request->Mode == kPickFile) {
    SetWindowPos(edit, nullptr, 4, 4, w - 8, 20, SWP_NOZORDER);
    SetWindowPos(combo, nullptr, 4, 28, w - 8, 80, SWP_NOZORDER);
    SetWindowPos(List(dialog), nullptr, 4, 52, w - 8, h - 60, SWP_NOZORDER);
  } else {
    EnableWindow(edit, FALSE);
    ShowWindow(edit, SW_HIDE);
    SetWindowPos(combo, nullptr, 4, 4, w - 8, 80, SWP_NOZORDER);
    SetWindowPos(List(dialog), nullptr, 4, 28, w - 8, h - 36, SWP_NOZORDER);
  }
}

bool Accept(HWND dialog, BrowserRequest* request) {
  ReadNameField(dialog, request);
  if (request->Mode == kPickFile && request->NameField[0] == 0) return false;
  // A typed name that starts with a separator is a whole path from the root.
  if (request->NameField[0] == u'\\') {
    wcscpy_w(request->ResultPath, request->NameField);
  } else if (!JoinPath(request->ResultPath, request->CurrentFolder, request->NameField)) {
    return false;
  }
  if (request->Mode == kPickFolder) {
    const size_t n = wcslen_w(request->ResultPath);
    if (n > 0 && request->ResultPath[n - 1] == u'\\') request->ResultPath[n - 1] = 0;
    if (request->ResultPath[0] == 0) return true;
  }
  const int kind = PathKind(request->ResultPath);
  if (request->MustExist && kind == kMissing) return false;
  if (request->Mode == kPickFile && kind == kIsFolder) return false;
  if (request->Mode == kPickFolder && kind == kIsFile) return false;
  return true;
}

void CloseBrowser(HWND dialog, BrowserRequest* request, INT_PTR result) {
  ImageList_Destroy(request->Images);
  request->Images = nullptr;
  SetWindowLongW(dialog, GWL_USERDATA, 0);
  EndDialog(dialog, result);
}

void OnInit(HWND dialog, BrowserRequest* request) {
  SetWindowLongW(dialog, GWL_USERDATA, reinterpret_cast<LONG_PTR>(request));
  SHMENUBARINFO bar{};
  bar.cbSize = 36;
  bar.hwndParent = dialog;
  bar.dwFlags = SHCMBF_HMENU;
  bar.nToolBarId = 2006;
  bar.hInstRes = g_hInstance;
  SHCreateMenuBar(&bar);  // without a menu bar the browser still works

  HWND list = List(dialog);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  const int icon = GetSystemMetrics(SM_CXSMICON);
  request->Images = ImageList_Create(icon, icon, ILC_COLOR, 16, 0);
  SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(request->Images));
  ImageList_ReplaceIcon(request->Images, -1, LoadImageW(g_hInstance, MAKEINTRESOURCEW(150), IMAGE_ICON, 16, 16, 0));
  ImageList_ReplaceIcon(request->Images, -1, LoadImageW(g_hInstance, MAKEINTRESOURCEW(109), IMAGE_ICON, 16, 16, 0));

  const struct {
    const WCHAR* text;
    int fmt;
    int cx;
  } columns[] = {{u"Name", LVCFMT_LEFT, 120}, {u"Size", LVCFMT_RIGHT, 70}, {u"Date", LVCFMT_LEFT, 136}};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = columns[i].fmt;
    column.cx = columns[i].cx;
    column.pszText = const_cast<WCHAR*>(columns[i].text);
    column.iSubItem = i;
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }

  Refresh(dialog, request);
  SetDlgItemTextW(dialog, kNameEdit, request->NameField);
  SetWindowTextW(dialog, request->Title);

  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(dialog, nullptr, work.left, work.top, work.right - work.left, work.bottom - work.top - 26, SWP_NOZORDER);
  SHINITDLGINFO init{};
  init.dwMask = SHIDIM_FLAGS;
  init.hDlg = dialog;
  init.dwFlags = SHIDIF_DONEBUTTON | SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN;
  SHInitDialog(&init);
  SHDoneButton(dialog, SHDB_SHOW);
  Layout(dialog, request);
  SetForegroundWindow(dialog);
  SetFocus(list);  // the keyboard starts in the list
}

void OnAncestorChosen(HWND dialog, BrowserRequest* request) {
  const int k = static_cast<int>(SendDlgItemMessageW(dialog, kAncestors, CB_GETCURSEL, 0, 0));
  if (k < 0) return;
  if (k == 0) {
    wcscpy_w(request->CurrentFolder, u"\\");
  } else {
    // Keep the first k components, each with its "\".
    WCHAR* p = request->CurrentFolder + 1;
    for (int i = 0; i < k && *p != 0; ++i) {
      while (*p != 0 && *p != u'\\') ++p;
      if (*p == u'\\') ++p;
    }
    *p = 0;
  }
  SetDlgItemTextW(dialog, kNameEdit, request->NameField);
  Refresh(dialog, request);
}

void FolderUp(HWND dialog, BrowserRequest* request) {
  WCHAR* folder = request->CurrentFolder;
  size_t n = wcslen_w(folder);
  if (n > 0 && folder[n - 1] == u'\\') folder[--n] = 0;
  while (n > 0 && folder[n - 1] != u'\\') --n;
  folder[n] = 0;
  if (folder[0] == 0) wcscpy_w(folder, u"\\");
  else EnsureSeparator(folder);
  ReadNameField(dialog, request);
  Refresh(dialog, request);
}

void OnClick(HWND dialog, BrowserRequest* request) {
  const int row = FocusedRow(dialog);
  if (row < 0) return;
  WCHAR name[MAX_PATH], path[MAX_PATH];
  RowName(dialog, row, name);
  if (JoinPath(path, request->CurrentFolder, name) && AttributeKind(path) == kIsFile) {
    SetDlgItemTextW(dialog, kNameEdit, name);
    wcscpy_w(request->NameField, name);
  } else {
    SetDlgItemTextW(dialog, kNameEdit, request->NameField);
  }
}

void OnDoubleClick(HWND dialog, BrowserRequest* request) {
  const int row = FocusedRow(dialog);
  if (row < 0) return;
  WCHAR name[MAX_PATH];
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = row;
  item.pszText = name;
  item.cchTextMax = MAX_PATH;
  SendMessageW(List(dialog), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  if ((static_cast<DWORD>(item.lParam) & kFolderish) != 0) {
    WCHAR folder[MAX_PATH];
    if (!JoinPath(folder, request->CurrentFolder, name) || !JoinPath(folder, folder, u"\\")) return;
    wcscpy_w(request->CurrentFolder, folder);
    Refresh(dialog, request);
  } else {
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  }
}

void DeleteFocused(HWND dialog, BrowserRequest* request) {
  const int row = FocusedRow(dialog);
  if (row < 0) return;
  WCHAR name[MAX_PATH], path[MAX_PATH];
  RowName(dialog, row, name);
  if (!JoinPath(path, request->CurrentFolder, name)) return;
  const int kind = PathKind(path);
  if (kind == kMissing) return;
  if (MessageBoxW(dialog, name, u"Delete ?", MB_YESNO) == IDYES) {
    if (kind == kIsFolder) RemoveDirectoryW(path);  // only an empty folder goes
    else DeleteFileW(path);
  }
  FillList(dialog, request);
  SortList(dialog);
}

// "folder\name" with every "\\" collapsed to "\".
bool RenamePath(WCHAR* out, const WCHAR* folder, const WCHAR* name) {
  if (!JoinPath(out, folder, u"\\") || !JoinPath(out, out, name)) return false;
  WCHAR* w = out;
  for (const WCHAR* r = out; *r != 0; ++r) {
    if (*r == u'\\' && w > out && w[-1] == u'\\') continue;
    *w++ = *r;
  }
  *w = 0;
  return true;
}

void OnEndRename(HWND dialog, BrowserRequest* request, const NMLVDISPINFOW* info) {
  request->LabelEditing = 0;
  if (info->item.pszText == nullptr) return;
  WCHAR from[MAX_PATH], to[MAX_PATH];
  if (RenamePath(from, request->CurrentFolder, request->OldName) &&
      RenamePath(to, request->CurrentFolder, info->item.pszText)) {
    // A rename never replaces another entry: the host's rename would
    // overwrite an existing file, the device's refuses.
    if (GetFileAttributesW(to) == INVALID_FILE_ATTRIBUTES) MoveFileW(from, to);
  }
  Refresh(dialog, request);
}

INT_PTR OnNotify(HWND dialog, BrowserRequest* request, const NMHDR* header) {
  if (header->idFrom != static_cast<UINT_PTR>(kFileList)) return FALSE;
  switch (header->code) {
    case NM_CLICK:
    case NM_RCLICK:
      OnClick(dialog, request);
      return TRUE;
    case NM_DBLCLK:
      OnDoubleClick(dialog, request);
      return TRUE;
    case LVN_KEYDOWN:
      if (!request->LabelEditing && reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey == VK_DELETE)
        DeleteFocused(dialog, request);
      return TRUE;
    case LVN_BEGINLABELEDITW: {
      const int row = FocusedRow(dialog);
      if (row < 0) return TRUE;
      RowName(dialog, row, request->OldName);
      request->LabelEditing = 1;
      SetWindowLongW(dialog, DWL_MSGRESULT, FALSE);  // let the rename start
      return TRUE;
    }
    case LVN_ENDLABELEDITW:
      OnEndRename(dialog, request, reinterpret_cast<const NMLVDISPINFOW*>(header));
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR OnCommand(HWND dialog, BrowserRequest* request, WPARAM wParam) {
  if (request->LabelEditing) return TRUE;
  switch (LOWORD(wParam)) {
    case IDOK:
      if (Accept(dialog, request)) CloseBrowser(dialog, request, IDOK);
      return TRUE;
    case IDCANCEL:
      CloseBrowser(dialog, request, IDCANCEL);
      return TRUE;
    case kNameEdit:
      ReadNameField(dialog, request);
      return TRUE;
    case kAncestors:
      if (HIWORD(wParam) == CBN_SELCHANGE) OnAncestorChosen(dialog, request);
      return TRUE;
    case 904:
    case 906: {
      HWND list = List(dialog);
      const DWORD style = static_cast<DWORD>(GetWindowLongW(list, GWL_STYLE)) & ~LVS_TYPEMASK;
      SetWindowLongW(list, GWL_STYLE, static_cast<LONG_PTR>(style | (LOWORD(wParam) == 904 ? LVS_REPORT : LVS_LIST)));
      return TRUE;
    }
    case 905:
      FolderUp(dialog, request);
      return TRUE;
    case 702:
      keybd_event(VK_TAB, 0, KEYEVENTF_SILENT, 0);
      keybd_event(VK_TAB, 0, KEYEVENTF_SILENT | KEYEVENTF_KEYUP, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool AppendPattern(PatternList* list, const WCHAR* pattern) {
  const size_t length = wcslen_w(pattern);
  if (list->count >= list->capacity) {
    const int capacity = list->count + (list->growth > 0 ? list->growth : 1);
    void* grown = realloc(list->entries, static_cast<size_t>(capacity) * sizeof(PatternEntry));
    if (grown == nullptr) {
      MessageBoxW(nullptr, list->entries == nullptr ? u"CLPA: alloc error!" : u"CLPA: realloc error!", u"",
                  MB_OK | MB_SETFOREGROUND);
      return false;
    }
    list->entries = static_cast<PatternEntry*>(grown);
    list->capacity = capacity;
  }
  auto* copy = static_cast<WCHAR*>(malloc((length + 1) * sizeof(WCHAR)));
  if (copy == nullptr) {
    MessageBoxW(nullptr, u"CLPA: alloc error!", u"", MB_OK | MB_SETFOREGROUND);
    return false;
  }
  memcpy(copy, pattern, (length + 1) * sizeof(WCHAR));
  list->entries[list->count++] = {copy, 0};
  if (length > list->longest) list->longest = length;
  return true;
}

void ClearPatterns(PatternList* list) {
  for (int i = 0; i < list->count; ++i) free(list->entries[i].text);
  free(list->entries);
  list->entries = nullptr;
  list->count = list->capacity = 0;
  list->longest = 0;
}

void PrepareRequest(BrowserRequest* request) {
  *request = BrowserRequest();
  request->Mode = kPickFile;
  request->Title = u"File";
}

void ReleaseRequest(BrowserRequest* request) { ClearPatterns(&request->Patterns); }

INT_PTR RunBrowser(BrowserRequest* request, HWND owner, WCHAR* inOutPath, const WCHAR* patterns) {
  if (request->CurrentFolder[0] == 0) {
    wcscpy_s_w(request->CurrentFolder, MAX_PATH, inOutPath);
    wcscpy_s_w(request->ResultPath, MAX_PATH, inOutPath);
    // The folder part of the path, with its final "\" ("\" for a name
    // directly under the root, so the browser always shows a folder).
    size_t cut = 0;
    for (size_t i = 0; request->CurrentFolder[i] != 0; ++i)
      if (request->CurrentFolder[i] == u'\\') cut = i + 1;
    request->CurrentFolder[cut] = 0;
    // Nothing chosen yet: the current folder (the device had none, and the
    // root is rarely where a Linux user keeps archives).
    if (request->CurrentFolder[0] == 0) {
      const DWORD length = GetCurrentDirectoryW(MAX_PATH, request->CurrentFolder);
      if (length == 0 || length >= MAX_PATH) request->CurrentFolder[0] = 0;
      EnsureSeparator(request->CurrentFolder);
    }
  } else {
    EnsureSeparator(request->CurrentFolder);
    WCHAR result[MAX_PATH];
    if (JoinPath(result, request->CurrentFolder, request->ResultPath)) wcscpy_w(request->ResultPath, result);
  }

  ClearPatterns(&request->Patterns);
  WCHAR text[MAX_PATH];
  wcscpy_s_w(text, MAX_PATH, patterns);
  WCHAR* piece = text;
  for (WCHAR* p = text;; ++p) {
    const WCHAR c = *p;
    *p = towupper_w(c);
    if (c == u';' || c == 0) {
      *p = 0;
      AppendPattern(&request->Patterns, piece);
      piece = p + 1;
      if (c == 0) break;
    }
  }

  const INT_PTR result = DialogBoxIndirectParamW(g_hInstance, LoadDialogTemplate(900), owner, BrowserProc,
                                                 reinterpret_cast<LPARAM>(request));
  if (result != IDOK) return result;
  wcscpy_w(inOutPath, request->ResultPath);
  return IDOK;
}

INT_PTR BrowserProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    OnInit(dialog, reinterpret_cast<BrowserRequest*>(lParam));
    return FALSE;  // the focus is in the list
  }
  BrowserRequest* request = RequestOf(dialog);
  if (request == nullptr) return FALSE;
  switch (message) {
    case WM_SIZE:
      Layout(dialog, request);
      return TRUE;
    case WM_COMMAND:
      return OnCommand(dialog, request, wParam);
    case WM_NOTIFY:
      return OnNotify(dialog, request, reinterpret_cast<const NMHDR*>(lParam));
    default:
      return FALSE;
  }
}

bool WildcardMatch(const WCHAR* pattern, const WCHAR* name) {
  const WCHAR* p = pattern;
  if (p[0] == u'*' && p[1] == u'.' && p[2] == u'*' && p[3] == 0) p = u"*";
  const WCHAR* n = name;
  while (*n != 0 && *p != u'*') {
    if (*p != *n && *p != u'?') return false;
    ++p;
    ++n;
  }
  const WCHAR* starPattern = nullptr;
  const WCHAR* starName = nullptr;
  while (*n != 0) {
    if (*p == u'*') {
      if (*++p == 0) return true;
      starPattern = p;
      starName = n + 1;
    } else if (*p == *n || *p == u'?') {
      ++p;
      ++n;
    } else {
      if (starPattern == nullptr) return false;
      p = starPattern;
      n = starName++;
    }
  }
  while (*p == u'*') ++p;
  return *p == 0;
}

void FormatSize(DWORD size, WCHAR* out, size_t outSize) {
  if (size < 10000) FormatWide(out, outSize, "%u", size);
  else if (size < 1000000) FormatWide(out, outSize, "%uKB", size / 1000);
  else if (size < 100000000) FormatWide(out, outSize, "%u,%03uKB", size / 1000 / 1000, size / 1000 % 1000);
  else FormatWide(out, outSize, "%uMB", size / 1000000);
}
