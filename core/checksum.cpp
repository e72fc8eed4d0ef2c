#include "core/checksum.h"

#include <zlib.h>

#include <cstring>

#include "core/byte_order.h"

#ifdef DORVANE_HAVE_ISAL
#include <isa-l/crc.h>
#endif

namespace {

// Sixteen tables for CRC-16/ARC: table[k][b] is the CRC of byte b followed
// by k zero bytes, so sixteen bytes are folded in per step, each through its
// own lookup, and the lookups of one step do not wait on each other.
struct Crc16Tables {
  static constexpr int kStep = 16;
  uint16_t t[kStep][256];
  constexpr Crc16Tables() : t() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
      t[0][i] = static_cast<uint16_t>(c);
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int k = 1; k < kStep; ++k) {
        const uint16_t prev = t[k - 1][i];
        t[k][i] = static_cast<uint16_t>((prev >> 8) ^ t[0][prev & 0xFF]);
      }
    }
  }
};
constexpr Crc16Tables kCrc16;

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
#ifdef DORVANE_HAVE_ISAL
  // ISA-L's reflected CRC takes and returns the finished value, as zlib's
  // does, so running values are interchangeable.
  if (size == 0) return crc;
  return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), size);
#else
  const auto* p = static_cast<const Bytef*>(data);
  // zlib takes the length as a 32-bit count.
  while (size > 0) {
    const uInt piece = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
    crc = static_cast<uint32_t>(crc32(crc, p, piece));
    p += piece;
    size -= piece;
  }
  return crc;
#endif
}

uint16_t Crc16Update(uint16_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  constexpr int kStep = Crc16Tables::kStep;
  uint32_t c = crc;
  for (; size >= kStep; size -= kStep, p += kStep) {
    // The running value meets the step's first two bytes; every byte then
    // goes through the table of the bytes that follow it in the step.
    c ^= LoadLe16(p);
    uint32_t next = kCrc16.t[kStep - 1][c & 0xFF] ^ kCrc16.t[kStep - 2][c >> 8];
#pragma GCC unroll 14
    for (int k = 2; k < kStep; ++k) next ^= kCrc16.t[kStep - 1 - k][p[k]];
    c = next;
  }
  for (; size > 0; --size, ++p) c = (c >> 8) ^ kCrc16.t[0][(c ^ *p) & 0xFF];
  return static_cast<uint16_t>(c);
}
