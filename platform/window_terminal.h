// Between the window layer and its terminal: the window layer draws every
// window into a grid of character cells; the terminal shows the grid and
// delivers keys. Internal to platform/window*.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/windows.h"

namespace winterm {

enum Attr : uint8_t { kPlain = 0, kReverse = 1, kBold = 2, kUnderline = 4, kDim = 8 };

struct Cell {
  char32_t ch = U' ';  // 0: the right half of a double-width character
  uint8_t attr = kPlain;
};

struct Canvas {
  int rows = 0, cols = 0;
  std::vector<Cell> cells;
  int cursorRow = -1, cursorCol = -1;  // -1: no cursor
  void Reset(int r, int c);
  Cell* At(int r, int c) { return &cells[static_cast<size_t>(r) * cols + c]; }
};

// Cells a character takes on the terminal: 2 for East Asian wide ones.
int CharWidth(char32_t c);

struct Key {
  UINT vk = 0;       // virtual key, or 0 for a typed character
  WCHAR ch = 0;      // the typed character (vk 0)
  bool resize = false;
  int rows = 0, cols = 0;  // the new size on a resize
};

// The ncurses side (window_curses.cpp).
bool Open(int* rows, int* cols);
void Close();
bool IsOpen();
void Present(const Canvas& canvas);
// Waits up to timeoutMs for input without touching ncurses (so the other
// thread may draw meanwhile); true when there may be a key to read.
bool WaitInput(int timeoutMs);
// Reads one key; called under the window layer's lock. False when none.
bool ReadKey(Key* key);

}  // namespace winterm
