#include "codec/bit_input.h"

namespace codec {

bool FileBitInput::NextPiece(const uint8_t** next, const uint8_t** end) {
  if (remaining_ == 0) return false;
  const size_t want = remaining_ < kPiece ? remaining_ : kPiece;
  const size_t got = std::fread(buffer_, 1, want, stream_);
  if (got == 0) {
    remaining_ = 0;
    return false;
  }
  remaining_ -= got;
  *next = buffer_;
  *end = buffer_ + got;
  return true;
}

}  // namespace codec
