// LZX data blocks of arbitrary bytes, and round trips through the test
// encoder. First byte: bit 7 picks the round trip, the low bits the window
// exponent (15..21). Otherwise the rest is a row of frames, each a 2-byte
// declared output size, a 2-byte length and that many bytes.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/cab/lzx_decoder.h"
#include "../tests/unit/cab_lzx_writer.cpp"

using namespace cab;

namespace {

uint8_t g_in[kCabInputSize + kCabInputSpare];
uint8_t g_out[kCabOutputSize];

void RoundTrip(LzxState& state, int w, const uint8_t* data, size_t size) {
  std::vector<uint8_t> content(data, data + size);
  cabtest::LzxOptions o;
  o.windowBits = w;
  if (size > 2 && (data[0] & 1)) {
    o.e8FileSize = 1 + data[1] * 1000;
    // Every block kind, lengths taken from the content.
    uint32_t left = static_cast<uint32_t>(size);
    for (size_t i = 2; left > 0; i += 2) {
      uint32_t n = i + 1 < size ? 1 + (data[i] | (data[i + 1] << 8)) % 5000 : left;
      n = n < left ? n : left;
      o.blocks.push_back({1 + static_cast<int>(i % 3), n});
      left -= n;
    }
  }
  auto frames = cabtest::LzxCompress(content, o);
  if (LzxInit(state, w) != CabResult::Ok) abort();
  for (size_t i = 0; i < frames.size(); ++i) {
    size_t m = size - i * kCabOutputSize < kCabOutputSize ? size - i * kCabOutputSize : kCabOutputSize;
    if (frames[i].size() > kCabInputSize) abort();
    std::memcpy(g_in, frames[i].data(), frames[i].size());
    std::memset(g_in + frames[i].size(), 0, kCabInputSpare);
    if (LzxDecodeBlock(state, g_in, frames[i].size(), g_out, m) != CabResult::Ok) abort();
    if (std::memcmp(g_out, data + i * kCabOutputSize, m) != 0) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static auto* state = new LzxState;
  const int w = 15 + (data[0] & 0x7F) % 7;
  if (data[0] & 0x80) {
    if (size > 1 && size < 200000) RoundTrip(*state, w, data + 1, size - 1);
    return 0;
  }
  if (LzxInit(*state, w) != CabResult::Ok) abort();
  for (size_t at = 1; at + 4 <= size;) {
    size_t m = (data[at] | (data[at + 1] << 8)) % (kCabOutputSize + 1);
    size_t n = data[at + 2] | (data[at + 3] << 8);
    at += 4;
    if (n > size - at) n = size - at;
    std::memcpy(g_in, data + at, n);
    std::memset(g_in + n, 0, kCabInputSpare);
    at += n;
    if (LzxDecodeBlock(*state, g_in, n, g_out, m) != CabResult::Ok) break;
  }
  return 0;
}
