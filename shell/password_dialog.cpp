#include "shell/password_dialog.h"

#include <string>

#include "core/output.h"
#include "shell/resources/resources.h"

namespace {

constexpr int kEdit = 1000, kHide = 1004;

void ApplyHide(HWND dialog) {
  const bool hide = IsDlgButtonChecked(dialog, kHide) == BST_CHECKED;
  SendDlgItemMessageW(dialog, kEdit, EM_SETPASSWORDCHAR, hide ? u'*' : 0, 0);
  InvalidateRect(GetDlgItem(dialog, kEdit), nullptr, TRUE);
}

// UTF-16 to UTF-8 that never cuts a character in two.
void StoreUtf8(const WCHAR* text, PasswordAnswer* answer) {
  if (answer->size == 0) return;
  answer->utf8[0] = '\0';
  size_t length = wcslen_w(text);
  while (length > 0) {
    WCHAR part[MAX_PATH * 4];
    const size_t n = length < sizeof part / sizeof part[0] - 1 ? length : sizeof part / sizeof part[0] - 1;
    for (size_t i = 0; i < n; ++i) part[i] = text[i];
    part[n] = 0;
    if (WideCharToMultiByte(CP_UTF8, 0, part, -1, answer->utf8, static_cast<int>(answer->size), nullptr, nullptr) > 0)
      return;
    length = n - 1;  // too long for the buffer: one character less
    if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] < 0xDC00) --length;
  }
  answer->utf8[0] = '\0';
}

}  // namespace

INT_PTR PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongW(dialog, GWL_USERDATA, lParam);
      if (const auto* answer = reinterpret_cast<const PasswordAnswer*>(lParam);
          answer != nullptr && answer->caption != nullptr && answer->caption[0] != '\0') {
        WCHAR caption[kPathBufferSize * 2];
        if (MultiByteToWideChar(CP_UTF8, 0, answer->caption, -1, caption, kPathBufferSize * 2) > 0)
          SetWindowTextW(dialog, caption);
      }
      CheckDlgButton(dialog, kHide, BST_CHECKED);
      SendDlgItemMessageW(dialog, kEdit, EM_SETPASSWORDCHAR, u'*', 0);
      SetFocus(GetDlgItem(dialog, kEdit));
      SetForegroundWindow(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == kHide) {
        ApplyHide(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == IDOK) {
        auto* answer = reinterpret_cast<PasswordAnswer*>(GetWindowLongW(dialog, GWL_USERDATA));
        const int length = GetWindowTextLengthW(GetDlgItem(dialog, kEdit));
        WCHAR* text = static_cast<WCHAR*>(LocalAlloc(LPTR, (static_cast<size_t>(length) + 1) * sizeof(WCHAR)));
        if (text != nullptr) {
          GetDlgItemTextW(dialog, kEdit, text, length + 1);
          if (answer != nullptr) StoreUtf8(text, answer);
          LocalFree(text);
        } else if (answer != nullptr && answer->size > 0) {
          answer->utf8[0] = '\0';
        }
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      return FALSE;  // Cancel and the close box leave the prompt open
    default:
      return FALSE;
  }
}

void DialogPasswordReader(const PasswordQuestion& question, char* utf8, unsigned size) {
  const std::string caption = std::string(question.wrongTry ? "Wrong password. " : "") + question.prompt;
  PasswordAnswer answer{utf8, size, caption.c_str()};
  if (size > 0) utf8[0] = '\0';
  DialogBoxIndirectParamW(g_hInstance, LoadDialogTemplate(103), nullptr, PasswordDialogProc,
                          reinterpret_cast<LPARAM>(&answer));
}
