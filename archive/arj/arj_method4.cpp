#include "archive/arj/arj_method4.h"

#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "archive/lzh/lzh_decoder.h"

namespace {

// Number of leading one-bits, at most `limit` (at most 16); consumes them
// and the terminating zero when there is one.
inline int TakeOnes(LzhBitReader& in, int limit) {
  uint32_t top = PeekBits(in, 16);
  int ones = top == 0xFFFF ? 16 : __builtin_clz(~top & 0xFFFFu) - 16;
  if (ones >= limit) {
    DropBits(in, limit);
    return limit;
  }
  DropBits(in, ones + 1);
  return ones;
}

inline uint32_t TakeBits(LzhBitReader& in, int n) {
  uint32_t v = PeekBits(in, n);
  DropBits(in, n);
  return v;
}

// Writes the first `count` window bytes and runs them through the CRC.
void Flush(LzhWindow& window, uint32_t count, ArjMethod4Result& result) {
  if (count == 0) return;
  result.crc = uint32_t(crc32(result.crc, window.data, count));
  if (FlushWindow(window, count)) result.written += count;
}

}  // namespace

ArjMethod4Result DecodeArjMethod4(LzhBitReader& in, FILE* archive, uint32_t packedSize,
                                  FILE* out, uint32_t unpackedSize) {
  ArjMethod4Result result;
  // Zero-filled, so a match that reaches before the first byte written
  // copies zeros rather than whatever the heap held.
  LzhWindow window{static_cast<uint8_t*>(calloc(kArjWindowSize, 1)), kArjWindowSize, out, false};
  if (window.data == nullptr) {
    result.noMemory = true;
    return result;
  }
  uint8_t* const data = window.data;
  StartBitReader(in, archive, packedSize);

  uint32_t r = 0;
  uint32_t owed = unpackedSize;
  while (owed > 0 && !window.writeFailed) {
    // One refill covers a whole length code and its literal or position
    // code: at most 7 + 7 + 4 + 13 bits.
    Refill(in);
    int w = TakeOnes(in, 7);
    uint32_t value = (1u << w) - 1 + TakeBits(in, w);
    if (value == 0) {
      uint8_t literal = uint8_t(TakeBits(in, 8));
      if (RanDry(in)) break;
      data[r++] = literal;
      --owed;
      if (r == kArjWindowSize) {
        Flush(window, r, result);
        r = 0;
      }
      continue;
    }
    uint32_t length = value + 2;
    w = TakeOnes(in, 4);
    uint32_t position = (1u << (9 + w)) - 512 + TakeBits(in, 9 + w);
    if (RanDry(in)) break;
    if (length > owed) length = owed;
    owed -= length;
    // position < 15,872 < window size, so one correction brings it inside.
    uint32_t from = r >= position + 1 ? r - position - 1 : r + kArjWindowSize - position - 1;
    while (length > 0) {
      // Copy in runs that stop at either index's wrap point; byte by byte
      // where a match overlaps the bytes it is producing.
      uint32_t run = length;
      if (run > kArjWindowSize - r) run = kArjWindowSize - r;
      if (run > kArjWindowSize - from) run = kArjWindowSize - from;
      uint8_t* dst = data + r;
      const uint8_t* src = data + from;
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
        Flush(window, r, result);
        r = 0;
      }
    }
  }
  Flush(window, r, result);

  result.ranDry = RanDry(in);
  result.writeFailed = window.writeFailed;
  free(window.data);
  return result;
}
