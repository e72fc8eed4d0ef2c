// The MSB-first bit reader shared by the LZH and ARJ decoders.
//
// Bits are taken most significant first from the member's packed data. The
// reader never takes more than the packed size from the archive stream; past
// that it supplies 0 bytes, as the format's decoders expect, and counts them so
// that a decoder can tell a stream that ran dry from one that ended cleanly.
//
// Internally the upcoming bits sit at the top of a 64-bit word, refilled a byte
// at a time (eight at once while the input buffer holds them), so that one
// refill serves a whole literal/length code with its position and extra bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Input is read from the stream in pieces of this size (never past the
// member's packed size).
constexpr size_t kLzhInputSize = 65536;

// After a Refill at least this many bits can be peeked and dropped.
constexpr int kLzhRefillBits = 56;

// The part of the reader that decoding works on: the upcoming bits and the
// input bytes in hand. An inner loop may work on a local copy, which the
// compiler can keep in registers across the window's byte stores, and copy
// it back before anything that takes the whole reader.
struct LzhBitCursor {
  uint64_t bits;            // upcoming bits, the next one in bit 63
  int count;                // bits of `bits` that are counted as loaded
  const uint8_t* next;      // next unread byte of `input`
  const uint8_t* end;       // end of the valid bytes of `input`
};

struct LzhBitReader : LzhBitCursor {
  FILE* stream;             // the archive, positioned in the member's data
  uint32_t packedRemaining; // packed bytes not yet read from the stream
  uint32_t padBytes;        // 0 bytes supplied after the packed data ended
  uint8_t input[kLzhInputSize];
};

// Positions the reader on `packedSize` bytes of the stream without reading.
void StartByteInput(LzhBitReader& r, FILE* stream, uint32_t packedSize);
// Same, then loads the first bits.
void StartBitReader(LzhBitReader& r, FILE* stream, uint32_t packedSize);

// Byte-at-a-time refill that also loads the next piece of input and pads
// with 0 bytes past the end; Refill calls it when the fast path can't run.
void RefillSlow(LzhBitReader& r);

// The fast part of Refill: eight input bytes at once while the buffer holds
// them, leaving 56 to 63 bits counted. False, with nothing changed, when
// fewer than eight are left.
inline bool RefillFromInput(LzhBitCursor& r) {
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

inline void Refill(LzhBitReader& r) {
  if (r.count >= kLzhRefillBits) return;
  if (!RefillFromInput(r)) RefillSlow(r);
}

// The top n bits (0 <= n <= 32) without consuming them.
inline uint32_t PeekBits(const LzhBitCursor& r, int n) {
  return static_cast<uint32_t>((r.bits >> 1) >> (63 - n));
}

// Consumes n bits; n must not exceed the loaded count.
inline void DropBits(LzhBitCursor& r, int n) {
  r.bits <<= n;
  r.count -= n;
}

// Consumes and returns the next n bits (0 <= n <= 32).
inline uint32_t GetBits(LzhBitReader& r, int n) {
  Refill(r);
  uint32_t v = PeekBits(r, n);
  DropBits(r, n);
  return v;
}

// True once a decoder has consumed bits beyond the packed data (padding bits
// that were only loaded ahead do not count).
inline bool RanDry(const LzhBitReader& r) {
  return r.padBytes != 0 && static_cast<uint64_t>(r.padBytes) * 8 > static_cast<uint64_t>(r.count);
}

// A decoder's working copy of the reader's cursor and padding count, for
// inner loops that store window bytes: a local copy stays in registers where
// the reader itself, which byte stores may alias, would be reloaded after
// each one. Store puts the cursor back; Refill does so around the slow path.
struct LzhLocalBits {
  LzhBitCursor c;
  uint32_t padBytes;

  void Load(const LzhBitReader& r) {
    c = r;
    padBytes = r.padBytes;
  }
  void Store(LzhBitReader& r) const { static_cast<LzhBitCursor&>(r) = c; }
  void Refill(LzhBitReader& r) {
    if (c.count >= kLzhRefillBits || RefillFromInput(c)) return;
    Store(r);
    RefillSlow(r);
    Load(r);
  }
  // As RanDry on the reader.
  bool Dry() const {
    return padBytes != 0 && static_cast<uint64_t>(padBytes) * 8 > static_cast<uint64_t>(c.count);
  }
};

// Byte-coded access for -lz5-: the next whole byte of the member data, or -1
// when it has ended. Not to be mixed with bit reads on the same member.
int NextByte(LzhBitReader& r);
