// The MSB-first bit reader: bits are taken most significant first, from
// bytes in order (LZH, ARJ) or from 16-bit little-endian words (LZX).
//
// The upcoming bits sit at the top of the reader's 64-bit word, refilled
// eight bytes at once while the bytes in hand hold them, so that one refill
// serves a whole code with its extra bits. Past the end of the input the
// reader gives zeros and remembers that it ran dry (codec/bit_reader.h).
#pragma once

#include <cstring>

#include "codec/bit_reader.h"

namespace codec {

// Bits a byte-order refill leaves loaded at least; a word-order refill
// leaves at least kMsbWordRefillBits.
constexpr int kMsbRefillBits = 56;
constexpr int kMsbWordRefillBits = 49;

// Byte-at-a-time refill that also fetches the next piece of input and pads
// with zero bytes past the end; Refill calls it when the fast path can't run.
void RefillSlow(BitReader& r);
// The same for 16-bit little-endian words.
void RefillWordsSlow(BitReader& r);

// The fast part of Refill: eight bytes at once while the bytes in hand hold
// them, leaving 56 to 63 bits counted. False, with nothing changed, when
// fewer than eight are left.
// The bits placed below the counted ones belong to the bytes not yet
// taken, which the following refill ORs in again unchanged; so a refill
// with 56 or more bits counted changes nothing.
//
// RefillInHand is that refill for a caller that knows at least eight
// bytes are in hand; it takes at most seven of them.
inline void RefillInHand(BitCursor& r) {
  uint64_t v;
  std::memcpy(&v, r.next, 8);
  r.bits |= __builtin_bswap64(v) >> r.count;
  r.next += (63 - r.count) >> 3;
  r.count |= 56;
}
inline bool RefillFromInput(BitCursor& r) {
  if (r.end - r.next < 8) return false;
  RefillInHand(r);
  return true;
}

// The same for 16-bit little-endian words: whole words, up to 64 bits.
// Needs count <= 48.
inline bool RefillWordsFromInput(BitCursor& r) {
  if (r.end - r.next < 8) return false;
  uint64_t x;
  std::memcpy(&x, r.next, 8);  // little-endian host
  const uint64_t words = (x << 48) | ((x << 16) & 0x0000FFFF00000000u) |
                         ((x >> 16) & 0x00000000FFFF0000u) | (x >> 48);
  r.bits |= words >> r.count;
  const int take = (64 - r.count) >> 4;
  r.next += 2 * take;
  r.count += 16 * take;
  return true;
}

// At least kMsbRefillBits loaded afterwards (byte order).
inline void Refill(BitReader& r) {
  if (r.count >= kMsbRefillBits) return;
  if (!RefillFromInput(r)) RefillSlow(r);
}

// At least n (<= kMsbWordRefillBits) bits loaded afterwards (word order).
inline void EnsureWordBits(BitReader& r, int n) {
  if (r.count >= n) return;
  if (!RefillWordsFromInput(r)) RefillWordsSlow(r);
}

// The top n bits (0 <= n <= 32) without consuming them.
inline uint32_t PeekBits(const BitCursor& r, int n) {
  return static_cast<uint32_t>((r.bits >> 1) >> (63 - n));
}

// Consumes n bits; n must not exceed the loaded count.
inline void DropBits(BitCursor& r, int n) {
  r.bits <<= n;
  r.count -= n;
}

// Consumes and returns the next n bits (0 <= n <= 32), byte order.
inline uint32_t GetBits(BitReader& r, int n) {
  Refill(r);
  const uint32_t v = PeekBits(r, n);
  DropBits(r, n);
  return v;
}

// The same, word order.
inline uint32_t GetWordBits(BitReader& r, int n) {
  EnsureWordBits(r, n);
  const uint32_t v = PeekBits(r, n);
  DropBits(r, n);
  return v;
}

// LocalBits refills: as Refill and EnsureWordBits on the reader.
inline void RefillLocal(LocalBits& b, BitReader& r) {
  if (b.c.count < kMsbRefillBits && !RefillFromInput(b.c)) b.RefillThrough(r, RefillSlow);
}
inline void EnsureLocalWords(LocalBits& b, BitReader& r, int n) {
  if (b.c.count < n && !RefillWordsFromInput(b.c)) b.RefillThrough(r, RefillWordsSlow);
}

}  // namespace codec
