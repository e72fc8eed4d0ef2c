// Where a bit reader finds more input once the bytes in hand are used up,
// and the one source of that kind every decoder needs: a file stream read
// in pieces, never past a given byte count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace codec {

class BitInput {
 public:
  // Points *next and *end at the next piece of input (at least one byte);
  // false, with both unchanged, once the input has ended.
  virtual bool NextPiece(const uint8_t** next, const uint8_t** end) = 0;

 protected:
  ~BitInput() = default;
};

// Reads a stream in pieces of up to kPiece bytes, at most `limit` bytes in
// all. End of file and read errors both end the input.
class FileBitInput final : public BitInput {
 public:
  static constexpr size_t kPiece = 65536;

  // Positions the input on `limit` bytes of `stream` without reading.
  void Start(FILE* stream, uint64_t limit) {
    stream_ = stream;
    remaining_ = limit;
  }
  bool NextPiece(const uint8_t** next, const uint8_t** end) override;

 private:
  FILE* stream_ = nullptr;
  uint64_t remaining_ = 0;  // bytes not yet read from the stream
  uint8_t buffer_[kPiece];
};

}  // namespace codec
