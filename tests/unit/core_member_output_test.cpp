// The member output road: links below the output folder, keeping existing
// files, testing and listing that write nothing, checksums, failed writes.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "core/charset.h"
#include "core/checksum.h"
#include "core/member_output.h"
#include "support/testutil.h"

namespace {

using testutil::ReadFile;
using testutil::TempDir;

std::string ProgramPath(std::string host) {
  for (char& c : host) {
    if (c == '/') c = '\\';
  }
  return host;
}

class MemberOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DORVANE_CODEPAGE");
    BuildLeadByteTable();
    g_RunOptions = RunOptions{};
    ResetArchiveOutcome();
    folder_ = ProgramPath(dir_ / "out");
    mkdir((dir_ / "out").c_str(), 0777);
    mkdir((dir_ / "elsewhere").c_str(), 0777);
  }
  void TearDown() override { g_RunOptions = RunOptions{}; }

  // One member through the road; true when Begin asked for its data.
  bool Put(const char* name, const std::string& data, MemberEnd end = MemberEnd::kComplete,
           ChecksumKind kind = ChecksumKind::kNone, uint32_t stored = 0) {
    MemberOutput out(folder_.c_str());
    MemberInfo info;
    info.name = name;
    info.size = data.size();
    info.checksum = kind;
    info.hasStoredChecksum = kind != ChecksumKind::kNone;
    info.storedChecksum = stored;
    info.SetUnixTime(1000000000);
    if (!out.Begin(info)) return false;
    out.Write(data.data(), data.size());
    out.End(end);
    return true;
  }
  std::string Out(const std::string& name) const { return dir_ / ("out/" + name); }

  TempDir dir_;
  std::string folder_;
};

TEST_F(MemberOutputTest, WritesAndStampsThroughTheFolders) {
  ASSERT_TRUE(Put("sub\\deeper\\a.txt", "hello"));
  EXPECT_EQ(ReadFile(Out("sub/deeper/a.txt")), "hello");
  struct stat st;
  ASSERT_EQ(stat(Out("sub/deeper/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1000000000);
  EXPECT_FALSE(g_ArchiveOutcome.failed);
}

TEST_F(MemberOutputTest, LinksBelowTheFolderAreNeverFollowed) {
  testutil::WriteFile(dir_ / "elsewhere/target.txt", "keep me");
  ASSERT_EQ(symlink((dir_ / "elsewhere/target.txt").c_str(), Out("a.txt").c_str()), 0);
  ASSERT_EQ(symlink((dir_ / "elsewhere").c_str(), Out("sub").c_str()), 0);
  // A link where the file goes is replaced by the file.
  ASSERT_TRUE(Put("a.txt", "new"));
  struct stat st;
  ASSERT_EQ(lstat(Out("a.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadFile(Out("a.txt")), "new");
  EXPECT_FALSE(g_ArchiveOutcome.failed);
  // A link where a folder goes is not followed: the member is skipped.
  EXPECT_FALSE(Put("sub\\b.txt", "b"));
  EXPECT_TRUE(g_ArchiveOutcome.failed);
  EXPECT_EQ(ReadFile(dir_ / "elsewhere/target.txt"), "keep me");
  EXPECT_FALSE(testutil::FileExists(dir_ / "elsewhere/b.txt"));
}

TEST_F(MemberOutputTest, TheOutputFolderItselfMayBeALink) {
  ASSERT_EQ(symlink((dir_ / "elsewhere").c_str(), (dir_ / "linked").c_str()), 0);
  folder_ = ProgramPath(dir_ / "linked");
  ASSERT_TRUE(Put("a.txt", "x"));
  EXPECT_EQ(ReadFile(dir_ / "elsewhere/a.txt"), "x");
}

TEST_F(MemberOutputTest, KeepLeavesAnExistingFileAlone) {
  testutil::WriteFile(Out("a.txt"), "old");
  g_RunOptions.keepExisting = true;
  EXPECT_FALSE(Put("a.txt", "new"));
  EXPECT_EQ(ReadFile(Out("a.txt")), "old");
  EXPECT_TRUE(Put("b.txt", "new"));
  EXPECT_FALSE(g_ArchiveOutcome.failed);
}

TEST_F(MemberOutputTest, TestAndListWriteNothing) {
  for (RunMode mode : {RunMode::kTest, RunMode::kList}) {
    g_RunOptions.mode = mode;
    Put("a.txt", "data");
  }
  EXPECT_TRUE(testutil::ListFiles(dir_ / "out").empty());
}

TEST_F(MemberOutputTest, ChecksumsAndDamageCountAsFailuresButKeepTheFile) {
  const uint32_t crc32 = Crc32Update(0, "data", 4);
  const uint16_t crc16 = Crc16Update(0, "data", 4);
  struct Row {
    ChecksumKind kind;
    uint32_t stored;
    MemberEnd end;
    bool fails;
  } rows[] = {
      {ChecksumKind::kCrc32, crc32, MemberEnd::kComplete, false},
      {ChecksumKind::kCrc32, crc32 ^ 1, MemberEnd::kComplete, true},
      {ChecksumKind::kCrc16, crc16, MemberEnd::kComplete, false},
      {ChecksumKind::kCrc16, crc16 ^ 1u, MemberEnd::kComplete, true},
      {ChecksumKind::kNone, 0, MemberEnd::kDamaged, true},
      {ChecksumKind::kNone, 0, MemberEnd::kTruncated, true},
  };
  for (const Row& row : rows) {
    ResetArchiveOutcome();
    ASSERT_TRUE(Put("a.txt", "data", row.end, row.kind, row.stored));
    EXPECT_EQ(g_ArchiveOutcome.failed, row.fails) << static_cast<int>(row.kind) << " " << row.stored;
    EXPECT_EQ(ReadFile(Out("a.txt")), "data");
  }
  // A checksum the reader itself found wrong keeps the file as well.
  ResetArchiveOutcome();
  {
    MemberOutput out(folder_.c_str());
    MemberInfo info;
    info.name = "b.txt";
    ASSERT_TRUE(out.Begin(info));
    out.Write("data", 4);
    out.ReportChecksumError(1, 2);
    out.End(MemberEnd::kDamaged);
  }
  EXPECT_TRUE(g_ArchiveOutcome.failed);
  EXPECT_EQ(ReadFile(Out("b.txt")), "data");
}

TEST_F(MemberOutputTest, AFailedWriteRemovesThePartialFile) {
  // In a child: a file size limit of 4 KiB with SIGXFSZ ignored makes the
  // write fail with EFBIG.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool begun = Put("big.bin", std::string(1 << 20, 'x'));
    _exit(begun && g_ArchiveOutcome.failed && !g_ArchiveOutcome.ended ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(testutil::FileExists(Out("big.bin")));
}

TEST_F(MemberOutputTest, AFileInTheWayOfAFolderFailsTheMember) {
  testutil::WriteFile(Out("sub"), "plain file");
  EXPECT_FALSE(Put("sub\\x.txt", "x"));
  EXPECT_TRUE(g_ArchiveOutcome.failed);
  EXPECT_EQ(ReadFile(Out("sub")), "plain file");
}

TEST_F(MemberOutputTest, FilesWrittenOnWorkersKeepTheArchiveOrder) {
  // Small members are written on worker threads: a name that comes back
  // ends as its last member, whatever folder the others went to, and a
  // file that cannot be created is named once the road ends.
  ASSERT_EQ(mkdir(Out("blocked").c_str(), 0777), 0);
  {
    MemberOutput out(folder_.c_str());
    for (int i = 0; i < 300; ++i) {
      const std::string name = i % 3 == 0 ? "same.txt" : "d" + std::to_string(i % 7) + "\\f.txt";
      const std::string data = std::to_string(i);
      MemberInfo info;
      info.name = name.c_str();
      ASSERT_TRUE(out.Begin(info));
      out.Write(data.data(), data.size());
      out.End(MemberEnd::kComplete);
    }
    MemberInfo info;
    info.name = "blocked";
    ASSERT_TRUE(out.Begin(info));
    out.End(MemberEnd::kComplete);
  }
  EXPECT_EQ(ReadFile(Out("same.txt")), "297");
  for (int d = 0; d < 7; ++d) {
    int last = 299;
    while (last % 3 == 0 || last % 7 != d) --last;
    EXPECT_EQ(ReadFile(Out("d" + std::to_string(d) + "/f.txt")), std::to_string(last));
  }
  EXPECT_TRUE(g_ArchiveOutcome.failed);
}

}  // namespace
