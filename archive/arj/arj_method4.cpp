#include "archive/arj/arj_method4.h"

#include <cstdlib>

#include "archive/lzh/lzh_window.h"

namespace arj {

using namespace lzh;
using namespace codec;

namespace {

// The method's two codes, for the shared window loop, read through a local
// copy of the bit cursor (see LocalBits).
class Method4Codes {
 public:
  // Codes >= 256 are matches of (code - 253) bytes, as for the LZH methods.
  static constexpr uint32_t kLengthBase = 253;

  explicit Method4Codes(BitReader& reader) : r_(reader) { b_.Load(r_); }
  ~Method4Codes() { b_.Store(r_); }
  Method4Codes(const Method4Codes&) = delete;
  Method4Codes& operator=(const Method4Codes&) = delete;

  __attribute__((always_inline)) uint32_t Code() {
    // One refill covers a length code and its literal or position code:
    // at most 7 + 7 + 4 + 13 bits.
    RefillLocal(b_, r_);
    const uint32_t top = PeekBits(b_.c, 16);
    if ((top & 0x8000) == 0) {
      // A 0 bit and eight literal bits: the most common code by far.
      DropBits(b_.c, 9);
      return (top >> 7) & 0xFF;
    }
    const int w = Ones(7);
    return (1u << w) - 1 + Take(w) + 2 + kLengthBase;
  }

  __attribute__((always_inline)) uint32_t Distance(uint64_t, uint32_t) {
    const int w = Ones(4);
    return (1u << (9 + w)) - 512 + Take(9 + w);
  }

  bool Dry() const { return b_.Dry(); }

 private:
  // Leading one-bits, at most `limit`; consumes them and the zero that ends
  // a shorter run.
  int Ones(int limit) {
    const uint32_t top = PeekBits(b_.c, 16);
    const int ones = top == 0xFFFF ? 16 : __builtin_clz(~top & 0xFFFFu) - 16;
    if (ones >= limit) {
      DropBits(b_.c, limit);
      return limit;
    }
    DropBits(b_.c, ones + 1);
    return ones;
  }
  uint32_t Take(int n) {
    const uint32_t v = PeekBits(b_.c, n);
    DropBits(b_.c, n);
    return v;
  }

  BitReader& r_;
  LocalBits b_;
};

}  // namespace

LzhDecodeResult DecodeArjMethod4(LzhDecoderState& state, FILE* archive, uint32_t packedSize,
                                 FILE* output, uint32_t unpackedSize) {
  // Zero-filled: valid streams never look before their first byte, and a
  // damaged one that does gets zeros rather than stale heap contents.
  auto* data = static_cast<uint8_t*>(calloc(kArjWindowSize, 1));
  if (data == nullptr) return LzhDecodeResult::NoMemory;
  LzhWindow window{data, kArjWindowSize, output, false};
  state.input.Start(archive, packedSize);
  StartBits(state.reader, nullptr, 0, &state.input);
  Method4Codes codes(state.reader);
  const LzhDecodeResult result = RunWindowLoop<false>(codes, window, unpackedSize);
  free(data);
  return result;
}

}  // namespace arj
