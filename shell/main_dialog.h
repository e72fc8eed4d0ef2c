// The main dialog, shown when the program starts without a command line.
#pragma once

// Runs the dialog until the user closes it; returns the exit status.
int RunMainDialog();
