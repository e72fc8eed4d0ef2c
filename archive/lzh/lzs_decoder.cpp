#include "archive/lzh/lzs_decoder.h"

#include "archive/lzh/lzh_reader_method.h"
#include "archive/lzh/lzh_window.h"

namespace lzh {

// This decoder is written on the codec kit.
using namespace codec;

namespace {

// Each item is a flag bit: 1, an 8-bit literal; 0, an 11-bit window position
// and a 4-bit length (2..17). The position counts from 17 bytes before the
// window start, so the copy begins at (position + 17) mod 2048.
class LzsDecoder : public ReaderMethod {
 public:
  static constexpr uint32_t kLengthBase = 254;

  using ReaderMethod::ReaderMethod;

  uint32_t Code() {
    Refill(r_);
    if (GetBits(r_, 1) != 0) return GetBits(r_, 8);
    s_.matchPosition = GetBits(r_, 11);
    return GetBits(r_, 4) + 256;
  }

  uint32_t Distance(uint64_t, uint32_t position) {
    return (position - s_.matchPosition - 18) & 0x7FF;
  }
};

}  // namespace

LzhDecodeResult DecodeLzs(LzhDecoderState& s, const LzhMethodInfo&, LzhWindow& window,
                          uint64_t unpackedSize) {
  return RunMethod<LzsDecoder>(s, window, unpackedSize);
}

}  // namespace lzh
