// What the program says when a member's output fails (a write, a file in the
// way of a folder, an unwritable output folder), when links stand in the
// output folder, and when a member's data no longer matches its stored
// checksum: one row per format, over fixtures made by the real tools
// (tests/fixtures/make-*.sh).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>
#include <string>

#include "core/byte_order.h"
#include "support/testutil.h"

namespace {

using testutil::Fixture;
using testutil::ReadFile;
using testutil::TempDir;

struct Format {
  const char* label;
  const char* fixture;
  const char* bigMember;     // larger than the file size limit below
  const char* linkedFile;    // a member file (its folders exist as folders)
  const char* linkedFolder;  // a folder of a member (null: the format has none)
  const char* flipped;       // the member whose data `flipAt` lies in
  std::function<size_t(const std::string&)> flipAt;
  // What the flipped byte gives where only a library checks the data.
  const char* flipNotice = "checksum error";
};

// The first lower-case letter of the first data line after `header`: one
// byte that stays a plain data byte (no escape, no line end) when flipped.
size_t FirstLetterAfter(const std::string& a, const std::string& header) {
  size_t at = a.find('\n', a.find(header)) + 1;
  while (a[at] < 'a' || a[at] > 'z') ++at;
  return at;
}

const Format kFormats[] = {
    // jlha, stored (-lh0-): the data follows the header as it is.
    {"lzh", "lzh/level2_lh0.lzh", nullptr, "hello.txt", "sub", "hello.txt",
     [](const std::string& a) { return a.find("Hello from") + 3; }},
    {"lzh", "lzh/level2_lh7.lzh", "long.txt", "hello.txt", "sub", nullptr, nullptr},
    // arj -m0: name, NUL, empty comment, header CRC-32, extended-header end.
    {"arj", "arj/methods.arj", "m1.txt", nullptr, nullptr, "m0.bin",
     [](const std::string& a) { return a.find("m0.bin") + 7 + 1 + 4 + 2 + 10; }},
    {"arj", "arj/tree.arj", nullptr, "top.txt", "docs", nullptr, nullptr},
    // gcab: the first folder's first data block (checksum, sizes, data).
    {"cab", "cab/mszip.cab", "sub/b.bin", "a.txt", "sub", "a.txt",
     [](const std::string& a) { return LoadLe32(reinterpret_cast<const uint8_t*>(a.data()) + 36) + 8 + 10; }},
    // zip -0 -X: no extra field, the data follows the name.
    {"zip", "zip/stored.zip", "numbers.txt", "numbers.txt", "docs", "numbers.txt",
     [](const std::string& a) { return a.find("numbers.txt") + 11 + 50; }},
    // Zip64 through a pipe: a 20-byte Zip64 extra field, the CRC-32 in a
    // data descriptor with 8-byte sizes.
    {"zip64", "zip/zip64-pipe-stored.zip", "numbers.txt", "numbers.txt", nullptr, "numbers.txt",
     [](const std::string& a) { return a.find("numbers.txt") + 11 + 20 + 50; }},
    {"tar", "tar/gnu.tar", "tree/sizes/b3000", "tree/docs/readme.txt", "tree/deep", nullptr, nullptr},
    {"tgz", "tar/ustar.tgz", "tree/sizes/b3000", nullptr, nullptr, nullptr, nullptr},
    {"gzip", "core/noname.gz", "noname", "noname", nullptr, "noname",
     [](const std::string& a) { return a.size() / 2; }, "damaged data"},
    // Two blocks: the damage lies in the second, past the probe's trial.
    {"bzip2", "core/nine.txt.bz2", "nine.txt", nullptr, nullptr, "nine.txt",
     [](const std::string& a) { return a.size() - 100; }, "damaged data"},
    {"compress", "tar/words-b12.Z", "words-b12", nullptr, nullptr, nullptr, nullptr},
    {"uu", "lines/plain.uu", "data.bin", nullptr, nullptr, nullptr, nullptr},
    {"b64", "lines/section.b64", "r.bin", nullptr, nullptr, nullptr, nullptr},
    {"yenc", "lines/sections.ntx", "data.bin", "text.txt", nullptr, "data.bin",
     [](const std::string& a) { return FirstLetterAfter(a, "name=data.bin"); }},
};

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// One run over a copy of the fixture in a fresh folder.
struct Extraction {
  TempDir tmp;
  std::string out() const { return tmp / "out"; }
  // The copy keeps the fixture's name: single-stream names derive from it.
  testutil::RunResult operator()(const Format& f, const std::string& archive, uint64_t fileLimit = 0) {
    testutil::WriteFile(tmp / BaseName(f.fixture), archive);
    const std::vector<std::string> args = {"#P(" + out() + ")#F(" + (tmp / BaseName(f.fixture)) + ")"};
    const std::map<std::string, std::string> env = {{"DORVANE_REGISTRY", tmp / "registry.reg"}};
    return fileLimit != 0 ? testutil::RunDorvaneWithFileLimit(args, env, fileLimit) : testutil::RunDorvane(args, env);
  }
};

TEST(OutputFailures, AFailedWriteIsNamedAndLeavesNoFile) {
  for (const Format& f : kFormats) {
    if (f.bigMember == nullptr) continue;
    Extraction run;
    const auto r = run(f, ReadFile(Fixture(f.fixture)), 2048);
    EXPECT_EQ(r.exitCode, 2) << f.fixture << r.err;  // not 1: the program goes on
    EXPECT_NE(r.err.find(std::string(f.bigMember) + ": cannot be written"), std::string::npos) << r.err;
    EXPECT_FALSE(testutil::FileExists(run.out() + "/" + f.bigMember)) << f.fixture;
  }
}

TEST(OutputFailures, LinksInTheOutputFolderAreNotFollowed) {
  for (const Format& f : kFormats) {
    if (f.linkedFile == nullptr) continue;
    Extraction run;
    mkdir((run.tmp / "elsewhere").c_str(), 0777);
    testutil::WriteFile(run.tmp / "target.txt", "keep me");
    const std::string file = run.out() + "/" + f.linkedFile;
    testutil::System("mkdir -p '" + file.substr(0, file.rfind('/')) + "'");
    ASSERT_EQ(symlink((run.tmp / "target.txt").c_str(), file.c_str()), 0);
    if (f.linkedFolder != nullptr) {
      ASSERT_EQ(symlink((run.tmp / "elsewhere").c_str(), (run.out() + "/" + f.linkedFolder).c_str()), 0);
    }
    const auto r = run(f, ReadFile(Fixture(f.fixture)));
    // A member below the linked folder is skipped, so the archive fails.
    EXPECT_EQ(r.exitCode, f.linkedFolder != nullptr ? 2 : 0) << f.fixture << r.err;
    if (f.linkedFolder != nullptr) {
      EXPECT_NE(r.err.find("symbolic link"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFile(run.tmp / "target.txt"), "keep me") << f.fixture;
    EXPECT_TRUE(testutil::ListFiles(run.tmp / "elsewhere").empty()) << f.fixture;
    struct stat st;
    ASSERT_EQ(lstat((run.out() + "/" + f.linkedFile).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << f.fixture;  // the link was replaced by the member
  }
}

// A member's file appears under its name only when it is whole: a flipped
// byte that only the checksum finds keeps the file (its data may still be
// of use), one that the decoder finds as damage leaves nothing.
TEST(OutputFailures, AFlippedDataByteKeepsTheFileOnlyForAChecksumError) {
  for (const Format& f : kFormats) {
    if (f.flipped == nullptr) continue;
    std::string archive = ReadFile(Fixture(f.fixture));
    EXPECT_EQ(Extraction()(f, archive).exitCode, 0) << f.fixture;
    archive[f.flipAt(archive)] ^= 0x20;
    Extraction run;
    const auto r = run(f, archive);
    EXPECT_EQ(r.exitCode, 2) << f.fixture << r.err;
    EXPECT_NE(r.err.find(std::string(f.flipped) + ": " + f.flipNotice), std::string::npos) << r.err;
    const bool kept = std::string(f.flipNotice) == "checksum error";
    EXPECT_EQ(testutil::FileExists(run.out() + "/" + f.flipped), kept) << f.fixture;
  }
}

// An archive cut inside a member: that member is named and leaves nothing
// under its name; the members before it stay whole. (A compress stream or
// a Base64 section cut short cannot be told from a shorter one.)
TEST(OutputFailures, AnArchiveCutInsideAMemberLeavesNothingUnderItsName) {
  const struct {
    const char* fixture;
    int percent;         // of the archive kept
    const char* member;  // the member cut short
    const char* notice;
  } rows[] = {
      {"lzh/level2_lh7.lzh", 70, "long.txt", "the archive ends inside this member"},
      {"arj/methods.arj", 70, "m3.txt", "the archive ends inside this member"},
      {"cab/mszip.cab", 70, "big/text.txt", "the archive ends inside this member"},
      {"zip/stored.zip", 90, "random.bin", "the archive ends inside this member"},
      {"zip/zip64-pipe-stored.zip", 70, "docs/fox.txt", "the archive ends inside this member"},
      {"tar/gnu.tar", 90, "tree/sizes/b512", "the archive ends inside this member"},
      {"tar/ustar.tgz", 70, "tree/sizes/b3000", "the archive ends inside this member"},
      {"core/noname.gz", 70, "noname", "the archive ends inside this member"},
      {"core/nine.txt.bz2", 70, "nine.txt", "the archive ends inside this member"},
      {"lines/plain.uu", 70, "data.bin", "the archive ends inside this member"},
      {"lines/sections.ntx", 70, "data.bin", "the archive ends inside this member"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fixture);
    const std::string whole = ReadFile(Fixture(row.fixture));
    Format f{};
    f.fixture = row.fixture;
    Extraction complete;
    // The whole archive gives the member (TAR's links are named beside it).
    const auto reference = complete(f, whole);
    ASSERT_TRUE(testutil::FileExists(complete.out() + "/" + row.member)) << reference.err;
    Extraction run;
    const auto r = run(f, whole.substr(0, whole.size() * row.percent / 100));
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find(std::string(row.member) + ": " + row.notice), std::string::npos) << r.err;
    EXPECT_FALSE(testutil::FileExists(run.out() + "/" + row.member));
    // Whatever is there is whole: the same as from the whole archive.
    for (const std::string& name : testutil::ListFiles(run.out())) {
      EXPECT_EQ(ReadFile(run.out() + "/" + name), ReadFile(complete.out() + "/" + name)) << name;
    }
  }
}

TEST(OutputFailures, AFileInTheWayOfAFolderFailsItsMembers) {
  for (const Format& f : kFormats) {
    if (f.linkedFolder == nullptr) continue;
    Extraction run;
    const std::string blocker = run.out() + "/" + f.linkedFolder;
    testutil::System("mkdir -p '" + blocker.substr(0, blocker.rfind('/')) + "'");
    testutil::WriteFile(blocker, "plain file");
    const auto r = run(f, ReadFile(Fixture(f.fixture)));
    EXPECT_EQ(r.exitCode, 2) << f.fixture << r.err;
    EXPECT_NE(r.err.find(std::string(f.linkedFolder) + "/"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot be created"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(blocker), "plain file") << f.fixture;
  }
}

TEST(OutputFailures, AnUnwritableOutputFolderFailsEveryFormat) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not hold for root";
  for (const Format& f : kFormats) {
    if (f.bigMember == nullptr) continue;
    Extraction run;
    mkdir(run.out().c_str(), 0555);
    const auto r = run(f, ReadFile(Fixture(f.fixture)));
    EXPECT_EQ(r.exitCode, 2) << f.fixture << r.err;
    EXPECT_NE(r.err.find("cannot be created"), std::string::npos) << f.fixture << r.err;
    EXPECT_TRUE(testutil::ListFiles(run.out()).empty()) << f.fixture;
  }
}

}  // namespace
