// Canonical Huffman decoding tables for codes read most significant bit
// first (LZH, ARJ, LZX): codes ordered by length, then by symbol.
//
// A code of up to `tableBits` bits is resolved by one lookup of the next
// `tableBits` input bits; its entry holds both the symbol and the code's
// length, so that decoding needs no second lookup. Longer codes (up to 16
// bits) continue from their table entry, which holds a tree node number,
// through binary tree nodes numbered from the symbol count upward, one
// level per further bit.
#pragma once

#include <cstdint>

#include "codec/msb_bit_reader.h"

namespace codec {

constexpr int kHuffmanMaxCodeLength = 16;

// A table entry, for a code that ends within the table: its symbol from
// bit 4 up and its length (at most 15) in bits 0-3. For an entry that leads
// into the tree: the flag kHuffmanEntryTree and the node number from bit 4
// up. Symbols and node numbers stay below 2048 (see HuffmanTree).
constexpr int kHuffmanEntryValueShift = 4;
constexpr uint32_t kHuffmanEntryLengthMask = (1u << kHuffmanEntryValueShift) - 1;
constexpr uint32_t kHuffmanEntryValueMask = 0x7FF;
constexpr uint32_t kHuffmanEntryTree = 0x8000;
static_assert((kHuffmanEntryValueMask << kHuffmanEntryValueShift) < kHuffmanEntryTree,
              "values fit below the flag");

// A complete prefix code of n symbols has n - 1 internal nodes; below a
// lookup table at most n - 2 of them need tree storage, numbered n .. 2n - 3.
// So tree storage for codes of up to n symbols holds HuffmanTreeNodes(n)
// nodes, and node numbers stay below the value mask for n up to 1024.
constexpr int HuffmanTreeNodes(int symbols) { return 2 * symbols - 1; }

// Left (bit 0) and right (bit 1) children of the tree nodes. Tables of one
// decoder may share a tree: node numbers of different codes may then
// overlap, and a code whose nodes were overwritten can only give wrong
// symbols, never leave the arrays (see DecodeHuffman).
template <int kNodes>
struct HuffmanTree {
  static_assert(kNodes <= static_cast<int>(kHuffmanEntryValueMask) + 1, "node numbers fit");
  uint16_t left[kNodes];
  uint16_t right[kNodes];
};

enum class HuffmanBuild {
  Ok,       // the table is built
  Empty,    // every length is 0; table and tree unchanged
  Invalid,  // a length above 16, or lengths that over- or under-fill the
            // code space; table and tree unchanged
};

// Builds `table` (2^tableBits entries, tableBits <= 15) and the tree nodes
// for symbols 0..symbolCount-1 with the given code lengths (0 = unused).
// Decoding also needs the lengths themselves (for the codes that end in the
// tree), so callers keep the list alongside. Never writes past the table or
// nodeCapacity nodes.
[[nodiscard]] HuffmanBuild BuildHuffmanTable(const uint8_t* lengths, int symbolCount,
                                             int tableBits, uint16_t* table, uint16_t* left,
                                             uint16_t* right, int nodeCapacity);

template <int kNodes>
[[nodiscard]] HuffmanBuild BuildHuffmanTable(const uint8_t* lengths, int symbolCount,
                                             int tableBits, uint16_t* table,
                                             HuffmanTree<kNodes>& tree) {
  return BuildHuffmanTable(lengths, symbolCount, tableBits, table, tree.left, tree.right, kNodes);
}

// Fills the table with one symbol that takes no bits, and the lengths
// with 0 (which the entries hold too). A symbol outside the code gives
// symbol 0.
void FillSingleSymbol(int symbolCount, uint8_t* lengths, uint16_t* table, int tableBits,
                      uint32_t symbol);

// Decodes one symbol whose table entry, for the cursor's next kTableBits
// bits, has been looked up already (so that the lookup of a code can be
// made before the refill that follows the code before it). The cursor must
// hold at least 16 loaded bits. Values are kept inside 0..symbolCount-1
// whatever the tables hold: a walk ends after 16 bits, and a value still
// outside the symbols gives symbol 0. The table and `lengths` must come
// from the same BuildHuffmanTable or FillSingleSymbol, as far as the
// table's own symbols go (a short code's length is taken from its entry,
// any other from `lengths`).
template <int kTableBits, int kNodes>
inline uint32_t DecodeHuffmanEntry(BitCursor& r, uint32_t entry, const uint8_t* lengths, const HuffmanTree<kNodes>& tree,
    uint32_t symbolCount) {
  // An entry that leads into the tree fails the test through its flag.
  if (entry < symbolCount << kHuffmanEntryValueShift) {
    DropBits(r, static_cast<int>(entry & kHuffmanEntryLengthMask));
    return entry >> kHuffmanEntryValueShift;
  }
  // A node number (or, in a table built for more symbols, a symbol) at or
  // above the symbol count walks the tree; one below it, in a table built
  // for fewer symbols, is taken as that symbol.
  uint32_t v = (entry >> kHuffmanEntryValueShift) & kHuffmanEntryValueMask;
  if (v >= symbolCount) {
    uint64_t probe = r.bits << kTableBits;
    int steps = kHuffmanMaxCodeLength - kTableBits;
    do {
      // A node number from a damaged table past the storage reads as none.
      if (v >= static_cast<uint32_t>(kNodes)) break;
      v = (probe >> 63) ? tree.right[v] : tree.left[v];
      probe <<= 1;
    } while (v >= symbolCount && --steps > 0);
    if (v >= symbolCount) v = 0;
  }
  DropBits(r, lengths[v]);
  return v;
}

// The table entry for the cursor's next kTableBits bits.
template <int kTableBits>
inline uint32_t HuffmanEntry(const BitCursor& r, const uint16_t* table) {
  return table[PeekBits(r, kTableBits)];
}

// Decodes one symbol, as DecodeHuffmanEntry after the lookup.
template <int kTableBits, int kNodes>
inline uint32_t DecodeHuffman(BitCursor& r, const uint16_t* table, const uint8_t* lengths,
                              const HuffmanTree<kNodes>& tree, uint32_t symbolCount) {
  return DecodeHuffmanEntry<kTableBits>(r, HuffmanEntry<kTableBits>(r, table), lengths, tree,
                                        symbolCount);
}

}  // namespace codec
