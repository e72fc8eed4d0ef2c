// The byte sources of the stream formats: a plain file, and the decoded
// content of a gzip, bzip2 or compress (.Z) file. The TAR handlers read
// their archive through them; the gzip, bzip2 and compress handlers copy
// their one member out of them (CopyMember). Each closes what it holds when
// it goes.
#pragma once

#include <cstdio>

#include "stream/byte_source.h"

namespace bzip2 {
struct Bzip2Reader;
}
namespace gzip {
struct GzipReader;
}
namespace lzw {
struct LzwReader;
}

class FileSource final : public ByteSource {
 public:
  ~FileSource() { Close(); }
  bool Open(const char* path) override;
  // kSourceDamaged for a read error.
  int32_t Read(void* buffer, int32_t count) override;
  void Close() override;

 private:
  FILE* file_ = nullptr;
};

class GzipSource final : public ByteSource {
 public:
  ~GzipSource() { Close(); }
  bool Open(const char* path) override;
  // The reader checks each member's CRC-32 and length: damage gives
  // kSourceDamaged after the bytes decoded before it, input that ends
  // inside a member kSourceTruncated.
  int32_t Read(void* buffer, int32_t count) override;
  void Close() override;
  // After the end: where data that is neither a member nor zero bytes
  // starts, or -1.
  int64_t TrailingAt() const;

 private:
  gzip::GzipReader* reader_ = nullptr;
};

class Bzip2Source final : public ByteSource {
 public:
  ~Bzip2Source() { Close(); }
  bool Open(const char* path) override;
  // Streams are read one after another. Every block's CRC and each
  // stream's combined CRC are checked: a mismatch and bad data give
  // kSourceDamaged after the bytes decoded before it, input that ends
  // inside a stream kSourceTruncated.
  int32_t Read(void* buffer, int32_t count) override;
  void Close() override;
  // After the end: the file offset of data behind the last stream that is
  // not bzip2 data (ignored, as bzip2 -d ignores it), or -1.
  int64_t TrailingAt() const;

 private:
  bzip2::Bzip2Reader* reader_ = nullptr;
};

class CompressSource final : public ByteSource {
 public:
  ~CompressSource() { Close(); }
  // Fails for a file whose three header bytes are short or wrong.
  bool Open(const char* path) override;
  // The stream has no end mark: it ends where the data ends, or with
  // kSourceDamaged where the reader stopped at a code that cannot occur.
  int32_t Read(void* buffer, int32_t count) override;
  void Close() override;

 private:
  lzw::LzwReader* reader_ = nullptr;
};
