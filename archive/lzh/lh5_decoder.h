// Block static Huffman decoding: -lh4- to -lh7- and ARJ methods 1 to 3. Each
// block starts with its own code tables; the methods differ only in window
// size and in the size of the position code.
#pragma once

#include "archive/lzh/lzh_decoder.h"

namespace lzh {

// Decodes one member of a block method (numbers 7 to 11) with the method's
// position code.
LzhDecodeResult DecodeBlockMethod(LzhDecoderState& s, const LzhMethodInfo& method,
                                  LzhWindow& window, uint32_t unpackedSize);

// Reads a length list of up to n symbols whose count is `countBits` wide into
// the position lengths and builds the 8-bit position table. After the length
// at index special - 1, a 2-bit count of zero lengths follows (special < 0:
// never). Shared with -lh3-.
void ReadPositionLengths(LzhDecoderState& s, int n, int countBits, int special);

}  // namespace lzh
