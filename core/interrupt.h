// SIGINT, SIGTERM and SIGHUP end the program at once, and cleanly: the
// member file being written is removed (an anonymous file goes with the
// process, a temporary name is removed: platform/output_file.h), the
// terminal is given back (the echo a password prompt turned off, the
// progress status line, and, through its own handler that runs first, the
// ncurses screen), "dorvane: interrupted" is said on standard error, and the
// program ends by the same signal, so its caller sees 128 + the signal's
// number (130, 143, 129) and a shell loop around it stops as for Ctrl-C.
#pragma once

#include <termios.h>

// Installed once at start-up, for each of the three signals that is not
// ignored (a program started with nohup keeps ignoring SIGHUP).
void InstallInterruptHandlers();

// The modes to put back on terminal `fd` when interrupted, while a prompt
// has changed them; fd -1 forgets them.
void SetTerminalModesToRestore(int fd, const termios* modes);
