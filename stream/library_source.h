// The stream formats read through the field's own libraries: xz and the
// older lzma format (liblzma), lzip (liblzma's lzip decoder), Zstandard
// (libzstd) and lz4 frames and legacy streams (liblz4). One byte source
// serves them all; the TAR handlers behind them and the single-stream
// handlers take it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/byte_source.h"

// What one liblzma decoder may take: the largest dictionary the encoders
// write (1.5 GiB) and room beside it. A hostile header asking for more is
// refused as damage instead of being allocated.
constexpr uint64_t kLzmaMemoryLimit = (uint64_t{7} << 30) / 4;

enum class LibraryFormat : uint8_t { kXz, kLzma, kLzip, kZstd, kLz4 };

struct LibraryFormatInfo {
  LibraryFormat format;
  const char* name;        // in messages and the listing's method column
  const char* extension;   // its own extension: the output name drops it
  const char* tarExtension;  // the short extension of a TAR inside it ("txz")
  const char* outputSuffix;  // added to the output name of a file without `extension`
};
const LibraryFormatInfo& InfoOf(LibraryFormat format);

// Whether the first bytes of a file (`size` of them at hand) start a stream
// of `format`: its magic number, or for lzma, which has none, a header
// whose fields are in range. A Zstandard or lz4 file may start with
// skippable frames; the frame behind them decides when it is at hand.
bool StartsLibraryStream(LibraryFormat format, const uint8_t* head, size_t size);

class LibrarySource final : public ByteSource {
 public:
  explicit LibrarySource(LibraryFormat format) : format_(format) {}
  ~LibrarySource() { Close(); }
  LibrarySource(const LibrarySource&) = delete;
  LibrarySource& operator=(const LibrarySource&) = delete;

  // Opens the file only when it starts as a stream of this format: the
  // library never sees any other file.
  bool Open(const char* path) override;
  // Every stream or frame in the file, one after another. The checks the
  // format carries (xz check, lzip CRC-32 and size, Zstandard and lz4
  // content checksums) are compared by the library: a mismatch and bad data
  // give kSourceDamaged after the bytes decoded before it, input that ends
  // inside a stream kSourceTruncated. Data behind the last stream that is
  // not another stream is damage too, as the formats' own tools take it.
  int32_t Read(void* buffer, int32_t count) override;
  void Close() override;

 private:
  struct State;
  LibraryFormat format_;
  State* state_ = nullptr;
};
