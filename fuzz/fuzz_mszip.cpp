// MSZIP blocks of arbitrary bytes. The first two bytes give the declared
// output size; the rest is one block. Besides staying inside its buffers,
// a block the decoder accepts must decode as zlib decodes it (with the
// zero-filled history a fresh output buffer has).
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/cab/mszip_decoder.h"

using namespace cab;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size - 2 > kCabInputSize) return 0;
  static auto* state = new MszipState;
  static uint8_t in[kCabInputSize + kCabInputSpare];
  static uint8_t out[kCabOutputSize];
  const size_t outLength = (data[0] | (data[1] << 8)) % (kCabOutputSize + 1);
  const size_t n = size - 2;
  std::memcpy(in, data + 2, n);
  std::memset(in + n, 0, kCabInputSpare);
  std::memset(out, 0, sizeof out);
  if (MszipDecodeBlock(*state, in, n, out, outLength) != CabResult::Ok) return 0;
  if (n < 2) abort();
  static uint8_t expect[kCabOutputSize + 1];
  static uint8_t zeros[kCabOutputSize];
  z_stream z{};
  inflateInit2(&z, -15);
  inflateSetDictionary(&z, zeros, sizeof zeros);
  z.next_in = in + 2;
  z.avail_in = static_cast<uInt>(n - 2);
  z.next_out = expect;
  z.avail_out = sizeof expect;
  const int r = inflate(&z, Z_FINISH);
  const size_t produced = sizeof expect - z.avail_out;
  inflateEnd(&z);
  if (r == Z_STREAM_END && (produced != outLength || std::memcmp(expect, out, outLength) != 0)) abort();
  return 0;
}
