// Unshrink (ZIP method 1): LZW with codes of 9 to 13 bits, widened by the
// control pair 256,1 and partly cleared by 256,2.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/zip/zip_bit_reader.h"

namespace zip {

struct UnshrinkWork {
  static constexpr int kMaxCodeBits = 13;
  static constexpr int kCodeCount = 1 << kMaxCodeBits;  // codes 0..8191
  static constexpr int32_t kFree = -1;

  int32_t prefix[kCodeCount + 1];  // prefix code, or kFree for an undefined code
  uint8_t suffix[kCodeCount + 1];  // last byte of the code's string
  // A string is built backwards from the end of this stack. No valid string
  // is longer than the number of codes, since each code adds one byte to its
  // prefix's string; a longer chain only comes from damaged input.
  uint8_t stack[kCodeCount];
  uint8_t out[16384];              // output gathered before WriteMember
};

// Decodes one member of `size` bytes from `io` into `io`, with the work area
// `work` (at least sizeof(UnshrinkWork) bytes, suitably aligned). Writes at
// most size + 8191 bytes (a string may run past the size).
ZipDecodeResult Unshrink(ZipMemberIo& io, uint32_t size, void* work);

}  // namespace zip
