// The options form's everyday habits, run as a process: standard input as
// an archive, members to standard output, choosing members, the test
// summary, notices that name their archive, format names, -f folders and
// the bare form that takes options.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using testutil::Fixture;
using testutil::ListFiles;
using testutil::ReadFile;
using testutil::TempDir;

const char kNumbersSha[] = "2e57c67a8bbe706a08d6638ec67da02b67b3743ae7d35948cbcf8d1f45cae0a5";

class HabitsTest : public ::testing::Test {
 protected:
  void SetUp() override { testutil::System("mkdir -p '" + work() + "'"); }
  std::string work() const { return tmp_ / "work"; }
  testutil::RunResult Run(const std::vector<std::string>& args, const std::string& input = "") {
    return testutil::RunDorvane(args, {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}}, input, work());
  }
  std::string Put(const std::string& fixture, const std::string& name) {
    testutil::WriteFile(work() + "/" + name, ReadFile(Fixture(fixture)));
    return name;
  }
  std::string Sha(const std::string& relative) { return testutil::Sha256Hex(ReadFile(work() + "/" + relative)); }
  TempDir tmp_;
};

// "-" reads the archive from standard input, a pipe or a redirected file;
// its format comes from its content and it is called "stdin".
TEST_F(HabitsTest, StandardInputIsAnArchive) {
  auto r = Run({"-l", "-"}, ReadFile(Fixture("tar/ustar.tgz")));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("stdin (", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(" tree/docs/readme.txt\n"), std::string::npos) << r.out;
  r = Run({"-o", "out", "-"}, ReadFile(Fixture("zip/deflate9.zip")));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Sha("out/numbers.txt"), kNumbersSha);
  // A gzip stream without a stored name is named after "stdin".
  r = Run({"-o", "gz", "-"}, ReadFile(Fixture("core/noname.gz")));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(work() + "/gz/stdin.ungzip"), ReadFile(Fixture("core/lines.txt")));
  // Redirected from a file: read where it stands.
  EXPECT_EQ(testutil::System("cd '" + work() + "' && DORVANE_REGISTRY='" + tmp_ / "registry.reg" + "' '" +
                             DORVANE_BINARY + "' -q -o file - < '" + Fixture("zip/deflate9.zip") + "'"),
            0);
  EXPECT_EQ(Sha("file/numbers.txt"), kNumbersSha);
  // Nothing, or text, is no archive; it is named as such.
  r = Run({"-t", "-"}, "just text\n");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err.rfind("stdin: not an archive this program reads\n", 0), 0u) << r.err;
}

}  // namespace
