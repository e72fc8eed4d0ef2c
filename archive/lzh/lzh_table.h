// The code sizes of the LZH and ARJ block methods, and the ready-made
// position codes of -lh1- and -lh3-. Tables are built and read with the
// codec's MSB-first Huffman tables.
#pragma once

#include <cstdint>

#include "codec/huffman_table.h"

namespace lzh {

constexpr int kLzhLiteralSymbols = 510;   // 256 literals + 254 lengths (3..256)
constexpr int kLzhLiteralTableBits = 12;
constexpr int kLzhPositionTableBits = 8;
constexpr int kLzhPositionLengths = 128;  // the largest position code (-lh3-)
static_assert(kLzhLiteralTableBits <= static_cast<int>(codec::kHuffmanEntryLengthMask), "lengths fit");

// The tree nodes shared by all tables of one decoder. The literal/length
// code has the most symbols, so every code fits (see HuffmanTreeNodes).
using LzhTree = codec::HuffmanTree<codec::HuffmanTreeNodes(kLzhLiteralSymbols)>;

// The ready-made position codes of -lh1- (row 0, 64 symbols) and -lh3-
// (row 1, 128 symbols): fills n lengths from the row.
void ReadyMadeLengths(int row, int n, uint8_t* lengths);

}  // namespace lzh
