// ARJ method 4: the archiver's own "fastest" method. No Huffman tables: a
// literal or a match length is a unary-prefixed number, a match position a
// unary-prefixed offset, all read most significant bit first from the
// member's packed bytes (through the bit reader the LZH decoders use).
//
//   length code: up to 7 one-bits (a 0 ends the run early and is consumed),
//                w ones -> (2^w - 1) + w more bits
//                0      -> a literal, 8 bits follow
//                v > 0  -> a match of v + 2 bytes, then a position code
//   position:    up to 4 one-bits, w ones -> (2^(9+w) - 512) + (9+w) bits;
//                the match starts position + 1 bytes back in the window
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/lzh/lzh_bit_reader.h"

// The window is shared with ARJ methods 1 to 3: 26,624 bytes, not a power
// of two, so every index wraps with a compare rather than a mask.
constexpr uint32_t kArjWindowSize = 26624;

struct ArjMethod4Result {
  uint32_t written = 0;   // bytes written to the output stream
  uint32_t crc = 0;       // CRC-32 of those bytes
  bool ranDry = false;    // the codes needed more bits than the packed size holds
  bool writeFailed = false;
  bool noMemory = false;  // the window could not be allocated; nothing was read
};

// Decodes one member: reads at most `packedSize` bytes from `in` (positioned
// at the member's first data byte) through `reader` and writes exactly
// `unpackedSize` bytes to `out` when the stream is sound. A stream that runs
// out of packed bytes is cut off there rather than padded with invented
// data; a match longer than the bytes still owed is cut to them; a match
// reaching back before the first byte written copies zeros. The stream is
// left somewhere inside the member's packed bytes: the caller repositions it.
[[nodiscard]] ArjMethod4Result DecodeArjMethod4(LzhBitReader& reader, FILE* in,
                                                uint32_t packedSize, FILE* out,
                                                uint32_t unpackedSize);
