// The ARJ method-4 decoder over streams built code by code: every length and
// position code width, window wrap-around, and damaged streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/arj/arj_method4.h"

using namespace arj;
using namespace lzh;

namespace {

// Test-only method-4 writer, with a plain model of what the decoder must
// produce next to it.
class Method4Stream {
 public:
  void Literal(uint8_t byte) {
    Put(0, 1);
    Put(byte, 8);
    model_.push_back(byte);
  }
  // A match of `length` (3..256) bytes starting position + 1 bytes back.
  void Match(uint32_t length, uint32_t position) {
    Unary(length - 2, 7, 0);
    Unary(position, 4, 9);
    for (uint32_t i = 0; i < length; ++i) {
      size_t back = size_t(position) + 1;
      model_.push_back(model_.size() >= back ? model_[model_.size() - back] : 0);
    }
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out = bytes_;
    if (used_ > 0) out.push_back(uint8_t(partial_ << (8 - used_)));
    return out;
  }
  const std::vector<uint8_t>& model() const { return model_; }

 private:
  // w one-bits (and a zero when w < limit), then base + w bits of the rest.
  void Unary(uint32_t value, int limit, int base) {
    int w = 0;
    while (w < limit && value >= (uint32_t(1) << (base + w + 1)) - (uint32_t(1) << base)) ++w;
    for (int i = 0; i < w; ++i) Put(1, 1);
    if (w < limit) Put(0, 1);
    Put(value - ((uint32_t(1) << (base + w)) - (uint32_t(1) << base)), base + w);
  }
  void Put(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      partial_ = uint8_t(partial_ << 1 | ((value >> i) & 1));
      if (++used_ == 8) {
        bytes_.push_back(partial_);
        used_ = 0;
        partial_ = 0;
      }
    }
  }
  std::vector<uint8_t> bytes_;
  uint8_t partial_ = 0;
  int used_ = 0;
  std::vector<uint8_t> model_;
};

struct Decoded {
  LzhDecodeResult result;
  std::vector<uint8_t> out;
  long inputLeftAt = 0;  // stream position after decoding
};

Decoded Decode(const std::vector<uint8_t>& packed, uint32_t packedSize, uint32_t unpackedSize) {
  Decoded d;
  FILE* in = tmpfile();
  FILE* out = tmpfile();
  if (!packed.empty()) fwrite(packed.data(), 1, packed.size(), in);
  fputs("NEXT", in);  // whatever follows the member must not be read
  rewind(in);
  auto state = std::make_unique<LzhDecoderState>();
  d.result = DecodeArjMethod4(*state, in, packedSize, out, unpackedSize);
  d.inputLeftAt = ftell(in);
  d.out.resize(size_t(ftell(out)));
  rewind(out);
  if (!d.out.empty()) {
    EXPECT_EQ(fread(d.out.data(), 1, d.out.size(), out), d.out.size());
  }
  fclose(in);
  fclose(out);
  return d;
}

Decoded Decode(const Method4Stream& s) {
  std::vector<uint8_t> packed = s.Bytes();
  return Decode(packed, uint32_t(packed.size()), uint32_t(s.model().size()));
}

TEST(ArjMethod4, LiteralsAndOverlappingMatches) {
  Method4Stream s;
  for (char c : std::string("abc")) s.Literal(uint8_t(c));
  s.Match(3, 2);   // "abc" again
  s.Match(10, 0);  // the last byte ten times: the copy overlaps itself
  Decoded d = Decode(s);
  EXPECT_EQ(std::string(d.out.begin(), d.out.end()), "abcabccccccccccc");
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
  EXPECT_LE(d.inputLeftAt, long(s.Bytes().size()));
}

// Every width of both codes, at the edges of each width, after enough
// history that every position is inside the written bytes.
TEST(ArjMethod4, EveryCodeWidthAtItsEdges) {
  Method4Stream s;
  uint32_t seed = 7;
  for (int i = 0; i < 16000; ++i) {
    seed = seed * 1103515245 + 12345;
    s.Literal(uint8_t(seed >> 16));
  }
  const uint32_t lengths[] = {3, 4, 5, 6, 8, 9, 16, 17, 32, 33, 64, 65, 128, 129, 255, 256};
  const uint32_t positions[] = {0,    1,    511,  512,  1535, 1536,  3583,
                                3584, 7679, 7680, 12000, 15870, 15871};
  for (uint32_t length : lengths) {
    for (uint32_t position : positions) s.Match(length, position);
  }
  Decoded d = Decode(s);
  ASSERT_EQ(d.out.size(), s.model().size());
  EXPECT_TRUE(d.out == s.model());
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
}

// Past 26,624 bytes the window is flushed and restarts at index 0; a match
// whose source lies just below the window end continues at index 0.
TEST(ArjMethod4, MatchSourceWrapsAroundTheWindowEnd) {
  Method4Stream s;
  for (uint32_t i = 0; i < kArjWindowSize - 2; ++i) s.Literal(uint8_t(i * 31 + (i >> 8)));
  s.Match(5, 3);  // writes across the window end
  s.Literal('x');
  // Now at window index 4: position 8 starts at index 26,620 and runs on
  // through 0 .. 3.
  s.Match(12, 8);
  for (int i = 0; i < 40000; ++i) s.Literal(uint8_t(i));
  s.Match(256, 15871);
  Decoded d = Decode(s);
  ASSERT_EQ(d.out.size(), s.model().size());
  EXPECT_TRUE(d.out == s.model());
}

TEST(ArjMethod4, MatchBeforeTheFirstByteCopiesZeros) {
  Method4Stream s;
  s.Literal('a');
  s.Match(4, 100);
  Decoded d = Decode(s);
  EXPECT_EQ(d.out, (std::vector<uint8_t>{'a', 0, 0, 0, 0}));
}

// The last match is written whole even where it runs past the declared size.
TEST(ArjMethod4, MatchBeyondTheDeclaredSizeIsWrittenWhole) {
  Method4Stream s;
  s.Literal('z');
  s.Match(200, 0);
  s.Literal('y');
  std::vector<uint8_t> packed = s.Bytes();
  Decoded d = Decode(packed, uint32_t(packed.size()), 50);
  EXPECT_EQ(d.out, std::vector<uint8_t>(201, 'z'));
}

// A stream that ends early stops where the packed bytes end instead of
// inventing output from zero bits, and never reads past its packed size.
TEST(ArjMethod4, TruncatedStreamStopsAndStaysInsideItsBytes) {
  Method4Stream s;
  for (int i = 0; i < 1000; ++i) s.Literal(uint8_t('A' + i % 26));
  std::vector<uint8_t> packed = s.Bytes();
  uint32_t kept = uint32_t(packed.size() / 2);
  Decoded d = Decode(packed, kept, 1000);
  EXPECT_EQ(d.result, LzhDecodeResult::InputEnded);
  EXPECT_LT(d.out.size(), 1000u);
  EXPECT_GE(d.out.size(), kept * 8 / 9 - 2);
  EXPECT_TRUE(std::equal(d.out.begin(), d.out.end(), s.model().begin()));
  EXPECT_LE(d.inputLeftAt, long(kept));

  // Declared larger than the file: the stream's end is met first.
  Decoded eof = Decode(packed, 0xFFFFFFFF, 0xFFFFFFFF);
  EXPECT_EQ(eof.result, LzhDecodeResult::InputEnded);
  EXPECT_LE(eof.out.size(), 1000u + 300);  // plus what the 4 following bytes decode to
}

TEST(ArjMethod4, EmptyMemberWritesNothing) {
  Decoded d = Decode({}, 0, 0);
  EXPECT_TRUE(d.out.empty());
  EXPECT_EQ(d.result, LzhDecodeResult::Ok);
}

}  // namespace
