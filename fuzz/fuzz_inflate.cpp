// The two inflate backends over the same bytes must agree. The first two
// input bytes pick input and output piece sizes; the rest is decoded as raw
// deflate by ISA-L and by zlib, which must give the same verdict (end,
// damage, or more input wanted), the same bytes and, at the end, the same
// count of unused input. The rest is then read as a gzip file (as it stands
// and behind a gzip header) through the gzip reader on both backends, which
// must give the same reads, from memory and from a file read a few bytes at
// a time (so members, trailers and handed-back input cross buffer fills).
//
// One known difference is let through: ISA-L builds code sets that zlib
// refuses (an incomplete or oversubscribed set of code lengths, a block
// without an end code), decoding on where zlib stops at the block header.
// When zlib names such a set, the backends need only agree on the bytes
// both gave.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "stream/gzip_reader.h"
#include "stream/inflate.h"

using namespace flate;
using namespace gzip;

namespace {

constexpr size_t kOutputLimit = 1u << 20;

struct Outcome {
  InflateResult verdict = InflateResult::kMore;
  std::vector<uint8_t> bytes;
  size_t unused = 0;
};

Outcome RawInflate(InflateBackend backend, const uint8_t* data, size_t size, size_t inPiece, size_t outPiece) {
  Outcome o;
  Inflater inflater(backend);
  if (!inflater.ok()) abort();
  std::vector<uint8_t> out(outPiece);
  size_t offered = 0;  // input handed over so far
  const uint8_t* in = data;
  size_t inSize = 0;
  while (o.bytes.size() < kOutputLimit) {
    if (inSize == 0 && offered < size) {
      const size_t n = size - offered < inPiece ? size - offered : inPiece;
      in = data + offered;
      inSize = n;
      offered += n;
    }
    uint8_t* put = out.data();
    size_t room = outPiece;
    const size_t before = inSize;
    o.verdict = inflater.Run(in, inSize, put, room);
    o.bytes.insert(o.bytes.end(), out.data(), put);
    if (o.verdict != InflateResult::kMore) break;
    if (room > 0 && inSize == before && put == out.data()) {
      if (inSize > 0) abort();  // stuck with input and room at hand
      break;                    // the input ended early
    }
  }
  if (o.verdict == InflateResult::kEnd) {
    const uint8_t* back;
    o.unused = inflater.Leftover(&back) + inSize + (size - offered);
    if (o.unused > size) abort();
    for (size_t i = 0; i < inflater.Leftover(&back); ++i)
      if (back[i] != data[size - o.unused + i]) abort();
  }
  return o;
}

// The reads of the gzip reader over `file`: from memory when `fill` is 0,
// else from a stream read `fill` bytes at a time.
std::vector<int32_t> GzipTrace(InflateBackend backend, const std::vector<uint8_t>& file, int32_t piece,
                               size_t fill, std::vector<uint8_t>& bytes) {
  std::vector<int32_t> reads;
  GzipReader* reader = nullptr;
  if (fill == 0) {
    reader = GzipOpenMemory(file.data(), file.size(), backend);
  } else {
    // fmemopen refuses an empty buffer.
    FILE* stream = file.empty() ? fopen("/dev/null", "rb")
                                : fmemopen(const_cast<uint8_t*>(file.data()), file.size(), "rb");
    if (stream == nullptr) abort();
    reader = GzipOpenStream(stream, backend, fill);
  }
  if (reader == nullptr) abort();
  std::vector<uint8_t> buffer(static_cast<size_t>(piece));
  while (bytes.size() < kOutputLimit) {
    const int32_t n = GzipRead(reader, buffer.data(), piece);
    if (n > piece) abort();
    reads.push_back(n);
    if (n <= 0) break;
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
  }
  GzipClose(reader);
  return reads;
}

// Whether zlib stops on a refused code set in `data` (raw deflate, or gzip
// members one after another when `windowBits` is 31).
bool RefusedCodeSet(const uint8_t* data, size_t size, int windowBits) {
  z_stream z{};
  if (inflateInit2(&z, windowBits) != Z_OK) abort();
  static uint8_t sink[1 << 16];
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  int r = Z_OK;
  for (size_t out = 0; out < 4 * kOutputLimit;) {
    z.next_out = sink;
    z.avail_out = sizeof sink;
    r = inflate(&z, Z_NO_FLUSH);
    out += sizeof sink - z.avail_out;
    if (r == Z_STREAM_END && windowBits == 31 && z.avail_in >= 2 && z.next_in[0] == 0x1F && z.next_in[1] == 0x8B) {
      inflateReset(&z);
      continue;
    }
    if (r != Z_OK) break;
  }
  const bool refused = r == Z_DATA_ERROR && z.msg != nullptr &&
                       (strstr(z.msg, " set") != nullptr || strstr(z.msg, "end-of-block") != nullptr ||
                        strstr(z.msg, "repeat") != nullptr || strstr(z.msg, "too many") != nullptr);
  inflateEnd(&z);
  return refused;
}

bool CommonPrefixAgrees(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  return n == 0 || memcmp(a.data(), b.data(), n) == 0;  // memcmp wants valid pointers even for 0 bytes
}

void CompareGzip(const std::vector<uint8_t>& file, int32_t piece, size_t fill) {
  std::vector<uint8_t> a, b, c;
  const std::vector<int32_t> isal = GzipTrace(InflateBackend::kIsal, file, piece, 0, a);
  const bool same = isal == GzipTrace(InflateBackend::kZlib, file, piece, 0, b) && a == b;
  if (!same && !(RefusedCodeSet(file.data(), file.size(), 31) && CommonPrefixAgrees(a, b))) abort();
  // The file road reads what the memory road reads; past a code set zlib
  // refuses, ISA-L's reading depends on how its input comes, and the two
  // need only agree on the bytes both gave.
  const bool road = GzipTrace(InflateBackend::kIsal, file, piece, fill, c) == isal && c == a;
  if (!road && !(RefusedCodeSet(file.data(), file.size(), 31) && CommonPrefixAgrees(a, c))) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t inPiece = 1 + data[0] % 64 * 97;
  const size_t outPiece = 1 + data[1] % 64 * 211;
  const uint8_t* body = data + 2;
  const size_t bodySize = size - 2;

  const Outcome isal = RawInflate(InflateBackend::kIsal, body, bodySize, inPiece, outPiece);
  const Outcome zlib = RawInflate(InflateBackend::kZlib, body, bodySize, bodySize + 1, 1 << 16);
  if (!CommonPrefixAgrees(isal.bytes, zlib.bytes)) abort();
  if (isal.bytes.size() < kOutputLimit && zlib.bytes.size() < kOutputLimit &&
      (isal.verdict != zlib.verdict || isal.bytes.size() != zlib.bytes.size() || isal.unused != zlib.unused) &&
      !RefusedCodeSet(body, bodySize, -15))
    abort();

  const int32_t piece = static_cast<int32_t>(1 + (data[0] ^ data[1]) * 37);
  const size_t fill = 8 + data[1] % 32 * 61;
  CompareGzip(std::vector<uint8_t>(body, body + bodySize), piece, fill);
  std::vector<uint8_t> member = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
  member.insert(member.end(), body, body + bodySize);
  CompareGzip(member, piece, fill);
  return 0;
}
