// LArc -lz5-: byte-coded LZSS with a 4 KiB pre-filled window.
#pragma once

#include "archive/lzh/lzh_decoder.h"

LzhDecodeResult DecodeLz5(LzhDecoderState& s, LzhWindow& window, uint32_t unpackedSize);
