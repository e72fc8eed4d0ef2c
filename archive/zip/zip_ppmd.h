// ZIP method 98: PPMd variant I, revision 1 (codec/ppmd_i.h). The member's
// data starts with a little-endian parameter word: bits 0-3 the model order
// less one, bits 4-11 the model's memory in MiB less one, bits 12-15 the
// restore method.
#pragma once

#include <cstdint>

#include "archive/zip/zip_bit_reader.h"
#include "core/member_output.h"

namespace zip {

// Decodes the member's data, read through `io`, into `io`'s output: `size`
// bytes, or up to the end mark when `size` is UINT64_MAX (a size that comes
// only behind the data). Complete when they came; truncated when the data
// ended first; damaged on bad data. When the parameters cannot be used
// (order 1, the restore method that freezes the model, too little memory)
// *refusal names why and nothing was decoded. *unused: input bytes read
// from `io` behind the stream's end.
MemberEnd DecodePpmd(ZipMemberIo& io, uint64_t size, const char** refusal, size_t* unused);

}  // namespace zip
