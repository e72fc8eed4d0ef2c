// The member data of the legacy-decoder fuzz targets: input from the fuzz
// bytes, output counted (and checksummed, so it is really read) only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "archive/zip/zip_bit_reader.h"

namespace fuzz {

class LegacyIo : public zip::ZipMemberIo {
 public:
  LegacyIo(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t ReadMember(uint8_t* buffer, size_t count) override {
    size_t n = count < size_ - pos_ ? count : size_ - pos_;
    if (n != 0) memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return n;
  }
  void WriteMember(const uint8_t* data, size_t count) override {
    for (size_t i = 0; i < count; ++i) sum += data[i];
    written += count;
  }
  size_t written = 0;
  uint32_t sum = 0;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace fuzz
