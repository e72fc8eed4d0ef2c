// The match copy of every sliding-window decoder: a match repeats `length`
// bytes that start some distance back, and where the distance is shorter
// than the length the copy reads bytes it has itself just written, so the
// result must be that of a forward byte-at-a-time copy. Whole words are
// moved where that gives the same bytes; nothing is read or written outside
// the match's own source and destination.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace codec {

namespace detail {

struct Bytes16 {
  uint64_t low, high;
};

template <typename Word>
inline void CopyWord(uint8_t* to, const uint8_t* from) {
  Word v;
  std::memcpy(&v, from, sizeof v);
  std::memcpy(to, &v, sizeof v);
}

// Copies `length` (2..16) bytes between places that do not overlap: an
// 8-byte word at each end of a match of more than 8 bytes, else four 2-byte
// words at offsets 0, 2, 4, 6, each held below length - 1, so that short
// matches, whose lengths vary from one to the next, take one branch on the
// length, and the rarer side (9 to 16 bytes) is the one taken. Every word
// lies inside the match; words that land on the same place store the same
// bytes.
__attribute__((always_inline)) inline void CopyShortApart(uint8_t* to, const uint8_t* from,
                                                          uint32_t length) {
  if (length > 8) {
    CopyWord<uint64_t>(to, from);
    CopyWord<uint64_t>(to + length - 8, from + length - 8);
    return;
  }
  const uint32_t last = length - 2;
#pragma GCC unroll 4
  for (uint32_t k = 0; k < 8; k += 2) {
    const uint32_t at = k < last ? k : last;
    CopyWord<uint16_t>(to + at, from + at);
  }
}

// Copies `length` (> step) bytes in whole steps of `Word`, each read lying
// wholly before the write of the same step when the source runs at least
// one step behind: the bytes read hold their final values. The last step
// ends at the match's end and rewrites some bytes unchanged.
template <typename Word>
__attribute__((always_inline)) inline void CopySteps(uint8_t* to, const uint8_t* from,
                                                     uint32_t length) {
  uint32_t i = 0;
  for (; i + sizeof(Word) <= length; i += sizeof(Word)) CopyWord<Word>(to + i, from + i);
  if (i < length) CopyWord<Word>(to + length - sizeof(Word), from + length - sizeof(Word));
}

}  // namespace detail

// Copies `length` (>= 2) bytes with the result of a forward byte-at-a-time
// copy: where the source runs up to `gap` < length bytes behind the
// destination, the copied bytes repeat with that period. Reads and writes
// stay inside from[0, length) and to[0, length).
__attribute__((always_inline)) inline void CopyMatch(uint8_t* to, const uint8_t* from,
                                                     uint32_t length) {
  using namespace detail;
  if (to > from) {
    const size_t gap = static_cast<size_t>(to - from);
    if (length <= 16 && gap >= length) {
      CopyShortApart(to, from, length);
    } else if (gap >= 16) {
      CopySteps<Bytes16>(to, from, length);  // length > 16 here
    } else if (gap >= 8) {
      CopySteps<uint64_t>(to, from, length);  // length > gap here
    } else if (gap == 1) {
      std::memset(to, *from, length);
    } else {
      for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
    }
  } else if (to < from) {
    // Source ahead of the destination: a forward copy reads only bytes it
    // has not yet overwritten, which is what memmove gives.
    if (static_cast<size_t>(from - to) >= length && length <= 16) {
      CopyShortApart(to, from, length);
    } else {
      std::memmove(to, from, length);
    }
  }
  // to == from: each byte is copied onto itself.
}

// The match copy in a circular window of mask + 1 bytes (a power of two)
// whose destination window[pos, pos + length) does not wrap: the source
// starts `distance` (1..mask + 1) bytes back and may begin before the
// window start, at its end, continuing from its start.
__attribute__((always_inline)) inline void CopyMatchInWindow(uint8_t* window, uint32_t mask,
                                                             uint32_t pos, uint32_t distance,
                                                             uint32_t length) {
  if (distance <= pos) {
    CopyMatch(window + pos, window + pos - distance, length);
    return;
  }
  uint32_t from = (pos - distance) & mask;
  for (uint32_t i = 0; i < length; ++i) window[pos + i] = window[(from + i) & mask];
}

}  // namespace codec
