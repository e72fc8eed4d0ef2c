// MacLHA's members may hold a MacBinary file: a 128-byte header (name,
// Finder data, fork lengths), the data fork and the resource fork, each
// padded to 128 bytes. Elsewhere only the data fork means anything, so the
// header is dropped when it is one MacLHA wrote, and only the data fork is
// written (the resource fork when there is no data fork).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/member_output.h"

namespace lzh {

constexpr size_t kMacBinaryHeader = 128;

// Whether `header` (128 bytes) is a MacBinary header that MacLHA put on a
// member of `memberSize` bytes stored as `fileName`: the fields that must be
// zero are, the name is the member's own, and the header with both forks,
// padded to 128 bytes, is the member's size. Gives the offset and length
// of the fork to keep.
[[nodiscard]] bool IsMacLhaHeader(const uint8_t* header, uint64_t memberSize, const uint8_t* fileName,
                                  size_t fileNameLength, uint64_t* forkOffset, uint64_t* forkLength);

// A stream for a decoder to write a MacLHA member to: it computes the CRC-16
// of every decoded byte, and passes to the member output either all of them
// or, after a MacLHA header, only the fork to keep.
class MacBinaryFilter {
 public:
  MacBinaryFilter(MemberOutput& out, uint64_t memberSize, const uint8_t* fileName,
                  size_t fileNameLength);
  ~MacBinaryFilter();
  MacBinaryFilter(const MacBinaryFilter&) = delete;
  MacBinaryFilter& operator=(const MacBinaryFilter&) = delete;

  // The stream (null when it cannot be made).
  FILE* Stream();
  // Closes the stream and passes on anything held back; false when the
  // member output refused a write.
  bool Close();
  uint16_t Crc() const { return crc_; }

  // The stream's write: takes `size` bytes.
  bool Take(const uint8_t* data, size_t size);

 private:
  MemberOutput& out_;
  uint64_t memberSize_;
  const uint8_t* fileName_;
  size_t fileNameLength_;
  FILE* stream_ = nullptr;
  uint16_t crc_ = 0;
  uint8_t held_[kMacBinaryHeader];
  size_t heldCount_ = 0;
  bool decided_ = false;
  uint64_t position_ = 0;   // decoded bytes so far
  uint64_t keepFrom_ = 0;   // the decoded bytes passed on: [keepFrom_, keepTo_)
  uint64_t keepTo_ = UINT64_MAX;
};

}  // namespace lzh
