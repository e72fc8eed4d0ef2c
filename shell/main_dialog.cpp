#include "shell/main_dialog.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/charset.h"
#include "core/handler.h"
#include "core/messages.h"
#include "core/progress.h"
#include "core/prompt.h"
#include "core/settings.h"
#include "shell/associate.h"
#include "shell/browser.h"
#include "shell/command_line.h"
#include "shell/password_dialog.h"
#include "shell/resources/resources.h"
#include "stream/text_parts.h"

WCHAR SelectedFile[MAX_PATH];

namespace {

constexpr int kFileButton = 1009, kPathButton = 1012, kMakeFolder = 1013, kOpenFolder = 1010;
constexpr int kExtract = 1002, kAssociate = 1006, kProgressText = 1011, kProgressMember = 1014,
              kProgressBar = 1015;

void EnableExtract(HWND dialog) { EnableWindow(GetDlgItem(dialog, kExtract), SelectedFile[0] != 0); }

// A path on a button: "/" between folders, as Linux users write them (the
// program keeps "\").
void SetPathText(HWND dialog, int id, const WCHAR* path) {
  WCHAR shown[MAX_PATH];
  size_t i = 0;
  for (; path[i] != 0 && i + 1 < MAX_PATH; ++i) shown[i] = path[i] == u'\\' ? u'/' : path[i];
  shown[i] = 0;
  SetDlgItemTextW(dialog, id, shown);
}

void OnInit(HWND dialog) {
  SelectedFile[0] = 0;
  // Where "Extract" will write: the stored path, or the current folder when
  // none is stored.
  char path[kExtractPathNarrowSize];
  if (!ReadOutputFolder(path)) path[0] = '\0';
  if (path[0] == '\0') strcpy(path, "\\");
  WCHAR* wide = ToWide(path);
  SetPathText(dialog, kPathButton, wide != nullptr ? wide : u"\\");
  LocalFree(wide);
  if (ReadMakeDir()) CheckDlgButton(dialog, kMakeFolder, BST_CHECKED);
  if (ReadOpenDir()) CheckDlgButton(dialog, kOpenFolder, BST_CHECKED);
  EnableExtract(dialog);
}

void OnFileButton(HWND dialog) {
  BrowserRequest request;
  PrepareRequest(&request);
  request.Mode = kPickFile;
  request.MustExist = 1;
  SelectedFile[0] = 0;
  RunBrowser(&request, dialog, SelectedFile, u"*.*");
  const WCHAR* name = SelectedFile;
  for (const WCHAR* p = SelectedFile; *p != 0; ++p)
    if (*p == u'\\') name = p + 1;
  SetDlgItemTextW(dialog, kFileButton, name);
  EnableExtract(dialog);
  ReleaseRequest(&request);
}

void OnPathButton(HWND dialog) {
  BrowserRequest request;
  PrepareRequest(&request);
  request.Mode = kPickFolder;
  request.MustExist = 1;
  WCHAR path[MAX_PATH] = {0};
  RunBrowser(&request, dialog, path, u"*.*");
  if (path[0] == 0) wcscpy_w(path, u"\\");
  SetPathText(dialog, kPathButton, path);
  WriteExtractPath(path);
  ReleaseRequest(&request);
}

void OnExtract() {
  if (WideToNarrow(SelectedFile, g_NarrowPath, sizeof g_NarrowPath)) {
    ProcessArchive(g_NarrowPath);
    text::FinishParts();
  } else {
    ++g_ResultCounters.notAFile;  // a path the code page cannot hold is no file to us
  }
  ResultReport();  // the totals since start-up, when one is not zero
}

// The progress window as the progress thread shows it.
class ProgressWindowView : public ProgressView {
 public:
  void Show(const ProgressRecord& record) override {
    window_ = CreateDialogIndirectParamW(g_hInstance, LoadDialogTemplate(106), nullptr, ProgressWindowProc,
                                         reinterpret_cast<LPARAM>(&record));
  }
  void Pump(const ProgressRecord& record) override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (window_ == nullptr) return;
    // The same figures as the status line, under a bar.
    MeasureProgress(record, &figures_);
    char member[900], bar[200], numbers[100], line[400];
    CurrentProgressMemberUtf8(member, sizeof member);
    FormatProgressBar(figures_, 20, bar, sizeof bar);
    FormatProgressFigures(figures_, numbers, sizeof numbers);
    snprintf(line, sizeof line, "%s %s", bar, numbers);
    SetUtf8Text(kProgressMember, member);
    SetUtf8Text(kProgressBar, line);
    UpdateWindow(window_);
  }
  void Hide(const ProgressRecord&) override {
    DestroyWindow(window_);
    window_ = nullptr;
    figures_ = ProgressFigures();
  }

 private:
  void SetUtf8Text(int id, const char* utf8) {
    WCHAR wide[400];
    if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 400) == 0) wide[0] = 0;
    SetDlgItemTextW(window_, id, wide);
  }

  HWND window_ = nullptr;
  ProgressFigures figures_;
};

ProgressWindowView g_progressWindow;

}  // namespace

INT_PTR MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    OnInit(dialog);
    return FALSE;
  }
  if (message != WM_COMMAND) return FALSE;
  switch (wParam) {  // the whole command word: plain clicks only
    case kFileButton:
      OnFileButton(dialog);
      break;
    case kPathButton:
      OnPathButton(dialog);
      break;
    case kMakeFolder:
      WriteMakeDir(IsDlgButtonChecked(dialog, kMakeFolder) == BST_CHECKED);
      InvalidateRect(dialog, nullptr, TRUE);
      break;
    case kOpenFolder:
      WriteOpenDir(IsDlgButtonChecked(dialog, kOpenFolder) == BST_CHECKED);
      InvalidateRect(dialog, nullptr, TRUE);
      break;
    case kExtract:
      OnExtract();
      break;
    case kAssociate:
      DialogBoxIndirectParamW(g_hInstance, LoadDialogTemplate(110), nullptr, AssociationDialogProc, 0);
      break;
    case IDCANCEL:
      PostQuitMessage(0);
      break;
    default:
      break;
  }
  return TRUE;
}

INT_PTR ProgressWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongW(dialog, GWL_USERDATA, lParam);
      const auto* record = reinterpret_cast<const ProgressRecord*>(lParam);
      WCHAR title[300], name[300];
      if (NarrowToWide(record->Title, title, 300) == 0) title[0] = 0;
      if (NarrowToWide(record->FileName, name, 300) == 0) name[0] = 0;
      SetWindowTextW(dialog, title);
      SetDlgItemTextW(dialog, kProgressText, name);
      ShowWindow(dialog, SW_SHOW);
      UpdateWindow(dialog);
      return FALSE;
    }
    case WM_SYSCOMMAND:
      return (wParam & 0xFFF0) == SC_CLOSE ? TRUE : FALSE;  // the user cannot close it
    case WM_COMMAND:
      return LOWORD(wParam) == IDCANCEL ? TRUE : FALSE;
    default:
      return FALSE;
  }
}

void InstallDialogHooks(bool install) {
  SetModuleResources(g_hInstance);
  SetMessageBoxHandler(install ? WindowMessageBox : nullptr);
  SetProgressView(install ? &g_progressWindow : nullptr);
  SetPasswordReader(install ? DialogPasswordReader : nullptr);
}

int RunMainDialog() {
  if (!StartTerminal()) {
    fputs("usage: dorvane ARCHIVE\n"
          "       dorvane '#P(FOLDER)#F(ARCHIVE)'\n"
          "Extracts ARCHIVE into the remembered extract path, or into FOLDER (which is\n"
          "then remembered). Without arguments in a terminal, the dialog opens.\n",
          stderr);
    return 2;
  }
  InstallDialogHooks(true);
  DialogBoxIndirectParamW(g_hInstance, LoadDialogTemplate(102), nullptr, MainDialogProc, 0);
  InstallDialogHooks(false);
  StopTerminal();
  return 0;
}
