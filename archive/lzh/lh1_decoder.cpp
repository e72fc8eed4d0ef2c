#include "archive/lzh/lh1_decoder.h"

#include "archive/lzh/lzh_decoder.h"
#include "archive/lzh/lzh_window.h"

namespace lzh {

// This decoder is written on the codec kit.
using namespace codec;

namespace {

constexpr int kLh1Leaves = 314;          // 256 literals + lengths 3..60
constexpr int kLh2Leaves = 286;          // 256 literals + lengths 3..31, then 285 + 8 bits
constexpr int kNoExtraSymbol = 512;
constexpr uint16_t kRebuildFrequency = 32768;
constexpr uint32_t kPositionBlock = 64;  // bytes of output per position-tree leaf
constexpr uint32_t kNoMoreGrowth = 0xFFFFFFFF;
constexpr int kLh1PositionSymbols = 64;

int TakeBlock(AdaptiveTree& t) { return t.stock[t.nextFree++]; }
void ReturnBlock(AdaptiveTree& t, int b) { t.stock[--t.nextFree] = static_cast<int16_t>(b); }

// Points the children of node `at` (or, for a leaf, its symbol) back at it.
void Relink(AdaptiveTree& t, int child, int at) {
  if (child >= 0) {
    t.parent[child] = t.parent[child - 1] = static_cast<int16_t>(at);
  } else {
    t.symbolNode[~child] = static_cast<int16_t>(at);
  }
}

// Adds one to the frequency of node p, first swapping p with the leader of
// its block so that the order by frequency holds. Returns the parent of the
// node whose frequency grew.
int Increment(AdaptiveTree& t, int p) {
  int b = t.block[p];
  const int q = t.edge[b];
  if (q != p) {
    const int r = t.child[p];
    const int s = t.child[q];
    t.child[p] = static_cast<int16_t>(s);
    t.child[q] = static_cast<int16_t>(r);
    Relink(t, r, q);
    Relink(t, s, p);
    p = q;
  } else if (b != t.block[p + 1]) {
    // p is alone in its block: the block moves along with it.
    if (++t.frequency[p] == t.frequency[p - 1]) {
      ReturnBlock(t, b);
      t.block[p] = t.block[p - 1];
    }
    return t.parent[p];
  }
  // p leaves its block (whose leader moves one on) and joins the block above
  // or starts a new one.
  ++t.edge[b];
  if (++t.frequency[p] == t.frequency[p - 1]) {
    t.block[p] = t.block[p - 1];
  } else {
    b = TakeBlock(t);
    t.block[p] = static_cast<int16_t>(b);
    t.edge[b] = static_cast<int16_t>(p);
  }
  return t.parent[p];
}

// Halves the leaf frequencies of nodes start..end-1 and rebuilds the tree
// over them, so that frequencies stay within 16 bits.
void Rebuild(AdaptiveTree& t, int start, int end) {
  int j = start;
  for (int i = start; i < end; ++i) {
    if (t.child[i] < 0) {
      t.frequency[j] = static_cast<uint16_t>((t.frequency[i] + 1) / 2);
      t.child[j] = t.child[i];
      ++j;
    }
    if (t.edge[t.block[i]] == i) ReturnBlock(t, t.block[i]);
  }
  // Merge the two lowest nodes into a new internal node, placed at the
  // first index whose frequency it reaches, moving the leaves down.
  --j;
  int i = end - 1;
  int l = end - 2;
  while (i >= start) {
    while (i >= l && j >= start) {
      t.frequency[i] = t.frequency[j];
      t.child[i] = t.child[j];
      --i;
      --j;
    }
    if (i < start) break;
    const uint32_t f = static_cast<uint32_t>(t.frequency[l]) + t.frequency[l + 1];
    int k = start;
    while (k < i && f < t.frequency[k]) ++k;
    while (j >= k) {
      t.frequency[i] = t.frequency[j];
      t.child[i] = t.child[j];
      --i;
      --j;
    }
    t.frequency[i] = static_cast<uint16_t>(f);
    t.child[i] = static_cast<int16_t>(l + 1);
    --i;
    l -= 2;
  }
  // Links and blocks anew.
  uint32_t running = 0;
  int b = 0;
  for (i = start; i < end; ++i) {
    Relink(t, t.child[i], i);
    if (i != start && t.frequency[i] == running) {
      t.block[i] = static_cast<int16_t>(b);
    } else {
      b = TakeBlock(t);
      t.block[i] = static_cast<int16_t>(b);
      t.edge[b] = static_cast<int16_t>(i);
      running = t.frequency[i];
    }
  }
}

void StartLiteralTree(AdaptiveTree& t, int leaves, bool lh2) {
  t.leaves = leaves;
  t.extraSymbol = lh2 ? leaves - 1 : kNoExtraSymbol;
  for (int i = 0; i < kAdaptiveNodes; ++i) {
    t.stock[i] = static_cast<int16_t>(i);
    t.block[i] = 0;
  }
  // Leaves of frequency 1 at the top indices, all in block 1.
  for (int i = 0; i < leaves; ++i) {
    const int j = 2 * leaves - 2 - i;
    t.frequency[j] = 1;
    t.child[j] = static_cast<int16_t>(~i);
    t.symbolNode[i] = static_cast<int16_t>(j);
    t.block[j] = 1;
  }
  t.nextFree = 2;
  t.edge[1] = static_cast<int16_t>(leaves - 1);
  // Internal nodes pair them off from the bottom up.
  for (int j = leaves - 2, i = 2 * leaves - 2; j >= 0; --j, i -= 2) {
    t.frequency[j] = static_cast<uint16_t>(t.frequency[i] + t.frequency[i - 1]);
    t.child[j] = static_cast<int16_t>(i);
    t.parent[i] = t.parent[i - 1] = static_cast<int16_t>(j);
    int b;
    if (t.frequency[j] == t.frequency[j + 1]) {
      b = t.block[j + 1];
    } else {
      b = TakeBlock(t);
    }
    t.block[j] = static_cast<int16_t>(b);
    t.edge[b] = static_cast<int16_t>(j);
  }
}

void StartPositionTree(AdaptiveTree& t, uint32_t windowSize) {
  const int root = kAdaptivePositionRoot;
  t.frequency[root] = 1;
  t.child[root] = static_cast<int16_t>(~kAdaptivePositionBase);
  t.symbolNode[kAdaptivePositionBase] = root;
  const int b = TakeBlock(t);
  t.block[root] = static_cast<int16_t>(b);
  t.edge[b] = root;
  t.positionEnd = root;
  t.positionTotal = 0;
  t.windowSize = windowSize;
  t.nextGrowth = kPositionBlock;
}

void UpdatePosition(AdaptiveTree& t, int block) {
  const int root = kAdaptivePositionRoot;
  if (t.positionTotal == kRebuildFrequency) {
    Rebuild(t, root, t.positionEnd + 1);
    t.positionTotal = t.frequency[root];
    t.frequency[root] = 0xFFFF;
  }
  for (int q = t.symbolNode[block + kAdaptivePositionBase]; q != root;) q = Increment(t, q);
  ++t.positionTotal;
}

// Adds a leaf for position block p: the current last leaf becomes an
// internal node over itself and the new leaf (frequency 0).
void AddPositionLeaf(AdaptiveTree& t, int p) {
  const int root = kAdaptivePositionRoot;
  const int end = t.positionEnd;
  const int r = end + 1;
  const int q = r + 1;
  t.child[r] = t.child[end];
  t.symbolNode[~t.child[r]] = static_cast<int16_t>(r);
  t.child[q] = static_cast<int16_t>(~(p + kAdaptivePositionBase));
  t.child[end] = static_cast<int16_t>(q);
  t.frequency[r] = t.frequency[end];
  t.frequency[q] = 0;
  t.block[r] = t.block[end];
  if (end == root) {
    t.frequency[root] = 0xFFFF;
    ++t.edge[t.block[root]];
  }
  t.parent[r] = t.parent[q] = static_cast<int16_t>(end);
  t.positionEnd = q;
  const int b = TakeBlock(t);
  t.block[q] = static_cast<int16_t>(b);
  t.edge[b] = static_cast<int16_t>(q);
  t.symbolNode[p + kAdaptivePositionBase] = static_cast<int16_t>(q);
  UpdatePosition(t, p);
}

// Walks from the root's children to a leaf, one bit per level (bit 0 takes
// the higher-numbered child). The trees are built by the decoder itself, so
// a walk always ends; the bound only guards against a broken invariant.
int WalkTree(AdaptiveTree& t, BitReader& r, int root) {
  int c = t.child[root];
  for (int steps = 0; c > 0 && steps < kAdaptiveNodes; ++steps) {
    Refill(r);
    c = t.child[c - static_cast<int>(GetBits(r, 1))];
  }
  return c > 0 ? 0 : ~c;
}

class AdaptiveDecoder {
 public:
  static constexpr uint32_t kLengthBase = 253;

  AdaptiveDecoder(LzhDecoderState& s, bool lh2) : s_(s), t_(s.adaptive), r_(s.reader), lh2_(lh2) {}

  uint32_t Code() {
    const int symbol = WalkTree(t_, r_, 0);
    if (t_.frequency[0] == kRebuildFrequency) Rebuild(t_, 0, 2 * t_.leaves - 1);
    ++t_.frequency[0];
    for (int q = t_.symbolNode[symbol]; q != 0;) q = Increment(t_, q);
    if (symbol == t_.extraSymbol) return static_cast<uint32_t>(symbol) + GetBits(r_, 8);
    return static_cast<uint32_t>(symbol);
  }

  uint32_t Distance(uint64_t produced, uint32_t) {
    if (!lh2_) {
      Refill(r_);
      const uint32_t j = DecodeHuffman<kLzhPositionTableBits>(
          r_, s_.positionTable, s_.positionLengths, s_.tree, kLh1PositionSymbols);
      return (j << 6) + GetBits(r_, 6);
    }
    // The position tree gains a leaf for every 64 bytes decoded before this
    // match, up to the window size.
    while (produced > t_.nextGrowth) {
      AddPositionLeaf(t_, static_cast<int>(t_.nextGrowth / kPositionBlock));
      t_.nextGrowth += kPositionBlock;
      if (t_.nextGrowth >= t_.windowSize) t_.nextGrowth = kNoMoreGrowth;
    }
    const int leaf = WalkTree(t_, r_, kAdaptivePositionRoot);
    const int block = leaf - kAdaptivePositionBase;
    if (block < 0) return GetBits(r_, 6);  // unreachable for a sound tree
    UpdatePosition(t_, block);
    return (static_cast<uint32_t>(block) << 6) + GetBits(r_, 6);
  }

  bool Dry() const { return RanDry(r_); }

 private:
  LzhDecoderState& s_;
  AdaptiveTree& t_;
  BitReader& r_;
  bool lh2_;
};

}  // namespace

LzhDecodeResult DecodeAdaptive(LzhDecoderState& s, const LzhMethodInfo& method,
                               LzhWindow& window, uint64_t unpackedSize) {
  const bool lh2 = method.method == LzhMethod::Lh2;
  AdaptiveTree& t = s.adaptive;
  StartLiteralTree(t, lh2 ? kLh2Leaves : kLh1Leaves, lh2);
  if (lh2) {
    StartPositionTree(t, window.size);
  } else {
    uint8_t lengths[kLh1PositionSymbols];
    ReadyMadeLengths(0, kLh1PositionSymbols, lengths);
    // A ready-made code is complete by construction.
    (void)BuildHuffmanTable(lengths, kLh1PositionSymbols, kLzhPositionTableBits, s.positionTable,
                            s.tree);
    for (int i = 0; i < kLh1PositionSymbols; ++i) s.positionLengths[i] = lengths[i];
  }
  AdaptiveDecoder decoder(s, lh2);
  return RunWindowLoop<true>(decoder, window, unpackedSize);
}

}  // namespace lzh
