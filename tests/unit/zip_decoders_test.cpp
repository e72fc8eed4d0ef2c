// The ZIP key stream and password check, and the legacy decoders: round
// trips through the test-only encoders, hand-made streams for the format's
// corners, and damaged input.
#include <gtest/gtest.h>

#include <memory>

#include "archive/zip/expand.h"
#include "archive/zip/explode.h"
#include "archive/zip/unshrink.h"
#include "archive/zip/zip_crypto.h"
#include "zip_encoders.h"

using namespace zip;
using zipenc::BitWriter;
using zipenc::Bytes;
using zipenc::MemoryIo;

namespace {

// A work area as large as the read-ahead buffer the handler lends.
struct Work {
  std::unique_ptr<uint64_t[]> block{new uint64_t[(1 << 20) / 8]};
  void* get() { return block.get(); }
};

Bytes Text(const char* s) { return Bytes(s, s + strlen(s)); }

// Unshrinks the codes written into `w` for a member of `size` bytes.
struct Unshrunk {
  ZipDecodeResult result;
  Bytes out;
};
Unshrunk UnshrinkCodes(BitWriter& w, uint32_t size) {
  const Bytes packed = w.Finish();
  Work work;
  MemoryIo io(packed);
  const ZipDecodeResult result = Unshrink(io, size, work.get());
  return {result, io.out};
}

}  // namespace

TEST(ZipCrypto, KeysAndKeyStreamMatchTheTraditionalScheme) {
  ZipKeys empty = KeysForPassword("");
  EXPECT_EQ(empty.key0, 0x12345678u);
  EXPECT_EQ(empty.key1, 0x23456789u);
  EXPECT_EQ(empty.key2, 0x34567890u);
  // Worked out independently from the scheme's description.
  ZipKeys keys = KeysForPassword("secret");
  EXPECT_EQ(keys.key0, 0xDDA9E469u);
  EXPECT_EQ(keys.key1, 0x96212999u);
  EXPECT_EQ(keys.key2, 0xF9FC9651u);
  EXPECT_EQ(KeyStreamByte(keys), 0xC8);
}

TEST(ZipCrypto, PasswordCheckComparesTheLastHeaderByteAndDecryptsOnward) {
  Bytes plain = Text("member data");
  for (uint16_t check : {uint16_t{0xBEEF} /* CRC high half */, uint16_t{0x6000} /* DOS time */}) {
    Bytes cipher = zipenc::Encrypt(plain, "pw", check);
    ZipKeys keys = KeysForPassword("pw");
    ASSERT_TRUE(CheckEncryptionHeader(keys, cipher.data(), check));
    Bytes rest(cipher.begin() + kEncryptionHeaderSize, cipher.end());
    DecryptBytes(keys, rest.data(), rest.size());
    EXPECT_EQ(rest, plain);

    ZipKeys wrongCheck = KeysForPassword("pw");
    EXPECT_FALSE(CheckEncryptionHeader(wrongCheck, cipher.data(), check ^ 0x0100));
    ZipKeys wrongPassword = KeysForPassword("pW");
    EXPECT_FALSE(CheckEncryptionHeader(wrongPassword, cipher.data(), check));
    // The byte before it may be anything (7-Zip writes a random one).
    ZipKeys lowByteOnly = KeysForPassword("pw");
    EXPECT_TRUE(CheckEncryptionHeader(lowByteOnly, cipher.data(), check ^ 0x00FF));
  }
}

// ---- unshrink

TEST(Unshrink, RoundTripsThroughEveryCodeWidthAndPartialClears) {
  Work work;
  for (size_t size : {size_t{1}, size_t{700}, size_t{300000}}) {
    for (int clearEvery : {0, 400}) {
      Bytes data = zipenc::SampleData(size, static_cast<uint32_t>(size + clearEvery));
      Bytes packed = zipenc::Shrink(data, clearEvery);
      MemoryIo io(packed, 7);  // small reads: refills in the middle of codes
      EXPECT_EQ(Unshrink(io, static_cast<uint32_t>(data.size()), work.get()), ZipDecodeResult::kComplete);
      EXPECT_EQ(io.out, data) << "size " << size << " clear every " << clearEvery;
    }
  }
}

TEST(Unshrink, CodeNotYetDefinedIsPreviousStringPlusItsFirstByte) {
  BitWriter w;
  w.Put('a', 9);
  w.Put(257, 9);  // the next free code itself
  w.Put(257, 9);
  const Unshrunk u = UnshrinkCodes(w, 5);
  EXPECT_EQ(u.result, ZipDecodeResult::kComplete);
  EXPECT_EQ(u.out, Text("aaaaa"));
}

TEST(Unshrink, PartialClearKeepsPrefixesAndReusesTheLowestFreedCode) {
  BitWriter w;
  for (int code : {int{'a'}, int{'b'}, 257 /* ab */, int{'c'} /* defines 259 = abc */}) w.Put(code, 9);
  w.Put(256, 9);
  w.Put(2, 9);  // frees the leaves 258 (ba) and 259 (abc); 257 is a prefix
  w.Put(257, 9);  // still "ab"; defines 258 = "ca"
  w.Put(258, 9);  // "ca"
  const Unshrunk u = UnshrinkCodes(w, 9);
  EXPECT_EQ(u.result, ZipDecodeResult::kComplete);
  EXPECT_EQ(u.out, Text("ababcabca"));
}

TEST(Unshrink, WideningPastThirteenBitsIsBadDataAfterWhatCameBefore) {
  BitWriter w;
  w.Put('x', 9);
  int width = 9;
  for (; width <= 13; ++width) w.Put(256, width), w.Put(1, width);
  w.Put('y', width);
  const Unshrunk u = UnshrinkCodes(w, 2);
  EXPECT_EQ(u.result, ZipDecodeResult::kBadData);
  EXPECT_EQ(u.out, Text("x"));
}

TEST(Unshrink, EmptyMemberWritesNothingAndTruncationIsReported) {
  Work work;
  Bytes data = zipenc::SampleData(5000, 9);
  Bytes packed = zipenc::Shrink(data);
  MemoryIo none(packed);
  EXPECT_EQ(Unshrink(none, 0, work.get()), ZipDecodeResult::kComplete);
  EXPECT_TRUE(none.out.empty());

  Bytes half(packed.begin(), packed.begin() + packed.size() / 2);
  MemoryIo io(half);
  EXPECT_EQ(Unshrink(io, static_cast<uint32_t>(data.size()), work.get()), ZipDecodeResult::kTruncated);
  ASSERT_LT(io.out.size(), data.size());
  EXPECT_TRUE(std::equal(io.out.begin(), io.out.end(), data.begin()));
}

// ---- expand

TEST(Expand, RoundTripsEveryFactorAndFollowerSetSize) {
  Work work;
  for (int factor = 1; factor <= 4; ++factor) {
    for (int followers : {0, 5, 63}) {
      for (size_t size : {size_t{1}, size_t{40000}}) {
        Bytes data = zipenc::SampleData(size, static_cast<uint32_t>(factor * 100 + followers));
        Bytes packed = zipenc::Reduce(data, factor, followers);
        MemoryIo io(packed, 5);
        EXPECT_EQ(Expand(io, static_cast<uint32_t>(data.size()), factor, work.get()), ZipDecodeResult::kComplete);
        EXPECT_EQ(io.out, data) << "factor " << factor << " followers " << followers << " size " << size;
      }
    }
  }
}

namespace {
// No follower sets: every byte of the stream is 8 plain bits.
Bytes PlainExpandStream(const Bytes& stream) {
  BitWriter w;
  for (int v = 0; v < 256; ++v) w.Put(0, 6);
  for (uint8_t b : stream) w.Put(b, 8);
  return w.Finish();
}
}  // namespace

TEST(Expand, EscapeThenZeroIsOnePlainEscapeByte) {
  Work work;
  Bytes packed = PlainExpandStream({0x90, 0x00, 'z'});
  MemoryIo io(packed);
  EXPECT_EQ(Expand(io, 2, 1, work.get()), ZipDecodeResult::kComplete);
  EXPECT_EQ(io.out, (Bytes{0x90, 'z'}));
}

TEST(Expand, FullLengthFieldTakesAnExtraLengthByte) {
  Work work;
  // Factor 1: 0x7F + 2 + 3 = 132 copies; factor 4: 0x0F + 5 + 3 = 23.
  struct Case { int factor; uint8_t v, extra; size_t copies; } cases[] = {{1, 0x7F, 2, 132}, {4, 0x0F, 5, 23}};
  for (const Case& c : cases) {
    Bytes packed = PlainExpandStream({'a', 0x90, c.v, c.extra, 0x00});
    MemoryIo io(packed);
    EXPECT_EQ(Expand(io, static_cast<uint32_t>(1 + c.copies), c.factor, work.get()), ZipDecodeResult::kComplete);
    EXPECT_EQ(io.out, Bytes(1 + c.copies, 'a')) << "factor " << c.factor;
  }
}

TEST(Expand, DistanceBeforeTheStartCopiesZerosAndTruncationIsReported) {
  Work work;
  Bytes packed = PlainExpandStream({'q', 0x90, 0x01, 0x09});  // 4 bytes from 10 back
  MemoryIo io(packed);
  EXPECT_EQ(Expand(io, 5, 1, work.get()), ZipDecodeResult::kComplete);
  EXPECT_EQ(io.out, (Bytes{'q', 0, 0, 0, 0}));

  MemoryIo cut(packed);
  EXPECT_EQ(Expand(cut, 50, 1, work.get()), ZipDecodeResult::kTruncated);
  EXPECT_EQ(cut.out.size(), 5u);
}

// ---- explode

TEST(Explode, RoundTripsAllFourFlagCombinations) {
  Work work;
  Bytes runs(3000, 'r');  // lengths beyond 63 take the extra byte
  for (int flags = 0; flags < 4; ++flags) {
    bool window8k = flags & 1, literalTree = flags & 2;
    for (const Bytes& data : {zipenc::SampleData(1, 3), zipenc::SampleData(60000, flags + 1), runs}) {
      Bytes packed = zipenc::Implode(data, window8k, literalTree);
      MemoryIo io(packed, 3);
      EXPECT_EQ(Explode(io, static_cast<uint32_t>(data.size()), window8k, literalTree, work.get()),
                ZipDecodeResult::kComplete);
      EXPECT_EQ(io.out, data) << "8k " << window8k << " literal tree " << literalTree << " size " << data.size();
    }
  }
}

namespace {
// A tree of n values all coded in `bits` bits, and the code of value v: the
// format gives the last value the all-zero code.
void PutFlatTree(BitWriter& w, int n, int bits) {
  w.Put(n / 16 - 1, 8);
  for (int i = 0; i < n / 16; ++i) w.Put(bits - 1, 4), w.Put(15, 4);
}
void PutFlatCode(BitWriter& w, int n, int bits, int v) {
  for (int j = bits - 1; j >= 0; --j) w.Put(((n - 1 - v) >> j) & 1, 1);
}
}  // namespace

TEST(Explode, ShortestMatchIsTwoWithoutLiteralTreeAndThreeWithIt) {
  Work work;
  for (bool literalTree : {false, true}) {
    BitWriter w;
    if (literalTree) PutFlatTree(w, 256, 8);
    PutFlatTree(w, 64, 6);  // lengths
    PutFlatTree(w, 64, 6);  // distances
    w.Put(1, 1);
    if (literalTree) PutFlatCode(w, 256, 8, 'm');
    else w.Put('m', 8);
    w.Put(0, 1);
    w.Put(0, 6);                 // low distance bits: distance 1
    PutFlatCode(w, 64, 6, 0);    // distance high part
    PutFlatCode(w, 64, 6, 0);    // length value 0
    Bytes packed = w.Finish();
    MemoryIo io(packed);
    EXPECT_EQ(Explode(io, 100, false, literalTree, work.get()), ZipDecodeResult::kTruncated);
    EXPECT_EQ(io.out, Bytes(literalTree ? 4 : 3, 'm'));
  }
}

TEST(Explode, TreeWithTooManyValuesAndCodesMatchingNothingAreBadData) {
  BitWriter tooMany;
  tooMany.Put(4, 8);  // five bytes of 16 values: 80 > 64
  for (int i = 0; i < 5; ++i) tooMany.Put(5, 4), tooMany.Put(15, 4);
  Bytes packed = tooMany.Finish();
  MemoryIo io(packed);
  ZipBits bits(io);
  ShannonFanoTree tree;
  EXPECT_EQ(ReadShannonFanoTree(bits, 64, tree), ZipDecodeResult::kBadData);

  // One value of one bit: only a first bit 0 means anything.
  BitWriter one;
  one.Put(0, 8);
  one.Put(0, 4), one.Put(0, 4);
  one.Put(0, 1);
  one.Put(1, 1);
  Bytes single = one.Finish();
  MemoryIo io2(single);
  ZipBits bits2(io2);
  ASSERT_EQ(ReadShannonFanoTree(bits2, 64, tree), ZipDecodeResult::kComplete);
  EXPECT_EQ(DecodeShannonFano(bits2, tree), 0);
  EXPECT_EQ(DecodeShannonFano(bits2, tree), -1);

  // The same as a whole member: the literal tree has only value 0.
  BitWriter member;
  member.Put(0, 8), member.Put(0, 4), member.Put(0, 4);
  PutFlatTree(member, 64, 6);
  PutFlatTree(member, 64, 6);
  member.Put(1, 1), member.Put(0, 1);  // literal 0
  member.Put(1, 1), member.Put(1, 1);  // a literal code that matches nothing
  Bytes bad = member.Finish();
  MemoryIo io3(bad);
  Work work;
  EXPECT_EQ(Explode(io3, 10, false, true, work.get()), ZipDecodeResult::kBadData);
  EXPECT_EQ(io3.out, Bytes(1, 0));
}

TEST(LegacyDecoders, DamagedInputStaysWithinTheStatedOutputBound) {
  Work work;
  uint32_t s = 77;
  for (int round = 0; round < 300; ++round) {
    Bytes junk(1 + round * 7 % 900);
    for (uint8_t& b : junk) s = s * 1664525u + 1013904223u, b = static_cast<uint8_t>(s >> 24);
    uint32_t size = s % 20000;
    MemoryIo a(junk), b(junk), c(junk);
    (void)Unshrink(a, size, work.get());
    (void)Expand(b, size, 1 + round % 4, work.get());
    (void)Explode(c, size, round & 1, round & 2, work.get());
    EXPECT_LE(a.out.size(), size + 8191u);
    EXPECT_LE(b.out.size(), size + 384u);
    EXPECT_LE(c.out.size(), size + 320u);
  }
}
