#include "archive/lzh/lzh_table.h"

bool BuildDecodeTable(int symbolCount, const uint8_t* lengths, int tableBits, uint16_t* table,
                      LzhTree& tree) {
  // Count the codes of each length and give each length its first code,
  // left-aligned in 16 bits. The sum is kept in 32 bits so that a code set
  // overfilling the space by a multiple of 2^16 is not taken for complete.
  uint32_t count[kLzhMaxCodeLength + 1] = {};
  for (int i = 0; i < symbolCount; ++i) {
    if (lengths[i] > kLzhMaxCodeLength) return false;
    ++count[lengths[i]];
  }
  uint32_t start[kLzhMaxCodeLength + 2];
  start[1] = 0;
  for (int len = 1; len <= kLzhMaxCodeLength; ++len) {
    start[len + 1] = start[len] + (count[len] << (kLzhMaxCodeLength - len));
  }
  if (start[kLzhMaxCodeLength + 1] != (1u << kLzhMaxCodeLength)) return false;

  // Entries that only longer codes pass through start empty (0 = no node
  // yet; nodes are numbered from symbolCount, so 0 is never a node).
  const int shift = kLzhMaxCodeLength - tableBits;
  const uint32_t tableSize = 1u << tableBits;
  for (uint32_t i = start[tableBits + 1] >> shift; i < tableSize; ++i) table[i] = 0;

  uint32_t nextNode = static_cast<uint32_t>(symbolCount);
  for (int symbol = 0; symbol < symbolCount; ++symbol) {
    const int len = lengths[symbol];
    if (len == 0) continue;
    const uint32_t code = start[len];
    start[len] += 1u << (kLzhMaxCodeLength - len);
    if (len <= tableBits) {
      const uint32_t first = code >> shift;
      const uint32_t last = first + (1u << (tableBits - len));
      const auto entry = static_cast<uint16_t>(symbol << kLzhEntryValueShift | len);
      for (uint32_t i = first; i < last; ++i) table[i] = entry;
      continue;
    }
    // The bits below the first tableBits, most significant first. The
    // first step leaves the table entry (flagged), the others tree nodes.
    uint32_t rest = (code << tableBits) & 0xFFFF;
    uint16_t* entry = &table[code >> shift];
    if (*entry == 0) {
      // Cannot happen for a complete code; checked so that no input can
      // write past the tree.
      if (nextNode >= static_cast<uint32_t>(kLzhTreeNodes)) return false;
      tree.left[nextNode] = tree.right[nextNode] = 0;
      *entry = static_cast<uint16_t>(kLzhEntryTree | nextNode++ << kLzhEntryValueShift);
    }
    uint32_t node = (*entry >> kLzhEntryValueShift) & kLzhEntryValueMask;
    uint16_t* slot = (rest & 0x8000) ? &tree.right[node] : &tree.left[node];
    rest = (rest << 1) & 0xFFFF;
    for (int k = len - tableBits - 1; k > 0; --k) {
      if (*slot == 0) {
        if (nextNode >= static_cast<uint32_t>(kLzhTreeNodes)) return false;
        tree.left[nextNode] = tree.right[nextNode] = 0;
        *slot = static_cast<uint16_t>(nextNode++);
      }
      node = *slot;
      slot = (rest & 0x8000) ? &tree.right[node] : &tree.left[node];
      rest = (rest << 1) & 0xFFFF;
    }
    *slot = static_cast<uint16_t>(symbol);
  }
  return true;
}

void FillSingleSymbol(int symbolCount, uint8_t* lengths, uint16_t* table, int tableBits,
                      uint32_t symbol) {
  // A value outside the symbols is invalid input; symbol 0 keeps every later
  // use of the value inside the tables.
  if (symbol >= static_cast<uint32_t>(symbolCount)) symbol = 0;
  for (int i = 0; i < symbolCount; ++i) lengths[i] = 0;
  const auto entry = static_cast<uint16_t>(symbol << kLzhEntryValueShift);
  for (uint32_t i = 0; i < (1u << tableBits); ++i) table[i] = entry;
}

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
