// The cabinet block decoders on their own: MSZIP against zlib's deflate,
// LZX against the test encoder, and broken input of both.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>

#include "archive/cab/lzx_decoder.h"
#include "archive/cab/mszip_decoder.h"
#include "cab_lzx_writer.h"

using namespace cab;

namespace {

struct Buffers {
  uint8_t in[kCabInputSize + kCabInputSpare] = {};
  uint8_t out[kCabOutputSize] = {};
  void Load(const std::vector<uint8_t>& data) {
    ASSERT_LE(data.size(), kCabInputSize);
    std::memcpy(in, data.data(), data.size());
    std::memset(in + data.size(), 0, kCabInputSpare);
  }
};

std::vector<uint8_t> TextData(size_t size, unsigned seed) {
  static const char* words[] = {"cabinet ", "folder ", "block ", "data ", "the ", "of ", "\x01\x02", "\n"};
  std::mt19937 rng(seed);
  std::vector<uint8_t> d;
  while (d.size() < size) {
    const char* w = words[rng() % 8];
    d.insert(d.end(), w, w + std::strlen(w));
    if (rng() % 16 == 0) d.push_back(static_cast<uint8_t>(rng()));
  }
  d.resize(size);
  return d;
}

// MSZIP as cabinet writers make it: per 32 KiB block "CK" and one final
// Deflate stream that may refer back into the previous block.
std::vector<std::vector<uint8_t>> MszipBlocks(const std::vector<uint8_t>& data) {
  std::vector<std::vector<uint8_t>> blocks;
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  for (size_t at = 0; at < data.size(); at += kCabOutputSize) {
    size_t n = std::min(kCabOutputSize, data.size() - at);
    deflateReset(&z);
    if (at > 0) deflateSetDictionary(&z, data.data() + at - kCabOutputSize, kCabOutputSize);
    std::vector<uint8_t> block(2 + deflateBound(&z, n) + 16);
    block[0] = 'C';
    block[1] = 'K';
    z.next_in = const_cast<uint8_t*>(data.data() + at);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = block.data() + 2;
    z.avail_out = static_cast<uInt>(block.size() - 2);
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    block.resize(block.size() - z.avail_out);
    blocks.push_back(block);
  }
  deflateEnd(&z);
  return blocks;
}

std::vector<uint8_t> DecodeMszip(const std::vector<std::vector<uint8_t>>& blocks, size_t total,
                                 CabResult* result) {
  auto state = std::make_unique<MszipState>();
  auto buf = std::make_unique<Buffers>();
  std::vector<uint8_t> out;
  *result = CabResult::Ok;
  for (size_t i = 0; i < blocks.size(); ++i) {
    size_t n = std::min(kCabOutputSize, total - i * kCabOutputSize);
    buf->Load(blocks[i]);
    *result = MszipDecodeBlock(*state, buf->in, blocks[i].size(), buf->out, n);
    if (*result != CabResult::Ok) break;
    out.insert(out.end(), buf->out, buf->out + n);
  }
  return out;
}

TEST(CabMszip, DecodesBlocksThatReferBackAcrossBlocks) {
  // Repetitive text so that matches reach into the previous block; random
  // bytes so that zlib also writes stored blocks.
  std::vector<uint8_t> data = TextData(3 * 32768 + 1000, 1);
  std::mt19937 rng(2);
  for (size_t i = 40000; i < 48000; ++i) data[i] = static_cast<uint8_t>(rng());
  CabResult r;
  EXPECT_EQ(DecodeMszip(MszipBlocks(data), data.size(), &r), data);
  EXPECT_EQ(r, CabResult::Ok);
}

TEST(CabMszip, AcceptsAnIncompleteDistanceCode) {
  // Random letters, then the same letters again: every match has the one
  // distance 400, so the dynamic block has a single distance code.
  std::mt19937 rng(3);
  std::vector<uint8_t> data;
  for (int i = 0; i < 400; ++i) data.push_back(static_cast<uint8_t>('a' + rng() % 26));
  for (int i = 0; i < 400; ++i) data.push_back(data[i]);
  auto blocks = MszipBlocks(data);
  ASSERT_EQ((blocks[0][2] >> 1) & 3, 2) << "zlib did not write a dynamic block";
  CabResult r;
  EXPECT_EQ(DecodeMszip(blocks, data.size(), &r), data);
  EXPECT_EQ(r, CabResult::Ok);
}

// One window of random bytes, then in the next: a near match of 10 bytes at
// 100 followed at 110 by bytes that last occurred one window minus `back`
// earlier. The far match reads history just past the end of the near one.
std::vector<uint8_t> NearThenFarMatch(size_t window, size_t back, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> d(2 * window);
  for (uint8_t& b : d) b = static_cast<uint8_t>(rng());
  for (size_t i = 0; i < 10; ++i) d[window + 100 + i] = d[window + 50 + i];
  for (size_t i = 0; i < 40; ++i) d[window + 110 + i] = d[110 + back + i];
  return d;
}

// A literal (length 0) or a match of `length` bytes `distance` back.
struct Token {
  uint32_t length;
  uint32_t distance;
  uint8_t literal;
};

// A fixed-code Deflate block of the tokens; zlib never writes distances
// beyond 32506, so the far-match tests need their own.
std::vector<uint8_t> FixedBlock(const std::vector<Token>& tokens) {
  std::vector<uint8_t> out = {'C', 'K'};
  uint32_t acc = 0;
  unsigned n = 0;
  auto put = [&](uint32_t v, unsigned bits) {  // low bit first
    for (unsigned i = 0; i < bits; ++i, v >>= 1) {
      acc |= (v & 1) << n;
      if (++n == 8) out.push_back(static_cast<uint8_t>(acc)), acc = 0, n = 0;
    }
  };
  auto code = [&](uint32_t c, unsigned bits) {  // Huffman codes go high bit first
    for (unsigned i = bits; i-- > 0;) put((c >> i) & 1, 1);
  };
  static const unsigned kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const unsigned kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                         33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  put(1, 1);  // final
  put(1, 2);  // fixed codes
  for (const Token& t : tokens) {
    if (t.length == 0) {
      t.literal < 144 ? code(0x30 + t.literal, 8) : code(0x190 + t.literal - 144, 9);
      continue;
    }
    unsigned l = 28;
    while (kLengthBase[l] > t.length) --l;
    l < 23 ? code(l + 1, 7) : code(0xC0 + l - 23, 8);
    put(t.length - kLengthBase[l], l == 28 || l < 8 ? 0 : l / 4 - 1);
    unsigned d = 29;
    while (kDistBase[d] > t.distance) --d;
    code(d, 5);
    put(t.distance - kDistBase[d], d < 4 ? 0 : d / 2 - 1);
  }
  code(0, 7);  // end of block
  put(0, 7);
  return out;
}

// Literals, and matches of 10 bytes at `nearAt` (50 back) and `farAt`.
std::vector<Token> NearThenFarTokens(const std::vector<uint8_t>& data, size_t nearAt, size_t farAt,
                                     unsigned farDistance) {
  std::vector<Token> tokens;
  for (size_t i = 0; i < data.size();) {
    if (i == nearAt || i == farAt) {
      tokens.push_back({10, i == nearAt ? 50 : farDistance, 0});
      i += 10;
    } else {
      tokens.push_back({0, 0, data[i++]});
    }
  }
  return tokens;
}

TEST(CabMszip, FarMatchAfterANearOneReadsTheOldHistory) {
  for (unsigned back = 3; back <= 8; ++back) {
    std::vector<uint8_t> data = NearThenFarMatch(kCabOutputSize, back, back);
    std::vector<uint8_t> first(data.begin(), data.begin() + kCabOutputSize);
    std::vector<uint8_t> second(data.begin() + kCabOutputSize, data.end());
    std::vector<uint8_t> stored = {'C', 'K', 1, 0x00, 0x80, 0xFF, 0x7F};
    stored.insert(stored.end(), first.begin(), first.end());
    CabResult r;
    EXPECT_EQ(DecodeMszip({stored, FixedBlock(NearThenFarTokens(second, 100, 110, 32768 - back))}, data.size(), &r), data)
        << back;
    EXPECT_EQ(r, CabResult::Ok);
  }
}

TEST(CabMszip, RefusesBrokenBlocks) {
  auto state = std::make_unique<MszipState>();
  auto buf = std::make_unique<Buffers>();
  std::vector<uint8_t> data = TextData(20000, 4);
  std::vector<uint8_t> good = MszipBlocks(data)[0];
  auto run = [&](std::vector<uint8_t> in, size_t outLength) {
    buf->Load(in);
    return MszipDecodeBlock(*state, buf->in, in.size(), buf->out, outLength);
  };
  EXPECT_EQ(run(good, data.size()), CabResult::Ok);
  EXPECT_EQ(run(good, 32769), CabResult::Unsupported);
  std::vector<uint8_t> noCk = good;
  noCk[1] = 'C';
  EXPECT_EQ(run(noCk, data.size()), CabResult::Corrupt);
  // Input that runs out before the stream ends.
  EXPECT_EQ(run(std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2), data.size()),
            CabResult::Corrupt);
  // A stream producing fewer or more bytes than declared.
  EXPECT_EQ(run(good, data.size() + 1), CabResult::Corrupt);
  // 40000 zero bytes do not fit the 32 KiB output buffer.
  std::vector<uint8_t> zeros(40000, 0);
  uLongf size = compressBound(zeros.size());
  std::vector<uint8_t> z(size);
  z_stream s{};
  deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  s.next_in = zeros.data();
  s.avail_in = 40000;
  s.next_out = z.data();
  s.avail_out = static_cast<uInt>(z.size());
  deflate(&s, Z_FINISH);
  z.resize(z.size() - s.avail_out);
  deflateEnd(&s);
  z.insert(z.begin(), {'C', 'K'});
  EXPECT_EQ(run(z, 32768), CabResult::Corrupt);
  // Stored block whose NLEN is not the complement of LEN; block type 3.
  EXPECT_EQ(run({'C', 'K', 0x01, 0x03, 0x00, 0xFC, 0xFE, 'a', 'b', 'c'}, 3), CabResult::Corrupt);
  EXPECT_EQ(run({'C', 'K', 0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'}, 3), CabResult::Ok);
  EXPECT_EQ(std::memcmp(buf->out, "abc", 3), 0);
  EXPECT_EQ(run({'C', 'K', 0x07, 0, 0, 0}, 0), CabResult::Corrupt);
  // Dynamic header whose code-length code is over-subscribed (three codes of
  // length 1): HLIT, HDIST 0, HCLEN 4 -> 16, 17, 18, 0 all length 1.
  EXPECT_EQ(run({'C', 'K', 0x05, 0x00, 0x90, 0x24, 0x00, 0x00}, 1), CabResult::Corrupt);
}

std::vector<uint8_t> DecodeLzx(const std::vector<std::vector<uint8_t>>& frames, size_t total,
                               int windowBits, CabResult* result) {
  auto state = std::make_unique<LzxState>();
  auto buf = std::make_unique<Buffers>();
  std::vector<uint8_t> out;
  *result = LzxInit(*state, windowBits);
  for (size_t i = 0; i < frames.size() && *result == CabResult::Ok; ++i) {
    size_t n = std::min(kCabOutputSize, total - i * kCabOutputSize);
    buf->Load(frames[i]);
    *result = LzxDecodeBlock(*state, buf->in, frames[i].size(), buf->out, n);
    if (*result == CabResult::Ok) out.insert(out.end(), buf->out, buf->out + n);
  }
  LzxRelease(*state);
  return out;
}

// Code-like data: E8 calls with near targets among repeated text.
std::vector<uint8_t> CodeData(size_t size, unsigned seed) {
  std::vector<uint8_t> d = TextData(size, seed);
  std::mt19937 rng(seed);
  for (size_t i = 0; i + 5 < size; i += 37 + rng() % 50) {
    int32_t target = static_cast<int32_t>(rng() % 60000) - 20000;
    d[i] = 0xE8;
    std::memcpy(&d[i + 1], &target, 4);
  }
  return d;
}

TEST(CabLzx, RoundTripsEveryBlockKindAndRepeatedOffset) {
  std::vector<uint8_t> data = CodeData(5 * 32768 + 12345, 5);
  for (int w : {15, 21}) {
    cabtest::LzxOptions o;
    o.windowBits = w;
    o.e8FileSize = 12000000;
    // Verbatim, an odd uncompressed block inside a frame, aligned, another
    // odd uncompressed block ending on a frame boundary, verbatim to the end.
    uint32_t a = 40001, b = 777, c = 50000, d = 3 * 32768 - a - b - c;
    o.blocks = {{1, a}, {3, b}, {2, c}, {3, d}, {1, static_cast<uint32_t>(data.size()) - a - b - c - d}};
    cabtest::LzxStats stats;
    auto frames = cabtest::LzxCompress(data, o, &stats);
    EXPECT_GT(stats.repeats[0], 0u);
    EXPECT_GT(stats.repeats[1], 0u);
    EXPECT_GT(stats.repeats[2], 0u);
    EXPECT_GT(stats.matches, 0u);
    CabResult r;
    std::vector<uint8_t> out = DecodeLzx(frames, data.size(), w, &r);
    EXPECT_EQ(r, CabResult::Ok) << "window 2^" << w;
    EXPECT_TRUE(out == data) << "window 2^" << w;
  }
}

TEST(CabLzx, FarMatchAfterANearOneReadsTheOldHistory) {
  // Offsets of one window minus 3 (the largest) down to minus 12, right
  // after a match whose copy steps run past its end.
  for (size_t back = 3; back <= 12; ++back) {
    std::vector<uint8_t> data = NearThenFarMatch(32768, back, static_cast<unsigned>(back));
    cabtest::LzxOptions o;
    o.windowBits = 15;
    o.blocks = {{1, static_cast<uint32_t>(data.size())}};
    CabResult r;
    EXPECT_EQ(DecodeLzx(cabtest::LzxCompress(data, o), data.size(), 15, &r), data) << back;
    EXPECT_EQ(r, CabResult::Ok);
  }
}

// Tokens for `blocks` blocks of 32 KiB and the bytes a byte-at-a-time copy
// makes of them: literals, and matches of periods 1 to 16, around their own
// length and up to a whole block back, many of them just after a match
// whose end they read past. Matches end at a block's end.
std::vector<std::vector<Token>> ByteModel(int blocks, unsigned seed, std::vector<uint8_t>* data) {
  std::mt19937 rng(seed);
  std::vector<std::vector<Token>> tokens(blocks);
  for (int b = 0; b < blocks; ++b) {
    const size_t end = (b + 1) * kCabOutputSize;
    while (data->size() < end) {
      const uint32_t have = static_cast<uint32_t>(data->size());
      const uint32_t left = static_cast<uint32_t>(end - have);
      uint32_t length = rng() % 4 == 0 ? 3 + rng() % 256 : 3 + rng() % 14;
      if (length > left) length = left;
      uint32_t distance;
      switch (rng() % 5) {
        case 0: distance = 1 + rng() % 16; break;
        case 1: distance = 1 + rng() % (length + 2); break;
        case 2: distance = kCabOutputSize - rng() % 16; break;
        default: distance = 1 + rng() % kCabOutputSize; break;
      }
      if (have < 64 || rng() % 3 == 0 || length < 3 || distance > have) {
        tokens[b].push_back({0, 0, static_cast<uint8_t>(rng())});
        data->push_back(tokens[b].back().literal);
        continue;
      }
      tokens[b].push_back({length, distance, 0});
      for (uint32_t i = 0; i < length; ++i) data->push_back((*data)[data->size() - distance]);
    }
  }
  return tokens;
}

TEST(CabMatchCopy, MatchesTheByteAtATimeCopy) {
  struct Row {
    const char* method;
    std::vector<uint8_t> (*decode)(const std::vector<std::vector<Token>>& tokens,
                                   const std::vector<uint8_t>& data, CabResult* r);
  };
  const Row rows[] = {
      {"MSZIP", [](const std::vector<std::vector<Token>>& tokens, const std::vector<uint8_t>& d, CabResult* r) {
         std::vector<std::vector<uint8_t>> blocks;
         for (const auto& t : tokens) blocks.push_back(FixedBlock(t));
         return DecodeMszip(blocks, d.size(), r);
       }},
      {"LZX", [](const std::vector<std::vector<Token>>&, const std::vector<uint8_t>& d, CabResult* r) {
         cabtest::LzxOptions o;
         o.windowBits = 15;
         return DecodeLzx(cabtest::LzxCompress(d, o), d.size(), 15, r);
       }},
  };
  std::vector<uint8_t> data;
  const auto tokens = ByteModel(4, 7, &data);
  for (const Row& row : rows) {
    CabResult r;
    EXPECT_TRUE(row.decode(tokens, data, &r) == data) << row.method;
    EXPECT_EQ(r, CabResult::Ok) << row.method;
  }
}

TEST(CabLzx, E8TranslationSparesTheLastTenBytesOfABlock) {
  std::vector<uint8_t> data(100, 0x90);
  auto put = [&](size_t at, int32_t v) {
    data[at] = 0xE8;
    std::memcpy(&data[at + 1], &v, 4);
  };
  put(20, 80);   // relative 80 at position 20: absolute 100
  put(40, -50);  // before the start of the data: left alone
  put(90, 5);    // within the last ten bytes: left alone
  std::vector<uint8_t> t = data;
  cabtest::LzxTranslateE8(t, 1000);
  int32_t v;
  std::memcpy(&v, &t[21], 4);
  EXPECT_EQ(v, 100);
  EXPECT_TRUE(std::equal(t.begin() + 25, t.end(), data.begin() + 25));
  cabtest::LzxOptions o;
  o.e8FileSize = 1000;
  o.blocks = {{3, 100}};
  CabResult r;
  EXPECT_EQ(DecodeLzx(cabtest::LzxCompress(data, o), data.size(), 16, &r), data);
  EXPECT_EQ(r, CabResult::Ok);
}

TEST(CabLzx, WindowExponentsAndSlots) {
  auto state = std::make_unique<LzxState>();
  EXPECT_EQ(LzxInit(*state, 14), CabResult::Unsupported);
  EXPECT_EQ(LzxInit(*state, 22), CabResult::Unsupported);
  EXPECT_EQ(LzxInit(*state, 21), CabResult::Ok);
  EXPECT_EQ(state->mainElements, 656);
  uint8_t* big = state->window;
  EXPECT_EQ(LzxInit(*state, 15), CabResult::Ok);  // a large window is kept
  EXPECT_EQ(state->window, big);
  EXPECT_EQ(state->mainElements, 256 + 8 * 30);
  EXPECT_EQ(LzxPositionSlots(20), 42u);
  EXPECT_EQ(LzxPositionBase(4), 4u);
  EXPECT_EQ(LzxPositionBase(50), 2097152u);
  LzxRelease(*state);
}

TEST(CabLzx, RefusesBrokenFrames) {
  std::vector<uint8_t> data = CodeData(3 * 32768, 6);
  cabtest::LzxOptions o;
  auto frames = cabtest::LzxCompress(data, o);
  CabResult r;
  // Cut short.
  auto cut = frames;
  cut[1].resize(cut[1].size() / 2);
  DecodeLzx(cut, data.size(), 16, &r);
  EXPECT_EQ(r, CabResult::Corrupt);
  // Random garbage never decodes out of bounds; most of it is refused.
  std::mt19937 rng(7);
  int refused = 0;
  for (int i = 0; i < 200; ++i) {
    auto bad = frames;
    for (int k = 0; k < 8; ++k) bad[0][rng() % bad[0].size()] ^= static_cast<uint8_t>(1 + rng() % 255);
    DecodeLzx(bad, data.size(), 16, &r);
    refused += r != CabResult::Ok;
  }
  EXPECT_GT(refused, 100);
  // A block type of 0 or 4..7.
  DecodeLzx({{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}}, 10, 16, &r);
  EXPECT_EQ(r, CabResult::Corrupt);
  // More than 32768 bytes owed.
  auto state = std::make_unique<LzxState>();
  auto buf = std::make_unique<Buffers>();
  ASSERT_EQ(LzxInit(*state, 16), CabResult::Ok);
  EXPECT_EQ(LzxDecodeBlock(*state, buf->in, 10, buf->out, 32769), CabResult::Corrupt);
  LzxRelease(*state);
}

}  // namespace
