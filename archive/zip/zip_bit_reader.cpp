#include "archive/zip/zip_bit_reader.h"

namespace zip {

bool ZipMemberInput::NextPiece(const uint8_t** next, const uint8_t** end) {
  if (ended_) return false;
  const size_t got = io_.ReadMember(buffer_, sizeof buffer_);
  if (got == 0) {
    ended_ = true;
    return false;
  }
  *next = buffer_;
  *end = buffer_ + got;
  return true;
}

}  // namespace zip
