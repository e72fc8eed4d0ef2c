// What the program says when a member's output fails, when links stand in
// the output folder, and when a member's data no longer matches its stored
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

#include "support/testutil.h"

namespace {

using testutil::Fixture;
using testutil::ReadFile;
using testutil::TempDir;

uint32_t Le32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}

struct Format {
  const char* label;
  const char* fixture;
  const char* bigMember;     // larger than the file size limit below
  const char* linkedFile;    // a member file at the top of the output folder
  const char* linkedFolder;  // the first folder of a member
  const char* flipped;       // the member whose data `flipAt` lies in
  std::function<size_t(const std::string&)> flipAt;
};

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
     [](const std::string& a) { return Le32(a, 36) + 8 + 10; }},
};

// One run over a copy of the fixture in a fresh folder.
struct Extraction {
  TempDir tmp;
  std::string out() const { return tmp / "out"; }
  testutil::RunResult operator()(const std::string& archive, uint64_t fileLimit = 0) {
    testutil::WriteFile(tmp / "archive", archive);
    const std::vector<std::string> args = {"#P(" + out() + ")#F(" + (tmp / "archive") + ")"};
    const std::map<std::string, std::string> env = {{"DORVANE_REGISTRY", tmp / "registry.reg"}};
    return fileLimit != 0 ? testutil::RunDorvaneWithFileLimit(args, env, fileLimit) : testutil::RunDorvane(args, env);
  }
};

TEST(OutputFailures, AFailedWriteIsNamedAndLeavesNoFile) {
  for (const Format& f : kFormats) {
    if (f.bigMember == nullptr) continue;
    Extraction run;
    const auto r = run(ReadFile(Fixture(f.fixture)), 16384);
    EXPECT_EQ(r.exitCode, 2) << f.fixture << r.err;  // not 1: the program goes on
    EXPECT_NE(r.err.find(std::string(f.bigMember) + ": cannot be written"), std::string::npos) << r.err;
    EXPECT_FALSE(testutil::FileExists(run.out() + "/" + f.bigMember)) << f.fixture;
  }
}

TEST(OutputFailures, LinksInTheOutputFolderAreNotFollowed) {
  for (const Format& f : kFormats) {
    if (f.linkedFile == nullptr) continue;
    Extraction run;
    mkdir(run.out().c_str(), 0777);
    mkdir((run.tmp / "elsewhere").c_str(), 0777);
    testutil::WriteFile(run.tmp / "target.txt", "keep me");
    ASSERT_EQ(symlink((run.tmp / "target.txt").c_str(), (run.out() + "/" + f.linkedFile).c_str()), 0);
    ASSERT_EQ(symlink((run.tmp / "elsewhere").c_str(), (run.out() + "/" + f.linkedFolder).c_str()), 0);
    const auto r = run(ReadFile(Fixture(f.fixture)));
    // The member below the linked folder is skipped, so the archive fails.
    EXPECT_EQ(r.exitCode, 2) << f.fixture << r.err;
    EXPECT_NE(r.err.find("symbolic link"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(run.tmp / "target.txt"), "keep me") << f.fixture;
    EXPECT_TRUE(testutil::ListFiles(run.tmp / "elsewhere").empty()) << f.fixture;
    struct stat st;
    ASSERT_EQ(lstat((run.out() + "/" + f.linkedFile).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << f.fixture;  // the link was replaced by the member
  }
}

TEST(OutputFailures, AFlippedDataByteIsAChecksumError) {
  for (const Format& f : kFormats) {
    if (f.flipped == nullptr) continue;
    std::string archive = ReadFile(Fixture(f.fixture));
    EXPECT_EQ(Extraction()(archive).exitCode, 0) << f.fixture;
    archive[f.flipAt(archive)] ^= 0x20;
    Extraction run;
    const auto r = run(archive);
    EXPECT_EQ(r.exitCode, 2) << f.fixture << r.err;
    EXPECT_NE(r.err.find(std::string(f.flipped) + ": checksum error"), std::string::npos) << r.err;
    // Kept: its data may still be useful.
    EXPECT_TRUE(testutil::FileExists(run.out() + "/" + f.flipped)) << f.fixture;
  }
}

}  // namespace
