#include "core/checksum.h"

#include <zlib.h>

#include <cstring>

#include "core/byte_order.h"

#ifdef DORVANE_HAVE_ISAL
#include <isa-l/crc.h>
#endif

#if defined(__x86_64__)
#include <immintrin.h>
#define DORVANE_CRC16_CLMUL 1
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

namespace {

uint16_t Crc16Tabled(uint16_t crc, const uint8_t* p, size_t size) {
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

#ifdef DORVANE_CRC16_CLMUL
// Long data is folded with carry-less multiplication, 16 bytes per step.
// The CRC is bit-reflected: in a 16-byte block loaded little-endian, bit k
// is the coefficient of x^(127 - k), so the low 64 bits are the block's
// high-degree half L and the high 64 bits its low half H. The data so far,
// block X followed by block Y, is X * x^128 + Y = L * x^192 + H * x^128 + Y,
// which stays the same modulo the polynomial when x^192 and x^128 are
// replaced by their remainders: two products of under 128 bits. The
// remainders are taken one degree lower (x^191, x^127) because the product
// of two reflected 64-bit values lands one bit short of the 128-bit
// block's alignment. What is left is one block with the CRC of the whole,
// which the tables finish.

// x^n modulo x^16 + x^15 + x^2 + 1, as a reflected 64-bit factor (bit j is
// the coefficient of x^(63 - j)).
constexpr uint64_t Crc16FoldFactor(int n) {
  uint32_t r = 1;  // bit d is the coefficient of x^d
  for (int i = 0; i < n; ++i) {
    r <<= 1;
    if (r & 0x10000) r ^= 0x18005;
  }
  uint64_t factor = 0;
  for (int d = 0; d < 16; ++d) factor |= static_cast<uint64_t>(r >> d & 1) << (63 - d);
  return factor;
}

__attribute__((target("pclmul"))) uint16_t Crc16Folded(uint16_t crc, const uint8_t* p,
                                                       size_t size) {
  const __m128i factors = _mm_set_epi64x(static_cast<long long>(Crc16FoldFactor(127)),
                                         static_cast<long long>(Crc16FoldFactor(191)));
  // The running value meets the first two bytes, as in the table steps.
  __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                            _mm_cvtsi32_si128(crc));
  p += 16;
  size -= 16;
  for (; size >= 16; size -= 16, p += 16) {
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    x = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, factors, 0x00),
                                    _mm_clmulepi64_si128(x, factors, 0x11)),
                      y);
  }
  uint8_t block[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block), x);
  return Crc16Tabled(Crc16Tabled(0, block, sizeof block), p, size);
}
#endif

}  // namespace

uint16_t Crc16Update(uint16_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
#ifdef DORVANE_CRC16_CLMUL
  // Below a few blocks the tables are as quick.
  static const bool folds = __builtin_cpu_supports("pclmul");
  if (size >= 64 && folds) return Crc16Folded(crc, p, size);
#endif
  return Crc16Tabled(crc, p, size);
}
