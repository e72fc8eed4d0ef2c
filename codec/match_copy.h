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

namespace match_copy_detail {

struct Bytes16 {
  uint64_t low, high;
};

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
  } else if (length <= 32) {
    CopyWord<Bytes16>(to, from);
    CopyWord<Bytes16>(to + length - 16, from + length - 16);
  } else {
    std::memcpy(to, from, length);
  }
}

}  // namespace match_copy_detail

// Copies `length` (>= 2) bytes with the result of a forward byte-at-a-time
// copy: where the source runs up to `gap` < length bytes behind the
// destination, the copied bytes repeat with that period. Reads and writes
// stay inside from[0, length) and to[0, length).
__attribute__((always_inline)) inline void CopyMatch(uint8_t* to, const uint8_t* from,
                                                     uint32_t length) {
  using match_copy_detail::CopyApart;
  using match_copy_detail::Bytes16;
  using match_copy_detail::CopyWord;
  if (to > from) {
    const size_t gap = static_cast<size_t>(to - from);
    if (gap >= length) {
      CopyApart(to, from, length);
    } else if (gap >= 16) {
      // Every 16 bytes read lie wholly before the 16 written, so they hold
      // their final values; the last piece rewrites some bytes unchanged.
      uint32_t i = 0;
      for (; i + 16 <= length; i += 16) CopyWord<Bytes16>(to + i, from + i);
      if (i < length) CopyWord<Bytes16>(to + length - 16, from + length - 16);
    } else if (gap >= 8) {
      // As above, 8 bytes at a time.
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
