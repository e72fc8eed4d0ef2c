#include "archive/lzh/lzh_bit_reader.h"

namespace {

// Loads the next piece of the member's data; false when none is left (end of
// the packed size, end of file or a read error, all read as the end).
bool LoadInput(LzhBitReader& r) {
  if (r.packedRemaining == 0) return false;
  size_t want = r.packedRemaining < kLzhInputSize ? r.packedRemaining : kLzhInputSize;
  size_t got = std::fread(r.input, 1, want, r.stream);
  if (got == 0) {
    r.packedRemaining = 0;
    return false;
  }
  r.packedRemaining -= static_cast<uint32_t>(got);
  r.next = r.input;
  r.end = r.input + got;
  return true;
}

}  // namespace

void StartByteInput(LzhBitReader& r, FILE* stream, uint32_t packedSize) {
  r.bits = 0;
  r.count = 0;
  r.next = r.end = r.input;
  r.stream = stream;
  r.packedRemaining = packedSize;
  r.padBytes = 0;
}

void StartBitReader(LzhBitReader& r, FILE* stream, uint32_t packedSize) {
  StartByteInput(r, stream, packedSize);
  Refill(r);
}

void RefillSlow(LzhBitReader& r) {
  while (r.count <= 56) {
    uint8_t byte = 0;
    if (r.next != r.end || LoadInput(r)) {
      byte = *r.next++;
    } else if (r.padBytes < (1u << 24)) {
      ++r.padBytes;
    }
    r.bits |= static_cast<uint64_t>(byte) << (56 - r.count);
    r.count += 8;
  }
}

int NextByte(LzhBitReader& r) {
  if (r.next == r.end && !LoadInput(r)) return -1;
  return *r.next++;
}
