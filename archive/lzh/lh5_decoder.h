// Block static Huffman decoding: -lh4- to -lh7-, -lhx-, ARJ methods 1 to 3
// and LHARK's -lk7-. Each block starts with its own code tables; the
// methods differ in window size, in the size of the position code and, for
// LHARK, in how match lengths and positions are coded.
#pragma once

#include "archive/lzh/lzh_decoder.h"

namespace lzh {

// Decodes one member of a block method (-lh4- to -lh7-, -lhx-, ARJ) with
// the method's position code.
LzhDecodeResult DecodeBlockMethod(LzhDecoderState& s, const LzhMethodInfo& method,
                                  LzhWindow& window, uint64_t unpackedSize);
// The same in LHARK's coding (-lk7-).
LzhDecodeResult DecodeLharkMethod(LzhDecoderState& s, const LzhMethodInfo& method,
                                  LzhWindow& window, uint64_t unpackedSize);

// Reads a length list of up to n symbols whose count is `countBits` wide into
// the position lengths and builds the 8-bit position table. After the length
// at index special - 1, a 2-bit count of zero lengths follows (special < 0:
// never). Shared with -lh3-.
void ReadPositionLengths(LzhDecoderState& s, int n, int countBits, int special);

}  // namespace lzh
