#include "archive/lzh/lz5_decoder.h"

#include <cstring>

#include "archive/lzh/lzh_window.h"

namespace lzh {

// This decoder is written on the codec kit.
using namespace codec;

namespace {

// A flag byte announces eight items, lowest bit first: 1, a literal byte;
// 0, two bytes x and y giving a 12-bit window position x + (y & 0xF0) * 16
// and a length (y & 0x0F) + 3. The position counts from 18 bytes before the
// window start. The bytes come straight from the member data; when the data
// ends before the unpacked size, the member ends there.
class Lz5Decoder {
 public:
  static constexpr uint32_t kLengthBase = 253;

  explicit Lz5Decoder(LzhDecoderState& s) : s_(s), r_(s.reader) {}

  uint32_t Code() {
    if (s_.flagsLeft == 0) {
      s_.flagByte = Next();
      s_.flagsLeft = 8;
    }
    --s_.flagsLeft;
    const uint32_t flag = s_.flagByte;
    s_.flagByte >>= 1;
    const uint32_t x = Next();
    if ((flag & 1) != 0) return x;
    const uint32_t y = Next();
    s_.matchPosition = x + ((y & 0xF0) << 4);
    return (y & 0x0F) + 256;
  }

  uint32_t Distance(uint64_t, uint32_t position) {
    return (position - s_.matchPosition - 19) & 0xFFF;
  }

  bool Dry() const { return dry_; }

 private:
  uint32_t Next() {
    const int byte = NextByte(r_);
    if (byte < 0) {
      dry_ = true;
      return 0;
    }
    return static_cast<uint32_t>(byte);
  }

  LzhDecoderState& s_;
  BitReader& r_;
  bool dry_ = false;
};

}  // namespace

LzhDecodeResult DecodeLz5(LzhDecoderState& s, const LzhMethodInfo&, LzhWindow& window,
                          uint64_t unpackedSize) {
  // 18 zeros, 13 copies of each byte value, then 0..255, then 255..0, then
  // 128 zeros; the last 110 bytes stay spaces. LArc's own members copy
  // from all of it.
  std::memset(window.data, 0, 18);
  uint8_t* p = window.data + 18;
  for (int k = 0; k < 256; ++k, p += 13) std::memset(p, k, 13);
  for (int k = 0; k < 256; ++k) *p++ = static_cast<uint8_t>(k);
  for (int k = 255; k >= 0; --k) *p++ = static_cast<uint8_t>(k);
  std::memset(p, 0, 128);
  s.flagsLeft = 0;
  s.flagByte = 0;
  Lz5Decoder decoder(s);
  return RunWindowLoop<true>(decoder, window, unpackedSize);
}

}  // namespace lzh
