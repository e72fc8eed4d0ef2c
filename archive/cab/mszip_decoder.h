// MSZIP: one Deflate stream (RFC 1951) per cabinet data block, behind the two
// bytes "CK". The output buffer is also the 32 KiB history: a match may reach
// back into what the previous block of the folder left there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/cab/cab_result.h"

namespace cab {

// A decode table entry, 32 bits:
//   bits 0-3   bits to consume for this entry
//   bits 4-6   kind (MszipKind)
//   bits 8-15  extra bits of a length or distance, or the bits that index a
//              sub-table
//   bits 16-31 literal, base value, or sub-table start
enum MszipKind : uint32_t {
  kMszipLiteral = 0,
  kMszipBase = 1,  // length or distance: base value plus extra bits
  kMszipEnd = 2,   // end of the Deflate block
  kMszipLink = 3,  // sub-table for codes longer than the direct bits
  kMszipBad = 4,   // no code, or a symbol Deflate does not define
};

// Storage of the tables. A sub-table serves one direct entry and holds
// 2^(longest code under it - direct bits) entries, at most 2^5 for 15-bit
// codes and 10 direct bits; each sub-table holds at least one symbol, so
// 288 symbols need at most 288 of them. Likewise 32 distance sub-tables of
// at most 2^7 entries under 8 direct bits.
constexpr unsigned kMszipLitBits = 10;
constexpr unsigned kMszipDistBits = 8;
constexpr unsigned kMszipLenBits = 7;
constexpr size_t kMszipLitTableSize = (1u << kMszipLitBits) + 288 * 32;
constexpr size_t kMszipDistTableSize = (1u << kMszipDistBits) + 32 * 128;
constexpr size_t kMszipLenTableSize = (1u << kMszipLenBits);

struct MszipState {
  uint32_t litTable[kMszipLitTableSize];
  uint32_t distTable[kMszipDistTableSize];
  uint32_t lenTable[kMszipLenTableSize];  // code-length code: at most 7 bits
  // The fixed-code tables are built once and kept.
  uint32_t fixedLit[kMszipLitTableSize];
  uint32_t fixedDist[kMszipDistTableSize];
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
