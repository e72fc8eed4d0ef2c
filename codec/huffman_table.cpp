#include "codec/huffman_table.h"

#include <cstring>

namespace codec {

HuffmanBuild BuildHuffmanTable(const uint8_t* lengths, int symbolCount, int tableBits,
                               uint16_t* table, uint16_t* left, uint16_t* right,
                               int nodeCapacity) {
  // Count the codes of each length and give each length its first code,
  // left-aligned in 16 bits. The sum is kept in 32 bits so that a code set
  // overfilling the space by a multiple of 2^16 is not taken for complete.
  uint32_t count[kHuffmanMaxCodeLength + 1] = {};
  for (int i = 0; i < symbolCount; ++i) {
    if (lengths[i] > kHuffmanMaxCodeLength) return HuffmanBuild::Invalid;
    ++count[lengths[i]];
  }
  uint32_t start[kHuffmanMaxCodeLength + 2];
  start[1] = 0;
  for (int len = 1; len <= kHuffmanMaxCodeLength; ++len) {
    start[len + 1] = start[len] + (count[len] << (kHuffmanMaxCodeLength - len));
  }
  if (start[kHuffmanMaxCodeLength + 1] == 0) return HuffmanBuild::Empty;
  if (start[kHuffmanMaxCodeLength + 1] != (1u << kHuffmanMaxCodeLength)) {
    return HuffmanBuild::Invalid;
  }

  // Entries that only longer codes pass through start empty (0 = no node
  // yet; nodes are numbered from symbolCount, so 0 is never a node).
  const int shift = kHuffmanMaxCodeLength - tableBits;
  const uint32_t tableSize = 1u << tableBits;
  for (uint32_t i = start[tableBits + 1] >> shift; i < tableSize; ++i) table[i] = 0;

  uint32_t nextNode = static_cast<uint32_t>(symbolCount);
  const uint32_t capacity = static_cast<uint32_t>(nodeCapacity);
  for (int symbol = 0; symbol < symbolCount; ++symbol) {
    const int len = lengths[symbol];
    if (len == 0) continue;
    const uint32_t code = start[len];
    start[len] += 1u << (kHuffmanMaxCodeLength - len);
    if (len <= tableBits) {
      uint16_t* const to = &table[code >> shift];
      const uint32_t n = 1u << (tableBits - len);
      const auto entry = static_cast<uint16_t>(symbol << kHuffmanEntryValueShift | len);
      if (n >= 4) {
        // Four entries per store (n is a power of two).
        const uint64_t four = entry * 0x0001000100010001u;
        for (uint32_t i = 0; i < n; i += 4) std::memcpy(to + i, &four, 8);
      } else {
        for (uint32_t i = 0; i < n; ++i) to[i] = entry;
      }
      continue;
    }
    // The bits below the first tableBits, most significant first. The
    // first step leaves the table entry (flagged), the others tree nodes.
    // Running out of nodes cannot happen for a complete code within the
    // proven storage; it is checked so that no input can write past it.
    uint32_t rest = (code << tableBits) & 0xFFFF;
    uint16_t* entry = &table[code >> shift];
    if (*entry == 0) {
      if (nextNode >= capacity) return HuffmanBuild::Invalid;
      left[nextNode] = right[nextNode] = 0;
      *entry = static_cast<uint16_t>(kHuffmanEntryTree | nextNode++ << kHuffmanEntryValueShift);
    }
    uint32_t node = (*entry >> kHuffmanEntryValueShift) & kHuffmanEntryValueMask;
    uint16_t* slot = (rest & 0x8000) ? &right[node] : &left[node];
    rest = (rest << 1) & 0xFFFF;
    for (int k = len - tableBits - 1; k > 0; --k) {
      if (*slot == 0) {
        if (nextNode >= capacity) return HuffmanBuild::Invalid;
        left[nextNode] = right[nextNode] = 0;
        *slot = static_cast<uint16_t>(nextNode++);
      }
      node = *slot;
      slot = (rest & 0x8000) ? &right[node] : &left[node];
      rest = (rest << 1) & 0xFFFF;
    }
    *slot = static_cast<uint16_t>(symbol);
  }
  return HuffmanBuild::Ok;
}

void FillSingleSymbol(int symbolCount, uint8_t* lengths, uint16_t* table, int tableBits,
                      uint32_t symbol) {
  // A value outside the symbols is invalid input; symbol 0 keeps every later
  // use of the value inside the tables.
  if (symbol >= static_cast<uint32_t>(symbolCount)) symbol = 0;
  for (int i = 0; i < symbolCount; ++i) lengths[i] = 0;
  const auto entry = static_cast<uint16_t>(symbol << kHuffmanEntryValueShift);
  for (uint32_t i = 0; i < (1u << tableBits); ++i) table[i] = entry;
}

}  // namespace codec
