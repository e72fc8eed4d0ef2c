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

// The literal/length lengths of a block (n symbols), coded with the
// code-length code.
void ReadLiteralLengths(LzhDecoderState& s, int n) {
  BitReader& r = s.reader;
  const uint32_t k = ReadLengthCount(r, LiteralSlot(s), n, kLiteralCountBits);
  if (k == 0) return;
  uint8_t lengths[kLzhLiteralSymbols] = {};
  const uint32_t symbols = static_cast<uint32_t>(n);
  bool valid = k <= symbols;
  uint32_t i = 0;
  while (i < k) {
    Refill(r);
    const uint32_t x = DecodeHuffman<kLzhPositionTableBits>(r, s.positionTable, s.positionLengths,
                                                           s.tree, kCodeLengthSymbols);
    if (x >= 3) {
      if (i < symbols) lengths[i] = static_cast<uint8_t>(x - 2);
      ++i;
      continue;
    }
    const uint32_t zeros = x == 0 ? 1 : x == 1 ? GetBits(r, 4) + 3 : GetBits(r, 9) + 20;
    // A run past the symbol count spoils the list; lengths are 0 already.
    i += zeros;
  }
  if (i > symbols) valid = false;
  if (valid) InstallLengths(s, LiteralSlot(s), lengths, n);
}

void ReadBlockHeader(LzhDecoderState& s, int literalSymbols) {
  s.blockCount = GetBits(s.reader, 16);
  ReadPositionLengths(s, kCodeLengthSymbols, kCodeLengthCountBits, kCodeLengthSpecial);
  ReadLiteralLengths(s, literalSymbols);
  ReadPositionLengths(s, s.positionSymbols, s.positionBits, -1);
}

// The two codings of a block method's codes. The common one (-lh4- to
// -lhx-, ARJ): 510 literal/length symbols, symbol 256 + n a match of n + 3
// bytes; position symbol j > 1 stands for 2^(j-1) plus j - 1 further bits.
// LHARK's (-lk7-): 289 literal/length symbols, where 256..263 are lengths
// 3..10, 264..287 carry (s - 260) / 4 further bits over a base of
// (4 + s % 4) << those bits, plus 3, and 288 is 514; position symbol j >= 4
// stands for (2 + j % 2) << (j - 2) / 2 plus (j - 2) / 2 further bits.
enum class BlockCoding { kCommon, kLhark };

constexpr int kLharkLiteralSymbols = 289;
constexpr uint32_t kLharkLongestMatch = 514;

// Reads through local copies of the bit cursor (see LocalBits) and the
// block count, which the state gets back around the block header and at
// the end.
template <BlockCoding kCoding>
class BlockDecoder {
 public:
  static constexpr uint32_t kLengthBase = 253;
  static constexpr int kLiteralSymbols =
      kCoding == BlockCoding::kLhark ? kLharkLiteralSymbols : kLzhLiteralSymbols;

  explicit BlockDecoder(LzhDecoderState& s)
      : s_(s), positionSymbols_(static_cast<uint32_t>(s.positionSymbols)) {
    Load();
  }
  ~BlockDecoder() { Store(); }
  BlockDecoder(const BlockDecoder&) = delete;
  BlockDecoder& operator=(const BlockDecoder&) = delete;

  static constexpr uint32_t kLongestMatch =
      kCoding == BlockCoding::kLhark ? kLharkLongestMatch : kLzhLiteralSymbols - 1 - kLengthBase;

  __attribute__((always_inline)) uint32_t Code() {
    if (blockCount_ == 0) {
      Store();
      ReadBlockHeader(s_, kLiteralSymbols);
      Load();
    }
    // A block count of 0 stands for 65,536 codes.
    blockCount_ = (blockCount_ - 1) & 0xFFFF;
    RefillLocal(b_, s_.reader);
    return Symbol(HuffmanEntry<kLzhLiteralTableBits>(b_.c, s_.literalTable));
  }

  // A run looks each code's table entry up before the refill that follows
  // the code before it, so that the lookup need not wait for the refill:
  // after a literal at least 40 bits are left, enough for the lookup (and
  // for a match's position and extra bits, 16 + 18). It refills once at
  // its start and once per code, taking at most 7 bytes and reading 8 each
  // time, so n codes stay inside 8(n + 1) bytes of those in hand.
  uint32_t StartRun(uint32_t most) {
    if (b_.padBytes != 0) return 0;
    const auto inHand = static_cast<uint64_t>(b_.c.end - b_.c.next) / 8;
    if (inHand < 2) return 0;
    uint32_t n = blockCount_ < most ? blockCount_ : most;
    if (inHand - 1 < n) n = static_cast<uint32_t>(inHand - 1);
    if (n != 0) {
      RefillInHand(b_.c);
      entry_ = HuffmanEntry<kLzhLiteralTableBits>(b_.c, s_.literalTable);
    }
    return n;
  }
  __attribute__((always_inline)) uint32_t RunCode() {
    const uint32_t c = Symbol(entry_);
    if (c < 256) NextInRun();
    return c;
  }
  __attribute__((always_inline)) uint32_t RunDistance() {
    const uint32_t distance = Distance(0, 0);
    NextInRun();
    return distance;
  }
  void EndRun(uint32_t codes) { blockCount_ -= codes; }

  __attribute__((always_inline)) uint32_t Distance(uint64_t, uint32_t) {
    const uint32_t j = DecodeHuffman<kLzhPositionTableBits>(
        b_.c, s_.positionTable, s_.positionLengths, s_.tree, positionSymbols_);
    if constexpr (kCoding == BlockCoding::kLhark) {
      if (j < 4) return j;
      // j <= 31 here (np is 32).
      const int n = static_cast<int>(j - 2) / 2;
      const uint32_t extra = PeekBits(b_.c, n);
      DropBits(b_.c, n);
      return ((2 + j % 2) << n) + extra;
    }
    if (j <= 1) return j;
    // j <= 19 here (np is at most 20).
    const uint32_t extra = PeekBits(b_.c, static_cast<int>(j - 1));
    DropBits(b_.c, static_cast<int>(j - 1));
    return (1u << (j - 1)) + extra;
  }

  bool Dry() const { return b_.Dry(); }

 private:
  // The literal/length code of a table entry, after a refill: one refill
  // serves the code and, for a match, its position code and extra bits:
  // 16 + 16 + 18 bits (-lhx-), or 16 + 6 + 16 + 14 (LHARK), below the 56 a
  // refill leaves.
  __attribute__((always_inline)) uint32_t Symbol(uint32_t entry) {
    const uint32_t c = DecodeHuffmanEntry<kLzhLiteralTableBits>(b_.c, entry, s_.literalLengths,
                                                               s_.tree, kLiteralSymbols);
    if constexpr (kCoding == BlockCoding::kLhark) {
      if (c < 264) return c;
      if (c == 288) return kLengthBase + kLharkLongestMatch;
      const int n = static_cast<int>(c - 260) / 4;
      const uint32_t extra = PeekBits(b_.c, n);
      DropBits(b_.c, n);
      return kLengthBase + ((4 + c % 4) << n) + extra + 3;
    }
    return c;
  }

  // The lookup of a run's next code, then the refill.
  __attribute__((always_inline)) void NextInRun() {
    entry_ = HuffmanEntry<kLzhLiteralTableBits>(b_.c, s_.literalTable);
    RefillInHand(b_.c);
  }

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
  uint32_t entry_ = 0;  // in a run: the table entry of the next code
  // Kept here, as the state may be reloaded after every window store.
  const uint32_t positionSymbols_;
};

template <BlockCoding kCoding>
LzhDecodeResult RunBlockMethod(LzhDecoderState& s, const LzhMethodInfo& method, LzhWindow& window,
                               uint64_t unpackedSize) {
  s.positionSymbols = method.positionSymbols;
  s.positionBits = method.positionBits;
  s.blockCount = 0;
  BlockDecoder<kCoding> decoder(s);
  // ARJ's window is not a power of two.
  if ((window.size & (window.size - 1)) != 0) return RunWindowLoop<false>(decoder, window, unpackedSize);
  return RunWindowLoop<true>(decoder, window, unpackedSize);
}

}  // namespace

void ReadPositionLengths(LzhDecoderState& s, int n, int countBits, int special) {
  BitReader& r = s.reader;
  const uint32_t k = ReadLengthCount(r, PositionSlot(s), n, countBits);
  if (k == 0) return;
  // k < 64 and at most 3 zeros follow the special index, so indices stay
  // below 67 (the scratch holds 128).
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
                                  LzhWindow& window, uint64_t unpackedSize) {
  return RunBlockMethod<BlockCoding::kCommon>(s, method, window, unpackedSize);
}

LzhDecodeResult DecodeLharkMethod(LzhDecoderState& s, const LzhMethodInfo& method,
                                  LzhWindow& window, uint64_t unpackedSize) {
  return RunBlockMethod<BlockCoding::kLhark>(s, method, window, unpackedSize);
}

}  // namespace lzh
