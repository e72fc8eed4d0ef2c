// Helpers for driving the terminal dialogs without a terminal: a temporary
// registry, the dialog hooks installed, and a script that the modal loops
// run when they have nothing left to do.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "core/charset.h"
#include "platform/window.h"
#include "shell/main_dialog.h"
#include "support/testutil.h"

namespace uitest {

// The script gets the dialog of the modal loop that ran dry; it acts and
// returns true, or returns false to give up (the dialog then ends with -1).
using Script = std::function<bool(HWND)>;

inline bool RunScript(HWND dialog, void* context) { return (*static_cast<Script*>(context))(dialog); }

inline std::u16string Wide(const std::string& utf8) {
  std::u16string out(utf8.size() + 1, u'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return out;
}
inline std::string Utf8(const std::u16string& wide) {
  std::string out(wide.size() * 3 + 1, '\0');
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &out[0], static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return out;
}
// A host path as the program sees it ("\"-separated).
inline std::u16string ProgramPath(const std::string& host) {
  std::u16string w = Wide(host);
  for (auto& c : w)
    if (c == u'/') c = u'\\';
  return w;
}

inline std::u16string Text(HWND window) {
  WCHAR buffer[1024];
  GetWindowTextW(window, buffer, 1024);
  return buffer;
}
inline std::u16string Caption(HWND dialog) { return Text(dialog); }
inline std::u16string ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
inline void Command(HWND dialog, int id, int code = 0) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
inline void Type(HWND dialog, const std::u16string& text) {
  for (WCHAR c : text) DialogKey(dialog, 0, c);
}
// The text of a message box (its label).
inline std::u16string BoxText(HWND box) { return ItemText(box, 0xFFFF); }

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("DORVANE_REGISTRY", (tmp_ / "registry.reg").c_str(), 1);
    BuildLeadByteTable();
    InstallDialogHooks(true);
    SetScreenSize(24, 80);
    SetIdleDriver(RunScript, &script_);
  }
  void TearDown() override {
    SetIdleDriver(nullptr, nullptr);
    InstallDialogHooks(false);
  }
  testutil::TempDir tmp_;
  Script script_ = [](HWND) { return false; };
};

}  // namespace uitest
