// -lh3-: static Huffman in blocks, with a plain list of literal/length code
// lengths and either a sent or a ready-made position code.
#pragma once

#include "archive/lzh/lzh_decoder.h"

namespace lzh {

LzhDecodeResult DecodeLh3(LzhDecoderState& s, const LzhMethodInfo& method, LzhWindow& window,
                          uint64_t unpackedSize);

}  // namespace lzh
