#include "codec/msb_bit_reader.h"

namespace codec {

void RefillSlow(BitReader& r) {
  while (r.count <= 56) {
    r.bits |= static_cast<uint64_t>(NextByteOrPad(r)) << (56 - r.count);
    r.count += 8;
  }
}

void RefillWordsSlow(BitReader& r) {
  while (r.count <= 48) {
    const uint32_t low = NextByteOrPad(r);
    const uint32_t high = NextByteOrPad(r);
    r.bits |= static_cast<uint64_t>(high << 8 | low) << (48 - r.count);
    r.count += 16;
  }
}

}  // namespace codec
