#include "archive/zip/zip_library_methods.h"

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include <algorithm>
#include <cstdlib>

#include "core/byte_order.h"
#include "core/handler.h"
#include "stream/library_source.h"

namespace zip {
namespace {

// Input in the second half of the read-ahead buffer, output in the first.
constexpr size_t kHalf = kReadAheadSize / 2;

enum class Step { kMore, kEnd, kDamaged };

// The loop every library shares: input refilled from `io` when used up,
// output handed to `io` after each call. `step` runs the library from
// (in, inSize) into (out, outSize), moving both, and says how it went.
template <typename Run>
MemberEnd Pump(ZipMemberIo& io, size_t* unused, Run step) {
  uint8_t* const out = g_ReadAheadBuffer;
  uint8_t* const in = g_ReadAheadBuffer + kHalf;
  size_t inSize = 0, inAt = 0;
  bool inputEnded = false;
  for (;;) {
    if (inAt == inSize && !inputEnded) {
      inSize = io.ReadMember(in, kHalf);
      inAt = 0;
      inputEnded = inSize == 0;
    }
    const uint8_t* next = in + inAt;
    size_t left = inSize - inAt;
    uint8_t* put = out;
    size_t room = kHalf;
    const size_t before = left;
    const Step s = step(next, left, put, room, inputEnded);
    inAt = inSize - left;
    const size_t made = kHalf - room;
    if (made > 0) io.WriteMember(out, made);
    *unused = inSize - inAt;
    if (s == Step::kEnd) return MemberEnd::kComplete;
    if (s == Step::kDamaged) return MemberEnd::kDamaged;
    // Nothing moved with the input at its end: the stream is cut short.
    if (inputEnded && made == 0 && left == before) return MemberEnd::kTruncated;
  }
}

Step FromLzma(lzma_ret r) {
  return r == LZMA_OK ? Step::kMore : r == LZMA_STREAM_END ? Step::kEnd : r == LZMA_BUF_ERROR ? Step::kMore
                                                                                                 : Step::kDamaged;
}

MemberEnd DecodeWithLzma(lzma_stream& z, ZipMemberIo& io, size_t* unused) {
  return Pump(io, unused, [&z](const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize, bool ended) {
    z.next_in = in;
    z.avail_in = inSize;
    z.next_out = out;
    z.avail_out = outSize;
    const lzma_ret r = lzma_code(&z, ended ? LZMA_FINISH : LZMA_RUN);
    in = z.next_in;
    inSize = z.avail_in;
    out = z.next_out;
    outSize = z.avail_out;
    return FromLzma(r);
  });
}

// The ZIP LZMA header: version (2 bytes), the properties' length (2 bytes,
// 5), then the properties: lc/lp/pb in one byte and the dictionary size.
MemberEnd DecodeLzma(uint16_t flags, uint64_t size, ZipMemberIo& io, size_t* unused) {
  uint8_t header[9];
  if (io.ReadMember(header, sizeof header) != sizeof header) return MemberEnd::kTruncated;
  if (LoadLe16(header + 2) != 5) return MemberEnd::kDamaged;
  lzma_options_lzma* options = nullptr;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, header + 4, 5) != LZMA_OK) return MemberEnd::kDamaged;
  options = static_cast<lzma_options_lzma*>(filters[0].options);
  // With bit 1 an end marker closes the data; without it the size does,
  // and a marker is still taken where the size ends.
  const bool marked = (flags & 0x0002) != 0;
  options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  const uint64_t known = marked && size == UINT64_MAX ? UINT64_MAX : size;
  options->ext_size_low = static_cast<uint32_t>(known);
  options->ext_size_high = static_cast<uint32_t>(known >> 32);
  lzma_stream z = LZMA_STREAM_INIT;
  const bool started = lzma_raw_decoder(&z, filters) == LZMA_OK;
  free(options);
  if (!started) return MemberEnd::kDamaged;
  const MemberEnd end = DecodeWithLzma(z, io, unused);
  lzma_end(&z);
  return end;
}

MemberEnd DecodeXz(ZipMemberIo& io, size_t* unused) {
  lzma_stream z = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&z, kLzmaMemoryLimit, 0) != LZMA_OK) return MemberEnd::kDamaged;
  const MemberEnd end = DecodeWithLzma(z, io, unused);
  lzma_end(&z);
  return end;
}

MemberEnd DecodeBzip2(ZipMemberIo& io, size_t* unused) {
  bz_stream z{};
  if (BZ2_bzDecompressInit(&z, 0, 0) != BZ_OK) return MemberEnd::kDamaged;
  const MemberEnd end = Pump(io, unused, [&z](const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize, bool) {
    z.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
    z.avail_in = static_cast<unsigned>(inSize);
    z.next_out = reinterpret_cast<char*>(out);
    z.avail_out = static_cast<unsigned>(outSize);
    const int r = BZ2_bzDecompress(&z);
    in = reinterpret_cast<const uint8_t*>(z.next_in);
    inSize = z.avail_in;
    out = reinterpret_cast<uint8_t*>(z.next_out);
    outSize = z.avail_out;
    return r == BZ_STREAM_END ? Step::kEnd : r == BZ_OK ? Step::kMore : Step::kDamaged;
  });
  BZ2_bzDecompressEnd(&z);
  return end;
}

MemberEnd DecodeZstd(ZipMemberIo& io, size_t* unused) {
  ZSTD_DStream* z = ZSTD_createDStream();
  if (z == nullptr) return MemberEnd::kDamaged;
  const MemberEnd end = Pump(io, unused, [z](const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize, bool) {
    ZSTD_inBuffer ib{in, inSize, 0};
    ZSTD_outBuffer ob{out, outSize, 0};
    const size_t r = ZSTD_decompressStream(z, &ob, &ib);
    in += ib.pos;
    inSize -= ib.pos;
    out += ob.pos;
    outSize -= ob.pos;
    return ZSTD_isError(r) ? Step::kDamaged : r == 0 ? Step::kEnd : Step::kMore;
  });
  ZSTD_freeDStream(z);
  return end;
}

}  // namespace

bool IsLibraryMethod(uint16_t method) {
  return method == 12 || method == 14 || method == 20 || method == 93 || method == 95;
}

MemberEnd DecodeLibraryMethod(uint16_t method, uint16_t flags, uint64_t size, ZipMemberIo& io, size_t* unused) {
  *unused = 0;
  switch (method) {
    case 12: return DecodeBzip2(io, unused);
    case 14: return DecodeLzma(flags, size, io, unused);
    case 20: case 93: return DecodeZstd(io, unused);
    case 95: return DecodeXz(io, unused);
  }
  return MemberEnd::kDamaged;
}

}  // namespace zip
