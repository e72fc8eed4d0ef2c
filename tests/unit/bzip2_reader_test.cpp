#include "stream/bzip2_reader.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using Bytes = std::string;

// Text of `size` bytes; `runs` adds long runs of one byte, which bzip2's
// first stage shrinks, so that blocks decode to much more than they hold.
Bytes Text(size_t size, unsigned seed, bool runs = false) {
  Bytes s;
  for (unsigned x = seed; s.size() < size;) {
    x = x * 1103515245u + 12345u;
    if (runs && x % 7 == 0) s.append(4000, 'z');
    s += "lorem ipsum dolor sit amet "[(x >> 16) % 27];
  }
  s.resize(size);
  return s;
}

// bzip2 at level 1 (100 kB blocks), so a few hundred kB make several blocks.
Bytes Bzip2(const Bytes& data, int level = 1) {
  unsigned size = static_cast<unsigned>(data.size() + data.size() / 50 + 1024);
  Bytes out(size, '\0');
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()),
                                     static_cast<unsigned>(data.size()), level, 0, 0),
            BZ_OK);
  out.resize(size);
  return out;
}

Bytes Flip(Bytes s, size_t at, uint8_t mask) {
  s[at] = static_cast<char>(s[at] ^ mask);
  return s;
}

using Trace = std::vector<std::pair<int, Bytes>>;

template <typename Read>
Trace Collect(Read read, int piece) {
  Trace t;
  Bytes buffer(static_cast<size_t>(piece), '\0');
  for (int i = 0; i < 4000; ++i) {
    const int n = read(buffer.data(), piece);
    t.emplace_back(n, buffer.substr(0, n > 0 ? static_cast<size_t>(n) : 0));
    if (n <= 0) break;
  }
  return t;
}

struct Case {
  const char* name;
  Bytes file;
  bool parallelToTheEnd;  // a sound stream: the pool decodes all of it
  size_t blockOutputLimit = 0;
};

class Bzip2ReaderTest : public ::testing::TestWithParam<Case> {};

// libbzip2's file reader, as the handlers used it, is the reference: every
// read gives the same count and bytes, for reads of a mebibyte (the bzip2
// handler), of 4 KiB and of one block's output size (so that reads end
// exactly on block boundaries).
TEST_P(Bzip2ReaderTest, ReadsAsLibbzip2sFileReaderDoes) {
  testutil::TempDir tmp;
  const std::string path = tmp / "in.bz2";
  testutil::WriteFile(path, GetParam().file);
  for (int piece : {1 << 20, 4096, 100000 - 19}) {
    BZFILE* bz = BZ2_bzopen(path.c_str(), "rb");
    ASSERT_NE(bz, nullptr);
    const Trace expected = Collect([bz](char* b, int n) { return BZ2_bzread(bz, b, n); }, piece);
    BZ2_bzclose(bz);
    Bzip2Options options;
    options.threads = 3;
    options.blockOutputLimit = GetParam().blockOutputLimit;
    Bzip2Reader* reader = Bzip2Open(path.c_str(), options);
    ASSERT_NE(reader, nullptr);
    const Trace got = Collect([reader](char* b, int n) { return Bzip2Read(reader, b, n); }, piece);
    EXPECT_EQ(Bzip2WentSerial(reader), !GetParam().parallelToTheEnd) << "piece " << piece;
    Bzip2Close(reader);
    ASSERT_EQ(got.size(), expected.size()) << "piece " << piece;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].first, expected[i].first) << "piece " << piece << " read " << i;
      EXPECT_TRUE(got[i].second == expected[i].second) << "piece " << piece << " read " << i;
    }
  }
}

const Bytes kText = Text(450000, 1);
const Bytes kFive = Bzip2(kText);  // five blocks
// Bit 12 of the stream is inside the first block's magic; the second
// block's stored CRC is somewhere in the middle: flipping a byte there
// damages that block (data or CRC) while leaving the first intact.
const size_t kMiddle = kFive.size() / 2;

INSTANTIATE_TEST_SUITE_P(
    Files, Bzip2ReaderTest,
    ::testing::Values(Case{"SeveralBlocks", kFive, true},
                      Case{"OneBlock", Bzip2(Text(5000, 2), 9), true},
                      Case{"EmptyStream", Bzip2(""), true},
                      Case{"OnlyTheFirstStream", kFive + Bzip2(Text(1000, 3)), true},
                      Case{"TrailingGarbage", kFive + "garbage", true},
                      Case{"BlockDamaged", Flip(kFive, kMiddle, 0x10), false},
                      Case{"StreamCrcWrong", Flip(kFive, kFive.size() - 2, 0x01), false},
                      Case{"Truncated", kFive.substr(0, kFive.size() - 3000), false},
                      Case{"HeaderWrong", Flip(kFive, 3, 0x0F), false},
                      Case{"BlocksOverTheOutputCap", Bzip2(Text(300000, 4, true)), false, 64 * 1024},
                      Case{"RunsWithinTheCap", Bzip2(Text(300000, 4, true)), true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
