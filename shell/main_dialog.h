// The main dialog, shown when the program starts without a command line,
// and the progress window of the terminal dialogs.
#pragma once

#include "platform/window.h"

// In a terminal: runs the dialog until the user closes it and returns 0.
// Without one: prints how to call the program and returns 2.
int RunMainDialog();

// The full path of the archive chosen in the main dialog (empty: none).
extern WCHAR SelectedFile[MAX_PATH];

INT_PTR MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The progress window (template 106); its creation parameter is the
// ProgressRecord.
INT_PTR ProgressWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Installs the terminal dialogs' message box, progress window and password
// prompt (true), or gives the defaults back (false).
void InstallDialogHooks(bool install);
