#include "stream/bzip2_block.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "support/bzip2_compress.h"
#include "support/testutil.h"

using namespace bzip2;

namespace {

using Bytes = std::string;

// Text with pseudo-random bytes (`noise` chances in 256 for each) and runs
// of one byte every `runEvery` bytes (0: none).
Bytes Data(size_t size, unsigned seed, unsigned noise, unsigned runEvery) {
  std::mt19937 random(seed);
  Bytes s;
  for (unsigned i = 0; s.size() < size; ++i) {
    const uint32_t x = random();
    if (runEvery != 0 && i % runEvery == 0) s.append(x & 0x3FF, static_cast<char>(x >> 10));
    s += (x >> 24) < noise ? static_cast<char>(x >> 16) : "tempus fugit "[(x >> 16) % 13];
  }
  s.resize(size);
  return s;
}

Bytes Bzip2(const Bytes& data, int level) {
  return testutil::Bzip2Compress<Bytes>(data.data(), data.size(), level);
}

// The file as lbzip2 writes it (its own encoder: shorter blocks, selector
// counts rounded up); empty when the tool is missing.
Bytes Lbzip2(const Bytes& data, int level) {
  if (!testutil::HaveTool("lbzip2")) return "";
  testutil::TempDir tmp;
  testutil::WriteFile(tmp / "in", data);
  EXPECT_EQ(testutil::System("lbzip2 -" + std::to_string(level) + " -c " + tmp / "in" + " > " + tmp / "in.bz2"), 0);
  return testutil::ReadFile(tmp / "in.bz2");
}

// Where each block's magic starts, then where the end marker's does.
std::vector<uint64_t> Magics(const Bytes& file) {
  std::vector<uint64_t> at;
  uint64_t w = 0;
  for (uint64_t i = 0; i < file.size() * 8; ++i) {
    w = (w << 1 | (static_cast<uint8_t>(file[i / 8]) >> (7 - i % 8) & 1)) & 0xFFFFFFFFFFFF;
    if (w == 0x314159265359) at.push_back(i - 47);
    if (w == 0x177245385090) {
      at.push_back(i - 47);
      break;
    }
  }
  return at;
}

struct Case {
  const char* name;
  Bytes file;
  Bytes text;                    // what libbzip2 decodes the file to
  bool accepted = true;          // every block decodes here
  size_t outputLimit = 64 << 20;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Bzip2BlockTest : public ::testing::TestWithParam<Case> {};

// Each block, decoded on its own through one scratch, gives libbzip2's bytes;
// a block that is damaged or over the output cap is refused (the reader's
// tests show that libbzip2 then decides as it always did).
TEST_P(Bzip2BlockTest, DecodesAsLibbzip2OrRefuses) {
  const Case& c = GetParam();
  if (c.file.empty()) GTEST_SKIP() << "lbzip2 is not installed";
  const std::vector<uint64_t> magics = Magics(c.file);
  ASSERT_GE(magics.size(), 2u);
  BlockScratch scratch;
  std::vector<uint8_t> out;
  Bytes all;
  bool accepted = true;
  for (size_t i = 0; i + 1 < magics.size(); ++i) {
    const BlockBits block{reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size(), magics[i], magics[i + 1],
                          c.file[3] - '0'};
    size_t produced = 0;
    const bool ok = DecodeBlockBits(scratch, block, c.outputLimit, out, produced);
    accepted = accepted && ok;
    if (ok) all.append(out.begin(), out.begin() + static_cast<ptrdiff_t>(produced));
  }
  EXPECT_EQ(accepted, c.accepted);
  if (c.accepted) {
    EXPECT_TRUE(all == c.text) << all.size() << " bytes for " << c.text.size();
  }
}

const Bytes kText = Data(250000, 1, 0, 0);
const Bytes kNoise = Data(300000, 2, 256, 0);
const Bytes kRepeated = kNoise + kNoise + kNoise;  // one block of three equal thirds
const Bytes kRuns = Data(400000, 3, 20, 50);
const Bytes kSame(2 << 20, 'q');
// Four equal bytes with a zero count, then all 256 byte values.
const Bytes kEdges = [] {
  Bytes s = "abbbbc";
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}();
const Bytes kTextFile = Bzip2(kText, 1);

Bytes FlipMiddle(Bytes s) {
  s[s.size() / 2] = static_cast<char>(s[s.size() / 2] ^ 0x04);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, Bzip2BlockTest,
    ::testing::Values(Case{"TextLevel1", kTextFile, kText}, Case{"TextLevel9", Bzip2(kText, 9), kText},
                      Case{"NoiseLevel9", Bzip2(kNoise, 9), kNoise}, Case{"LongRuns", Bzip2(kRuns, 9), kRuns},
                      Case{"AllOneByte", Bzip2(kSame, 9), kSame}, Case{"Tiny", Bzip2("z", 9), "z"},
                      Case{"RunsAndEveryByte", Bzip2(kEdges, 1), kEdges},
                      Case{"Lbzip2Text", Lbzip2(kText, 9), kText},
                      Case{"RepeatedPiece", Bzip2(kRepeated, 9), kRepeated},
                      // lbzip2 writes more selectors than such blocks use.
                      Case{"Lbzip2Noise", Lbzip2(Data(1800000, 4, 256, 0), 9), Data(1800000, 4, 256, 0)},
                      Case{"Damaged", FlipMiddle(kTextFile), "", false},
                      Case{"OverTheOutputCap", Bzip2(kSame, 9), "", false, 1 << 20}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
