#include "archive/arj/arj_method4.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include <zlib.h>

namespace {

// MSB-first bit reader over a member's packed bytes, refilled from the
// archive stream in large reads bounded by the packed size. Past the end it
// serves zero bits and counts them, so the decoder can tell a stream that
// ran dry from one that ended cleanly.
struct PackedBits {
  static constexpr size_t kChunk = 1 << 15;

  FILE* in;
  uint32_t packedLeft;   // packed bytes not yet read from the stream
  uint64_t acc = 0;      // next bits, most significant first, left-aligned
  int count = 0;         // valid bits in acc
  int64_t bitsLeft;      // packed bits not yet consumed; negative: ran dry
  const uint8_t* next = nullptr;
  const uint8_t* end = nullptr;
  uint8_t buffer[kChunk];

  PackedBits(FILE* stream, uint32_t packedSize)
      : in(stream), packedLeft(packedSize), bitsLeft(int64_t(packedSize) * 8) {}

  uint8_t NextByte() {
    if (next == end) {
      size_t want = packedLeft < kChunk ? packedLeft : kChunk;
      size_t got = want ? fread(buffer, 1, want, in) : 0;
      if (got == 0) {
        // A short file ends the member's bytes early: those never read
        // are not there to be consumed.
        bitsLeft -= int64_t(packedLeft) * 8;
        packedLeft = 0;
        return 0;
      }
      packedLeft -= uint32_t(got);
      next = buffer;
      end = buffer + got;
    }
    return *next++;
  }
  // At least 32 valid bits afterwards: enough for any one code of method 4.
  void Refill() {
    while (count <= 56) {
      acc |= uint64_t(NextByte()) << (56 - count);
      count += 8;
    }
  }
  uint32_t Peek(int n) const { return uint32_t(acc >> (64 - n)); }
  void Drop(int n) {
    acc <<= n;
    count -= n;
    bitsLeft -= n;
  }
  uint32_t Get(int n) {
    uint32_t v = Peek(n);
    Drop(n);
    return v;
  }
  // Number of leading one-bits, at most `limit`; consumes them and the
  // terminating zero when there is one.
  int Ones(int limit) {
    uint32_t top = Peek(16);
    int ones = top == 0xFFFF ? 16 : __builtin_clz(~top & 0xFFFFu) - 16;
    if (ones >= limit) {
      Drop(limit);
      return limit;
    }
    Drop(ones + 1);
    return ones;
  }
};

struct Output {
  FILE* out;
  uint8_t* window;
  uint32_t written = 0;
  uint32_t crc = 0;
  bool failed = false;

  void Flush(uint32_t count) {
    if (count == 0) return;
    crc = uint32_t(crc32(crc, window, count));
    if (fwrite(window, 1, count, out) != count) failed = true;
    written += count;
  }
};

}  // namespace

ArjMethod4Result DecodeArjMethod4(FILE* in, uint32_t packedSize, FILE* out,
                                  uint32_t unpackedSize) {
  ArjMethod4Result result;
  // Zero-filled, so a match that reaches before the first byte written
  // copies zeros rather than whatever the heap held.
  auto* window = static_cast<uint8_t*>(calloc(kArjWindowSize, 1));
  auto* bits = static_cast<PackedBits*>(malloc(sizeof(PackedBits)));
  if (window == nullptr || bits == nullptr) {
    free(window);
    free(bits);
    result.noMemory = true;
    return result;
  }
  new (bits) PackedBits(in, packedSize);

  Output sink{out, window};
  uint32_t r = 0;
  uint32_t owed = unpackedSize;
  while (owed > 0 && !sink.failed) {
    bits->Refill();
    int w = bits->Ones(7);
    uint32_t value = (1u << w) - 1 + (w ? bits->Get(w) : 0);
    if (value == 0) {
      uint8_t literal = uint8_t(bits->Get(8));
      if (bits->bitsLeft < 0) break;
      window[r++] = literal;
      --owed;
      if (r == kArjWindowSize) {
        sink.Flush(r);
        r = 0;
      }
      continue;
    }
    uint32_t length = value + 2;
    bits->Refill();
    w = bits->Ones(4);
    uint32_t position = (1u << (9 + w)) - 512 + bits->Get(9 + w);
    if (bits->bitsLeft < 0) break;
    if (length > owed) length = owed;
    owed -= length;
    // position < 15,872 < window size, so one correction brings it inside.
    uint32_t from = r >= position + 1 ? r - position - 1 : r + kArjWindowSize - position - 1;
    while (length > 0) {
      // Copy in runs that stop at either index's wrap point. Byte by byte,
      // because a match may overlap the bytes it is producing.
      uint32_t run = length;
      if (run > kArjWindowSize - r) run = kArjWindowSize - r;
      if (run > kArjWindowSize - from) run = kArjWindowSize - from;
      uint8_t* dst = window + r;
      const uint8_t* src = window + from;
      if (from + run <= r || r + run <= from) {
        memcpy(dst, src, run);
      } else {
        for (uint32_t i = 0; i < run; ++i) dst[i] = src[i];
      }
      r += run;
      from += run;
      length -= run;
      if (from == kArjWindowSize) from = 0;
      if (r == kArjWindowSize) {
        sink.Flush(r);
        r = 0;
      }
    }
  }
  if (!sink.failed) sink.Flush(r);

  result.written = sink.written;
  result.crc = sink.crc;
  result.ranDry = bits->bitsLeft < 0;
  result.writeFailed = sink.failed;
  bits->~PackedBits();
  free(bits);
  free(window);
  return result;
}
