// The member output road: links below the output folder, keeping existing
// files, testing and listing that write nothing, checksums, failed writes,
// files that appear under their names only when complete (on both roads:
// anonymous files and temporary names), and the order of members that share
// a path.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

#include "core/charset.h"
#include "core/checksum.h"
#include "core/interrupt.h"
#include "core/member_output.h"
#include "core/output_pool.h"
#include "platform/output_file.h"
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
  void TearDown() override {
    g_RunOptions = RunOptions{};
    ChooseOutputRoad(OutputRoad::kAnonymous);
  }

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

TEST_F(MemberOutputTest, AChecksumErrorKeepsTheFileDamageLeavesNothing) {
  const uint32_t crc32 = Crc32Update(0, "data", 4);
  const uint16_t crc16 = Crc16Update(0, "data", 4);
  struct Row {
    ChecksumKind kind;
    uint32_t stored;
    MemberEnd end;
    bool fails;
    bool kept;
  } rows[] = {
      {ChecksumKind::kCrc32, crc32, MemberEnd::kComplete, false, true},
      {ChecksumKind::kCrc32, crc32 ^ 1, MemberEnd::kComplete, true, true},
      {ChecksumKind::kCrc16, crc16, MemberEnd::kComplete, false, true},
      {ChecksumKind::kCrc16, crc16 ^ 1u, MemberEnd::kComplete, true, true},
      {ChecksumKind::kNone, 0, MemberEnd::kDamaged, true, false},
      {ChecksumKind::kNone, 0, MemberEnd::kTruncated, true, false},
  };
  for (const Row& row : rows) {
    ResetArchiveOutcome();
    unlink(Out("a.txt").c_str());
    ASSERT_TRUE(Put("a.txt", "data", row.end, row.kind, row.stored));
    EXPECT_EQ(g_ArchiveOutcome.failed, row.fails) << static_cast<int>(row.kind) << " " << row.stored;
    EXPECT_EQ(testutil::FileExists(Out("a.txt")), row.kept) << static_cast<int>(row.end);
    if (row.kept) {
      EXPECT_EQ(ReadFile(Out("a.txt")), "data");
    }
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


// Members that share a path meet in archive order, whatever the worker
// threads' timing: the earlier member wins where a file and a folder want
// the same name (the later one is named and fails), a name that comes again
// ends as its last member.
TEST_F(MemberOutputTest, MembersSharingAPathMeetInArchiveOrder) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    testutil::System("rm -rf '" + Out("") + "'; mkdir '" + Out("") + "'");
    ResetArchiveOutcome();
    {
      MemberOutput out(folder_.c_str());
      auto put = [&](const std::string& name, const std::string& data, bool isFolder = false) {
        MemberInfo info;
        info.name = name.c_str();
        info.isFolder = isFolder;
        info.size = data.size();
        if (!out.Begin(info)) return false;
        out.Write(data.data(), data.size());
        out.End(MemberEnd::kComplete);
        return true;
      };
      // Work queued for the threads first, so the files below wait.
      for (int i = 0; i < 200; ++i) put("fill\\f" + std::to_string(i % 40) + "\\" + std::to_string(i), "x");
      put("a", "first");
      EXPECT_FALSE(put("a\\b", "second"));  // its folder would be the file "a"
      put("d", "", true);
      put("d", "a file where a folder stands");
      put("r", "one");
      put("r", "two");
    }
    EXPECT_EQ(ReadFile(Out("a")), "first");
    EXPECT_TRUE(testutil::IsDirectory(Out("d")));
    EXPECT_EQ(ReadFile(Out("r")), "two");
    EXPECT_TRUE(g_ArchiveOutcome.failed);
  }
}

// A process looping unlink + link(victim, out/x) while members named x are
// written: the name is replaced each time, the victim is never written.
TEST_F(MemberOutputTest, ALinkPlantedUnderTheNameIsNeverWrittenThrough) {
  const std::string victim = dir_ / "elsewhere/victim";
  testutil::WriteFile(victim, "keep me");
  std::atomic<bool> stop{false};
  std::thread planter([&] {
    while (!stop.load()) {
      unlink(Out("x").c_str());
      link(victim.c_str(), Out("x").c_str());
    }
  });
  {
    MemberOutput out(folder_.c_str());
    for (int i = 0; i < 2000; ++i) {
      const std::string data = i % 500 == 499 ? std::string(OutputPool::kJobBytes + 1, 'B') : "member " + std::to_string(i);
      MemberInfo info;
      info.name = "x";
      info.size = data.size();
      ASSERT_TRUE(out.Begin(info));
      out.Write(data.data(), data.size());
      out.End(MemberEnd::kComplete);
    }
  }
  stop = true;
  planter.join();
  EXPECT_EQ(ReadFile(victim), "keep me");
}

// Every road: an anonymous file (where the file system has O_TMPFILE), a
// hidden temporary name, and an anonymous file that cannot be linked and is
// copied to a temporary name at the end.
class MemberOutputRoadTest : public MemberOutputTest, public ::testing::WithParamInterface<OutputRoad> {
 protected:
  void SetUp() override {
    MemberOutputTest::SetUp();
    ChooseOutputRoad(GetParam());
  }
  // True when the member being written has no name until it is complete.
  bool Anonymous() const {
    const int fd = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
    const bool works = AnonymousOutputFilesWork(fd);
    close(fd);
    return works && GetParam() != OutputRoad::kTemporaryName;
  }
  // The child writes part of a large member, then `finish` ends it.
  template <typename Finish>
  int KillMidMember(const std::string& errFile, Finish finish) {
    const pid_t child = fork();
    if (child == 0) {
      const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, STDERR_FILENO);
      MemberOutput out(folder_.c_str());
      MemberInfo info;
      info.name = "sub\\big.bin";
      info.size = 8 << 20;
      if (!out.Begin(info)) _exit(3);
      const std::string part(1 << 20, 'p');
      out.Write(part.data(), part.size());
      finish();
      _exit(4);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
  }
};

TEST_P(MemberOutputRoadTest, OnlyAWholeMemberReplacesWhatStoodThere) {
  // "a.txt" is a hard link to a file outside: replacing must replace the
  // name, never write into the file.
  const std::string victim = dir_ / "elsewhere/victim";
  testutil::WriteFile(victim, "old");
  ASSERT_EQ(link(victim.c_str(), Out("a.txt").c_str()), 0);
  for (const size_t size : {size_t{5}, OutputPool::kJobBytes + 5}) {
    SCOPED_TRACE(size);
    const std::string data(size, 'n'), before = ReadFile(Out("a.txt"));
    EXPECT_TRUE(Put("a.txt", data, MemberEnd::kDamaged));
    EXPECT_TRUE(Put("a.txt", data, MemberEnd::kTruncated));
    EXPECT_EQ(ReadFile(Out("a.txt")), before);
    EXPECT_TRUE(Put("a.txt", data));
    EXPECT_EQ(ReadFile(Out("a.txt")), data);
    EXPECT_EQ(ReadFile(victim), "old");
    struct stat st;
    ASSERT_EQ(stat(Out("a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_mtime, 1000000000);
  }
  EXPECT_EQ(testutil::ListFiles(Out("")), std::vector<std::string>{"a.txt"});  // no temporaries left
}

TEST_P(MemberOutputRoadTest, AnInterruptRemovesTheMemberBeingWritten) {
  const std::string errFile = dir_ / "err.txt";
  const int status = KillMidMember(errFile, [] {
    signal(SIGTERM, SIG_DFL);  // as from a terminal, whatever the test runner ignores
    InstallInterruptHandlers();
    raise(SIGTERM);
  });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(ReadFile(errFile), "dorvane: interrupted\n");
  EXPECT_EQ(testutil::ListFiles(Out("")), std::vector<std::string>{});
}

TEST_P(MemberOutputRoadTest, AKilledRunLeavesNothingUnderTheNameAndTheNextRunClearsUp) {
  const int status = KillMidMember(dir_ / "err.txt", [] { raise(SIGKILL); });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  EXPECT_FALSE(testutil::FileExists(Out("sub/big.bin")));
  const std::vector<std::string> left = testutil::ListFiles(Out(""));
  if (Anonymous()) {
    EXPECT_EQ(left, std::vector<std::string>{});  // an anonymous file goes with its process
  } else {
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind("sub/.dorvane-part-", 0), 0u) << left[0];
  }
  // A temporary that a live program holds stays; the killed run's goes when
  // a later run writes into that folder.
  const std::string live = Out("sub/.dorvane-part-0123456789abcdef");
  testutil::WriteFile(live, "being written");
  const int liveFd = open(live.c_str(), O_RDONLY);
  ASSERT_EQ(flock(liveFd, LOCK_EX), 0);
  ASSERT_TRUE(Put("sub\\other.txt", "x"));
  EXPECT_EQ(testutil::ListFiles(Out("")),
            (std::vector<std::string>{"sub/.dorvane-part-0123456789abcdef", "sub/other.txt"}));
  close(liveFd);
}

INSTANTIATE_TEST_SUITE_P(Roads, MemberOutputRoadTest,
                         ::testing::Values(OutputRoad::kAnonymous, OutputRoad::kTemporaryName,
                                           OutputRoad::kAnonymousWithoutLink),
                         [](const auto& info) {
                           return info.param == OutputRoad::kAnonymous       ? "Anonymous"
                                  : info.param == OutputRoad::kTemporaryName ? "TemporaryName"
                                                                             : "AnonymousCopied";
                         });

}  // namespace
