// The password prompt (template 103) as the terminal dialog.
#pragma once

#include "platform/window.h"

// Where the prompt leaves the typed text: UTF-8, terminated, at most size-1
// bytes (a character that does not fit whole is left out).
struct PasswordAnswer {
  char* utf8;
  unsigned size;
};

// The dialog procedure; its creation parameter is a PasswordAnswer.
INT_PTR PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the prompt modally without owner; the reader that the terminal
// dialogs install with SetPasswordReader.
void DialogPasswordReader(char* utf8, unsigned size);
