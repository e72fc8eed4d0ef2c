// Deflate64 (ZIP method 9, "enhanced deflating"): Deflate with a 64 KiB
// window, lengths up to 65,538 and two more distance codes. Its codes come
// from codec/deflate_codes.h, which the MSZIP decoder shares.
#pragma once

#include <cstdint>

#include "archive/zip/zip_bit_reader.h"
#include "codec/deflate_codes.h"

namespace zip {

struct Deflate64Work {
  // A ring of twice the window: a match (up to 65,538 bytes, from up to
  // 65,536 back) is copied whole while no more than half of it waits to go
  // out.
  static constexpr uint32_t kRingSize = 1u << 17;
  codec::DeflateTables dynamic;
  codec::DeflateTables fixed;
  uint8_t ring[kRingSize];
};

// Decodes one member's stream from `io` into `io`, with the work area
// `work` (at least sizeof(Deflate64Work) bytes). Complete at the end of the
// final block; truncated when the input ends first; bad data for anything
// outside the format, a distance before the first byte included.
ZipDecodeResult Deflate64(ZipMemberIo& io, void* work);

}  // namespace zip
