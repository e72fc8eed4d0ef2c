// Explode (ZIP method 6, "implode"): a sliding dictionary of 4 or 8 KiB with
// lengths, distances and optionally literals coded by Shannon-Fano trees.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/zip/zip_bit_reader.h"

namespace zip {

// A decoding trie for one tree: each node has two children, 0 for none, a
// positive node index, or -(value + 1) for a leaf. Every entry adds at most
// one node per bit of its code (16 at most), so 256 entries need at most
// 1 + 256 * 16 nodes.
struct ShannonFanoTree {
  static constexpr int kMaxNodes = 1 + 256 * 16;
  int16_t child[kMaxNodes][2];
  int nodeCount;
};

struct ExplodeWork {
  ZipWindow window;
  ShannonFanoTree literals;  // 256 values; present with the literal-tree flag
  ShannonFanoTree lengths;   // 64 values
  ShannonFanoTree distances; // 64 values: the high bits of a distance
};

// Decodes one member of `size` bytes from `io` into `io`, with the work
// area `work` (at least sizeof(ExplodeWork) bytes). `window8k`: flag bit 1
// (7 low distance bits instead of 6); `literalTree`: flag bit 2 (literals
// are coded, and matches are at least 3 bytes instead of 2). Writes at most
// size + 320 bytes (a copy may run past the size).
ZipDecodeResult Explode(ZipMemberIo& io, uint32_t size, bool window8k, bool literalTree, void* work);

// Builds a tree from its description in the stream: false (kBadData) when the
// description gives more values than `valueCount`, kTruncated at the end of
// input. Exposed for tests.
ZipDecodeResult ReadShannonFanoTree(ZipBits& bits, int valueCount, ShannonFanoTree& tree);

// The next value coded with the tree; -1 when the bits match no entry, -2 at
// the end of input.
int DecodeShannonFano(ZipBits& bits, const ShannonFanoTree& tree);

}  // namespace zip
