// Output names, path sanitising, line reading and time stamps.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/charset.h"
#include "core/output.h"
#include "support/testutil.h"

namespace {

using testutil::TempDir;

// The program form of a host path: "\" separators.
std::string ProgramPath(std::string host) {
  for (char& c : host) {
    if (c == '/') c = '\\';
  }
  return host;
}

class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DORVANE_CODEPAGE");
    BuildLeadByteTable();
  }
};

// Rows {folder, name, joined path}.
struct JoinRow {
  const char *folder, *name, *joined;
};

void ExpectJoins(const std::vector<JoinRow>& rows) {
  char out[kPathBufferSize];
  for (const JoinRow& row : rows) {
    ASSERT_TRUE(JoinOutputPath(out, sizeof out, row.folder, row.name)) << row.name;
    EXPECT_STREQ(out, row.joined) << row.name;
  }
}

TEST_F(OutputTest, JoiningRule) {
  ExpectJoins({{"\\out", "a.txt", "\\out\\a.txt"},
               {"\\out", "\\a.txt", "\\out\\a.txt"},
               {"", "\\a.txt", "\\a.txt"}});
}

TEST_F(OutputTest, DotDotNeverClimbsOutOfTheFolder) {
  // The folder is the user's own and stays as given; the name is neutralised.
  ExpectJoins({{"\\out\\..\\x", "../../x", "\\out\\..\\x\\__/__/x"},
               {"\\o", "a/../../b", "\\o\\a/__/__/b"},
               {"\\o", "..\\..a\\...\\..", "\\o\\__\\..a\\...\\__"},
               {"\\o", "..", "\\o\\__"}});
}

TEST_F(OutputTest, TooLongPathsAreRefusedNotCut) {
  char out[kPathBufferSize];
  const std::string name(300, 'n');
  EXPECT_FALSE(JoinOutputPath(out, sizeof out, "\\out", name.c_str()));
  EXPECT_STREQ(out, "");
  const std::string fits(kPathBufferSize - 1 - 5, 'n');
  EXPECT_TRUE(JoinOutputPath(out, sizeof out, "\\out", fits.c_str()));
  EXPECT_EQ(strlen(out), kPathBufferSize - 1);
  EXPECT_FALSE(JoinOutputPath(out, sizeof out, "\\outx", fits.c_str()));
}

TEST_F(OutputTest, SingleOutputName) {
  char out[kPathBufferSize];
  ASSERT_TRUE(SingleOutputName(out, "\\x\\y.gz", nullptr));
  EXPECT_STREQ(out, "y");
  ASSERT_TRUE(SingleOutputName(out, "\\x\\y.gz", "ungzip"));
  EXPECT_STREQ(out, "y.gz.ungzip");
  ASSERT_TRUE(SingleOutputName(out, "\\x\\data", "ungzip"));
  EXPECT_STREQ(out, "data.ungzip");
  ASSERT_TRUE(SingleOutputName(out, "\\x\\a.tar.gz", nullptr));
  EXPECT_STREQ(out, "a.tar");
  const std::string longName = "\\x\\" + std::string(255, 'a') + ".gz";
  EXPECT_FALSE(SingleOutputName(out, longName.c_str(), "ungzip"));
}

TEST_F(OutputTest, PrepareOutputPathSanitisesAndCreatesFolders) {
  TempDir tmp;
  std::string path = ProgramPath(tmp.path()) + "\\out\\dir/sub\\a:b?.txt";
  std::vector<char> buf(path.begin(), path.end());
  buf.push_back('\0');
  PrepareOutputPath(buf.data());
  EXPECT_EQ(std::string(buf.data()), ProgramPath(tmp.path()) + "\\out\\dir\\sub\\a_b_.txt");
  EXPECT_TRUE(testutil::IsDirectory(tmp / "out/dir/sub"));
  EXPECT_FALSE(testutil::FileExists(tmp / "out/dir/sub/a_b_.txt"));
}

TEST_F(OutputTest, PrepareOutputPathKeepsDoubleByteCharacters) {
  TempDir tmp;
  // 0x83 0x5C (a katakana whose second byte is "\") must not split a folder;
  // control bytes and bytes that are no character become "_".
  std::string path = ProgramPath(tmp.path()) + "\\\x83\x5C\\x\x01\x7F\xFD<>|*\"y";
  std::vector<char> buf(path.begin(), path.end());
  buf.push_back('\0');
  PrepareOutputPath(buf.data());
  EXPECT_EQ(std::string(buf.data()), ProgramPath(tmp.path()) + "\\\x83\x5C\\x________y");
  EXPECT_TRUE(testutil::IsDirectory(tmp / "\xE3\x82\xBD"));  // UTF-8 of U+30BD
}

std::string ReadAllLines(const std::string& data, int capacity) {
  FILE* f = fmemopen(const_cast<char*>(data.data()), data.size(), "rb");
  std::string result;
  std::vector<char> buf(static_cast<size_t>(capacity > 0 ? capacity : 1));
  for (;;) {
    char* line = ReadTextLine(buf.data(), capacity, f);
    result += "[" + std::string(buf.data()) + "]";
    if (line == nullptr) break;
  }
  fclose(f);
  return result;
}

TEST_F(OutputTest, ReadTextLineEndings) {
  EXPECT_EQ(ReadAllLines("ab\rcd", 100), "[ab][cd]");
  EXPECT_EQ(ReadAllLines("ab\r\ncd\n", 100), "[ab][cd][]");
  EXPECT_EQ(ReadAllLines("ab\n\ncd", 100), "[ab][][cd]");
  EXPECT_EQ(ReadAllLines(std::string("a\0b\n", 4), 100), "[a][b][]");
  EXPECT_EQ(ReadAllLines("abcdefg\n", 4), "[abc][def][g][]");
  EXPECT_EQ(ReadAllLines("x\r", 100), "[x]");
}

TEST_F(OutputTest, StampUnixTimeSetsTheExactInstant) {
  TempDir tmp;
  const std::string host = tmp / "f";
  testutil::WriteFile(host, "x");
  StampUnixTime(ProgramPath(host).c_str(), 1000000000u);
  struct stat st;
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1000000000);
}

TEST_F(OutputTest, StampDosTimeTakesTheTimeAsLocal) {
  TempDir tmp;
  const std::string host = tmp / "f";
  testutil::WriteFile(host, "x");
  const char* oldTz = getenv("TZ");
  std::string saved = oldTz ? oldTz : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  // 2001-01-01 13:26:58
  StampDosTime(ProgramPath(host).c_str(), 0x2A21, 0x6B5D);
  struct stat st;
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 978355618);
  // Date 0 (month 0, day 0) is refused: the time stays as it was.
  StampDosTime(ProgramPath(host).c_str(), 0, 0);
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 978355618);
  if (oldTz) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}

TEST_F(OutputTest, ReadOnlyAttributeClearsWriteBits) {
  TempDir tmp;
  const std::string host = tmp / "f";
  testutil::WriteFile(host, "x");
  SetAttributes(ProgramPath(host).c_str(), kAttrArchiveReadOnly);
  struct stat st;
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  SetAttributes(ProgramPath(host).c_str(), kAttrArchive);
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0200, 0u);
}

}  // namespace
