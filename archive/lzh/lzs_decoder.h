// LArc -lzs-: bit-coded LZSS with a 2 KiB window.
#pragma once

#include "archive/lzh/lzh_decoder.h"

namespace lzh {

LzhDecodeResult DecodeLzs(LzhDecoderState& s, const LzhMethodInfo& method, LzhWindow& window,
                          uint64_t unpackedSize);

}  // namespace lzh
