#include "codec/bit_reader.h"

namespace codec {

void StartBits(BitReader& r, const uint8_t* data, size_t size, BitInput* input) {
  r.bits = 0;
  r.count = 0;
  r.next = data;
  r.end = data + size;
  r.padBytes = 0;
  r.input = input;
}

uint8_t NextByteOrPad(BitReader& r) {
  if (r.next != r.end || (r.input != nullptr && r.input->NextPiece(&r.next, &r.end))) {
    return *r.next++;
  }
  // The count stops growing at 2^24, far beyond any refill's look-ahead,
  // so that it cannot wrap.
  if (r.padBytes < (1u << 24)) ++r.padBytes;
  return 0;
}

int NextByte(BitReader& r) {
  if (r.next == r.end && (r.input == nullptr || !r.input->NextPiece(&r.next, &r.end))) return -1;
  return *r.next++;
}

}  // namespace codec
