#include "archive/lzh/lzh_table.h"

namespace lzh {

namespace {

// Each row: the first length, then the symbols at which the length grows by
// one (a symbol listed twice grows it twice), ended by 0.
constexpr uint8_t kReadyMadeRows[2][9] = {
    {3, 1, 4, 12, 24, 48, 0},
    {2, 1, 1, 3, 6, 13, 31, 78, 0},
};

}  // namespace

void ReadyMadeLengths(int row, int n, uint8_t* lengths) {
  const uint8_t* p = kReadyMadeRows[row];
  uint8_t len = *p++;
  for (int i = 0; i < n; ++i) {
    while (*p != 0 && *p == i) {
      ++len;
      ++p;
    }
    lengths[i] = len;
  }
}

}  // namespace lzh
