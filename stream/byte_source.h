// A stream of bytes read in pieces: a plain file or the decoded content of
// a gzip, bzip2 or compress stream (stream_sources.h), or bytes in memory
// (tests and fuzzing). The TAR reader takes its archive from one, the
// single-stream handlers their one member.
#pragma once

#include <cstddef>
#include <cstdint>

// What Read gives besides a byte count: the data is damaged (a checksum
// error included), or it ends inside the compressed stream.
constexpr int32_t kSourceDamaged = -1;
constexpr int32_t kSourceTruncated = -2;

class ByteSource {
 public:
  // Closes any stream still held, then opens `path` as this source's kind of
  // stream.
  virtual bool Open(const char* path) = 0;
  // Up to `count` bytes of the (decompressed) data; 0 at the end or when
  // nothing is open, kSourceDamaged or kSourceTruncated (then at every later
  // read too). Fewer than `count` may arrive before the end; the reader asks
  // again.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  // Closes the held stream, if any.
  virtual void Close() = 0;

 protected:
  ~ByteSource() = default;
};

// A source over a byte array that outlives it. Open ignores the path and
// starts again from the first byte. `pieceLimit` (when not 0) caps what one
// Read delivers, to show that the reader copes with short deliveries.
class MemoryByteSource final : public ByteSource {
 public:
  MemoryByteSource(const uint8_t* data, size_t size, int32_t pieceLimit = 0)
      : data_(data), size_(size), pieceLimit_(pieceLimit) {}
  bool Open(const char* path) override;
  int32_t Read(void* buffer, int32_t count) override;
  void Close() override { open_ = false; }
  int openCount() const { return openCount_; }
  bool isOpen() const { return open_; }

 private:
  const uint8_t* data_;
  size_t size_;
  int32_t pieceLimit_;
  size_t pos_ = 0;
  bool open_ = false;
  int openCount_ = 0;
};
