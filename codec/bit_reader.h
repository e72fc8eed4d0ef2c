// What the MSB-first and LSB-first bit readers share: up to 64 upcoming
// bits, the bytes in hand, where more bytes come from, and the one rule for
// the end of the input.
//
// Running dry: past the end of the input a reader supplies zero bytes and
// counts them. It has run dry once a decoder has consumed any of those
// zeros (zeros only loaded ahead do not count), which tells a stream that
// ran out from one that ended cleanly. Decoders test it once per code or
// per block rather than after every read.
//
// The bit order is a matter of the functions used on a reader:
// codec/msb_bit_reader.h or codec/lsb_bit_reader.h, never both on one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/bit_input.h"

namespace codec {

// The part of a reader that decoding works on. An inner loop may work on a
// local copy, which the compiler can keep in registers across a window's
// byte stores, and copy it back before anything that takes the whole
// reader (see LocalBits).
struct BitCursor {
  uint64_t bits;        // upcoming bits; the next one is bit 63 (MSB-first)
                        // or bit 0 (LSB-first)
  int count;            // bits of `bits` that are counted as loaded
  const uint8_t* next;  // next unread byte in hand
  const uint8_t* end;   // end of the bytes in hand
};

struct BitReader : BitCursor {
  uint32_t padBytes;  // zero bytes supplied past the end of the input
  BitInput* input;    // more input; null when the bytes in hand are all
};

// Starts on `size` bytes at `data`, then on what `input` gives (may be
// null). Loads no bits yet.
void StartBits(BitReader& r, const uint8_t* data, size_t size, BitInput* input);

// The next byte of input, or a counted zero byte past its end.
uint8_t NextByteOrPad(BitReader& r);

// Byte-coded access: the next whole byte of the input, or -1 when it has
// ended. Not to be mixed with bit reads on the same input.
int NextByte(BitReader& r);

// Whether a reader with `padBytes` zero bytes supplied and `count` bits
// still loaded has run dry.
inline bool RanDry(uint32_t padBytes, int count) {
  return padBytes != 0 && static_cast<uint64_t>(padBytes) * 8 > static_cast<uint64_t>(count);
}
inline bool RanDry(const BitReader& r) { return RanDry(r.padBytes, r.count); }

// A decoder's working copy of a reader's cursor and padding count, for
// inner loops that store window bytes: a local copy stays in registers
// where the reader itself, which byte stores may alias, would be reloaded
// after each one. Store puts the cursor back; the local refills of each bit
// order do so around their slow paths.
struct LocalBits {
  BitCursor c;
  uint32_t padBytes;

  void Load(const BitReader& r) {
    c = r;
    padBytes = r.padBytes;
  }
  void Store(BitReader& r) const { static_cast<BitCursor&>(r) = c; }
  bool Dry() const { return RanDry(padBytes, c.count); }
  // A refill's slow path, which works on the reader itself.
  void RefillThrough(BitReader& r, void (*slow)(BitReader&)) {
    Store(r);
    slow(r);
    Load(r);
  }
};

}  // namespace codec
