// The LSB-first bit reader: bits are taken least significant first, from
// bytes in order (MSZIP, the ZIP legacy methods, .Z). The upcoming bits sit
// at the bottom of the reader's 64-bit word, refilled eight bytes at once
// while the bytes in hand hold them. Past the end of the input the reader
// gives zeros and remembers that it ran dry (codec/bit_reader.h).
#pragma once

#include <cstring>

#include "codec/bit_reader.h"

namespace codec {

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

// Block access, for streams laid out in byte-aligned groups of fixed-width
// codes (.Z: eight codes of n bits in n bytes). Whole groups are taken at
// once, byte-coded (no bits loaded): as many as the bytes in hand hold, or
// one group gathered across pieces. Their codes are then read at bit
// positions with fixed-size loads and no per-code refill. The reader runs
// dry inside a block as it would reading the block's bits one by one: see
// LsbBlockBits.
constexpr size_t kLsbGroupMax = 16;   // largest group, in bytes
constexpr size_t kLsbBlockSlack = 8;  // readable bytes after a block's data

struct LsbBlock {
  const uint8_t* data;  // the block's bytes, then kLsbBlockSlack more
  size_t size;          // bytes in the block, whole groups
  // Holds a single group when fewer bytes are in hand (it straddles two
  // pieces or the end of the input; padded with zeros); otherwise data
  // points into the input.
  uint8_t staging[kLsbGroupMax + kLsbBlockSlack];
};

// The slow path of TakeLsbGroups: one group, byte by byte, into staging.
void TakeLsbGroupSlow(BitReader& r, LsbBlock& b, size_t n);

// Takes the next whole groups of n (<= kLsbGroupMax) bytes as a block.
inline void TakeLsbGroups(BitReader& r, LsbBlock& b, size_t n) {
  const size_t inHand = static_cast<size_t>(r.end - r.next);
  if (inHand >= n + kLsbBlockSlack) {
    b.data = r.next;
    b.size = (inHand - kLsbBlockSlack) / n * n;
    r.next += b.size;
    return;
  }
  TakeLsbGroupSlow(r, b, n);
}

// Gives back the bytes of a block after its first `used`, which the next
// take then starts at.
inline void ReturnLsbBlockRest(BitReader& r, const LsbBlock& b, size_t used) {
  if (b.data != b.staging) r.next = b.data + used;
}

// How many leading bits of the block just taken a decoder may consume:
// consuming a bit past this point leaves fewer bits of the block than the
// zero bytes supplied, which is running dry (RanDry). All of them unless
// the input ended inside or before the block.
inline size_t LsbBlockBits(const BitReader& r, const LsbBlock& b) {
  return r.padBytes >= b.size ? 0 : (b.size - r.padBytes) * 8;
}

// The width bits (<= 25) at bit `pos` of a block's data, by `mask`
// (2^width - 1).
inline uint32_t PeekLsbBlock(const uint8_t* data, size_t pos, uint32_t mask) {
  uint32_t w;
  std::memcpy(&w, data + (pos >> 3), 4);  // little-endian host
  return (w >> (pos & 7)) & mask;
}

}  // namespace codec
