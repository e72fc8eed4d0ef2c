#include "stream/uu_handler.h"

#include <cstring>

void UuHandler::FillDecodeTable(uint8_t table[128]) {
  memset(table, 0, 128);
  for (int c = ' '; c <= '_'; ++c) table[c] = static_cast<uint8_t>(c - ' ');
}
