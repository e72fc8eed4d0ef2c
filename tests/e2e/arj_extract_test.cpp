// ARJ archives through the whole program: archives made by the arj program
// (tests/fixtures/arj, see make-arj.sh) and archives built field by field for
// what it does not make (MS-DOS hosts, old archiver versions, hostile input).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/testutil.h"
#include "unit/arj_builder.h"

namespace {

using arjtest::Archive;
using arjtest::Bytes;
using arjtest::Fields;
using testutil::Fixture;
using testutil::ListFiles;
using testutil::ReadFile;
using testutil::Sha256Hex;
using testutil::TempDir;

const char kFailedOnce[] = " NOT_A_FILE: 0 times\nUNSUPPORTED: 0 times\n     FAILED: 1 times\n";

// SHA-256 of the original files, by name, as make-arj.sh wrote them.
std::map<std::string, std::string> Manifest() {
  std::map<std::string, std::string> sums;
  for (const testutil::ManifestRow& row : testutil::ReadManifest(Fixture("arj/MANIFEST")))
    if (row.size() == 2) sums[row[1]] = row[0];
  return sums;
}

struct Stat {
  bool exists = false;
  long mtime = 0;
  bool writable = false;
};
Stat StatOf(const std::string& path) {
  struct stat st;
  Stat s;
  if (stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.mtime = long(st.st_mtime);
  s.writable = (st.st_mode & 0222) != 0;
  return s;
}

class ArjExtract : public ::testing::Test {
 protected:
  testutil::RunResult Extract(const std::string& archive) {
    return testutil::RunDorvane({"#P(" + out() + ")#F(" + archive + ")"},
                                {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}, {"TZ", "UTC"}});
  }
  testutil::RunResult ExtractFixture(const std::string& fixture, const std::string& as) {
    testutil::WriteFile(tmp_ / as, ReadFile(Fixture("arj/" + fixture)));
    return Extract(tmp_ / as);
  }
  testutil::RunResult ExtractBytes(const Bytes& data, const std::string& as = "built.arj") {
    testutil::WriteFile(tmp_ / as, data);
    return Extract(tmp_ / as);
  }
  std::string out() const { return tmp_ / "out"; }
  std::string Sha(const std::string& name) { return Sha256Hex(ReadFile(out() + "/" + name)); }
  TempDir tmp_;
  std::map<std::string, std::string> sums_ = Manifest();
};

TEST_F(ArjExtract, EveryMethodDecodes) {
  auto r = ExtractFixture("methods.arj", "methods.arj");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ListFiles(out()),
            (std::vector<std::string>{"m0.bin", "m1.txt", "m2.txt", "m3.txt", "m4.txt"}));
  EXPECT_EQ(Sha("m0.bin"), sums_["random.bin"]);
  for (const char* name : {"m1.txt", "m2.txt", "m3.txt", "m4.txt"}) {
    EXPECT_EQ(Sha(name), sums_["text.txt"]) << name;
  }
}

// vol.arj, vol.a01, vol.a02: noise.bin runs from the first volume into the
// second, text.txt from the second into the third.
TEST_F(ArjExtract, MembersAreReadAcrossVolumes) {
  const struct {
    std::vector<std::string> present;  // volumes copied beside vol.arj
    std::string named;                 // "": both members whole
    std::vector<std::string> whole;    // members that still come out
  } rows[] = {
      {{"vol.a01", "vol.a02"}, "", {"noise.bin", "text.txt"}},
      {{"vol.a02"}, "vol.arj: the next volume vol.a01 is missing\nnoise.bin: goes on in a volume", {}},
      {{"vol.a01"}, "vol.arj: the next volume vol.a02 is missing\ntext.txt: goes on in a volume", {"noise.bin"}},
  };
  for (const auto& row : rows) {
    const TempDir dir;
    testutil::WriteFile(dir / "vol.arj", ReadFile(Fixture("arj/vol.arj")));
    for (const std::string& v : row.present) testutil::WriteFile(dir / v, ReadFile(Fixture("arj/" + v)));
    const auto r = Extract(dir / "vol.arj");
    EXPECT_EQ(r.exitCode, row.named.empty() ? 0 : 2) << r.err;
    if (!row.named.empty()) {
      EXPECT_NE(r.err.find(row.named), std::string::npos) << r.err;
      EXPECT_EQ(testutil::ReportOf(r.err), kFailedOnce);
    }
    EXPECT_EQ(ListFiles(out()), row.whole) << r.err;
    for (const std::string& name : row.whole) EXPECT_EQ(Sha(name), sums_[name]) << name;
    testutil::System("rm -rf '" + out() + "'");
  }
  // A missing volume fails the archive whichever members are chosen.
  {
    const TempDir dir;
    for (const char* v : {"vol.arj", "vol.a01"}) testutil::WriteFile(dir / v, ReadFile(Fixture(std::string("arj/") + v)));
    const auto r = testutil::RunDorvane({"-t", "-i", "noise.bin", dir / "vol.arj"}, {{"DORVANE_REGISTRY", dir / "reg"}});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("vol.arj: the next volume vol.a02 is missing\n"), std::string::npos) << r.err;
  }
  // Started at a later volume: the member begun before it is named.
  testutil::WriteFile(tmp_ / "vol.a01", ReadFile(Fixture("arj/vol.a01")));
  testutil::WriteFile(tmp_ / "vol.a02", ReadFile(Fixture("arj/vol.a02")));
  const auto r = Extract(tmp_ / "vol.a01");
  EXPECT_NE(r.err.find("noise.bin: begins in an earlier volume"), std::string::npos) << r.err;
  EXPECT_EQ(Sha("text.txt"), sums_["text.txt"]);
}

// Made on a Unix host: seconds since 1970 and permission bits.
TEST_F(ArjExtract, FoldersTimeStampsAndAttributes) {
  auto r = ExtractFixture("tree.arj", "TREE.ARJ");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ListFiles(out()), (std::vector<std::string>{"bin/locked.txt", "docs/deep/leaf.txt",
                                                        "docs/text.txt", "top.txt"}));
  EXPECT_EQ(Sha("top.txt"), sums_["top.txt"]);
  EXPECT_EQ(Sha("docs/deep/leaf.txt"), sums_["docs/deep/leaf.txt"]);
  EXPECT_EQ(Sha("docs/text.txt"), sums_["text.txt"]);
  EXPECT_EQ(Sha("bin/locked.txt"), sums_["bin/locked.txt"]);

  Stat top = StatOf(out() + "/top.txt");
  EXPECT_EQ(top.mtime, 1049522828);  // 2003-04-05 06:07:08 UTC
  EXPECT_TRUE(top.writable);
  Stat locked = StatOf(out() + "/bin/locked.txt");
  EXPECT_EQ(locked.mtime, 946684798);  // 1999-12-31 23:59:58 UTC
  EXPECT_FALSE(locked.writable);
}

TEST_F(ArjExtract, TextAndBinaryMembers) {
  auto r = ExtractFixture("text.arj", "text.arj");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Sha("zeros.txt"), sums_["zeros.txt"]);
  EXPECT_EQ(Sha("random.bin"), sums_["random.bin"]);
}

TEST_F(ArjExtract, GarbledMemberIsSkippedAndFails) {
  auto r = ExtractFixture("garbled.arj", "garbled.arj");
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("secret.txt: garbled"), std::string::npos) << r.err;
  EXPECT_EQ(ListFiles(out()), (std::vector<std::string>{"after.txt", "before.txt"}));
  EXPECT_EQ(Sha("after.txt"), sums_["after.txt"]);
}

// A program stub before the archive; as .exe the content pass finds it.
TEST_F(ArjExtract, SelfExtractingArchive) {
  for (const char* name : {"sfx.arj", "setup.exe"}) {
    auto r = ExtractFixture("sfx.arj", name);
    EXPECT_EQ(r.exitCode, 0) << name << r.err;
    EXPECT_EQ(Sha("before.txt"), sums_["before.txt"]) << name;
  }
}

// MS-DOS host: the time is an MS-DOS pair, the attributes are MS-DOS bits
// (read-only applied after the time stamp, so both take), and names keep
// their upper bytes; other hosts lose bit 7 of every name byte.
TEST_F(ArjExtract, MsdosHostMembers) {
  Fields dos;
  dos.method = 0;
  dos.host = 0;
  dos.mode = 0x21;
  dos.name = "\x83\x65\x83\x58\x83\x67.txt";  // three katakana in Shift-JIS
  Fields unix = dos;
  unix.host = 2;
  unix.time = 978355618;
  unix.mode = 0100644;
  unix.name = "u\xE1\xE2.txt";
  auto r = ExtractBytes(Archive({{dos, "dos data"}, {unix, "unix data"}}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string katakana = out() + "/\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.txt";
  EXPECT_EQ(ReadFile(katakana), "dos data");
  Stat s = StatOf(katakana);
  EXPECT_EQ(s.mtime, 978355618);  // 2001-01-01 13:26:58, local time being UTC
  EXPECT_FALSE(s.writable);
  EXPECT_EQ(ReadFile(out() + "/uab.txt"), "unix data");
}

TEST_F(ArjExtract, Method4FromArchiverVersionOneIsSkippedAndFails) {
  Fields old;
  old.method = 4;
  old.archiverVersion = 1;
  old.size = 3;
  old.name = "old.txt";
  Fields next;
  next.method = 0;
  next.name = "next.txt";
  auto r = ExtractBytes(Archive({{old, std::string("\x30\x98\x4C\x60", 4)}, {next, "ok"}}));
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("old.txt: made with a method"), std::string::npos) << r.err;
  EXPECT_EQ(ListFiles(out()), std::vector<std::string>{"next.txt"});
}

// A folder entry (file type 3) makes its folder, data or not.
TEST_F(ArjExtract, FolderEntryMakesAFolder) {
  Fields dir;
  dir.method = 0;
  dir.type = 3;
  dir.name = "empty/dir";
  auto r = ExtractBytes(Archive({{dir, ""}}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(testutil::IsDirectory(out() + "/empty/dir"));
}

// Probe examines offsets below 50,000 of its larger buffer; Extract reads
// 50,000 bytes and so examines offsets below 47,398 only.
TEST_F(ArjExtract, MainHeaderOffsetLimits) {
  Fields f;
  f.method = 0;
  f.name = "late.txt";
  Bytes archive = Archive({{f, "late"}});
  auto behindStub = [&](size_t offset) {
    Bytes file(offset, 0);
    file.insert(file.end(), archive.begin(), archive.end());
    file.resize(60000, 0);
    return file;
  };
  auto r = ExtractBytes(behindStub(47397), "early.bin");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out() + "/late.txt"), "late");

  r = ExtractBytes(behindStub(47398), "late.bin");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find(kFailedOnce), std::string::npos) << r.err;

  r = ExtractBytes(behindStub(49999), "last.bin");
  EXPECT_NE(r.err.find(kFailedOnce), std::string::npos) << r.err;
}

TEST_F(ArjExtract, NamesStayInsideTheOutputFolder) {
  Fields f;
  f.method = 0;
  f.name = "../../escape.txt";
  Fields rooted = f;
  rooted.name = "/abs/rooted.txt";
  Fields dos = f;
  dos.name = "..\\up.txt";
  auto r = ExtractBytes(Archive({{f, "1"}, {rooted, "2"}, {dos, "3"}}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const std::string& file : ListFiles(tmp_.path())) {
    const bool inside = file.rfind("out/", 0) == 0;
    EXPECT_TRUE(inside || file == "built.arj" || file.rfind("registry.reg", 0) == 0) << file;
  }
  EXPECT_EQ(ReadFile(out() + "/__/__/escape.txt"), "1");
  EXPECT_EQ(ReadFile(out() + "/abs/rooted.txt"), "2");
  EXPECT_EQ(ReadFile(out() + "/__/up.txt"), "3");
}

// Damaged archives end the walk where the damage is; what came before stays.
// A member cut short fails the archive.
TEST_F(ArjExtract, DamagedArchives) {
  const std::string methods = ReadFile(Fixture("arj/methods.arj"));
  // Cut inside the third member's data, inside a header, and just after
  // the main header (id, size, basic header, CRC, extended-header end).
  const size_t mainEnd = 4 + (uint8_t(methods[2]) | uint8_t(methods[3]) << 8) + 4 + 2;
  for (size_t cut : {methods.size() / 2, size_t(900), mainEnd}) {
    TempDir dir;
    testutil::WriteFile(dir / "cut.arj", methods.substr(0, cut));
    auto r = testutil::RunDorvane({"#P(" + (dir / "out") + ")#F(" + (dir / "cut.arj") + ")"},
                                  {{"DORVANE_REGISTRY", dir / "registry.reg"}});
    EXPECT_EQ(r.exitCode, cut == mainEnd ? 0 : 2) << cut << r.err;
    if (cut > 900) {
      EXPECT_EQ(Sha256Hex(ReadFile(dir / "out/m0.bin")), sums_["random.bin"]);
    }
  }

  // A wrong CRC in the second member's header: the first member only, and
  // the archive fails, for the members behind it are lost.
  Fields a;
  a.method = 0;
  a.name = "a.txt";
  Fields b = a;
  b.name = "b.txt";
  Bytes data = Archive({{a, "A"}, {b, "B"}, {b, "C"}});
  size_t second = std::string(data.begin(), data.end()).find("b.txt");
  data[second] = 'c';
  auto r = ExtractBytes(data);
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("no valid member header at byte"), std::string::npos) << r.err;
  EXPECT_EQ(ListFiles(out()), std::vector<std::string>{"a.txt"});

  // A compressed size beyond the end of the file, and an unpacked size of
  // 4 GiB that the 64 packed bytes cannot feed.
  Fields big;
  big.method = 1;
  big.size = 0xFFFFFFFF;
  big.packed = 0x7FFFFFFF;
  big.name = "big.txt";
  Bytes huge = Archive({});
  huge.resize(huge.size() - 4);  // without its end marker
  Bytes header = arjtest::Header(big);
  huge.insert(huge.end(), header.begin(), header.end());
  huge.insert(huge.end(), 64, 0x55);
  r = ExtractBytes(huge, "huge.arj");
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_LT(ReadFile(out() + "/big.txt").size(), 16u << 20);

  // The main header is unreadable: a failure.
  Bytes empty = {0x60, 0xEA, 0, 0, 0, 0, 0, 0};
  r = ExtractBytes(empty, "empty.arj");
  EXPECT_NE(r.err.find(kFailedOnce), std::string::npos) << r.err;
}

}  // namespace
