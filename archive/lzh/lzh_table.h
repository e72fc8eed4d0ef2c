// Canonical Huffman decoding tables for the LZH and ARJ block methods.
//
// A code of up to `tableBits` bits is resolved by one lookup of the next
// `tableBits` input bits; its entry holds both the symbol and the code's
// length, so that decoding needs no second lookup. Longer codes (up to 16
// bits) continue from their table entry, which holds a tree node number,
// through binary tree nodes numbered from the symbol count upward, one
// level per further bit.
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

// A table entry, for a code that ends within the table: its symbol from
// bit 4 up and its length (at most 12) in bits 0-3. For an entry that leads
// into the tree: the flag kLzhEntryTree and the node number from bit 4 up
// (nodes stay below kLzhTreeNodes < 1024).
constexpr int kLzhEntryValueShift = 4;
constexpr uint32_t kLzhEntryLengthMask = (1u << kLzhEntryValueShift) - 1;
constexpr uint32_t kLzhEntryValueMask = 0x3FF;
constexpr uint32_t kLzhEntryTree = 0x8000;
static_assert(kLzhTreeNodes <= static_cast<int>(kLzhEntryValueMask) + 1, "node numbers fit");
static_assert((kLzhEntryValueMask << kLzhEntryValueShift) < kLzhEntryTree, "values fit below the flag");
static_assert(kLzhLiteralTableBits <= static_cast<int>(kLzhEntryLengthMask), "lengths fit");

// Left (bit 0) and right (bit 1) children of the tree nodes shared by all
// tables of one decoder. Node numbers of different codes may overlap; a code
// whose tree was overwritten can only give wrong symbols, never leave the
// arrays (see DecodeSymbol).
struct LzhTree {
  uint16_t left[kLzhTreeNodes];
  uint16_t right[kLzhTreeNodes];
};

// Builds `table` (2^tableBits entries, laid out as above) for symbols
// 0..symbolCount-1 with the given code lengths (0 = unused), codes ordered by
// length, then by symbol. Decoding also needs the lengths themselves (for
// the codes that end in the tree), so callers keep the list alongside.
// False, with table and tree unchanged, when a length exceeds 16 or the
// lengths do not fill the code space exactly (over- or under-subscribed).
[[nodiscard]] bool BuildDecodeTable(int symbolCount, const uint8_t* lengths, int tableBits,
                                    uint16_t* table, LzhTree& tree);

// Fills the table with one symbol that takes no bits (lengths all 0, which
// the entries hold too).
void FillSingleSymbol(int symbolCount, uint8_t* lengths, uint16_t* table, int tableBits,
                      uint32_t symbol);

// Decodes one symbol. The reader must hold at least 16 loaded bits. Values
// are kept inside 0..symbolCount-1 whatever the tables hold: a walk ends
// after 16 bits, and a value still outside the symbols gives symbol 0. The
// table and `lengths` must come from the same BuildDecodeTable or
// FillSingleSymbol, as far as the table's own symbols go (a short code's
// length is taken from its entry, any other from `lengths`).
template <int kTableBits>
inline uint32_t DecodeSymbol(LzhBitCursor& r, const uint16_t* table, const uint8_t* lengths,
                             const LzhTree& tree, uint32_t symbolCount) {
  const uint32_t entry = table[PeekBits(r, kTableBits)];
  // An entry that leads into the tree fails the test through its flag.
  if (entry < symbolCount << kLzhEntryValueShift) {
    DropBits(r, static_cast<int>(entry & kLzhEntryLengthMask));
    return entry >> kLzhEntryValueShift;
  }
  // A node number (or, in a table built for more symbols, a symbol) at or
  // above the symbol count walks the tree; one below it, in a table built
  // for fewer symbols, is taken as that symbol.
  uint32_t v = (entry >> kLzhEntryValueShift) & kLzhEntryValueMask;
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
