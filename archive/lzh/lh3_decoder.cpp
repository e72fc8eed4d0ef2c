#include "archive/lzh/lh3_decoder.h"

#include <cstring>

#include "archive/lzh/lzh_reader_method.h"
#include "archive/lzh/lzh_window.h"

namespace lzh {

// This decoder is written on the codec kit.
using namespace codec;

namespace {

constexpr int kLiteralSymbols = 286;  // symbol 285 carries 8 more bits
constexpr uint32_t kExtraSymbol = 285;
constexpr int kPositionSymbols = 128;
constexpr int kSingleValueBits = 9;

// Reads n lengths of `fieldBits` bits each (each behind a presence bit when
// `flagged`). Three leading lengths of 1 are no code but an escape: a 9-bit
// value follows that every code of the block stands for. Returns true when
// the lengths were read into `lengths`, false when the escape filled the table.
bool ReadPlainLengths(BitReader& r, int n, bool flagged, uint8_t* lengths, uint8_t* kept,
                      uint16_t* table, int tableBits) {
  for (int i = 0; i < n; ++i) {
    Refill(r);
    if (flagged) {
      lengths[i] = GetBits(r, 1) != 0 ? static_cast<uint8_t>(GetBits(r, 4) + 1) : 0;
    } else {
      lengths[i] = static_cast<uint8_t>(GetBits(r, 4));
    }
    if (i == 2 && lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1) {
      FillSingleSymbol(n, kept, table, tableBits, GetBits(r, kSingleValueBits));
      return false;
    }
  }
  return true;
}

void ReadBlockHeader(LzhDecoderState& s) {
  BitReader& r = s.reader;
  s.blockCount = GetBits(r, 16);
  uint8_t lengths[kLiteralSymbols];
  if (ReadPlainLengths(r, kLiteralSymbols, true, lengths, s.literalLengths, s.literalTable,
                       kLzhLiteralTableBits) &&
      BuildHuffmanTable(lengths, kLiteralSymbols, kLzhLiteralTableBits, s.literalTable, s.tree) ==
          HuffmanBuild::Ok) {
    std::memcpy(s.literalLengths, lengths, kLiteralSymbols);
  }
  uint8_t positions[kPositionSymbols];
  if (GetBits(r, 1) != 0) {
    if (!ReadPlainLengths(r, kPositionSymbols, false, positions, s.positionLengths,
                          s.positionTable, kLzhPositionTableBits)) {
      return;
    }
  } else {
    ReadyMadeLengths(1, kPositionSymbols, positions);
  }
  if (BuildHuffmanTable(positions, kPositionSymbols, kLzhPositionTableBits, s.positionTable,
                        s.tree) == HuffmanBuild::Ok) {
    std::memcpy(s.positionLengths, positions, kPositionSymbols);
  }
}

class Lh3Decoder : public ReaderMethod {
 public:
  static constexpr uint32_t kLengthBase = 253;

  using ReaderMethod::ReaderMethod;

  uint32_t Code() {
    if (s_.blockCount == 0) ReadBlockHeader(s_);
    s_.blockCount = (s_.blockCount - 1) & 0xFFFF;
    Refill(r_);
    uint32_t j = DecodeHuffman<kLzhLiteralTableBits>(r_, s_.literalTable, s_.literalLengths,
                                                    s_.tree, kLiteralSymbols);
    if (j == kExtraSymbol) j += GetBits(r_, 8);
    return j;
  }

  uint32_t Distance(uint64_t, uint32_t) { return PositionWithSixLowBits(s_, r_, kPositionSymbols); }
};

}  // namespace

LzhDecodeResult DecodeLh3(LzhDecoderState& s, const LzhMethodInfo&, LzhWindow& window,
                          uint64_t unpackedSize) {
  return RunMethod<Lh3Decoder>(s, window, unpackedSize);
}

}  // namespace lzh
