// ARJ method 4: the archiver's own "fastest" method. No Huffman tables: a
// literal or a match length is a unary-prefixed number, a match position a
// unary-prefixed offset, all read most significant bit first from the
// member's packed bytes. The bit reader and the window loop are the ones the
// LZH decoders use.
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

#include "archive/lzh/lzh_decoder.h"
#include "archive/lzh/lzh_methods.h"

namespace arj {

// The window is shared with ARJ methods 1 to 3 (not a power of two).
constexpr uint32_t kArjWindowSize = lzh::LzhMethodInfoOf(lzh::LzhMethod::Arj).windowSize;

// Decodes one member: reads at most `packedSize` bytes from `archive`
// (positioned at the member's first data byte) through the state's bit
// reader and writes `unpackedSize` bytes to `output` (a last match may run
// past it; all of its bytes are written). A stream that runs out of packed
// bytes ends there (InputEnded) instead of decoding its zero padding. A
// match reaching back before the first byte written copies zeros. The
// archive stream is left inside the member's packed bytes: the caller
// repositions it.
lzh::LzhDecodeResult DecodeArjMethod4(lzh::LzhDecoderState& state, FILE* archive, uint32_t packedSize,
                                 FILE* output, uint32_t unpackedSize);

}  // namespace arj
