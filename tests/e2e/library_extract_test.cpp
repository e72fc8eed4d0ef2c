// The library formats (xz, lzma, lzip, Zstandard, lz4) end to end: files
// made by the real tools (tests/fixtures/make-library.sh), whole, damaged
// and cut short, and TAR inside each.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using testutil::ReadFile;

using testutil::NumberLines;

// How a row's file is changed before it is extracted.
enum class Harm { kNone, kFlipped, kCut };

struct Row {
  const char* fixture;
  const char* name;    // the file's name in the run
  const char* output;  // what the program names its output
  Harm harm;
};
void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

class LibraryStreams : public ::testing::TestWithParam<Row> {
 protected:
  testutil::TempDir tmp_;
};

// Whole files decode to the numbers 1 to 20,000; a flipped byte in the
// middle is caught by the format's check or decoder, a cut file is found
// cut short: either is named and fails the archive.
TEST_P(LibraryStreams, DecodeWholeOrNamed) {
  const Row& row = GetParam();
  std::string data = ReadFile(testutil::Fixture(std::string("library/") + row.fixture));
  ASSERT_FALSE(data.empty());
  if (row.harm == Harm::kFlipped) data[data.size() / 2] = static_cast<char>(data[data.size() / 2] ^ 0x10);
  if (row.harm == Harm::kCut) data.resize(data.size() * 2 / 3);
  testutil::WriteFile(tmp_ / row.name, data);
  const auto r = testutil::RunDorvane({"-o", tmp_ / "out", tmp_ / row.name}, {{"DORVANE_REGISTRY", tmp_ / "reg"}});
  const std::string got = ReadFile(tmp_ / ("out/" + std::string(row.output)));
  if (row.harm == Harm::kNone) {
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(got == NumberLines(20000)) << got.size() << " bytes";
  } else {
    EXPECT_EQ(r.exitCode, 2) << r.err;
    const char* says = row.harm == Harm::kCut ? ": the archive ends inside this member" : ": damaged data";
    EXPECT_NE(r.err.find(std::string(row.output) + says), std::string::npos) << r.err;
    // Cut short, every byte given is right (damaged data may be given
    // before the check that catches it).
    if (row.harm == Harm::kCut) {
      EXPECT_TRUE(NumberLines(20000).compare(0, got.size(), got) == 0) << "bytes differ";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, LibraryStreams,
    ::testing::Values(Row{"lines.xz", "lines.xz", "lines", Harm::kNone},
                      Row{"blocks.xz", "blocks.xz", "blocks", Harm::kNone},
                      Row{"streams.xz", "streams.xz", "streams", Harm::kNone},
                      Row{"lines.lzma", "lines.lzma", "lines", Harm::kNone},
                      Row{"lines.lz", "lines.lz", "lines", Harm::kNone},
                      Row{"streams.lz", "streams.lz", "streams", Harm::kNone},
                      Row{"lines.zst", "lines.zst", "lines", Harm::kNone},
                      Row{"frames.zst", "frames.zst", "frames", Harm::kNone},
                      Row{"lines.lz4", "lines.lz4", "lines", Harm::kNone},
                      Row{"frames.lz4", "frames.lz4", "frames", Harm::kNone},
                      Row{"legacy.lz4", "legacy.lz4", "legacy", Harm::kNone},
                      // Found by content; the name keeps its extension.
                      Row{"lines.xz", "data.bin", "data.bin.unxz", Harm::kNone},
                      Row{"lines.zst", "data", "data.unzstd", Harm::kNone},
                      Row{"blocks.xz", "flip.xz", "flip", Harm::kFlipped},
                      Row{"lines.lz", "flip.lz", "flip", Harm::kFlipped},
                      Row{"lines.zst", "flip.zst", "flip", Harm::kFlipped},
                      Row{"lines.lz4", "flip.lz4", "flip", Harm::kFlipped},
                      Row{"lines.xz", "cut.xz", "cut", Harm::kCut},
                      Row{"lines.lzma", "cut.lzma", "cut", Harm::kCut},
                      Row{"streams.lz", "cut.lz", "cut", Harm::kCut},
                      Row{"frames.zst", "cut.zst", "cut", Harm::kCut},
                      Row{"lines.lz4", "cut.lz4", "cut", Harm::kCut},
                      Row{"legacy.lz4", "cutlegacy.lz4", "cutlegacy", Harm::kCut}),
    [](const ::testing::TestParamInfo<Row>& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '.', '_');
      return name;
    });

// TAR inside each format, by its extensions and by content.
TEST(LibraryTar, EveryFormatHoldsTheTree) {
  for (const char* fixture : {"tree.tar.xz", "tree.tlz", "tree.tar.lz", "tree.tar.zst", "tree.tar.lz4"}) {
    SCOPED_TRACE(fixture);
    for (const std::string& name : {std::string(fixture), std::string("tree.bin")}) {
      testutil::TempDir tmp;
      testutil::WriteFile(tmp / name, ReadFile(testutil::Fixture(std::string("library/") + fixture)));
      const auto r = testutil::RunDorvane({"-o", tmp / "out", tmp / name}, {{"DORVANE_REGISTRY", tmp / "reg"}});
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(ReadFile(tmp / "out/tree/docs/readme.txt"), "hello from a library format\n") << name;
      EXPECT_EQ(ReadFile(tmp / "out/tree/numbers.txt"), NumberLines(3000)) << name;
    }
  }
}

}  // namespace
