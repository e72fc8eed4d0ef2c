// The output loop shared by every window method: literals go into the
// sliding window, matches copy from it, and the window is written out each
// time it fills, so the output is written in whole windows.
#pragma once

#include <cstdint>
#include <cstring>

#include "archive/lzh/lzh_decoder.h"

namespace lzh_window_detail {

template <typename Word>
inline void CopyWord(uint8_t* to, const uint8_t* from) {
  Word v;
  std::memcpy(&v, from, sizeof v);
  std::memcpy(to, &v, sizeof v);
}

// Copies `length` (>= 2) bytes between places that do not overlap; the
// pieces at both ends may overlap each other.
__attribute__((always_inline)) inline void CopyApart(uint8_t* to, const uint8_t* from,
                                                     uint32_t length) {
  if (length <= 8) {
    if (length >= 4) {
      CopyWord<uint32_t>(to, from);
      CopyWord<uint32_t>(to + length - 4, from + length - 4);
    } else {
      CopyWord<uint16_t>(to, from);
      CopyWord<uint16_t>(to + length - 2, from + length - 2);
    }
  } else if (length <= 16) {
    CopyWord<uint64_t>(to, from);
    CopyWord<uint64_t>(to + length - 8, from + length - 8);
  } else {
    std::memcpy(to, from, length);
  }
}

// Copies `length` (>= 2) bytes inside the window with the result of a
// forward byte-at-a-time copy: where the source runs up to `gap` < length
// bytes behind the destination, the copied bytes repeat with that period.
// Reads and writes stay inside from[0, length) and to[0, length).
__attribute__((always_inline)) inline void CopyMatch(uint8_t* to, const uint8_t* from,
                                                     uint32_t length) {
  if (to > from) {
    const size_t gap = static_cast<size_t>(to - from);
    if (gap >= length) {
      CopyApart(to, from, length);
    } else if (gap >= 8) {
      // Every 8 bytes read lie wholly before the 8 written, so they hold
      // their final values; the last piece rewrites some bytes unchanged.
      uint32_t i = 0;
      for (; i + 8 <= length; i += 8) CopyWord<uint64_t>(to + i, from + i);
      if (i < length) CopyWord<uint64_t>(to + length - 8, from + length - 8);
    } else if (gap == 1) {
      std::memset(to, *from, length);
    } else {
      for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
    }
  } else if (to < from) {
    // Source ahead of the destination: a forward copy reads only bytes it
    // has not yet overwritten, which is what memmove gives.
    if (static_cast<size_t>(from - to) >= length) {
      CopyApart(to, from, length);
    } else {
      std::memmove(to, from, length);
    }
  }
  // to == from: each byte is copied onto itself.
}

}  // namespace lzh_window_detail

// A method supplies:
//   static constexpr uint32_t kLengthBase;  match length = code - kLengthBase
//   uint32_t Code();                         0..255 literal, >= 256 a match
//   uint32_t Distance(uint64_t produced, uint32_t position);
//       the copy starts Distance + 1 bytes before the window position;
//       `produced` counts the bytes before this match
//   bool Dry();                              true once the input ran out
// kPowerOfTwo: the window size is a power of two (mask instead of modulo).
template <bool kPowerOfTwo, class Method>
LzhDecodeResult RunWindowLoop(Method& method, LzhWindow& window, uint32_t unpackedSize) {
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
      lzh_window_detail::CopyMatch(win + pos, win + src, length);
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
