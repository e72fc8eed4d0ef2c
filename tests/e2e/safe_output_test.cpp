// A member's file appears whole or not at all, and the same input gives the
// same files and messages every run, through the whole program: signals and
// SIGKILL in the middle of a member (over every way a member is written:
// TAR, TAR in gzip, ZIP, gzip, bzip2), a file and a folder of one name,
// and many members under a small descriptor limit. Archives are made here,
// field by field or with the libraries.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../unit/zip_encoders.h"
#include "support/bzip2_compress.h"
#include "support/testutil.h"

namespace {

using testutil::ReadFile;
using testutil::TempDir;
using testutil::Tar;
using testutil::TarHeader;
using testutil::TarMember;

// --- Archives ----------------------------------------------------------

std::string Gzip(const std::string& data) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Zip(const std::string& name, const std::string& data) {
  zipenc::ZipMember m;
  m.name = name;
  m.plain.assign(data.begin(), data.end());
  m.data = m.plain;
  const zipenc::Bytes bytes = zipenc::LocalHeaders({m});
  return std::string(bytes.begin(), bytes.end());
}

// Larger than a job of the output pool, so its file is written while it is
// decoded.
std::string BigData() {
  std::string data(3 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
  return data;
}

// --- Running the program -----------------------------------------------

// The program started with standard error to `errFile`; DORVANE_TEST_HOLD_MEMBER
// (when `hold` is not empty) stops it in the middle of that member.
pid_t Start(const std::vector<std::string>& args, const std::string& registry, const std::string& errFile,
            const std::string& hold) {
  const pid_t pid = fork();
  if (pid == 0) {
    // As from a terminal, whatever the test runner ignores.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    setenv("DORVANE_REGISTRY", registry.c_str(), 1);
    if (!hold.empty()) setenv("DORVANE_TEST_HOLD_MEMBER", hold.c_str(), 1);
    const int null = open("/dev/null", O_RDWR);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>(DORVANE_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(DORVANE_BINARY, argv.data());
    _exit(127);
  }
  return pid;
}

struct Format {
  const char* label;
  const char* archiveName;
  const char* member;  // the big member's output path
  std::string (*make)(const std::string& big);
};

const Format kFormats[] = {
    {"tar", "a.tar", "dir/big.bin",
     [](const std::string& big) { return Tar({{"dir/small.txt", "small"}, {"dir/big.bin", big}}); }},
    {"tgz", "a.tgz", "dir/big.bin",
     [](const std::string& big) { return Gzip(Tar({{"dir/small.txt", "small"}, {"dir/big.bin", big}})); }},
    {"zip", "a.zip", "dir/big.bin", [](const std::string& big) { return Zip("dir/big.bin", big); }},
    {"gzip", "big.bin.gz", "big.bin", [](const std::string& big) { return Gzip(big); }},
    {"bzip2", "big.bin.bz2", "big.bin",
     [](const std::string& big) { return testutil::Bzip2Compress<std::string>(big.data(), big.size(), 1); }},
};

// SIGKILL, or an interrupting signal, while a member's file is being
// written: nothing stands under its name, no temporary stays, and an
// interrupting signal says so and ends the program by that signal (a shell
// shows 128 + its number). Members that were complete stay.
TEST(SafeOutput, ASignalInTheMiddleOfAMemberLeavesNothingUnderItsName) {
  const std::string big = BigData();
  for (const Format& f : kFormats) {
    const std::string archive = f.make(big);
    for (const int sig : {SIGKILL, SIGINT, SIGTERM, SIGHUP}) {
      SCOPED_TRACE(std::string(f.label) + " " + strsignal(sig));
      TempDir tmp;
      testutil::WriteFile(tmp / f.archiveName, archive);
      const std::string out = tmp / "out", err = tmp / "err.txt";
      const std::string member = std::string(f.member).substr(std::string(f.member).rfind('/') + 1);
      const pid_t pid = Start({"-o", out, tmp / f.archiveName}, tmp / "registry.reg", err, member);
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
      ASSERT_TRUE(WIFSTOPPED(status)) << "never reached the member: " << status << ReadFile(err);
      // Being written, but not under its name.
      EXPECT_FALSE(testutil::FileExists(out + "/" + f.member));
      kill(pid, sig);
      kill(pid, SIGCONT);
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
      std::vector<std::string> expected;
      if (std::string(f.label).rfind("t", 0) == 0) expected.push_back("dir/small.txt");
      EXPECT_EQ(testutil::ListFiles(out), expected);
      if (sig != SIGKILL) {
        EXPECT_NE(ReadFile(err).find("dorvane: interrupted\n"), std::string::npos) << ReadFile(err);
      }
    }
  }
}

// The file "a" and then "a/b", the folder "d/" and then a file "d", the
// name "r" twice, after enough small members to keep the output threads
// busy: the earlier member wins where a file and a folder meet (the later
// one is named, the archive FAILED), a name that comes again ends as its
// last member, and every run gives the same files and the same messages.
TEST(SafeOutput, MembersOfOnePathGiveTheSameResultEveryRun) {
  TempDir tmp;
  std::vector<TarMember> members;
  for (int i = 0; i < 300; ++i) members.push_back({"fill/f" + std::to_string(i % 30) + "/" + std::to_string(i), "x"});
  members.push_back({"a", "the file a"});
  members.push_back({"a/b", "below a"});
  members.push_back({"d/", "", '5'});
  members.push_back({"d", "a file where the folder d stands"});
  members.push_back({"r", "first r"});
  members.push_back({"r", "second r"});
  testutil::WriteFile(tmp / "paths.tar", Tar(members));
  const std::map<std::string, std::string> env = {{"DORVANE_REGISTRY", tmp / "registry.reg"}};
  std::string firstErr;
  std::vector<std::string> firstFiles;
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE(run);
    const std::string out = tmp / ("out" + std::to_string(run));
    const auto r = testutil::RunDorvane({"-o", out, tmp / "paths.tar"}, env);
    EXPECT_EQ(r.exitCode, 2);
    const std::vector<std::string> files = testutil::ListFiles(out);
    if (run == 0) {
      firstErr = r.err;
      firstFiles = files;
      EXPECT_EQ(r.err,
                "a/b: cannot be created: Not a directory\n"
                "d: cannot be created: Is a directory\n"
                " NOT_A_FILE: 0 times\nUNSUPPORTED: 0 times\n     FAILED: 1 times\n");
      EXPECT_EQ(ReadFile(out + "/a"), "the file a");
      EXPECT_TRUE(testutil::IsDirectory(out + "/d"));
      EXPECT_EQ(ReadFile(out + "/r"), "second r");
      EXPECT_EQ(files.size(), 302u);
    } else {
      EXPECT_EQ(r.err, firstErr);
      EXPECT_EQ(files, firstFiles);
      EXPECT_EQ(ReadFile(out + "/a"), "the file a");
      EXPECT_EQ(ReadFile(out + "/r"), "second r");
    }
    testutil::System("rm -rf '" + out + "'");
  }
}

// Empty and one-byte members under a descriptor limit of 256: the output
// threads hold a bounded number of folders open, whatever the number of
// members and folders. The figure is 100,000 of each (about 40 s
// here, most of it the file system making 200,000 files); 5,000 of each,
// the one-byte ones spread over 1,000 folders, already pass the old limit
// many times over and keep the test to a few seconds.
TEST(SafeOutput, ManySmallMembersUnderADescriptorLimit) {
  constexpr int kMembers = 5000;
  TempDir tmp;
  std::string tar;
  char name[64];
  for (int i = 0; i < kMembers; ++i) {
    snprintf(name, sizeof name, "empty/%06d", i);
    tar += TarHeader(name, 0);
  }
  for (int i = 0; i < kMembers; ++i) {
    snprintf(name, sizeof name, "one/%03d/%06d", i % 1000, i);
    tar += TarHeader(name, 1) + "1" + std::string(511, '\0');
  }
  tar += std::string(1024, '\0');
  testutil::WriteFile(tmp / "many.tar", tar);
  const std::string out = tmp / "out";
  const int status = testutil::System("ulimit -n 256 && DORVANE_REGISTRY='" + tmp / "registry.reg" + "' '" +
                                      DORVANE_BINARY + "' -o '" + out + "' '" + tmp / "many.tar" + "' 2>'" +
                                      tmp / "err.txt" + "'");
  EXPECT_EQ(status, 0) << ReadFile(tmp / "err.txt");
  EXPECT_EQ(ReadFile(tmp / "err.txt"), "");
  const std::vector<std::string> files = testutil::ListFiles(out);
  EXPECT_EQ(files.size(), 2u * kMembers);
  EXPECT_EQ(ReadFile(out + "/one/999/004999"), "1");
}

}  // namespace
