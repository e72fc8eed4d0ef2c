// The password prompt (template 103) as the terminal dialog.
#pragma once

#include "core/prompt.h"
#include "platform/window.h"

// Where the prompt leaves the typed text: UTF-8, terminated, at most size-1
// bytes (a character that does not fit whole is left out), and the caption
// it shows (UTF-8; null or empty: the template's own).
struct PasswordAnswer {
  char* utf8;
  unsigned size;
  const char* caption = nullptr;
};

// The dialog procedure; its creation parameter is a PasswordAnswer.
INT_PTR PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the prompt modally without owner; the reader that the terminal
// dialogs install with SetPasswordReader.
// The question is the caption ("Password for secret.txt in a.zip:"), after
// a wrong try "Wrong password. " before it.
void DialogPasswordReader(const PasswordQuestion& question, char* utf8, unsigned size);
