#include "archive/zip/explode.h"

namespace zip {

namespace {

constexpr int kMaxCodeBits = 16;
constexpr int kLongLength = 63;  // a length value that takes 8 more bits

uint32_t Reverse16(uint32_t code) {
  uint32_t reversed = 0;
  for (int i = 0; i < 16; ++i) reversed |= ((code >> i) & 1) << (15 - i);
  return reversed;
}

// Adds a leaf for `value` at the path given by the low `length` bits of
// `path`, first bit lowest. An entry whose path is already taken by an
// earlier (shorter or equal) code can never be decoded and is left out.
void Insert(ShannonFanoTree& tree, uint32_t path, int length, int value) {
  int node = 0;
  for (int depth = 0; depth < length; ++depth) {
    int16_t& next = tree.child[node][(path >> depth) & 1];
    if (depth == length - 1) {
      if (next == 0) next = static_cast<int16_t>(-(value + 1));
      return;
    }
    if (next < 0) return;
    if (next == 0) {
      next = static_cast<int16_t>(tree.nodeCount);
      tree.child[tree.nodeCount][0] = 0;
      tree.child[tree.nodeCount][1] = 0;
      ++tree.nodeCount;
    }
    node = next;
  }
}

}  // namespace

ZipDecodeResult ReadShannonFanoTree(ZipBits& bits, int valueCount, ShannonFanoTree& tree) {
  // The description: a byte count - 1, then per byte the bit length - 1 (low
  // four bits) and how many consecutive values have it - 1 (high four bits).
  uint8_t bitLength[256];
  int count = 0;
  int bytes = static_cast<int>(ReadBits(bits, 8)) + 1;
  for (int i = 0; i < bytes; ++i) {
    int length = static_cast<int>(ReadBits(bits, 4)) + 1;
    int run = static_cast<int>(ReadBits(bits, 4)) + 1;
    if (bits.Dry()) return ZipDecodeResult::kTruncated;
    if (count + run > valueCount) return ZipDecodeResult::kBadData;
    while (run-- > 0) bitLength[count++] = static_cast<uint8_t>(length);
  }

  // Entries by bit length, then by value.
  uint8_t sorted[256];
  int entries = 0;
  for (int length = 1; length <= kMaxCodeBits; ++length)
    for (int value = 0; value < count; ++value)
      if (bitLength[value] == length) sorted[entries++] = static_cast<uint8_t>(value);

  // Codes are handed out from the longest entry back to the shortest, each
  // new length stepping by 2^(16 - length); they are read first bit highest.
  uint32_t codes[256];
  uint32_t code = 0, increment = 0;
  int lastLength = 0;
  for (int i = entries - 1; i >= 0; --i) {
    code = (code + increment) & 0xFFFF;
    int length = bitLength[sorted[i]];
    if (length != lastLength) {
      lastLength = length;
      increment = 1u << (kMaxCodeBits - length);
    }
    codes[i] = code;
  }

  tree.child[0][0] = tree.child[0][1] = 0;
  tree.nodeCount = 1;
  for (int i = 0; i < entries; ++i) {
    int length = bitLength[sorted[i]];
    uint32_t path = Reverse16(codes[i]);
    // Bits of the code beyond its length (only in a description that is not
    // a complete code) mean the code matches nothing.
    if ((path >> length) != 0) continue;
    Insert(tree, path, length, sorted[i]);
  }
  return ZipDecodeResult::kComplete;
}

int DecodeShannonFano(ZipBits& bits, const ShannonFanoTree& tree) {
  int node = 0;
  for (int depth = 0; depth < kMaxCodeBits; ++depth) {
    int next = tree.child[node][ReadBits(bits, 1)];
    if (bits.Dry()) return -2;
    if (next < 0) return -next - 1;
    if (next == 0) return -1;
    node = next;
  }
  return -1;
}

ZipDecodeResult Explode(ZipMemberIo& io, uint32_t size, bool window8k, bool literalTree, void* work) {
  ExplodeWork& w = *static_cast<ExplodeWork*>(work);
  const int lowBits = window8k ? 7 : 6;
  const uint32_t minMatch = literalTree ? 3 : 2;
  ClearWindow(w.window);
  ZipBits bits(io);

  ZipDecodeResult result = ZipDecodeResult::kComplete;
  if (literalTree) result = ReadShannonFanoTree(bits, 256, w.literals);
  if (result == ZipDecodeResult::kComplete) result = ReadShannonFanoTree(bits, 64, w.lengths);
  if (result == ZipDecodeResult::kComplete) result = ReadShannonFanoTree(bits, 64, w.distances);
  if (result != ZipDecodeResult::kComplete) return result;

  int64_t remaining = size;
  while (remaining >= 1) {
    if (ReadBits(bits, 1) == 1) {
      int literal = literalTree ? DecodeShannonFano(bits, w.literals) : static_cast<int>(ReadBits(bits, 8));
      if (bits.Dry() || literal < 0) {
        result = literal == -1 ? ZipDecodeResult::kBadData : ZipDecodeResult::kTruncated;
        break;
      }
      PutByte(w.window, io, static_cast<uint8_t>(literal));
      --remaining;
    } else {
      uint32_t low = ReadBits(bits, lowBits);
      int high = DecodeShannonFano(bits, w.distances);
      int length = high < 0 ? high : DecodeShannonFano(bits, w.lengths);
      if (length == kLongLength) length += static_cast<int>(ReadBits(bits, 8));
      if (bits.Dry() || length < 0) {
        result = length == -1 ? ZipDecodeResult::kBadData : ZipDecodeResult::kTruncated;
        break;
      }
      uint32_t total = static_cast<uint32_t>(length) + minMatch;
      uint32_t distance = ((static_cast<uint32_t>(high) << lowBits) | low) + 1;
      CopyMatch(w.window, io, distance, total);
      remaining -= total;
    }
  }
  FlushWindow(w.window, io);
  return result;
}

}  // namespace zip
