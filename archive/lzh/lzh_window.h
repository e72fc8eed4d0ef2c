// The output loop shared by every window method: literals go into the
// sliding window, matches copy from it, and the window is written out each
// time it fills, so the output is written in whole windows.
#pragma once

#include <cstdint>
#include <type_traits>

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
// A method may also decode runs of codes without checks of its own (see
// RunCodes):
//   static constexpr uint32_t kLongestMatch;
//   uint32_t StartRun(uint32_t most);  how many codes (at most `most`) can
//       be read by RunCode without the method's own checks: none that
//       would start a new block or read past the bytes in hand
//   uint32_t RunCode();                 as Code, inside a run
//   uint32_t RunDistance();             as Distance, inside a run
//   void EndRun(uint32_t codes);        the run read that many codes
// kPowerOfTwo: the window size is a power of two (mask instead of modulo).
template <class Method, class = void>
struct DecodesRuns : std::false_type {};
template <class Method>
struct DecodesRuns<Method, std::void_t<decltype(Method::kLongestMatch)>> : std::true_type {};

namespace detail {

// Decodes `codes` codes from window position `pos`, where neither the
// window's end nor the unpacked size can be reached before the last of
// them has started (each writes at most kLongestMatch bytes). Matches
// reach back at most reachMask + 1 bytes, in a window of mask + 1.
// Returns the position after them.
template <class Method>
__attribute__((always_inline)) inline uint32_t RunCodes(Method& method, uint8_t* win,
                                                        uint32_t mask, uint32_t reachMask,
                                                        uint32_t pos, uint32_t codes) {
  for (uint32_t k = 0; k < codes; ++k) {
    const uint32_t c = method.RunCode();
    if (c < 256) {
      win[pos++] = static_cast<uint8_t>(c);
      continue;
    }
    const uint32_t length = c - Method::kLengthBase;
    const uint32_t back = (method.RunDistance() & reachMask) + 1;
    const uint32_t src = (pos - back) & mask;
    if (src + length <= mask + 1) {
      codec::CopyMatch(win + pos, win + src, length);
    } else {
      for (uint32_t i = 0; i < length; ++i) win[pos + i] = win[(src + i) & mask];
    }
    pos += length;
  }
  return pos;
}

}  // namespace detail

template <bool kPowerOfTwo, class Method>
LzhDecodeResult RunWindowLoop(Method& method, LzhWindow& window, uint64_t unpackedSize) {
  static_assert(Method::kLengthBase <= 254, "CopyMatch needs matches of 2 bytes or more");
  uint8_t* const win = window.data;
  const uint32_t size = window.size;
  // How far back a match reaches (a power-of-two window may be larger than
  // the method's dictionary, so that it is written in bigger pieces).
  const uint32_t reachMask = (window.reach != 0 ? window.reach : size) - 1;
  uint32_t pos = 0;
  uint64_t produced = 0;
  LzhDecodeResult result = LzhDecodeResult::Ok;

  while (produced < unpackedSize) {
    if constexpr (kPowerOfTwo && DecodesRuns<Method>::value) {
      // As many codes as can neither pass the window's end nor start past
      // the unpacked size, decoded without the checks below.
      constexpr uint32_t kLongest = Method::kLongestMatch;
      const uint64_t sizeFit = (unpackedSize - produced) / kLongest;
      uint32_t fit = (size - pos) / kLongest;
      if (sizeFit < fit) fit = static_cast<uint32_t>(sizeFit);
      const uint32_t codes = fit != 0 ? method.StartRun(fit) : 0;
      if (codes != 0) {
        const uint32_t end =
            detail::RunCodes(method, win, size - 1, reachMask, pos, codes);
        method.EndRun(codes);
        // A run reads only bytes in hand, so this is for safety's sake.
        if (method.Dry()) {
          result = LzhDecodeResult::InputEnded;
          break;
        }
        produced += end - pos;
        pos = end;
        if (pos == size) {
          if (!FlushWindow(window, size)) break;
          pos = 0;
        }
        continue;
      }
    }
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
    // How far back the copy starts, taken modulo the reach (1 to the
    // reach; a whole window back, where the reach is the window, is the
    // byte at the position itself).
    uint32_t back;
    if constexpr (kPowerOfTwo) {
      back = (distance & reachMask) + 1;
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
