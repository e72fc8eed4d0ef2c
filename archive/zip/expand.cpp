#include "archive/zip/expand.h"

namespace zip {

namespace {

constexpr uint8_t kEscape = 0x90;  // starts a length/distance pair; 0x90 0x00 is a plain 0x90

// Per factor: the bits of the first pair byte that hold the length, and how
// the rest of that byte gives the high part of the distance.
struct FactorParams {
  uint32_t lengthMask;
  int distanceShift;
  uint32_t distanceHighMask;
};
constexpr FactorParams kFactors[5] = {
    {0, 0, 0},
    {0x7F, 7, 0x01},  // factor 1
    {0x3F, 6, 0x03},  // factor 2
    {0x1F, 5, 0x07},  // factor 3
    {0x0F, 4, 0x0F},  // factor 4
};

// Bits of an index into a follower set of n entries: enough to hold n - 1,
// at least 1.
constexpr int IndexBits(int n) {
  int bits = 1;
  while ((1 << bits) < n) ++bits;
  return bits;
}
static_assert(IndexBits(1) == 1 && IndexBits(2) == 1 && IndexBits(3) == 2 && IndexBits(5) == 3 &&
              IndexBits(33) == 6 && IndexBits(63) == 6);

enum class State { kLiteral, kAfterEscape, kExtraLength, kDistance };

}  // namespace

ZipDecodeResult Expand(ZipMemberIo& io, uint32_t size, int factor, void* work) {
  ExpandWork& w = *static_cast<ExpandWork*>(work);
  const FactorParams& f = kFactors[factor >= 1 && factor <= 4 ? factor : 1];
  ClearWindow(w.window);
  ZipBits bits(io);

  for (int value = 255; value >= 0; --value) {
    uint32_t n = ReadBits(bits, 6);
    w.followerCount[value] = static_cast<uint8_t>(n);
    for (uint32_t i = 0; i < n; ++i) w.followers[value][i] = static_cast<uint8_t>(ReadBits(bits, 8));
    for (uint32_t i = n; i < 64; ++i) w.followers[value][i] = 0;
  }
  if (bits.Dry()) return ZipDecodeResult::kTruncated;

  int64_t remaining = size;
  uint8_t last = 0;
  State state = State::kLiteral;
  uint32_t pairByte = 0;
  uint32_t length = 0;
  while (remaining > 0) {
    // The byte is coded relative to the previous byte of this stream (pair
    // bytes included), not the previous byte of output.
    uint8_t byte;
    int n = w.followerCount[last];
    if (n == 0 || ReadBits(bits, 1) == 1)
      byte = static_cast<uint8_t>(ReadBits(bits, 8));
    else
      byte = w.followers[last][ReadBits(bits, IndexBits(n))];  // index < 64: inside the set's row
    if (bits.Dry()) break;
    last = byte;

    switch (state) {
      case State::kLiteral:
        if (byte == kEscape) {
          state = State::kAfterEscape;
        } else {
          PutByte(w.window, io, byte);
          --remaining;
        }
        break;
      case State::kAfterEscape:
        if (byte == 0) {
          PutByte(w.window, io, kEscape);
          --remaining;
          state = State::kLiteral;
        } else {
          pairByte = byte;
          length = byte & f.lengthMask;
          state = length == f.lengthMask ? State::kExtraLength : State::kDistance;
        }
        break;
      case State::kExtraLength:
        length += byte;
        state = State::kDistance;
        break;
      case State::kDistance: {
        uint32_t distance = ((pairByte >> f.distanceShift) & f.distanceHighMask) * 256 + byte + 1;
        remaining -= length + 3;
        CopyMatch(w.window, io, distance, length + 3);
        state = State::kLiteral;
        break;
      }
    }
  }
  FlushWindow(w.window, io);
  return remaining > 0 ? ZipDecodeResult::kTruncated : ZipDecodeResult::kComplete;
}

}  // namespace zip
