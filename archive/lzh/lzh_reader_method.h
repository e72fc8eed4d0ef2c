// What the window methods that read through the bit reader share (see
// RunWindowLoop): the decoder state, its reader, the loop's question whether
// the input ran dry, a position code of table-coded high bits and six
// plain low bits, and the entry of a method whose window is a power of two.
#pragma once

#include <cstdint>

#include "archive/lzh/lzh_decoder.h"
#include "archive/lzh/lzh_table.h"
#include "archive/lzh/lzh_window.h"

namespace lzh {

// A position whose high bits are coded with the position table (of
// `symbols` symbols) and whose 6 low bits follow as they are.
inline uint32_t PositionWithSixLowBits(LzhDecoderState& s, codec::BitReader& r, int symbols) {
  codec::Refill(r);
  const uint32_t j = codec::DecodeHuffman<kLzhPositionTableBits>(r, s.positionTable, s.positionLengths, s.tree, symbols);
  return (j << 6) + codec::GetBits(r, 6);
}

class ReaderMethod {
 public:
  explicit ReaderMethod(LzhDecoderState& s) : s_(s), r_(s.reader) {}
  bool Dry() const { return codec::RanDry(r_); }

 protected:
  LzhDecoderState& s_;
  codec::BitReader& r_;
};

// Runs a `Method` over the state through the window loop.
template <class Method>
LzhDecodeResult RunMethod(LzhDecoderState& s, LzhWindow& window, uint64_t unpackedSize) {
  Method method(s);
  return RunWindowLoop<true>(method, window, unpackedSize);
}

}  // namespace lzh
