// The output loop shared by every window method: literals go into the
// sliding window, matches copy from it, and the window is written out each
// time it fills, so the output is written in whole windows.
#pragma once

#include <cstdint>

#include "archive/lzh/lzh_decoder.h"
#include "codec/match_copy.h"

namespace lzh {

// A method supplies:
//   static constexpr uint32_t kLengthBase;  match length = code - kLengthBase
//   uint32_t Code();                         0..255 literal, >= 256 a match
//   uint32_t Distance(uint64_t produced, uint32_t position);
//       the copy starts Distance + 1 bytes before the window position;
//       `produced` counts the bytes before this match
//   bool Dry();                              true once the input ran out
// kPowerOfTwo: the window size is a power of two (mask instead of modulo).
template <bool kPowerOfTwo, class Method>
LzhDecodeResult RunWindowLoop(Method& method, LzhWindow& window, uint64_t unpackedSize) {
  static_assert(Method::kLengthBase <= 254, "CopyMatch needs matches of 2 bytes or more");
  uint8_t* const win = window.data;
  const uint32_t size = window.size;
  uint32_t pos = 0;
  uint64_t produced = 0;
  LzhDecodeResult result = LzhDecodeResult::Ok;

  while (produced < unpackedSize) {
    const uint32_t c = method.Code();
    // A code read from the padding past the packed data is not data. Input
    // that ran dry stays dry, so for a match one test after its position
    // code covers both.
    if (c < 256) {
      if (method.Dry()) {
        result = LzhDecodeResult::InputEnded;
        break;
      }
      win[pos] = static_cast<uint8_t>(c);
      ++produced;
      if (++pos == size) {
        if (!FlushWindow(window, size)) break;
        pos = 0;
      }
      continue;
    }

    const uint32_t length = c - Method::kLengthBase;
    const uint32_t distance = method.Distance(produced, pos);
    if (method.Dry()) {
      result = LzhDecodeResult::InputEnded;
      break;
    }
    // A match may run past the unpacked size; all of it is written.
    produced += length;
    // How far back the copy starts, taken modulo the window size (0: the
    // byte a whole window back, which is the one at the position itself).
    uint32_t back;
    if constexpr (kPowerOfTwo) {
      back = (distance + 1) & (size - 1);
    } else {
      back = distance + 1;
      // Well-formed streams have no distances of a window or more, so the
      // division is kept off the common path.
      if (back >= size) back %= size;
    }
    uint32_t src = pos >= back ? pos - back : pos + size - back;
    if (src + length <= size && pos + length <= size) {
      // Neither end wraps.
      codec::CopyMatch(win + pos, win + src, length);
      pos += length;
      if (pos == size) {
        if (!FlushWindow(window, size)) break;
        pos = 0;
      }
    } else {
      for (uint32_t i = 0; i < length; ++i) {
        win[pos] = win[src];
        if (++src == size) src = 0;
        if (++pos == size) {
          if (!FlushWindow(window, size)) break;
          pos = 0;
        }
      }
      if (window.writeFailed) break;
    }
  }
  if (window.writeFailed) return LzhDecodeResult::WriteFailed;
  if (pos != 0 && !FlushWindow(window, pos)) return LzhDecodeResult::WriteFailed;
  return result;
}

}  // namespace lzh
