// Expand (ZIP methods 2 to 5, "reduce" with factors 1 to 4): bytes coded
// through per-byte follower sets, and 0x90-escaped length/distance pairs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/zip/zip_bit_reader.h"

namespace zip {

struct ExpandWork {
  ZipWindow window;
  uint8_t followerCount[256];     // 0..63 followers of each byte value
  uint8_t followers[256][64];     // the followers; an index has at most 6 bits
};

// Decodes one member of `size` bytes reduced with `factor` (1..4) from `io`
// into `io`, with the work area `work` (at least sizeof(ExpandWork) bytes).
// Writes at most size + 384 bytes (a copy of up to 385 bytes may run past
// the size).
ZipDecodeResult Expand(ZipMemberIo& io, uint32_t size, int factor, void* work);

}  // namespace zip
