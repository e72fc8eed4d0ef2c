// LArc -lz5-: byte-coded LZSS with a 4 KiB pre-filled window.
#pragma once

#include "archive/lzh/lzh_decoder.h"

namespace lzh {

// Fills the start of the window with the runs and ramps early matches may
// copy, then decodes.
LzhDecodeResult DecodeLz5(LzhDecoderState& s, const LzhMethodInfo& method, LzhWindow& window,
                          uint64_t unpackedSize);

}  // namespace lzh
