#include "archive/lzh/lh5_decoder.h"

#include <cstring>

#include "archive/lzh/lzh_window.h"

namespace lzh {

// This decoder is written on the codec kit.
using namespace codec;

namespace {

// The code-length code that carries the literal/length lengths.
constexpr int kCodeLengthSymbols = 19;
constexpr int kCodeLengthCountBits = 5;
constexpr int kCodeLengthSpecial = 3;
constexpr int kLiteralCountBits = 9;
// Larger lengths are invalid; counting the 1 bits of a length stops here.
constexpr int kMaxLengthOnes = 10;

// One of the state's two code slots, lengths beside the lookup table (the
// position slot carries the code-length code first).
struct CodeSlot {
  uint8_t* lengths;
  uint16_t* table;
  int tableBits;
};

CodeSlot LiteralSlot(LzhDecoderState& s) {
  return {s.literalLengths, s.literalTable, kLzhLiteralTableBits};
}
CodeSlot PositionSlot(LzhDecoderState& s) {
  return {s.positionLengths, s.positionTable, kLzhPositionTableBits};
}

// Reads the count, `countBits` wide, that starts a length list of up to n
// symbols. A count of 0 means a code of one symbol, whose value follows in
// as many bits: the slot is filled with it, and no lengths follow.
uint32_t ReadLengthCount(BitReader& r, const CodeSlot& slot, int n, int countBits) {
  const uint32_t k = GetBits(r, countBits);
  if (k == 0) FillSingleSymbol(n, slot.lengths, slot.table, slot.tableBits, GetBits(r, countBits));
  return k;
}

// Builds the slot's table from a read length list of n symbols and keeps
// the list beside it; a list that makes no code leaves the slot as it was.
void InstallLengths(LzhDecoderState& s, const CodeSlot& slot, const uint8_t* lengths, int n) {
  if (BuildHuffmanTable(lengths, n, slot.tableBits, slot.table, s.tree) == HuffmanBuild::Ok) {
    std::memcpy(slot.lengths, lengths, static_cast<size_t>(n));
  }
}

// The literal/length lengths of a block, coded with the code-length code.
void ReadLiteralLengths(LzhDecoderState& s) {
  BitReader& r = s.reader;
  const uint32_t k = ReadLengthCount(r, LiteralSlot(s), kLzhLiteralSymbols, kLiteralCountBits);
  if (k == 0) return;
  uint8_t lengths[kLzhLiteralSymbols] = {};
  bool valid = k <= static_cast<uint32_t>(kLzhLiteralSymbols);
  uint32_t i = 0;
  while (i < k) {
    Refill(r);
    const uint32_t x = DecodeHuffman<kLzhPositionTableBits>(r, s.positionTable, s.positionLengths,
                                                           s.tree, kCodeLengthSymbols);
    if (x >= 3) {
      if (i < static_cast<uint32_t>(kLzhLiteralSymbols)) lengths[i] = static_cast<uint8_t>(x - 2);
      ++i;
      continue;
    }
    const uint32_t zeros = x == 0 ? 1 : x == 1 ? GetBits(r, 4) + 3 : GetBits(r, 9) + 20;
    // A run past the symbol count spoils the list; lengths are 0 already.
    i += zeros;
  }
  if (i > static_cast<uint32_t>(kLzhLiteralSymbols)) valid = false;
  if (valid) InstallLengths(s, LiteralSlot(s), lengths, kLzhLiteralSymbols);
}

void ReadBlockHeader(LzhDecoderState& s) {
  s.blockCount = GetBits(s.reader, 16);
  ReadPositionLengths(s, kCodeLengthSymbols, kCodeLengthCountBits, kCodeLengthSpecial);
  ReadLiteralLengths(s);
  ReadPositionLengths(s, s.positionSymbols, s.positionBits, -1);
}

// Reads through local copies of the bit cursor (see LocalBits) and the
// block count, which the state gets back around the block header and at
// the end.
class BlockDecoder {
 public:
  static constexpr uint32_t kLengthBase = 253;

  explicit BlockDecoder(LzhDecoderState& s) : s_(s) { Load(); }
  ~BlockDecoder() { Store(); }
  BlockDecoder(const BlockDecoder&) = delete;
  BlockDecoder& operator=(const BlockDecoder&) = delete;

  __attribute__((always_inline)) uint32_t Code() {
    if (blockCount_ == 0) {
      Store();
      ReadBlockHeader(s_);
      Load();
    }
    // A block count of 0 stands for 65,536 codes.
    blockCount_ = (blockCount_ - 1) & 0xFFFF;
    // One refill serves the code and, for a match, its position code and
    // extra bits: 16 + 16 + 15 bits, below the 56 a refill guarantees.
    RefillLocal(b_, s_.reader);
    return DecodeHuffman<kLzhLiteralTableBits>(b_.c, s_.literalTable, s_.literalLengths, s_.tree,
                                              kLzhLiteralSymbols);
  }

  __attribute__((always_inline)) uint32_t Distance(uint64_t, uint32_t) {
    const uint32_t j = DecodeHuffman<kLzhPositionTableBits>(
        b_.c, s_.positionTable, s_.positionLengths, s_.tree,
        static_cast<uint32_t>(s_.positionSymbols));
    if (j <= 1) return j;
    // j <= 16 here (np is at most 17).
    const uint32_t extra = PeekBits(b_.c, static_cast<int>(j - 1));
    DropBits(b_.c, static_cast<int>(j - 1));
    return (1u << (j - 1)) + extra;
  }

  bool Dry() const { return b_.Dry(); }

 private:
  void Load() {
    b_.Load(s_.reader);
    blockCount_ = s_.blockCount;
  }
  void Store() {
    b_.Store(s_.reader);
    s_.blockCount = blockCount_;
  }

  LzhDecoderState& s_;
  LocalBits b_;
  uint32_t blockCount_;
};

}  // namespace

void ReadPositionLengths(LzhDecoderState& s, int n, int countBits, int special) {
  BitReader& r = s.reader;
  const uint32_t k = ReadLengthCount(r, PositionSlot(s), n, countBits);
  if (k == 0) return;
  // k < 32 and at most 3 zeros follow the special index, so indices stay
  // below 35 (the scratch holds 128).
  uint8_t lengths[kLzhPositionLengths] = {};
  uint32_t i = 0;
  while (i < k) {
    Refill(r);
    uint32_t len = PeekBits(r, 3);
    if (len == 7) {
      // 7 plus the number of 1 bits that follow, ended by a 0 bit.
      uint64_t probe = r.bits << 3;
      int ones = 0;
      while (ones < kMaxLengthOnes && (probe >> 63) != 0) {
        probe <<= 1;
        ++ones;
      }
      len += static_cast<uint32_t>(ones);
      DropBits(r, 3 + ones + 1);
    } else {
      DropBits(r, 3);
    }
    if (i < static_cast<uint32_t>(kLzhPositionLengths)) lengths[i] = static_cast<uint8_t>(len);
    ++i;
    if (static_cast<int>(i) == special) {
      for (uint32_t z = GetBits(r, 2); z > 0 && i < static_cast<uint32_t>(kLzhPositionLengths); --z) {
        lengths[i++] = 0;
      }
    }
  }
  // A count beyond the symbol count is invalid: the list is dropped.
  if (k <= static_cast<uint32_t>(n)) InstallLengths(s, PositionSlot(s), lengths, n);
}

LzhDecodeResult DecodeBlockMethod(LzhDecoderState& s, const LzhMethodInfo& method,
                                  LzhWindow& window, uint32_t unpackedSize) {
  s.positionSymbols = method.positionSymbols;
  s.positionBits = method.positionBits;
  s.blockCount = 0;
  BlockDecoder decoder(s);
  // ARJ's window is not a power of two.
  if ((window.size & (window.size - 1)) != 0) return RunWindowLoop<false>(decoder, window, unpackedSize);
  return RunWindowLoop<true>(decoder, window, unpackedSize);
}

}  // namespace lzh
