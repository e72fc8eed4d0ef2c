// Adaptive Huffman decoding for -lh1- (literal/length tree of 314 leaves,
// fixed position code) and -lh2- (286 leaves, and a position tree that grows
// with the output).
#pragma once

#include <cstdint>

namespace lzh {

struct LzhDecoderState;
struct LzhWindow;
struct LzhMethodInfo;
enum class LzhDecodeResult : uint8_t;

// Node arrays of both trees: the literal/length tree in nodes 0..626 (root 0),
// the position tree from node 628 (root) up to 628 + 2 * 128 - 1.
constexpr int kAdaptiveNodes = 884;
constexpr int kAdaptivePositionRoot = 628;
// Leaves: literal/length symbols 0..313, position blocks at 314 + block.
constexpr int kAdaptiveSymbols = 442;
constexpr int kAdaptivePositionBase = 314;

// The frequency-ordered trees. Nodes are kept in index order of
// non-increasing frequency; adjacent nodes of equal frequency form a block
// whose leader (`edge`) is its lowest index, which makes the sibling
// property cheap to keep while frequencies grow.
struct AdaptiveTree {
  int16_t child[kAdaptiveNodes];   // internal: index i of one child (the other is i - 1);
                                   // leaf: ~symbol (negative)
  int16_t parent[kAdaptiveNodes];
  int16_t block[kAdaptiveNodes];   // block number of each node
  int16_t edge[kAdaptiveNodes];    // leader of each block number
  int16_t stock[kAdaptiveNodes];   // pool of free block numbers
  uint16_t frequency[kAdaptiveNodes];
  int16_t symbolNode[kAdaptiveSymbols];  // leaf node of each symbol
  int nextFree;            // index into stock of the next block number to hand out
  int leaves;              // literal/length leaves: 314 (-lh1-) or 286 (-lh2-)
  int extraSymbol;         // symbol followed by 8 bits (285 for -lh2-, none for -lh1-)
  int positionEnd;         // highest node of the position tree (-lh2-)
  uint32_t positionTotal;  // position updates since the last rebuild
  uint32_t windowSize;     // the position tree stops growing here
  uint32_t nextGrowth;     // output count at which the next position block appears
};

// Decodes one -lh1- or -lh2- member (the caller has allocated the window).
LzhDecodeResult DecodeAdaptive(LzhDecoderState& s, const LzhMethodInfo& method,
                               LzhWindow& window, uint64_t unpackedSize);

}  // namespace lzh
