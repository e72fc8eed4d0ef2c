// The terminal behind the window layer: ncurses (wide-character build)
// shows the cell grid and delivers keys.
//
// The terminal is always given back: at a normal end (StopTerminal or exit),
// and on SIGINT, SIGTERM, SIGHUP, SIGQUIT and the fatal signals, where a
// handler restores the saved terminal modes and leaves the alternate screen
// with async-signal-safe calls only, then calls the handler the program had
// for the signal, if any, or lets the signal take its course.
//
// Keys come from standard input when it is the terminal. When it is not (the
// program was given a pipe, `echo x | dorvane`) but the screen is a terminal,
// the keys come from the controlling terminal, /dev/tty, as a pager does: the
// dialogs need a keyboard, and the piped text is left unread.
#define NCURSES_WIDECHAR 1
#include <ncursesw/curses.h>
#include <ncursesw/term.h>
#include <langinfo.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <fcntl.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/window.h"
#include "platform/window_terminal.h"

namespace winterm {
namespace {

SCREEN* g_screen = nullptr;
bool g_open = false;
int g_inputFd = STDIN_FILENO;    // where the keys come from
FILE* g_keyboard = nullptr;       // /dev/tty, when standard input is not it
// After a key, ncurses may already hold the next one (the rest of an escape
// sequence that was not a key), which poll() cannot see.
bool g_maybeBuffered = false;
termios g_savedModes;
bool g_haveSavedModes = false;
char g_restoreSequence[256];  // leave the alternate screen, show the cursor
size_t g_restoreLength = 0;
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGABRT, SIGBUS, SIGFPE};
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];

void AppendCapability(const char* name) {
  const char* s = tigetstr(const_cast<char*>(name));
  if (s == nullptr || s == reinterpret_cast<char*>(-1)) return;
  const size_t n = strlen(s);
  if (g_restoreLength + n >= sizeof g_restoreSequence) return;
  memcpy(g_restoreSequence + g_restoreLength, s, n);
  g_restoreLength += n;
}

void EmergencyRestore(int sig) {
  if (g_open) {
    if (g_restoreLength > 0) {
      ssize_t ignored = write(STDOUT_FILENO, g_restoreSequence, g_restoreLength);
      (void)ignored;
    }
    if (g_haveSavedModes) tcsetattr(g_inputFd, TCSANOW, &g_savedModes);
    g_open = false;
  }
  // Then the handler that was there before, when the program has one for
  // this signal (its interrupt handler, which ends the program), else the
  // signal's own course.
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    if (kSignals[i] != sig) continue;
    const struct sigaction& previous = g_previous[i];
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
      previous.sa_handler(sig);
    }
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

void RestoreAtExit() { Close(); }

void CloseKeyboard() {
  if (g_keyboard != nullptr) fclose(g_keyboard);
  g_keyboard = nullptr;
  g_inputFd = STDIN_FILENO;
}

UINT MapKey(int code) {
  switch (code) {
    case KEY_UP: return VK_UP;
    case KEY_DOWN: return VK_DOWN;
    case KEY_LEFT: return VK_LEFT;
    case KEY_RIGHT: return VK_RIGHT;
    case KEY_PPAGE: return VK_PRIOR;
    case KEY_NPAGE: return VK_NEXT;
    case KEY_HOME: return VK_HOME;
    case KEY_END: return VK_END;
    case KEY_DC: return VK_DELETE;
    case KEY_BACKSPACE: return VK_BACK;
    case KEY_ENTER: return VK_RETURN;
    case KEY_BTAB: return VK_BACKTAB;
    default: break;
  }
  if (code == KEY_F(2)) return VK_F2;
  if (code == KEY_F(10)) return VK_F10;
  return 0;
}

}  // namespace

bool IsOpen() { return g_open; }

bool Open(int* rows, int* cols) {
  if (g_open) {
    getmaxyx(stdscr, *rows, *cols);
    return true;
  }
  if (!isatty(STDOUT_FILENO)) return false;
  FILE* input = stdin;
  g_inputFd = STDIN_FILENO;
  if (!isatty(STDIN_FILENO)) {
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    g_keyboard = fdopen(fd, "r+");
    if (g_keyboard == nullptr || !isatty(fd)) {
      if (g_keyboard != nullptr) fclose(g_keyboard);
      else close(fd);
      g_keyboard = nullptr;
      return false;
    }
    input = g_keyboard;
    g_inputFd = fd;
  }
  setlocale(LC_ALL, "");
  // Names are shown as UTF-8 whatever the locale says.
  if (strcmp(nl_langinfo(CODESET), "UTF-8") != 0) setlocale(LC_CTYPE, "C.UTF-8");
  g_haveSavedModes = tcgetattr(g_inputFd, &g_savedModes) == 0;
  g_screen = newterm(nullptr, stdout, input);
  if (g_screen == nullptr) {
    CloseKeyboard();
    return false;
  }
  set_term(g_screen);
  g_restoreLength = 0;
  AppendCapability("sgr0");
  AppendCapability("cnorm");
  AppendCapability("rmcup");
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  g_open = true;
  static bool registered = false;
  if (!registered) {
    atexit(RestoreAtExit);
    registered = true;
  }
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = EmergencyRestore;
    sigemptyset(&sa.sa_mask);
    sigaction(kSignals[i], &sa, &g_previous[i]);
  }
  getmaxyx(stdscr, *rows, *cols);
  return true;
}

void Close() {
  if (!g_open) return;
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
  curs_set(1);
  endwin();
  delscreen(g_screen);
  g_screen = nullptr;
  g_open = false;
  if (g_haveSavedModes) tcsetattr(g_inputFd, TCSANOW, &g_savedModes);
  CloseKeyboard();
}

void Present(const Canvas& canvas) {
  if (!g_open) return;
  int rows, cols;
  getmaxyx(stdscr, rows, cols);
  for (int r = 0; r < canvas.rows && r < rows; ++r) {
    for (int c = 0; c < canvas.cols && c < cols; ++c) {
      const Cell& cell = canvas.cells[static_cast<size_t>(r) * canvas.cols + c];
      if (cell.ch == 0) continue;  // the right half of a wide character
      attr_t attr = A_NORMAL;
      if (cell.attr & kReverse) attr |= A_REVERSE;
      if (cell.attr & kBold) attr |= A_BOLD;
      if (cell.attr & kUnderline) attr |= A_UNDERLINE;
      if (cell.attr & kDim) attr |= A_DIM;
      wchar_t text[2] = {static_cast<wchar_t>(cell.ch), 0};
      cchar_t cc;
      setcchar(&cc, text, attr, 0, nullptr);
      mvadd_wch(r, c, &cc);
    }
  }
  if (canvas.cursorRow >= 0 && canvas.cursorRow < rows && canvas.cursorCol < cols) {
    curs_set(1);
    move(canvas.cursorRow, canvas.cursorCol);
  } else {
    curs_set(0);
  }
  refresh();
}

bool WaitInput(int timeoutMs) {
  if (!g_open) return false;
  if (g_maybeBuffered) return true;
  pollfd fd{g_inputFd, POLLIN, 0};
  const int r = poll(&fd, 1, timeoutMs);
  // An interrupted wait may be a size change that ncurses has noted.
  return r != 0;
}

bool ReadKey(Key* key) {
  if (!g_open) return false;
  timeout(g_maybeBuffered ? 0 : 30);
  wint_t wc = 0;
  const int r = get_wch(&wc);
  g_maybeBuffered = r != ERR;
  if (r == ERR) return false;
  *key = Key();
  if (r == KEY_CODE_YES) {
    if (static_cast<int>(wc) == KEY_RESIZE) {
      key->resize = true;
      getmaxyx(stdscr, key->rows, key->cols);
      return true;
    }
    key->vk = MapKey(static_cast<int>(wc));
    return key->vk != 0;
  }
  switch (wc) {
    case '\t': key->vk = VK_TAB; return true;
    case '\r': case '\n': key->vk = VK_RETURN; return true;
    case 27: key->vk = VK_ESCAPE; return true;
    case 127: case 8: key->vk = VK_BACK; return true;
    case ' ': key->vk = VK_SPACE; key->ch = u' '; return true;
    default: break;
  }
  if (wc < 0x20) return false;
  key->ch = wc > 0xFFFF ? u'?' : static_cast<WCHAR>(wc);
  return true;
}

}  // namespace winterm
