#include "archive/lzh/macbinary.h"

#include <cstring>

#include "core/checksum.h"

namespace lzh {

namespace {

// MacBinary header fields (big-endian).
constexpr size_t kNameLength = 0x01;
constexpr size_t kName = 0x02;
constexpr size_t kNameField = 63;
constexpr size_t kZero1 = 0x4A;
constexpr size_t kZero2 = 0x52;
constexpr size_t kDataForkLength = 0x53;
constexpr size_t kResourceForkLength = 0x57;
constexpr size_t kUnusedTail = 0x63;  // comment length and MacBinary II fields

uint32_t LoadBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

ssize_t FilterWrite(void* cookie, const char* data, size_t size) {
  return static_cast<MacBinaryFilter*>(cookie)->Take(reinterpret_cast<const uint8_t*>(data), size)
             ? static_cast<ssize_t>(size)
             : 0;
}

}  // namespace

bool IsMacLhaHeader(const uint8_t* header, uint64_t memberSize, const uint8_t* fileName,
                    size_t fileNameLength, uint64_t* forkOffset, uint64_t* forkLength) {
  if (header[0] != 0 || header[kZero1] != 0 || header[kZero2] != 0 ||
      !AllZero(header + kUnusedTail, kMacBinaryHeader - kUnusedTail)) {
    return false;
  }
  const size_t nameLength = header[kNameLength];
  if (nameLength > kNameField || nameLength != fileNameLength ||
      std::memcmp(header + kName, fileName, nameLength) != 0 ||
      !AllZero(header + kName + nameLength, kNameField - nameLength)) {
    return false;
  }
  const uint64_t data = LoadBe32(header + kDataForkLength);
  const uint64_t resource = LoadBe32(header + kResourceForkLength);
  const uint64_t whole = (kMacBinaryHeader + data + resource + 127) & ~uint64_t{127};
  if (whole != memberSize) return false;
  // Without a data fork the resource fork starts right after the header.
  *forkOffset = kMacBinaryHeader;
  *forkLength = data != 0 ? data : resource;
  return true;
}

MacBinaryFilter::MacBinaryFilter(MemberOutput& out, uint64_t memberSize, const uint8_t* fileName,
                                 size_t fileNameLength)
    : out_(out), memberSize_(memberSize), fileName_(fileName), fileNameLength_(fileNameLength) {}

MacBinaryFilter::~MacBinaryFilter() {
  if (stream_ != nullptr) std::fclose(stream_);
}

FILE* MacBinaryFilter::Stream() {
  if (stream_ == nullptr) {
    cookie_io_functions_t io{};
    io.write = FilterWrite;
    stream_ = fopencookie(this, "w", io);
    if (stream_ != nullptr) setvbuf(stream_, nullptr, _IOFBF, 64 * 1024);
  }
  return stream_;
}

bool MacBinaryFilter::Take(const uint8_t* data, size_t size) {
  crc_ = Crc16Update(crc_, data, size);
  if (!decided_) {
    const size_t take = size < kMacBinaryHeader - heldCount_ ? size : kMacBinaryHeader - heldCount_;
    std::memcpy(held_ + heldCount_, data, take);
    heldCount_ += take;
    data += take;
    size -= take;
    position_ += take;
    if (heldCount_ < kMacBinaryHeader) return true;
    decided_ = true;
    uint64_t offset, length;
    if (IsMacLhaHeader(held_, memberSize_, fileName_, fileNameLength_, &offset, &length)) {
      keepFrom_ = offset;
      keepTo_ = offset + length;
    } else if (!out_.Write(held_, heldCount_)) {
      return false;
    }
  }
  // Pass on the part of [position_, position_ + size) that is kept.
  const uint64_t start = position_;
  position_ += size;
  const uint64_t from = start > keepFrom_ ? start : keepFrom_;
  const uint64_t to = position_ < keepTo_ ? position_ : keepTo_;
  if (from >= to) return true;
  return out_.Write(data + (from - start), static_cast<size_t>(to - from));
}

bool MacBinaryFilter::Close() {
  bool ok = true;
  if (stream_ != nullptr) {
    ok = std::fclose(stream_) == 0;
    stream_ = nullptr;
  }
  // A member shorter than a header is passed on as it is.
  if (!decided_ && heldCount_ > 0) {
    decided_ = true;
    ok = out_.Write(held_, heldCount_) && ok;
  }
  return ok;
}

}  // namespace lzh
