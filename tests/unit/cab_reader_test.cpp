// The cabinet reader in process: gcab fixtures, cabinets and sets made by
// the test builder, and the messages of broken input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <algorithm>
#include <random>
#include <sstream>

#include "archive/cab/cab_reader.h"
#include "cab_builder.h"
#include "core/charset.h"
#include "core/member_output.h"
#include "core/messages.h"
#include "core/names.h"
#include "support/testutil.h"

namespace {

using namespace cabtest;
using testutil::ReadFile;

std::vector<std::string> g_shown, g_printed;
void CaptureShown(const char* text) { g_shown.push_back(text); }
void CapturePrinted(const char* text) { g_printed.push_back(text); }

std::vector<uint8_t> Bytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> d(size);
  for (size_t i = 0; i < size; ++i) d[i] = static_cast<uint8_t>(i % 251 < 128 ? 'a' + rng() % 4 : rng());
  return d;
}
std::string Str(const std::vector<uint8_t>& v, size_t at = 0, size_t n = std::string::npos) {
  n = std::min(n, v.size() - at);
  return std::string(v.begin() + at, v.begin() + at + n);
}

class CabReader : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildLeadByteTable();
    g_CabShowMessage = CaptureShown;
    g_CabPrint = CapturePrinted;
    g_shown.clear();
    g_printed.clear();
    mkdir(out().c_str(), 0777);  // as ProcessArchive makes it
  }
  void TearDown() override {
    g_CabShowMessage = ShowMessage;
    g_CabPrint = [](const char* t) { fputs(t, stdout); };
  }
  std::string Write(const std::string& name, const Cabinet& c) {
    std::string path = tmp_ / name;
    testutil::WriteFile(path, Build(c));
    return path;
  }
  int Extract(const std::string& path, bool tolerate = false) {
    fatal_ = CabFatal();
    ResetArchiveOutcome();
    CabOptions options;
    options.tolerateErrors = tolerate;
    return ExtractCabinet(path.c_str(), out().c_str(), options, &fatal_);
  }
  std::string out() const { return tmp_ / "out"; }
  std::string Out(const std::string& name) const { return ReadFile(out() + "/" + name); }
  bool Shown(const std::string& text) const {
    return std::find(g_shown.begin(), g_shown.end(), text) != g_shown.end();
  }
  // One folder of `content` in `method` holding files of the given sizes.
  Cabinet OneFolder(int method, const std::vector<uint8_t>& content, std::vector<uint32_t> sizes,
                    int window = 16) {
    Cabinet c;
    LzxOptions o;
    o.windowBits = window;
    c.folders.push_back({static_cast<uint16_t>(method | (method == 3 ? window << 8 : 0)), MakeBlocks(method, content, o)});
    uint32_t at = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
      c.files.push_back({"f" + std::to_string(i), sizes[i], at, 0});
      at += sizes[i];
    }
    return c;
  }
  testutil::TempDir tmp_;
  CabFatal fatal_;
};

TEST(CabChecksum, XorsGroupsAndTakesTheRestMostSignificantFirst) {
  const uint8_t d[] = {0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67};
  EXPECT_EQ(BlockChecksum(d, 4, 0), 0x64636261u);
  EXPECT_EQ(BlockChecksum(d, 3, 0), 0x616263u);
  EXPECT_EQ(BlockChecksum(d, 2, 0), 0x6162u);
  EXPECT_EQ(BlockChecksum(d, 1, 5), 0x61u ^ 5u);
  EXPECT_EQ(BlockChecksum(d, 7, 0), 0x64636261u ^ 0x656667u);
}

TEST(CabChecksum, LongBlocksMatchGroupByGroupXor) {
  std::vector<uint8_t> d(70);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 37 + 11);
  for (size_t n = 0; n <= d.size(); ++n) {
    uint32_t expect = 0x12345678;
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
      expect ^= d[i] | (d[i + 1] << 8) | (d[i + 2] << 16) | (uint32_t{d[i + 3]} << 24);
    for (size_t k = i; k < n; ++k) expect ^= uint32_t{d[k]} << (8 * (n - 1 - k));
    EXPECT_EQ(BlockChecksum(d.data(), n, 0x12345678), expect) << n;
  }
}

// The listing shows a name flagged as UTF-8 with its characters, the same
// narrow text the output name is made from, with "/" between folders.
TEST_F(CabReader, ListingShowsUtf8NamesWhole) {
  fatal_ = CabFatal();
  const std::string path = testutil::Fixture("names/utf8-gcab.cab");
  CabOptions options;
  options.listOnly = true;
  ASSERT_EQ(ExtractCabinet(path.c_str(), out().c_str(), options, &fatal_), 0);
  for (const std::string utf8 : {"café-日本\\résumé.txt", "café-日本\\データ.txt"}) {
    char narrow[kPathBufferSize];
    ASSERT_TRUE(DecodeStoredName(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(),
                                 NameMarking::kUtf8, narrow, sizeof narrow));
    char shown[kPathBufferSize * 4];
    DisplayName(shown, sizeof shown, narrow);
    const std::string tail = std::string("| ") + shown + "\n";
    EXPECT_TRUE(std::any_of(g_shown.begin(), g_shown.end(), [&](const std::string& line) {
      return line.size() > tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    })) << utf8;
  }
}

TEST_F(CabReader, ExtractsGcabCabinets) {
  std::vector<uint8_t> b(40000);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>((i * 7 + (i >> 8)) & 255);
  std::string big;
  for (int n = 0; big.size() < 1200000; ++n)
    big += "line " + std::to_string(n) + " of the big text file, with some words repeated\n";
  big.resize(1200000);
  for (const char* name : {"stored", "mszip"}) {
    ASSERT_EQ(Extract(testutil::Fixture(std::string("cab/") + name + ".cab")), 0);
    EXPECT_FALSE(fatal_.set) << fatal_.text;
    EXPECT_FALSE(g_ArchiveOutcome.failed) << name;  // every block checksum matched
    EXPECT_EQ(Out("a.txt"), "Hello from a cabinet.\n") << name;
    EXPECT_EQ(Out("sub/b.bin"), Str(b)) << name;
    EXPECT_TRUE(testutil::FileExists(out() + "/sub/deeper/empty.txt")) << name;
  }
  EXPECT_EQ(Out("big/text.txt"), big);
  EXPECT_TRUE(g_shown.empty());
}

TEST_F(CabReader, ExtractsSharedFixtures) {
  if (!testutil::HaveSharedFixtures("cab")) GTEST_SKIP() << "no shared cabinet fixtures";
  size_t checked = 0;
  for (const testutil::ManifestRow& row : testutil::ReadManifest(testutil::SharedFixture("cab/MANIFEST.tsv"), true)) {
    ASSERT_GE(row.size(), 4u);
    const std::string &archive = row[0], &member = row[1], &sha = row[3];
    ASSERT_EQ(Extract(testutil::SharedFixture("cab/" + archive)), 0);
    EXPECT_FALSE(fatal_.set) << fatal_.text;
    EXPECT_FALSE(g_ArchiveOutcome.failed) << archive;  // every block checksum matched
    EXPECT_EQ(testutil::Sha256Hex(Out(member)), sha) << archive << " " << member;
    ++checked;
  }
  EXPECT_GT(checked, 0u);
}

TEST_F(CabReader, ExtractsLzxFoldersOfBothWindowExtremes) {
  std::vector<uint8_t> content = Bytes(200000, 1);
  for (int w : {15, 21}) {
    ASSERT_EQ(Extract(Write("lzx.cab", OneFolder(3, content, {1000, 0, 150000, 49000}, w))), 0);
    EXPECT_EQ(Out("f0"), Str(content, 0, 1000));
    EXPECT_EQ(Out("f1"), "");
    EXPECT_EQ(Out("f2"), Str(content, 1000, 150000));
    EXPECT_EQ(Out("f3"), Str(content, 151000));
  }
  EXPECT_TRUE(g_shown.empty());
}

TEST_F(CabReader, SkipsAheadAndRestartsWhenOffsetsGoBackwards) {
  std::vector<uint8_t> content = Bytes(100000, 2);
  for (int method : {1, 3}) {
    Cabinet c = OneFolder(method, content, {});
    // Stored order: the third file, then the first, then the second.
    c.files = {{"c", 30000, 70000, 0}, {"a", 40000, 0, 0}, {"b", 30000, 40000, 0}};
    ASSERT_EQ(Extract(Write("order.cab", c)), 0);
    EXPECT_EQ(Out("c"), Str(content, 70000, 30000));
    EXPECT_EQ(Out("a"), Str(content, 0, 40000));
    EXPECT_EQ(Out("b"), Str(content, 40000, 30000));
  }
  EXPECT_TRUE(g_shown.empty());
}

TEST_F(CabReader, ChecksumZeroIsNotVerifiedAndAMismatchRestartsTheFolder) {
  std::vector<uint8_t> content = Bytes(100000, 3);
  Cabinet c = OneFolder(1, content, {50000, 50000});
  for (CabBlock& b : c.folders[0].blocks) b.checksum = false;
  c.folders[0].blocks[0].data[5] ^= 1;  // not checked, so decoded as it is
  c.folders[0].blocks[0].data[5] ^= 1;
  ASSERT_EQ(Extract(Write("zero.cab", c)), 0);
  EXPECT_EQ(Out("f0"), Str(content, 0, 50000));
  EXPECT_TRUE(g_shown.empty());
  // A wrong checksum in the second block: the first file stops there with a
  // partial file; the second file decodes its folder again from the start.
  c = OneFolder(1, content, {50000, 50000});
  c.folders[0].blocks[1].badChecksum = 0x12345678;
  c.files = {{"f0", 50000, 0, 0}, {"f1", 10000, 0, 0}};
  std::string path = Write("bad.cab", c);
  ASSERT_EQ(Extract(path), 0);
  EXPECT_TRUE(Shown(path + ": checksum error\n"));
  EXPECT_EQ(Out("f0"), Str(content, 0, 32768));
  EXPECT_EQ(Out("f1"), Str(content, 0, 10000));
  // Tolerated in MSZIP folders: a warning naming the file, and decoding goes on.
  g_shown.clear();
  ASSERT_EQ(Extract(path, true), 0);
  EXPECT_TRUE(Shown("f0: WARNING: checksum failed\n"));
  EXPECT_EQ(Out("f0"), Str(content, 0, 50000));
}

// A folder split over cabinets at block `index`, byte `at` of its data; the
// file "x" is cut at the same block.
std::vector<Cabinet> SplitSet(const std::vector<uint8_t>& content, int method, std::vector<size_t> cuts) {
  std::vector<CabBlock> rest = MakeBlocks(method, content);
  std::vector<Cabinet> set;
  size_t done = 0;  // blocks already placed in earlier cabinets
  for (size_t i = 0; i <= cuts.size(); ++i) {
    Cabinet c;
    std::vector<CabBlock> mine, after;
    if (i < cuts.size()) {
      SplitBlocks(rest, cuts[i] - done, rest[cuts[i] - done].data.size() / 2, &mine, &after);
      done = cuts[i];
      rest = after;
    } else {
      mine = rest;
    }
    c.folders.push_back({static_cast<uint16_t>(method), mine});
    uint16_t index = i == 0 ? 0xFFFE : i == cuts.size() ? 0xFFFD : 0xFFFF;
    if (i == 0) c.files.push_back({"head", 1000, 0, 0});
    c.files.push_back({"x", static_cast<uint32_t>(content.size() - 2000), 1000, index});
    if (i == cuts.size()) c.files.push_back({"tail", 1000, static_cast<uint32_t>(content.size() - 1000), 0});
    if (i < cuts.size()) c.flags |= 2, c.nextName = "PART" + std::to_string(i + 2) + ".cab";
    if (i > 0) c.flags |= 1, c.previousName = "part" + std::to_string(i) + ".cab";
    set.push_back(c);
  }
  return set;
}

TEST_F(CabReader, LinksFoldersOverTwoAndThreeCabinets) {
  std::vector<uint8_t> content = Bytes(6 * 32768 + 500, 4);
  for (const std::vector<size_t>& cuts : {std::vector<size_t>{2}, std::vector<size_t>{1, 4}}) {
    std::vector<Cabinet> set = SplitSet(content, 1, cuts);
    for (size_t i = 0; i < set.size(); ++i) Write("part" + std::to_string(i + 1) + ".cab", set[i]);
    g_printed.clear();
    ASSERT_EQ(Extract(tmp_ / "part1.cab"), 0);
    EXPECT_FALSE(fatal_.set) << fatal_.text;
    EXPECT_EQ(Out("head"), Str(content, 0, 1000));
    EXPECT_EQ(Out("x"), Str(content, 1000, content.size() - 2000));
    EXPECT_EQ(Out("tail"), Str(content, content.size() - 1000));
    EXPECT_EQ(testutil::ListFiles(out()).size(), 3u);
    EXPECT_TRUE(g_shown.empty()) << g_shown[0];
  }
}

TEST_F(CabReader, FolderOverMoreThanTenCabinetsIsRefused) {
  std::vector<uint8_t> content = Bytes(12 * 32768, 5);
  std::vector<Cabinet> set = SplitSet(content, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  for (size_t i = 0; i < set.size(); ++i) Write("part" + std::to_string(i + 1) + ".cab", set[i]);
  std::string first = tmp_ / "part1.cab";
  ASSERT_EQ(Extract(first), 0);
  EXPECT_NE(std::find(g_printed.begin(), g_printed.end(), first + ": internal error, increase CAB_SPLITMAX :)\n"),
            g_printed.end());
  EXPECT_FALSE(testutil::FileExists(out() + "/x"));
}

TEST_F(CabReader, SetMessagesAndEnds) {
  std::vector<uint8_t> content = Bytes(3 * 32768, 6);
  std::vector<Cabinet> set = SplitSet(content, 1, {1});
  std::string first = Write("part1.cab", set[0]);
  // The next cabinet is missing: named (lower-cased after the lower-case
  // retry); the first cabinet's own files come out, the one running into
  // the missing cabinet is named and the archive fails.
  ResetArchiveOutcome();
  ASSERT_EQ(Extract(first), 0);
  EXPECT_FALSE(fatal_.set);
  EXPECT_TRUE(Shown(first + ": the next cabinet part2.cab is missing\n"));
  EXPECT_EQ(Out("head"), Str(content, 0, 1000));
  EXPECT_FALSE(testutil::FileExists(out() + "/x"));
  EXPECT_TRUE(g_ArchiveOutcome.failed);
  // A next cabinet with no signature: not a cabinet, can't read next; the
  // first cabinet's own files are still extracted.
  testutil::WriteFile(tmp_ / "part2.cab", std::string(100, 'z'));
  ASSERT_EQ(Extract(first), 0);
  EXPECT_FALSE(fatal_.set);
  EXPECT_TRUE(Shown(tmp_ / "part2.cab" + ": not a Microsoft cabinet file\n"));
  EXPECT_TRUE(Shown(first + ": can't read next cabinet " + tmp_ / "part2.cab" + "\n"));
  EXPECT_EQ(Out("head"), Str(content, 0, 1000));
  // A cabinet that continues an earlier one: a warning, then its own files;
  // the entry continued from before is decoded from its own first folder.
  g_shown.clear();
  Cabinet later = OneFolder(0, content, {});
  later.flags = 1;
  later.previousName = "part0.cab";
  later.files = {{"cont", 3000, 0, 0xFFFD}, {"own", 500, 3000, 0}};
  std::string second = Write("second.cab", later);
  ASSERT_EQ(Extract(second), 0);
  EXPECT_TRUE(Shown(second + ": WARNING; this is not the first cabinet in sequence\n"));
  EXPECT_EQ(Out("cont"), Str(content, 0, 3000));
  EXPECT_EQ(Out("own"), Str(content, 3000, 500));
  // A set that names itself again stops at the cabinet already loaded.
  Cabinet loop = OneFolder(0, content, {1000});
  loop.flags = 2;
  loop.nextName = "loop.cab";
  ASSERT_EQ(Extract(Write("loop.cab", loop)), 0);
  EXPECT_EQ(Out("f0"), Str(content, 0, 1000));
}

TEST_F(CabReader, BrokenCabinetsGiveTheirMessages) {
  std::vector<uint8_t> content = Bytes(70000, 7);
  Cabinet c = OneFolder(1, content, {70000});
  std::vector<uint8_t> whole = Build(c);
  std::string path = tmp_ / "t.cab";
  testutil::WriteFile(path, std::vector<uint8_t>(whole.begin(), whole.end() - 100));
  ASSERT_EQ(Extract(path), 0);
  EXPECT_TRUE(Shown(path + ": WARNING; cabinet is truncated\n"));
  EXPECT_TRUE(Shown(path + ": input error\n"));
  // Corrupt MSZIP data.
  c.folders[0].blocks[1].data[40] ^= 0xFF;
  c.folders[0].blocks[1].checksum = false;
  g_shown.clear();
  path = Write("c.cab", c);
  ASSERT_EQ(Extract(path), 0);
  EXPECT_TRUE(Shown(path + ": illegal or corrupt data\n"));
  // Quantum: unsupported, for each file.
  Cabinet q = OneFolder(0, content, {10, 20});
  q.folders[0].type = 2 | (16 << 8);
  g_shown.clear();
  path = Write("q.cab", q);
  ASSERT_EQ(Extract(path), 0);
  EXPECT_EQ(std::count(g_shown.begin(), g_shown.end(), path + ": unsupported data format\n"), 2);
  // No folders; no files; not a cabinet at all.
  Cabinet none;
  path = Write("n.cab", none);
  EXPECT_EQ(Extract(path), 1);
  EXPECT_TRUE(Shown(path + ": no folders in cabinet\n"));
  // A block declaring more than 32768 bytes.
  Cabinet big = OneFolder(0, content, {40000});
  big.folders[0].blocks[0].data.resize(33000);
  big.folders[0].blocks[0].uncompressed = 33000;
  g_shown.clear();
  path = Write("b.cab", big);
  ASSERT_EQ(Extract(path), 0);
  EXPECT_TRUE(Shown(path + ": illegal or corrupt data\n"));
}

TEST_F(CabReader, HeaderReserveWarningAndVersion) {
  std::vector<uint8_t> content = Bytes(100, 8);
  Cabinet c = OneFolder(0, content, {100});
  c.reserve = true;
  c.headerReserve = 60000;
  c.folderReserve = 3;
  c.dataReserve = 5;
  std::string path = Write("r.cab", c);
  ASSERT_EQ(Extract(path), 0);
  EXPECT_TRUE(g_shown.empty());
  EXPECT_EQ(Out("f0"), Str(content));
  c.headerReserve = 60001;
  c.minor = 4;
  path = Write("r.cab", c);
  ASSERT_EQ(Extract(path), 0);
  EXPECT_TRUE(Shown(path + ": WARNING; header reserved space > 60000\n"));
  EXPECT_TRUE(Shown(path + ": WARNING; cabinet format version > 1.3\n"));
  EXPECT_EQ(Out("f0"), Str(content));
}

TEST_F(CabReader, FindsACabinetBehindAStubAndKeepsNamesInside) {
  std::vector<uint8_t> content = Bytes(5000, 9);
  Cabinet c = OneFolder(0, content, {2000, 3000});
  c.files[0].name = "..\\..\\escape.txt";
  c.files[1].name = "dir\\sub\\inner.txt";
  std::vector<uint8_t> file(3000, 'M');  // many false starts of "MSCF"
  std::vector<uint8_t> cab = Build(c);
  file.insert(file.end(), cab.begin(), cab.end());
  std::string path = tmp_ / "sfx.exe";
  testutil::WriteFile(path, file);
  ASSERT_EQ(Extract(path), 0);
  EXPECT_EQ(Out("__/__/escape.txt"), Str(content, 0, 2000));
  EXPECT_EQ(Out("dir/sub/inner.txt"), Str(content, 2000));
  EXPECT_FALSE(testutil::FileExists(tmp_ / "escape.txt"));
}

}  // namespace
