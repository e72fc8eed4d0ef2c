// MSZIP: one Deflate stream (RFC 1951) per cabinet data block, behind the two
// bytes "CK". The output buffer is also the 32 KiB history: a match may reach
// back into what the previous block of the folder left there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/cab/cab_result.h"
#include "codec/deflate_codes.h"

namespace cab {

struct MszipState {
  codec::DeflateTables dynamic;
  // The fixed-code tables are built once and kept.
  codec::DeflateTables fixed;
  bool fixedBuilt = false;
};

// Decodes one block of `inLength` bytes into out[0..outLength). `out` is the
// reader's output buffer of kCabOutputSize bytes, also the history. Results:
// Ok; Unsupported when outLength exceeds 32768; Corrupt for anything else that
// is wrong, including input that runs out, output beyond the buffer, and a
// stream whose size differs from outLength.
[[nodiscard]] CabResult MszipDecodeBlock(MszipState& state, const uint8_t* in, size_t inLength,
                                         uint8_t* out, size_t outLength);

}  // namespace cab
