#include "stream/bzip2_reader.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "support/bzip2_compress.h"
#include "support/testutil.h"

using namespace bzip2;

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
  return testutil::Bzip2Compress<Bytes>(data.data(), data.size(), level);
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

// How a file's reads end.
enum class Ending { kEnd, kTrailing, kDamaged, kTruncated };

// A row says how to make its file and text; they are made inside the test,
// so listing the tests compresses nothing.
struct Case {
  const char* name;
  std::function<Bytes()> file;
  std::function<Bytes()> text;  // what the file decodes to (the sound part of it)
  Ending ending;
  bool parallelToTheEnd;  // the pool decodes all of it
  size_t blockOutputLimit = 0;
  size_t kept = 0;        // damaged: bytes of `text` delivered before the damage at least
  size_t tail = 0;        // trailing data: its length
  int streams = 1;        // streams begun (one: libbzip2's file reader reads the same)
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

Trace Read(const std::string& path, int threads, size_t blockOutputLimit, int piece, bool& wentSerial,
           int64_t& trailingAt, bool& truncated) {
  Bzip2Options options;
  options.threads = threads;
  options.blockOutputLimit = blockOutputLimit;
  Bzip2Reader* reader = Bzip2Open(path.c_str(), options);
  EXPECT_NE(reader, nullptr);
  if (reader == nullptr) return {};
  const Trace t = Collect([reader](char* b, int n) { return Bzip2Read(reader, b, n); }, piece);
  wentSerial = Bzip2WentSerial(reader);
  trailingAt = Bzip2TrailingAt(reader);
  truncated = Bzip2Truncated(reader);
  Bzip2Close(reader);
  return t;
}

class Bzip2ReaderTest : public ::testing::TestWithParam<Case> {};

// The serial path (libbzip2's reader, stream after stream) is the
// reference: the parallel path gives the same count and bytes in every
// read, for reads of a mebibyte (the bzip2 handler), of 4 KiB and of one
// block's output size (so that reads end exactly on block boundaries).
// What the reads add up to is held to the text the file was made from; a
// sound file of one stream reads as libbzip2's file reader (BZ2_bzread)
// reads it.
TEST_P(Bzip2ReaderTest, ReadsEveryStreamAsTheSerialPathDoes) {
  const Case& c = GetParam();
  const Bytes file = c.file(), text = c.text();
  testutil::TempDir tmp;
  const std::string path = tmp / "in.bz2";
  testutil::WriteFile(path, file);
  for (int piece : {1 << 20, 4096, 100000 - 19}) {
    SCOPED_TRACE(piece);
    bool serialWent, wentSerial, serialTruncated, truncated;
    int64_t serialTrailing, trailing;
    const Trace expected = Read(path, 1, 0, piece, serialWent, serialTrailing, serialTruncated);
    const Trace got = Read(path, 3, c.blockOutputLimit, piece, wentSerial, trailing, truncated);
    EXPECT_EQ(wentSerial, !c.parallelToTheEnd);
    EXPECT_EQ(trailing, serialTrailing);
    EXPECT_EQ(truncated, serialTruncated);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].first, expected[i].first) << "read " << i;
      EXPECT_TRUE(got[i].second == expected[i].second) << "read " << i;
    }

    Bytes all;
    for (const auto& read : expected) all += read.second;
    ASSERT_FALSE(expected.empty());
    const bool damaged = c.ending == Ending::kDamaged || c.ending == Ending::kTruncated;
    EXPECT_EQ(expected.back().first, damaged ? -1 : 0);
    EXPECT_EQ(serialTruncated, c.ending == Ending::kTruncated);
    EXPECT_EQ(serialTrailing, c.ending == Ending::kTrailing ? static_cast<int64_t>(file.size() - c.tail) : -1);
    if (damaged) {
      EXPECT_GE(all.size(), c.kept);
      EXPECT_TRUE(all.substr(0, c.kept) == text.substr(0, c.kept));
    } else {
      EXPECT_TRUE(all == text) << all.size() << " bytes for " << text.size();
    }
    if (!damaged && c.streams == 1) {
      BZFILE* bz = BZ2_bzopen(path.c_str(), "rb");
      ASSERT_NE(bz, nullptr);
      EXPECT_TRUE(Collect([bz](char* b, int n) { return BZ2_bzread(bz, b, n); }, piece) == expected);
      BZ2_bzclose(bz);
    }
  }
}

constexpr size_t kTextSize = 450000;
// Made once per process, at the first row that needs them.
const Bytes& TextOf() {
  static const Bytes text = Text(kTextSize, 1);
  return text;
}
const Bytes& Five() {  // five blocks
  static const Bytes file = Bzip2(TextOf());
  return file;
}
Bytes Small() { return Text(1000, 3); }
Bytes Runs() { return Text(300000, 4, true); }
Bytes Later() { return Text(300000, 5); }

INSTANTIATE_TEST_SUITE_P(
    Files, Bzip2ReaderTest,
    ::testing::Values(
        Case{"SeveralBlocks", Five, TextOf, Ending::kEnd, true},
        Case{"OneBlock", [] { return Bzip2(Small(), 9); }, Small, Ending::kEnd, true},
        Case{"EmptyStream", [] { return Bzip2(""); }, [] { return Bytes(); }, Ending::kEnd, true},
        // Streams of other levels, an empty one among them.
        Case{"SeveralStreams", [] { return Five() + Bzip2("") + Bzip2(Small(), 9) + Five(); },
             [] { return TextOf() + Small() + TextOf(); }, Ending::kEnd, true, 0, 0, 0, 4},
        Case{"TrailingGarbage", [] { return Five() + "garbage"; }, TextOf, Ending::kTrailing, true, 0, 0, 7},
        Case{"TrailingDataLikeAHeader", [] { return Five() + Bzip2(Small()) + "BZh0"; },
             [] { return TextOf() + Small(); }, Ending::kTrailing, true, 0, 0, 4, 3},
        Case{"NextHeaderCutShort", [] { return Five() + "BZ"; }, TextOf, Ending::kTruncated, false, 0, kTextSize, 0, 2},
        Case{"NextStreamDamaged", [] { return Five() + Flip(Bzip2(Later()), 30000, 0x10); },
             [] { return TextOf() + Later(); }, Ending::kDamaged, false, 0, kTextSize, 0, 2},
        // Every byte before the damage comes out: here the two blocks before
        // the damaged one, all blocks, the four whole blocks (a block of
        // level 1 holds more than 99,000 bytes of this text). Bit 12 of the
        // stream is inside the first block's magic; the second block's
        // stored CRC is somewhere in the middle: flipping a byte there
        // damages that block (data or CRC) while leaving the first intact.
        Case{"BlockDamaged", [] { return Flip(Five(), Five().size() / 2, 0x10); }, TextOf, Ending::kDamaged, false, 0,
             2 * 99000},
        Case{"StreamCrcWrong", [] { return Flip(Five(), Five().size() - 2, 0x01); }, TextOf, Ending::kDamaged, false,
             0, kTextSize},
        Case{"Truncated", [] { return Five().substr(0, Five().size() - 3000); }, TextOf, Ending::kTruncated, false, 0,
             4 * 99000},
        Case{"HeaderWrong", [] { return Flip(Five(), 3, 0x0F); }, TextOf, Ending::kDamaged, false},
        Case{"BlocksOverTheOutputCap", [] { return Bzip2(Runs()); }, Runs, Ending::kEnd, false, 64 * 1024},
        Case{"RunsWithinTheCap", [] { return Bzip2(Runs()); }, Runs, Ending::kEnd, true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
