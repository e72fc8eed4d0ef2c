// TAR archives made by GNU tar and bsdtar (tests/fixtures/make-tar.sh), plain
// and behind gzip, bzip2 and compress, extracted by the program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using testutil::Fixture;
using testutil::ReadFile;

const std::string kDeepPath = "tree/deep/" + std::string(60, 'd') + "/" + std::string(70, 'f') + ".txt";
const std::string kDeepName = "tree/deep/" + std::string(120, 'e') + ".txt";

std::string Lines(size_t n) {
  std::string s;
  char line[16];
  for (int i = 0; s.size() < n; ++i) {
    snprintf(line, sizeof line, "%05d\n", i);
    s += line;
  }
  return s.substr(0, n);
}

struct Case {
  const char* fixture;
  std::vector<std::string> extra;  // files beyond the ones every format has
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.fixture; }

class TarExtract : public ::testing::TestWithParam<Case> {
 protected:
  testutil::RunResult Extract(const std::string& archive) {
    return testutil::RunDorvane({"#P(" + out() + ")#F(" + archive + ")"},
                                {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}});
  }
  std::string out() const { return tmp_ / "out"; }
  testutil::TempDir tmp_;
};

TEST_P(TarExtract, WritesFilesFoldersTimesAndModes) {
  const Case& c = GetParam();
  const std::string archive = tmp_ / c.fixture;
  testutil::WriteFile(archive, ReadFile(Fixture(std::string("tar/") + c.fixture)));
  const auto r = Extract(archive);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");

  // The symbolic link, the hard link and the FIFO are made as they were.
  std::vector<std::string> expected = {"tree/docs/readme.txt", "tree/docs/ro.txt", "tree/hard",
                                       "tree/link",            "tree/sizes/b0",    "tree/sizes/b1024",
                                       "tree/sizes/b1025",     "tree/sizes/b3000", "tree/sizes/b512"};
  expected.insert(expected.end(), c.extra.begin(), c.extra.end());
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> files = testutil::ListFiles(out());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, expected);

  for (size_t n : {0, 512, 1024, 1025, 3000})
    EXPECT_EQ(ReadFile(out() + "/tree/sizes/b" + std::to_string(n)), Lines(n)) << n;
  EXPECT_EQ(ReadFile(out() + "/tree/docs/ro.txt"), "read only\n");
  EXPECT_EQ(ReadFile(out() + "/tree/docs/readme.txt"), "hello from tar\n");
  for (const std::string& name : c.extra) {
    if (name.find("pipe") != std::string::npos) continue;
    const std::string data = ReadFile(out() + "/" + name);
    EXPECT_TRUE(data == "long path\n" || data == "long name\n") << name;
  }
  char target[64] = {};
  EXPECT_EQ(readlink((out() + "/tree/link").c_str(), target, sizeof target - 1), 15);
  EXPECT_STREQ(target, "docs/readme.txt");
  struct stat st, other;
  ASSERT_EQ(stat((out() + "/tree/hard").c_str(), &st), 0);
  ASSERT_EQ(stat((out() + "/tree/docs/readme.txt").c_str(), &other), 0);
  EXPECT_EQ(st.st_ino, other.st_ino);
  if (std::count(c.extra.begin(), c.extra.end(), "tree/sizes/pipe") != 0) {
    ASSERT_EQ(lstat((out() + "/tree/sizes/pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
  }

  ASSERT_EQ(stat((out() + "/tree/docs/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(st.st_mtime, 1000000000);
  ASSERT_EQ(stat((out() + "/tree/sizes/b1025").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0200, 0u);
  EXPECT_EQ(st.st_mtime, 1000000000);
  // Folders get their times after their contents are written.
  ASSERT_EQ(stat((out() + "/tree/docs").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mtime, 1000000000);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TarExtract,
    ::testing::Values(Case{"gnu.tar", {"tree/sizes/pipe", kDeepPath, kDeepName}},
                      Case{"v7.tar.gz", {}},
                      Case{"ustar.tgz", {"tree/sizes/pipe", kDeepPath}},
                      Case{"posix.tar.bz2", {"tree/sizes/pipe", kDeepPath, kDeepName}},
                      // Two bzip2 streams, the second starting inside a member.
                      Case{"split.tar.bz2", {"tree/sizes/pipe", kDeepPath, kDeepName}},
                      // bsdtar stores tree/hard first, so readme.txt is the link.
                      Case{"bsdtar.tar.Z", {"tree/sizes/pipe", kDeepPath, kDeepName}}),
    [](const auto& info) {
      std::string name = info.param.fixture;
      std::replace(name.begin(), name.end(), '.', '_');
      return name;
    });

TEST_F(TarExtract, TruncatedArchiveKeepsTheCompleteMembers) {
  const std::string tar = ReadFile(Fixture("tar/gnu.tar"));
  ASSERT_GT(tar.size(), 8192u);
  const std::string archive = tmp_ / "cut.tar";
  testutil::WriteFile(archive, tar.substr(0, tar.size() / 2));
  const auto r = Extract(archive);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("the archive ends inside"), std::string::npos) << r.err;
  const auto files = testutil::ListFiles(out());
  EXPECT_FALSE(files.empty());
  EXPECT_LT(files.size(), 9u);
}

TEST_F(TarExtract, DamageInTheCompressedStreamIsNamed) {
  // gzip's CRC-32, bzip2's block CRCs and their data checks go through the
  // source: whatever member or header the damage hits (in split.tar.bz2:
  // the second stream), the run fails and says so. A stream cut short is
  // named as cut, not as damage.
  for (const char* fixture : {"v7.tar.gz", "ustar.tgz", "split.tar.bz2"}) {
    for (const bool cut : {false, true}) {
      std::string tgz = ReadFile(Fixture(std::string("tar/") + fixture));
      if (cut) {
        tgz.resize(tgz.size() * 3 / 4);
      } else {
        tgz[tgz.size() * 3 / 4] ^= 0x20;
      }
      const std::string archive = tmp_ / fixture;
      testutil::WriteFile(archive, tgz);
      const auto r = Extract(archive);
      EXPECT_EQ(r.exitCode, 2) << fixture;
      EXPECT_NE(r.err.find(cut ? " ends " : "damaged data"), std::string::npos) << fixture << r.err;
      if (cut) {
        EXPECT_EQ(r.err.find("damaged"), std::string::npos) << fixture << r.err;
      }
    }
  }
}

TEST_F(TarExtract, CompressedFileWithoutTarGoesToTheStreamHandler) {
  // Named .tgz, claimed by the TAR+gzip handler, whose probe fails; the
  // content pass gives it to the gzip handler.
  const std::string archive = tmp_ / "note.tgz";
  ASSERT_EQ(testutil::System("printf 'just text\\n' | gzip -cn > '" + archive + "'"), 0);
  const auto r = Extract(archive);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out() + "/note.tgz.ungzip"), "just text\n");
}

}  // namespace

namespace {

// An empty archive, as tar writes one for no files (ten zero blocks), is
// taken when its name says TAR, plain or compressed: nothing to extract,
// exit 0. The same zeros under another name are no archive, and inside a
// .gz they are its one member.
TEST(TarEmpty, TakenWhenTheNameSaysTar) {
  testutil::TempDir tmp;
  for (const char* name : {"e.tar", "e.bin", "z"}) testutil::WriteFile(tmp / name, std::string(10240, '\0'));
  ASSERT_EQ(testutil::System("cd '" + tmp.path() + "' && gzip -nc e.tar > e.tar.gz && gzip -nc e.tar > e.tgz && " +
                             "gzip -nc z > z.gz"),
            0);
  const struct {
    const char* name;
    int exitCode;
    std::vector<std::string> files;
  } rows[] = {{"e.tar", 0, {}}, {"e.tar.gz", 0, {}}, {"e.tgz", 0, {}}, {"e.bin", 2, {}}, {"z.gz", 0, {"z"}}};
  for (const auto& row : rows) {
    const std::string out = tmp / (std::string("out-") + row.name);
    const auto r = testutil::RunDorvane({"-o", out, tmp / row.name}, {{"DORVANE_REGISTRY", tmp / "reg"}});
    EXPECT_EQ(r.exitCode, row.exitCode) << row.name << r.err;
    EXPECT_EQ(testutil::ListFiles(out), row.files) << row.name;
  }
}

}  // namespace
