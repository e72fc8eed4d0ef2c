#include "codec/msb_bit_reader.h"

namespace {

// The next byte of input, or a zero byte counted as padding. The count
// stops growing at 2^24, far beyond any refill's look-ahead, so that it
// cannot wrap.
inline uint8_t NextOrPad(MsbBitReader& r) {
  if (r.next != r.end || (r.input != nullptr && r.input->NextPiece(&r.next, &r.end))) {
    return *r.next++;
  }
  if (r.padBytes < (1u << 24)) ++r.padBytes;
  return 0;
}

}  // namespace

void StartMsbBits(MsbBitReader& r, const uint8_t* data, size_t size, BitInput* input) {
  r.bits = 0;
  r.count = 0;
  r.next = data;
  r.end = data + size;
  r.padBytes = 0;
  r.input = input;
}

void RefillSlow(MsbBitReader& r) {
  while (r.count <= 56) {
    r.bits |= static_cast<uint64_t>(NextOrPad(r)) << (56 - r.count);
    r.count += 8;
  }
}

void RefillWordsSlow(MsbBitReader& r) {
  while (r.count <= 48) {
    const uint32_t low = NextOrPad(r);
    const uint32_t high = NextOrPad(r);
    r.bits |= static_cast<uint64_t>(high << 8 | low) << (48 - r.count);
    r.count += 16;
  }
}

int NextByte(MsbBitReader& r) {
  if (r.next == r.end && (r.input == nullptr || !r.input->NextPiece(&r.next, &r.end))) return -1;
  return *r.next++;
}
