// DecodeMember over streams built here: stored copies, LArc items, a small
// block-method encoder (one block, any complete code), hand-built -lh3- and
// -lh1- starts, and damaged input for every method.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/lzh/lzh_decoder.h"
#include "archive/lzh/lzh_table.h"

using namespace lzh;
using namespace codec;

namespace {

struct Decoded {
  LzhDecodeResult result;
  std::string bytes;
};

Decoded Decode(LzhMethod method, const std::vector<uint8_t>& packed, uint32_t unpacked,
               uint32_t packedSize = 0xFFFFFFFE) {
  static std::unique_ptr<LzhDecoderState> state(new LzhDecoderState);
  if (packedSize == 0xFFFFFFFE) packedSize = static_cast<uint32_t>(packed.size());
  FILE* in = tmpfile();
  fwrite(packed.data(), 1, packed.size(), in);
  rewind(in);
  FILE* out = tmpfile();
  Decoded d;
  d.result = DecodeMember(*state, method, in, packedSize, out, unpacked);
  long n = ftell(out);
  rewind(out);
  d.bytes.resize(static_cast<size_t>(n));
  if (n > 0) {
    EXPECT_EQ(fread(&d.bytes[0], 1, d.bytes.size(), out), d.bytes.size());
  }
  fclose(in);
  fclose(out);
  return d;
}

// MSB-first bit writer.
struct Bits {
  std::vector<uint8_t> bytes;
  int used = 8;
  void Put(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (used == 8) {
        bytes.push_back(0);
        used = 0;
      }
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> used);
      ++used;
    }
  }
};

// Canonical codes for a set of lengths, ordered by length, then symbol.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  std::vector<uint32_t> codes(lengths.size());
  uint32_t code = 0;
  for (int len = 1; len <= 16; ++len) {
    for (size_t s = 0; s < lengths.size(); ++s) {
      if (lengths[s] == len) codes[s] = code++;
    }
    code <<= 1;
  }
  return codes;
}

// Lengths in the 3-bit form of the position and code-length lists.
void PutShortLength(Bits& b, int len) {
  if (len < 7) {
    b.Put(static_cast<uint32_t>(len), 3);
    return;
  }
  b.Put(7, 3);
  for (int i = 7; i < len; ++i) b.Put(1, 1);
  b.Put(0, 1);
}

struct Token {
  int literal;  // -1 for a match
  uint32_t length;
  uint32_t distance;  // copy starts distance + 1 bytes back
};

// LHARK's coding of a match length (3..514) and a distance: the symbol and
// its extra bits (count, value).
struct Coded {
  uint32_t symbol;
  int bits;
  uint32_t extra;
};
Coded LharkLength(uint32_t length) {
  if (length <= 10) return {length + 253, 0, 0};
  if (length == 514) return {288, 0, 0};
  for (uint32_t c = 264; c < 288; ++c) {
    const int n = static_cast<int>(c - 260) / 4;
    const uint32_t base = ((4 + c % 4) << n) + 3;
    if (length >= base && length < base + (1u << n)) return {c, n, length - base};
  }
  return {0, 0, 0};
}
Coded LharkDistance(uint32_t d) {
  if (d < 4) return {d, 0, 0};
  for (uint32_t j = 4; j < 32; ++j) {
    const int n = static_cast<int>(j - 2) / 2;
    const uint32_t base = (2 + j % 2) << n;
    if (d >= base && d < base + (1u << n)) return {j, n, d - base};
  }
  return {0, 0, 0};
}

// One block of a block method: the code-length code gives symbols 0..12
// four bits and 13..18 five; literal lengths are sent one by one. With
// `lhark`, lengths and distances take LHARK's coding.
std::vector<uint8_t> EncodeBlock(const std::vector<uint8_t>& literalLengths,
                                 const std::vector<uint8_t>& positionLengths, int positionBits,
                                 const std::vector<Token>& tokens, bool lhark = false) {
  Bits b;
  b.Put(static_cast<uint32_t>(tokens.size()), 16);
  std::vector<uint8_t> cl(19);
  for (int i = 0; i < 19; ++i) cl[i] = i < 13 ? 4 : 5;
  b.Put(19, 5);
  for (int i = 0; i < 19; ++i) {
    PutShortLength(b, cl[i]);
    if (i == 2) b.Put(0, 2);
  }
  const auto clCodes = CanonicalCodes(cl);
  b.Put(static_cast<uint32_t>(literalLengths.size()), 9);
  for (size_t i = 0; i < literalLengths.size(); ++i) {
    const int x = literalLengths[i] == 0 ? 0 : literalLengths[i] + 2;
    b.Put(clCodes[x], cl[x]);
  }
  b.Put(static_cast<uint32_t>(positionLengths.size()), positionBits);
  for (uint8_t len : positionLengths) PutShortLength(b, len);
  const auto litCodes = CanonicalCodes(literalLengths);
  const auto posCodes = CanonicalCodes(positionLengths);
  for (const Token& t : tokens) {
    if (lhark) {
      const Coded c = t.literal >= 0 ? Coded{static_cast<uint32_t>(t.literal), 0, 0} : LharkLength(t.length);
      b.Put(litCodes[c.symbol], literalLengths[c.symbol]);
      b.Put(c.extra, c.bits);
      if (t.literal >= 0) continue;
      const Coded d = LharkDistance(t.distance);
      b.Put(posCodes[d.symbol], positionLengths[d.symbol]);
      b.Put(d.extra, d.bits);
      continue;
    }
    const uint32_t c = t.literal >= 0 ? static_cast<uint32_t>(t.literal) : t.length + 253;
    b.Put(litCodes[c], literalLengths[c]);
    if (t.literal >= 0) continue;
    int j = 0;
    while ((t.distance >> j) != 0) ++j;
    b.Put(posCodes[j], positionLengths[j]);
    if (j > 1) b.Put(t.distance - (1u << (j - 1)), j - 1);
  }
  return b.bytes;
}

// A literal/length code using every symbol: 2 of 8 bits, 508 of 9 (LHARK's
// 289: 223 of 8 bits, 66 of 9).
std::vector<uint8_t> FlatLiteralLengths(size_t n = 510) {
  std::vector<uint8_t> l(n, 9);
  for (size_t i = 0; i < 512 - n; ++i) l[i] = 8;
  return l;
}

// A complete position code for np symbols: with 2^(k-1) < np <= 2^k,
// 2^k - np symbols of k - 1 bits and the rest of k bits.
std::vector<uint8_t> FlatPositionLengths(int np) {
  std::vector<uint8_t> l(static_cast<size_t>(np));
  int k = 1;
  while ((1 << k) < np) ++k;
  const int shortCount = (1 << k) - np;
  for (int i = 0; i < np; ++i) l[static_cast<size_t>(i)] = static_cast<uint8_t>(i < shortCount ? k - 1 : k);
  return l;
}

TEST(LzhTable, RejectsIncompleteOverfullOverlongAndEmptyCodes) {
  static LzhTree tree;
  uint16_t table[256];
  for (auto& e : table) e = 77;
  // Four codes of length 1 fill the space twice: a 16-bit sum would wrap to 0.
  const uint8_t overfull[4] = {1, 1, 1, 1};
  EXPECT_EQ(BuildHuffmanTable(overfull, 4, 8, table, tree), HuffmanBuild::Invalid);
  const uint8_t incomplete[3] = {1, 2, 0};
  EXPECT_EQ(BuildHuffmanTable(incomplete, 3, 8, table, tree), HuffmanBuild::Invalid);
  uint8_t overlong[18];
  for (int i = 0; i < 17; ++i) overlong[i] = static_cast<uint8_t>(i + 1);
  overlong[17] = 17;
  EXPECT_EQ(BuildHuffmanTable(overlong, 18, 8, table, tree), HuffmanBuild::Invalid);
  // No code at all is told apart: LZX allows it, the LZH family does not.
  const uint8_t none[5] = {};
  EXPECT_EQ(BuildHuffmanTable(none, 5, 8, table, tree), HuffmanBuild::Empty);
  for (uint16_t e : table) EXPECT_EQ(e, 77);  // left as it was
}

// Lengths 1, 2, ..., 15, 16, 16 in an 8-bit table: the last symbols need
// 8 bits past the table.
struct LongCodes {
  std::vector<uint8_t> lengths;
  uint16_t table[256];
  static LzhTree tree;
  LongCodes() {
    for (int i = 1; i <= 16; ++i) lengths.push_back(static_cast<uint8_t>(i));
    lengths.push_back(16);
  }
  HuffmanBuild Build() { return BuildHuffmanTable(lengths.data(), 17, 8, table, tree); }
};
LzhTree LongCodes::tree;

TEST(LzhTable, LongCodesWalkTheTree) {
  LongCodes c;
  ASSERT_EQ(c.Build(), HuffmanBuild::Ok);
  const std::vector<uint8_t>& lengths = c.lengths;
  const uint16_t* table = c.table;
  LzhTree& tree = LongCodes::tree;
  const auto codes = CanonicalCodes(lengths);
  for (uint32_t symbol : {0u, 7u, 8u, 12u, 15u, 16u}) {
    Bits b;
    b.Put(codes[symbol], lengths[symbol]);
    b.Put(0x5A, 8);
    BitReader r;
    StartBits(r, b.bytes.data(), b.bytes.size(), nullptr);
    Refill(r);
    EXPECT_EQ(DecodeHuffman<8>(r, table, lengths.data(), tree, 17), symbol);
    EXPECT_EQ(GetBits(r, 8), 0x5Au) << "symbol " << symbol;
  }
}

// A damaged block may decode with a table left from a code of fewer
// symbols (the position table is shared with the code-length code). A tree
// node number below the larger count is then taken as that symbol, with
// its length from the list: the table's own lengths cover only its codes.
TEST(LzhTable, NodeNumberBelowTheSymbolCountIsTakenAsThatSymbol) {
  LongCodes c;
  ASSERT_EQ(c.Build(), HuffmanBuild::Ok);
  std::vector<uint8_t>& lengths = c.lengths;
  const uint16_t* table = c.table;
  LzhTree& tree = LongCodes::tree;
  lengths.push_back(5);  // a stale length for symbol 17, the first node
  lengths.push_back(0);
  const uint8_t bytes[] = {0xFF, 0x5A, 0xA5};
  BitReader r;
  StartBits(r, bytes, sizeof bytes, nullptr);
  Refill(r);
  EXPECT_EQ(DecodeHuffman<8>(r, table, lengths.data(), tree, 19), 17u);
  EXPECT_EQ(GetBits(r, 8), 0xEBu);  // 5 bits dropped
}

TEST(LzhTable, ReadyMadeCodesAreComplete) {
  static LzhTree tree;
  uint16_t table[256];
  uint8_t lengths[128];
  ReadyMadeLengths(0, 64, lengths);
  EXPECT_EQ(lengths[0], 3);
  EXPECT_EQ(lengths[1], 4);
  EXPECT_EQ(lengths[63], 8);
  EXPECT_EQ(BuildHuffmanTable(lengths, 64, 8, table, tree), HuffmanBuild::Ok);
  ReadyMadeLengths(1, 128, lengths);
  EXPECT_EQ(lengths[0], 2);
  EXPECT_EQ(lengths[1], 4);
  EXPECT_EQ(lengths[127], 9);
  EXPECT_EQ(BuildHuffmanTable(lengths, 128, 8, table, tree), HuffmanBuild::Ok);
}

TEST(LzhStored, CopiesAndStopsAtTheEnd) {
  std::vector<uint8_t> data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
  Decoded d = Decode(LzhMethod::Lh0, data, 0);
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_EQ(d.bytes, std::string(data.begin(), data.end()));
  // Only the packed size is copied, even when more follows.
  d = Decode(LzhMethod::Lz4, data, 0, 100);
  EXPECT_EQ(d.bytes.size(), 100u);
  // A packed size beyond the input copies what there is and says so.
  d = Decode(LzhMethod::Lh0, data, 0, 80000);
  EXPECT_EQ(d.result, LzhDecodeResult::InputEnded);
  EXPECT_EQ(d.bytes.size(), data.size());
  d = Decode(LzhMethod::Lh0, data, 0, 0xFFFFFFFF);
  EXPECT_EQ(d.bytes.size(), data.size());
}

TEST(LzhDecode, UnknownMethodWritesNothing) {
  const std::vector<uint8_t> data(100, 0x55);
  for (int m : {17, 18, 200, 255}) {
    Decoded d = Decode(static_cast<LzhMethod>(m), data, 50);
    EXPECT_EQ(d.result, LzhDecodeResult::UnknownMethod);
    EXPECT_TRUE(d.bytes.empty());
  }
}

TEST(LzhBlock, DecodesEveryWindowSize) {
  // 40,000 bytes: literals, then matches with every distance class, then a
  // long run that crosses the 4 KiB, 8 KiB, 26 KiB and 32 KiB window ends;
  // LHARK's coding with lengths up to 514.
  struct Case {
    LzhMethod method;
    int np, pbit;
  } cases[] = {{LzhMethod::Lh4, 14, 4}, {LzhMethod::Lh5, 14, 4}, {LzhMethod::Lh6, 16, 5},
               {LzhMethod::Lh7, 17, 5}, {LzhMethod::Arj, 17, 5},  {LzhMethod::Lhx, 20, 5},
               {LzhMethod::Lk7, 32, 6}};
  for (const Case& c : cases) {
    std::vector<Token> tokens;
    std::string expected;
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
      const int lit = static_cast<int>(rng() % 256);
      tokens.push_back({lit, 0, 0});
      expected += static_cast<char>(lit);
    }
    const bool lhark = c.method == LzhMethod::Lk7;
    const uint32_t maxDistance = lhark ? 65535 : (1u << (c.np - 2)) - 1;
    while (expected.size() < 40000) {
      const uint32_t length = 3 + rng() % (lhark ? 512 : 254);
      uint32_t distance = rng() % std::min<uint32_t>(maxDistance, static_cast<uint32_t>(expected.size()) - 1);
      if (c.method == LzhMethod::Arj) distance %= 26000;
      if (c.method == LzhMethod::Lh4) distance %= 4000;
      tokens.push_back({-1, length, distance});
      for (uint32_t k = 0; k < length; ++k) expected += expected[expected.size() - distance - 1];
    }
    const auto packed = EncodeBlock(FlatLiteralLengths(lhark ? 289 : 510), FlatPositionLengths(c.np),
                                    c.pbit, tokens, lhark);
    Decoded d = Decode(c.method, packed, static_cast<uint32_t>(expected.size()));
    EXPECT_EQ(d.result, LzhDecodeResult::Ok) << static_cast<int>(c.method);
    EXPECT_TRUE(d.bytes == expected) << "method " << static_cast<int>(c.method);
  }
}

TEST(LzhBlock, ArjWindowWrapsAt26624) {
  // Fill exactly 26,624 - 2 bytes, then copy 6 bytes from 10 back: the copy
  // source and the write position both cross the window end.
  std::vector<Token> tokens;
  std::string expected;
  for (int i = 0; i < 26622; ++i) {
    const int lit = (i * 7 + i / 256) & 0xFF;
    tokens.push_back({lit, 0, 0});
    expected += static_cast<char>(lit);
  }
  tokens.push_back({-1, 6, 9});
  for (int k = 0; k < 6; ++k) expected += expected[expected.size() - 10];
  tokens.push_back({-1, 20, 9});
  for (int k = 0; k < 20; ++k) expected += expected[expected.size() - 10];
  tokens.push_back({-1, 30, 26600});
  for (int k = 0; k < 30; ++k) expected += expected[expected.size() - 26601];
  const auto packed = EncodeBlock(FlatLiteralLengths(), FlatPositionLengths(17), 5, tokens);
  Decoded d = Decode(LzhMethod::Arj, packed, static_cast<uint32_t>(expected.size()));
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_TRUE(d.bytes == expected);
}

TEST(LzhBlock, Lh4DistancesPastItsWindowWrapAtFourKiB) {
  // -lh4-'s position code reaches 8,191 bytes back over a 4 KiB window: a
  // distance of d copies from (d mod 4,096) + 1 bytes back, also where the
  // member is long enough to be written through a larger window.
  std::vector<Token> tokens;
  std::string expected;
  for (int i = 0; i < 6000; ++i) {
    const int lit = (i * 7 + i / 256) & 0xFF;
    tokens.push_back({lit, 0, 0});
    expected += static_cast<char>(lit);
  }
  for (uint32_t distance : {4096u + 100, 8191u, 4095u}) {
    tokens.push_back({-1, 20, distance});
    const uint32_t back = distance % 4096 + 1;
    for (int k = 0; k < 20; ++k) expected += expected[expected.size() - back];
  }
  const auto packed = EncodeBlock(FlatLiteralLengths(), FlatPositionLengths(14), 4, tokens);
  Decoded d = Decode(LzhMethod::Lh4, packed, static_cast<uint32_t>(expected.size()));
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_TRUE(d.bytes == expected);
}

// A -lh5- block of `count` codes whose code-length, literal and position
// codes all say "count 0, value v": every code is `code`, read without a bit.
Bits SingleValueBlock(uint32_t count, uint32_t code) {
  Bits b;
  b.Put(count, 16);
  b.Put(0, 5);
  b.Put(0, 5);
  b.Put(0, 9);
  b.Put(code, 9);
  b.Put(0, 4);
  b.Put(0, 4);
  return b;
}

TEST(LzhBlock, SingleValueBlocksTakeNoBits) {
  // Code-length code, literal code and position code all "count 0, value v":
  // every code of the block is the literal 'A' without reading a bit.
  const Bits b = SingleValueBlock(1000, 'A');
  Decoded d = Decode(LzhMethod::Lh5, b.bytes, 1000);
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_EQ(d.bytes, std::string(1000, 'A'));
}

TEST(LzhBlock, MatchBeforeTheFirstByteCopiesSpacesAndIsCutAtTheSize) {
  // Single-value codes: a match of length 10 at distance 0 (the byte before
  // the window start, a space); the unpacked size is 4, so 4 are written
  // (ARJ's methods write the whole match).
  const Bits b = SingleValueBlock(1, 256 + 7);
  Decoded d = Decode(LzhMethod::Lh5, b.bytes, 4);
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_EQ(d.bytes, std::string(4, ' '));
  d = Decode(LzhMethod::Arj, b.bytes, 4);
  EXPECT_EQ(d.bytes, std::string(10, ' '));
}

TEST(LzhBlock, TruncatedStreamEndsEarlyAndSaysSo) {
  std::vector<Token> tokens;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    tokens.push_back({i % 251, 0, 0});
    expected += static_cast<char>(i % 251);
  }
  auto packed = EncodeBlock(FlatLiteralLengths(), FlatPositionLengths(14), 4, tokens);
  packed.resize(packed.size() / 2);
  Decoded d = Decode(LzhMethod::Lh5, packed, 5000);
  EXPECT_EQ(d.result, LzhDecodeResult::InputEnded);
  ASSERT_LT(d.bytes.size(), 5000u);
  EXPECT_GT(d.bytes.size(), 1000u);
  EXPECT_EQ(d.bytes, expected.substr(0, d.bytes.size()));
}

// -pm1- with no code for the literal ranges (choice 31: every literal is
// 4 bits into the move-to-front list): a run of three literals, a two-byte
// copy, then one literal, whose place shows that the copied bytes moved
// to the front too.
TEST(LzhPm1, CopiedBytesMoveToTheFrontOfTheList) {
  Bits b;
  b.Put(31, 5);
  b.Put(1, 1);  // a run
  b.Put(2, 2);  // of 3
  for (int i = 0; i < 3; ++i) b.Put(3, 4);  // '#', '"', '!' (the list starts " !\"#")
  b.Put(0, 1);  // a two-byte copy (the longer kinds need more output first)
  b.Put(2, 6);  // from 3 back: '#', '"'
  b.Put(1, 1);  // a run
  b.Put(0, 2);  // of 1
  b.Put(1, 4);  // place 1: '#' (behind the copied '"')
  Decoded d = Decode(LzhMethod::Pm1, b.bytes, 6);
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_EQ(d.bytes, "#\"!#\"#");
}

TEST(LzhLh3, EscapedLengthsGiveOneSymbolPerBlock) {
  // Literal lengths 1, 1, 1 (presence bit + 4 bits of 0) escape to a 9-bit
  // value; the position code is the ready-made one (bit 0).
  Bits b;
  b.Put(5, 16);
  for (int i = 0; i < 3; ++i) {
    b.Put(1, 1);
    b.Put(0, 4);
  }
  b.Put('z', 9);
  b.Put(0, 1);
  Decoded d = Decode(LzhMethod::Lh3, b.bytes, 5);
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_EQ(d.bytes, "zzzzz");
}

TEST(LzhLzs, LiteralsAndMatches) {
  Bits b;
  for (char c : std::string("abc")) {
    b.Put(1, 1);
    b.Put(static_cast<uint8_t>(c), 8);
  }
  // Window index 0 is position 2048 - 17; length 5 is coded as 3.
  b.Put(0, 1);
  b.Put(2048 - 17, 11);
  b.Put(3, 4);
  Decoded d = Decode(LzhMethod::Lzs, b.bytes, 8);
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_EQ(d.bytes, "abcabcab");
}

TEST(LzhLz5, CopiesFromThePrefilledWindow) {
  // First item a match: position 845 + 18 = 863 = 18 + 13 * 'A', the run of
  // 'A's the window starts with; then a literal and a match from the ramp.
  const uint32_t runOfA = 18 + 13 * 'A' - 18;
  const uint32_t ramp = 18 + 13 * 256 + 'a' - 18;  // bytes 'a', 'b', 'c', ...
  std::vector<uint8_t> s = {
      0x02,  // flags: match, literal, match
      static_cast<uint8_t>(runOfA & 0xFF), static_cast<uint8_t>(((runOfA >> 4) & 0xF0) | (5 - 3)),
      '-',
      static_cast<uint8_t>(ramp & 0xFF), static_cast<uint8_t>(((ramp >> 4) & 0xF0) | (4 - 3)),
  };
  Decoded d = Decode(LzhMethod::Lz5, s, 10);
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_EQ(d.bytes, "AAAAA-abcd");
  // Bytes 0 to 17 of the window are zeros: a first match at position 4078
  // (window byte 0) copies them onto themselves; then a match from the
  // spaces at the window's end (position 3968, byte 3986).
  d = Decode(LzhMethod::Lz5, {0x00, 0xEE, 0xFF, 0x80, 0xF1}, 22);
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_EQ(d.bytes, std::string(18, '\0') + "    ");
  // The stream ending early ends the member there.
  s.resize(4);
  d = Decode(LzhMethod::Lz5, s, 10);
  EXPECT_EQ(d.result, LzhDecodeResult::InputEnded);
  EXPECT_EQ(d.bytes, "AAAAA-");
}

TEST(LzhAdaptive, FirstCodeFollowsTheInitialTree) {
  // In the starting tree, the leaves sit at nodes 2L-2-i and internal node j
  // has children 2L-2-2(L-2-j) and one less. The path of symbol 'H' read from
  // the leaf up: bit 0 for the higher-numbered child.
  for (int leaves : {314, 286}) {
    std::vector<int> parent(2 * leaves - 1);
    for (int j = leaves - 2, i = 2 * leaves - 2; j >= 0; --j, i -= 2) parent[i] = parent[i - 1] = j;
    std::vector<int> path;
    for (int node = 2 * leaves - 2 - 'H'; node != 0; node = parent[node]) {
      // The higher-numbered child of a pair has an even index here.
      path.push_back(node % 2 == 0 ? 0 : 1);
    }
    Bits b;
    for (auto it = path.rbegin(); it != path.rend(); ++it) b.Put(static_cast<uint32_t>(*it), 1);
    b.Put(0, 16);
    Decoded d = Decode(leaves == 314 ? LzhMethod::Lh1 : LzhMethod::Lh2, b.bytes, 1);
    EXPECT_EQ(d.result, LzhDecodeResult::Ok);
    EXPECT_EQ(d.bytes, "H") << leaves;
  }
}

TEST(LzhDecode, GarbageStaysInBounds) {
  // Random input for every method: no crash (the sanitizer build checks
  // memory), and never more than the unpacked size plus one match.
  std::mt19937 rng(1234);
  for (int m = 0; m <= 16; ++m) {
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> data(1 + rng() % 600);
      for (auto& byte : data) byte = static_cast<uint8_t>(rng());
      const uint32_t unpacked = rng() % 20000;
      Decoded d = Decode(static_cast<LzhMethod>(m), data, unpacked);
      if (m == 1 || m == 3) {
        EXPECT_EQ(d.bytes.size(), data.size());
      } else {
        EXPECT_LE(d.bytes.size(), unpacked + 288u) << "method " << m;
      }
    }
  }
}

}  // namespace
