#include "stream/bzip2_block.h"

#include <gtest/gtest.h>

#include <functional>
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

// A row says how to make its file and text; they are made inside the test,
// so listing the tests compresses nothing and runs no tool.
struct Case {
  const char* name;
  std::function<Bytes()> file;
  std::function<Bytes()> text;   // what libbzip2 decodes the file to
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
  const Bytes file = c.file();
  if (file.empty()) GTEST_SKIP() << "lbzip2 is not installed";
  const std::vector<uint64_t> magics = Magics(file);
  ASSERT_GE(magics.size(), 2u);
  BlockScratch scratch;
  std::vector<uint8_t> out;
  Bytes all;
  bool accepted = true;
  for (size_t i = 0; i + 1 < magics.size(); ++i) {
    const BlockBits block{reinterpret_cast<const uint8_t*>(file.data()), file.size(), magics[i], magics[i + 1],
                          file[3] - '0'};
    size_t produced = 0;
    const bool ok = DecodeBlockBits(scratch, block, c.outputLimit, out, produced);
    accepted = accepted && ok;
    if (ok) all.append(out.begin(), out.begin() + static_cast<ptrdiff_t>(produced));
  }
  EXPECT_EQ(accepted, c.accepted);
  if (c.accepted) {
    const Bytes text = c.text();
    EXPECT_TRUE(all == text) << all.size() << " bytes for " << text.size();
  }
}

// The texts, each made once per process at the first row that needs it.
const Bytes& TextOf() {
  static const Bytes text = Data(250000, 1, 0, 0);
  return text;
}
Bytes Noise() { return Data(300000, 2, 256, 0); }
Bytes Repeated() { return Noise() + Noise() + Noise(); }  // one block of three equal thirds
Bytes Runs() { return Data(400000, 3, 20, 50); }
Bytes Same() { return Bytes(2 << 20, 'q'); }
// Four equal bytes with a zero count, then all 256 byte values.
Bytes Edges() {
  Bytes s = "abbbbc";
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}
Bytes BigNoise() { return Data(1800000, 4, 256, 0); }

Bytes FlipMiddle(Bytes s) {
  s[s.size() / 2] = static_cast<char>(s[s.size() / 2] ^ 0x04);
  return s;
}

// A row whose file is `text` compressed by `compress` at `level`.
Case Row(const char* name, Bytes (*compress)(const Bytes&, int), Bytes (*text)(), int level) {
  return Case{name, [=] { return compress(text(), level); }, text};
}
Bytes TextRef() { return TextOf(); }

INSTANTIATE_TEST_SUITE_P(
    Blocks, Bzip2BlockTest,
    ::testing::Values(Row("TextLevel1", Bzip2, TextRef, 1), Row("TextLevel9", Bzip2, TextRef, 9),
                      Row("NoiseLevel9", Bzip2, Noise, 9), Row("LongRuns", Bzip2, Runs, 9),
                      Row("AllOneByte", Bzip2, Same, 9), Row("Tiny", Bzip2, [] { return Bytes("z"); }, 9),
                      Row("RunsAndEveryByte", Bzip2, Edges, 1), Row("Lbzip2Text", Lbzip2, TextRef, 9),
                      Row("RepeatedPiece", Bzip2, Repeated, 9),
                      // lbzip2 writes more selectors than such blocks use.
                      Row("Lbzip2Noise", Lbzip2, BigNoise, 9),
                      Case{"Damaged", [] { return FlipMiddle(Bzip2(TextOf(), 1)); }, [] { return Bytes(); }, false},
                      Case{"OverTheOutputCap", [] { return Bzip2(Same(), 9); }, [] { return Bytes(); }, false, 1 << 20}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
