#include "codec/lsb_bit_reader.h"

namespace codec {

void RefillLsbSlow(BitReader& r) {
  while (r.count <= 56) {
    r.bits |= static_cast<uint64_t>(NextByteOrPad(r)) << r.count;
    r.count += 8;
  }
}

void SkipLsb(BitReader& r, uint32_t n) {
  while (n > 0) {
    EnsureLsb(r, kLsbRefillBits);
    const int step = n < static_cast<uint32_t>(r.count) ? static_cast<int>(n) : r.count;
    DropLsb(r, step);
    n -= static_cast<uint32_t>(step);
  }
}

void TakeLsbGroupSlow(BitReader& r, LsbBlock& b, size_t n) {
  for (size_t i = 0; i < n; ++i) b.staging[i] = NextByteOrPad(r);
  std::memset(b.staging + n, 0, sizeof(b.staging) - n);
  b.data = b.staging;
  b.size = n;
}

}  // namespace codec
