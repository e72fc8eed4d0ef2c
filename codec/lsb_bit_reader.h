// The LSB-first bit reader: bits are taken least significant first, from
// bytes in order (MSZIP, the ZIP legacy methods, .Z). The upcoming bits sit
// at the bottom of the reader's 64-bit word, refilled eight bytes at once
// while the bytes in hand hold them. Past the end of the input the reader
// gives zeros and remembers that it ran dry (codec/bit_reader.h).
#pragma once

#include <cstring>

#include "codec/bit_reader.h"

// Bits a refill leaves loaded at least.
constexpr int kLsbRefillBits = 56;

// Byte-at-a-time refill that also fetches the next piece of input and pads
// with zero bytes past the end; used when the fast path can't run.
void RefillLsbSlow(BitReader& r);

// The fast refill: eight bytes at once while the bytes in hand hold them,
// leaving 56 to 63 bits counted. False, with nothing changed, when fewer
// than eight are left.
inline bool RefillLsbFromInput(BitCursor& r) {
  if (r.end - r.next < 8) return false;
  // The bits placed above the counted ones belong to the bytes not yet
  // taken, which the following refill ORs in again unchanged.
  uint64_t v;
  std::memcpy(&v, r.next, 8);  // little-endian host
  r.bits |= v << r.count;
  r.next += (63 - r.count) >> 3;
  r.count |= 56;
  return true;
}

// At least n (<= kLsbRefillBits) bits loaded afterwards.
inline void EnsureLsb(BitReader& r, int n) {
  if (r.count >= n) return;
  if (!RefillLsbFromInput(r)) RefillLsbSlow(r);
}

// The next n bits (0 <= n <= 32) without consuming them.
inline uint32_t PeekLsb(const BitCursor& r, int n) {
  return static_cast<uint32_t>(r.bits & ((uint64_t{1} << n) - 1));
}

// Consumes n bits; n must not exceed the loaded count.
inline void DropLsb(BitCursor& r, int n) {
  r.bits >>= n;
  r.count -= n;
}

// Consumes and returns n loaded bits.
inline uint32_t TakeLsb(BitCursor& r, int n) {
  const uint32_t v = PeekLsb(r, n);
  DropLsb(r, n);
  return v;
}

// Consumes and returns the next n bits (0 <= n <= 32), loading them first.
inline uint32_t GetLsb(BitReader& r, int n) {
  EnsureLsb(r, n);
  return TakeLsb(r, n);
}

// Consumes n bits, any number.
void SkipLsb(BitReader& r, uint32_t n);

// Tops a LocalBits copy up to at least kLsbRefillBits without testing the
// count first: where each code takes a varying share of the loaded bits,
// the test would be the costlier part.
inline void TopUpLocalLsb(LocalBits& b, BitReader& r) {
  if (!RefillLsbFromInput(b.c) && b.c.count < kLsbRefillBits) b.RefillThrough(r, RefillLsbSlow);
}

// As EnsureLsb on the reader, for a LocalBits copy.
inline void EnsureLocalLsb(LocalBits& b, BitReader& r, int n) {
  if (b.c.count < n && !RefillLsbFromInput(b.c)) b.RefillThrough(r, RefillLsbSlow);
}
