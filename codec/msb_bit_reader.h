// The MSB-first bit reader: bits are taken most significant first, from
// bytes in order (LZH, ARJ) or from 16-bit little-endian words (LZX).
//
// The upcoming bits sit at the top of a 64-bit word, refilled eight bytes
// at once while the bytes in hand hold them, so that one refill serves a
// whole code with its extra bits. The bytes come from memory and, once
// those are used up, from a BitInput.
//
// Running dry, the one rule of every bit reader here: past the end of the
// input the reader supplies zero bytes and counts them. It has run dry once
// a decoder has consumed any of those zeros (zeros only loaded ahead do not
// count), which tells a stream that ran out from one that ended cleanly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/bit_input.h"

// Bits a byte-order refill leaves loaded at least; a word-order refill
// leaves at least kMsbWordRefillBits.
constexpr int kMsbRefillBits = 56;
constexpr int kMsbWordRefillBits = 49;

// The part of the reader that decoding works on. An inner loop may work on
// a local copy, which the compiler can keep in registers across the
// window's byte stores, and copy it back before anything that takes the
// whole reader (see MsbLocalBits).
struct MsbBitCursor {
  uint64_t bits;         // upcoming bits, the next one in bit 63
  int count;             // bits of `bits` that are counted as loaded
  const uint8_t* next;   // next unread byte in hand
  const uint8_t* end;    // end of the bytes in hand
};

struct MsbBitReader : MsbBitCursor {
  uint32_t padBytes;     // zero bytes supplied past the end of the input
  BitInput* input;       // more input; null when the bytes in hand are all
};

// Starts on `size` bytes at `data`, then on what `input` gives (may be
// null). Loads nothing yet.
void StartMsbBits(MsbBitReader& r, const uint8_t* data, size_t size, BitInput* input);

// Byte-at-a-time refill that also fetches the next piece of input and pads
// with zero bytes past the end; Refill calls it when the fast path can't run.
void RefillSlow(MsbBitReader& r);
// The same for 16-bit little-endian words.
void RefillWordsSlow(MsbBitReader& r);

// The fast part of Refill: eight bytes at once while the bytes in hand hold
// them, leaving 56 to 63 bits counted. False, with nothing changed, when
// fewer than eight are left.
inline bool RefillFromInput(MsbBitCursor& r) {
  if (r.end - r.next < 8) return false;
  // The bits placed below the counted ones belong to the bytes not yet
  // taken, which the following refill ORs in again unchanged.
  uint64_t v;
  std::memcpy(&v, r.next, 8);
  r.bits |= __builtin_bswap64(v) >> r.count;
  r.next += (63 - r.count) >> 3;
  r.count |= 56;
  return true;
}

// The same for 16-bit little-endian words: whole words, up to 64 bits.
// Needs count <= 48.
inline bool RefillWordsFromInput(MsbBitCursor& r) {
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
inline void Refill(MsbBitReader& r) {
  if (r.count >= kMsbRefillBits) return;
  if (!RefillFromInput(r)) RefillSlow(r);
}

// At least n (<= kMsbWordRefillBits) bits loaded afterwards (word order).
inline void EnsureWordBits(MsbBitReader& r, int n) {
  if (r.count >= n) return;
  if (!RefillWordsFromInput(r)) RefillWordsSlow(r);
}

// The top n bits (0 <= n <= 32) without consuming them.
inline uint32_t PeekBits(const MsbBitCursor& r, int n) {
  return static_cast<uint32_t>((r.bits >> 1) >> (63 - n));
}

// Consumes n bits; n must not exceed the loaded count.
inline void DropBits(MsbBitCursor& r, int n) {
  r.bits <<= n;
  r.count -= n;
}

// Consumes and returns the next n bits (0 <= n <= 32), byte order.
inline uint32_t GetBits(MsbBitReader& r, int n) {
  Refill(r);
  const uint32_t v = PeekBits(r, n);
  DropBits(r, n);
  return v;
}

// The same, word order.
inline uint32_t GetWordBits(MsbBitReader& r, int n) {
  EnsureWordBits(r, n);
  const uint32_t v = PeekBits(r, n);
  DropBits(r, n);
  return v;
}

// True once a decoder has consumed bits beyond the input.
inline bool RanDry(uint32_t padBytes, int count) {
  return padBytes != 0 && static_cast<uint64_t>(padBytes) * 8 > static_cast<uint64_t>(count);
}
inline bool RanDry(const MsbBitReader& r) { return RanDry(r.padBytes, r.count); }

// A decoder's working copy of the reader's cursor and padding count, for
// inner loops that store window bytes: a local copy stays in registers where
// the reader itself, which byte stores may alias, would be reloaded after
// each one. Store puts the cursor back; Refill does so around the slow path.
struct MsbLocalBits {
  MsbBitCursor c;
  uint32_t padBytes;

  void Load(const MsbBitReader& r) {
    c = r;
    padBytes = r.padBytes;
  }
  void Store(MsbBitReader& r) const { static_cast<MsbBitCursor&>(r) = c; }
  void Refill(MsbBitReader& r) {
    if (c.count >= kMsbRefillBits || RefillFromInput(c)) return;
    Store(r);
    RefillSlow(r);
    Load(r);
  }
  // As EnsureWordBits on the reader.
  void EnsureWords(MsbBitReader& r, int n) {
    if (c.count >= n || RefillWordsFromInput(c)) return;
    Store(r);
    RefillWordsSlow(r);
    Load(r);
  }
  bool Dry() const { return RanDry(padBytes, c.count); }
};

// Byte-coded access: the next whole byte of the input, or -1 when it has
// ended. Not to be mixed with bit reads on the same input.
int NextByte(MsbBitReader& r);
