#include "stream/byte_source.h"

#include <cstring>

bool MemoryByteSource::Open(const char* path) {
  pos_ = 0;
  open_ = data_ != nullptr;
  if (open_) ++openCount_;
  return open_;
}

int32_t MemoryByteSource::Read(void* buffer, int32_t count) {
  if (!open_ || count <= 0) return 0;
  size_t n = size_ - pos_;
  if (n > static_cast<size_t>(count)) n = static_cast<size_t>(count);
  if (pieceLimit_ > 0 && n > static_cast<size_t>(pieceLimit_)) n = static_cast<size_t>(pieceLimit_);
  if (n == 0) return 0;
  memcpy(buffer, data_ + pos_, n);
  pos_ += n;
  return static_cast<int32_t>(n);
}
