// Canonical Huffman decoding tables for the LZH and ARJ block methods.
//
// A code of up to `tableBits` bits is resolved by one lookup of the next
// `tableBits` input bits. Longer codes (up to 16 bits) continue from their
// table entry through binary tree nodes numbered from the symbol count
// upward, one level per further bit.
#pragma once

#include <cstdint>

#include "archive/lzh/lzh_bit_reader.h"

constexpr int kLzhMaxCodeLength = 16;
constexpr int kLzhLiteralSymbols = 510;   // 256 literals + 254 lengths (3..256)
constexpr int kLzhLiteralTableBits = 12;
constexpr int kLzhPositionTableBits = 8;
constexpr int kLzhPositionLengths = 128;  // the largest position code (-lh3-)
// A complete prefix code of n symbols has n - 1 internal nodes; below a
// lookup table at most n - 2 of them need tree storage, numbered n .. 2n - 3.
// The literal/length code (510 symbols) has the largest numbers, so every
// code fits in nodes below 2 * 510 - 1.
constexpr int kLzhTreeNodes = 2 * kLzhLiteralSymbols - 1;

// Left (bit 0) and right (bit 1) children of the tree nodes shared by all
// tables of one decoder. Node numbers of different codes may overlap; a code
// whose tree was overwritten can only give wrong symbols, never leave the
// arrays (see DecodeSymbol).
struct LzhTree {
  uint16_t left[kLzhTreeNodes];
  uint16_t right[kLzhTreeNodes];
};

// Builds `table` (2^tableBits entries) for symbols 0..symbolCount-1 with the
// given code lengths (0 = unused), codes ordered by length, then by symbol.
// False, with table and tree unchanged, when a length exceeds 16 or the
// lengths do not fill the code space exactly (over- or under-subscribed).
[[nodiscard]] bool BuildDecodeTable(int symbolCount, const uint8_t* lengths, int tableBits,
                                    uint16_t* table, LzhTree& tree);

// Fills the table with one symbol that takes no bits (lengths all 0).
void FillSingleSymbol(int symbolCount, uint8_t* lengths, uint16_t* table, int tableBits,
                      uint32_t symbol);

// Decodes one symbol. The reader must hold at least 16 loaded bits. Values
// are kept inside 0..symbolCount-1 whatever the tables hold: a walk ends
// after 16 bits, and a value still outside the symbols gives symbol 0.
template <int kTableBits>
inline uint32_t DecodeSymbol(LzhBitCursor& r, const uint16_t* table, const uint8_t* lengths,
                             const LzhTree& tree, uint32_t symbolCount) {
  uint32_t v = table[PeekBits(r, kTableBits)];
  if (v >= symbolCount) {
    uint64_t probe = r.bits << kTableBits;
    int steps = kLzhMaxCodeLength - kTableBits;
    do {
      v = (probe >> 63) ? tree.right[v] : tree.left[v];
      probe <<= 1;
    } while (v >= symbolCount && --steps > 0);
    if (v >= symbolCount) v = 0;
  }
  DropBits(r, lengths[v]);
  return v;
}

// The ready-made position codes of -lh1- (row 0, 64 symbols) and -lh3-
// (row 1, 128 symbols): fills n lengths from the row.
void ReadyMadeLengths(int row, int n, uint8_t* lengths);
