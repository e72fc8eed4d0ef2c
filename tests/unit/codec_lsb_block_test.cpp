// Block access on the LSB-first reader: blocks of whole groups taken from
// input that comes in pieces, the rest of a block given back, codes read at
// bit positions, and the bits a decoder may use once the input ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "codec/lsb_bit_reader.h"

using namespace codec;

namespace {

// Gives `data` in pieces of at most `piece` bytes.
class Pieces final : public BitInput {
 public:
  Pieces(const std::vector<uint8_t>& data, size_t piece) : data_(data), piece_(piece) {}
  bool NextPiece(const uint8_t** next, const uint8_t** end) override {
    if (pos_ == data_.size()) return false;
    *next = data_.data() + pos_;
    pos_ = std::min(data_.size(), pos_ + piece_);
    *end = data_.data() + pos_;
    return true;
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t piece_;
  size_t pos_ = 0;
};

TEST(CodecLsbBlock, GivesEveryByteOnceWhateverThePieces) {
  std::vector<uint8_t> data(45);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 5);
  constexpr size_t kGroup = 10;
  for (size_t piece : {size_t{45}, size_t{13}, size_t{1}}) {
    SCOPED_TRACE(piece);
    Pieces input(data, piece);
    BitReader r;
    StartBits(r, nullptr, 0, &input);
    std::vector<uint8_t> seen;
    for (bool first = true;; first = false) {
      LsbBlock b;
      TakeLsbGroups(r, b, kGroup);
      ASSERT_EQ(b.size % kGroup, 0u);
      const size_t bits = LsbBlockBits(r, b);
      if (bits == 0) break;
      // A 9-bit code across a byte boundary, as the bytes say.
      if (bits >= 12) {
        EXPECT_EQ(PeekLsbBlock(b.data, 3, 511), ((b.data[0] | b.data[1] << 8) >> 3) & 511u);
      }
      // The first block keeps one group and gives the rest back.
      const size_t used = first ? kGroup : bits / 8;
      seen.insert(seen.end(), b.data, b.data + used);
      if (first) ReturnLsbBlockRest(r, b, used);
    }
    // 45 bytes: four whole groups, then 5 bytes and 5 zeros that count.
    EXPECT_EQ(seen, data);
  }
}

}  // namespace
