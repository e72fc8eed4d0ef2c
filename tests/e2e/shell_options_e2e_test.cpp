// The options form and the plain forms run as a process from a folder of
// their own: output folder, list, test, keep, password, verbose, several
// archives, help, and command lines that are refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "shell/options.h"
#include "support/testutil.h"

namespace {

using testutil::Fixture;
using testutil::ListFiles;
using testutil::ReadFile;
using testutil::TempDir;

const char kLines[] = "core/lines.txt";
const char kSeeHelp[] = "see 'dorvane --help' for the options\n";

class OptionsTest : public ::testing::Test, protected testutil::WorkFolder {
 protected:
  using WorkFolder::Run;  // not the gtest one
};

TEST_F(OptionsTest, HelpAndVersion) {
  for (const char* option : {"-h", "--help"}) {
    const auto r = Run({option});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kHelpText);
    EXPECT_EQ(r.err, "");
  }
  const auto r = Run({"-V"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(std::regex_match(r.out, std::regex("dorvane [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << r.out;
}

TEST_F(OptionsTest, BadCommandLinesTouchNothing) {
  Put("core/noname.gz", "a.gz");
  const std::vector<std::vector<std::string>> rows = {
      {"--bogus", "a.gz"},
      {"-x", "a.gz"},
      {"-v", "a.gz", "-o"},
      {"-l", "-t", "a.gz"},
      {"-v"},
      {"--password-file", "no-such-file", "a.gz"},
      {"-o", "a.gz", "a.gz"},  // the output folder is a file
      {"-l", "-", "-"},        // standard input twice
  };
  for (const auto& args : rows) {
    const auto r = Run(args);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    ASSERT_GE(r.err.size(), sizeof kSeeHelp) << args[0];
    EXPECT_EQ(r.err.substr(0, 9), "dorvane: ") << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - (sizeof kSeeHelp - 1)), kSeeHelp) << r.err;
    EXPECT_EQ(ListFiles(tmp_.path()), std::vector<std::string>{"work/a.gz"}) << args[0];
  }
  // What the user typed is quoted with its control characters escaped.
  const auto r = Run({"--\x1b[2J\xc2\x9b\t", "a.gz"});
  EXPECT_EQ(r.err.rfind("dorvane: unknown or ambiguous option '--\\033[2J\\302\\233\\t'\n", 0), 0u) << r.err;
}

TEST_F(OptionsTest, OutputFolderAndFolderPerArchive) {
  Put("core/noname.gz", "x.tar.gz");
  // Default: the current folder; -o is made when missing, relative to it.
  auto r = Run({"-q", "x.tar.gz"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(work() + "/x.tar"), ReadFile(Fixture(kLines)));
  r = Run({"-o", "new/deeper", "x.tar.gz"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(work() + "/new/deeper/x.tar"), ReadFile(Fixture(kLines)));
  r = Run({"-f", "--output=" + tmp_ / "out", "x.tar.gz"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(tmp_ / "out/x/x.tar"), ReadFile(Fixture(kLines)));
  // The options form stores nothing.
  EXPECT_EQ(ReadFile(tmp_ / "registry.reg").find("ExtractPath"), std::string::npos);
}

// A symbolic link standing where the archive's own folder goes (-f) is
// refused as a link deeper down is: nothing is written through it.
TEST_F(OptionsTest, FolderPerArchiveIsNeverALink) {
  Put("core/noname.gz", "x.tar.gz");
  testutil::System("mkdir -p '" + tmp_ / "out" + "' '" + tmp_ / "elsewhere" + "'");
  ASSERT_EQ(symlink((tmp_ / "elsewhere").c_str(), (tmp_ / "out/x").c_str()), 0);
  const auto r = Run({"-f", "-o", tmp_ / "out", "x.tar.gz"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("out/x: is a symbolic link; not followed"), std::string::npos) << r.err;
  EXPECT_TRUE(ListFiles(tmp_ / "elsewhere").empty());
}

// Names reach the terminal with their control characters escaped, in the
// listing, the -v lines and the notices; the file keeps its own name.
TEST_F(OptionsTest, ControlCharactersInNamesAreShownEscaped) {
  const std::string name = "a\x1b]0;t\x07\x1b[2K\rok.txt";
  // A gzip file whose stored name is `name`: header, raw deflate of "hi", CRC-32 and size.
  std::string gz("\x1f\x8b\x08\x08\0\0\0\0\0\x03", 10);
  gz += name + '\0' + std::string("\xcb\xc8\x04\x00", 4) + std::string("\xac\x2a\x93\xd8\x02\0\0\0", 8);
  testutil::WriteFile(work() + "/n.gz", gz);
  const std::string shown = "a\\033]0;t\\a\\033[2K\\rok.txt";
  auto r = Run({"-l", "n.gz"});
  EXPECT_NE(r.out.find("  " + shown + "\n"), std::string::npos) << r.out;
  r = Run({"-v", "n.gz"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, shown + "\n");
  EXPECT_EQ(ListFiles(work()).size(), 2u);  // n.gz and the member's file
  r = Run({"-k", "n.gz"});
  EXPECT_NE(r.err.find(shown + ": exists; kept"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
}

TEST_F(OptionsTest, SeveralArchivesWithOneMissing) {
  Put("core/noname.gz", "a.gz");
  Put("core/lines.txt.bz2", "b.bz2");
  const auto r = Run({"-o", "out", "a.gz", "missing.gz", "b.bz2"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "missing.gz: no such file\n NOT_A_FILE: 1 times\nUNSUPPORTED: 0 times\n     FAILED: 0 times\n");
  EXPECT_EQ(ReadFile(work() + "/out/a"), ReadFile(Fixture(kLines)));
  EXPECT_EQ(ReadFile(work() + "/out/b"), ReadFile(Fixture(kLines)));
}

TEST_F(OptionsTest, KeepNamesAndSkipsAnExistingFile) {
  Put("core/lines.txt.bz2", "lines.txt.bz2");
  testutil::WriteFile(work() + "/lines.txt", "mine");
  auto r = Run({"-k", "lines.txt.bz2"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "lines.txt: exists; kept, not replaced\n");
  EXPECT_EQ(ReadFile(work() + "/lines.txt"), "mine");
  r = Run({"-q", "lines.txt.bz2"});  // without -k it is replaced
  EXPECT_EQ(ReadFile(work() + "/lines.txt"), ReadFile(Fixture(kLines)));
}

TEST_F(OptionsTest, TestWritesNothingAndNamesWhatFails) {
  Put("core/named.gz", "good.gz");
  std::string damaged = ReadFile(Fixture("core/noname.gz"));
  damaged[damaged.size() - 6] ^= 0x5A;  // the stored CRC-32
  testutil::WriteFile(work() + "/bad.gz", damaged);
  auto r = Run({"-t", "-v", "good.gz"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "hello.txt: OK\ngood.gz: 1 member tested, all OK\n");
  r = Run({"-t", "bad.gz", "good.gz"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err.rfind("bad.gz: bad: ", 0), 0u) << r.err;  // several archives: each notice names its own
  EXPECT_NE(r.err.find("     FAILED: 1 times"), std::string::npos) << r.err;
  EXPECT_EQ(ListFiles(work()), (std::vector<std::string>{"bad.gz", "good.gz"}));
}

TEST_F(OptionsTest, VerboseNamesEachMemberWritten) {
  Put("core/named.gz", "n.gz");
  const auto r = Run({"-v", "n.gz"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "hello.txt\n");
}

// -l lists the names and sizes the archive's maker reports, and writes
// nothing, for every format.
TEST_F(OptionsTest, ListShowsNamesAndSizes) {
  const struct {
    const char* fixture;
    const char* name;
    const char* size;
  } rows[] = {
      {"core/named.gz", "hello.txt", "45"},         // gzip -l
      {"core/lines.txt.bz2", "lines.txt", "13690"},  // bzip2 -dc | wc -c
      {"tar/note.Z", "note", "18"},                  // uncompress -c | wc -c
      {"tar/gnu.tar", "tree/docs/readme.txt", "15"},           // tar tv
      {"tar/ustar.tgz", "tree/docs/readme.txt", "15"},         // tar tv
      {"tar/posix.tar.bz2", "tree/docs/readme.txt", "15"},     // tar tv
      {"zip/deflate9.zip", "docs/fox.txt", "13200"},           // unzip -l
      {"lzh/level2_lh7.lzh", "long.txt", "145240"},            // lha l
      {"arj/text.arj", "zeros.txt", "1500"},                   // arj l
      {"cab/mszip.cab", "big/text.txt", "1200000"},            // gcab -l -v
      {"lines/plain.uu", "data.bin", "3000"},                  // the encoded file
      {"lines/one.mim", "data.bin", "3000"},                   // mpack's attachment
      {"lines/sections.ntx", "data.bin", "3000"},              // yEnc
  };
  for (const auto& row : rows) {
    const std::string name = std::string(row.fixture).substr(std::string(row.fixture).find('/') + 1);
    Put(row.fixture, name);
    const auto r = Run({"-l", name});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(std::string(" ") + row.size + " .* " + row.name + "\n")))
        << r.out;
    EXPECT_NE(r.out.find(std::string("\n---------- ----------\n")), std::string::npos) << r.out;
    EXPECT_EQ(ListFiles(work()), std::vector<std::string>{name});
    testutil::System("rm -f '" + work() + "/" + name + "'");
  }
}

TEST_F(OptionsTest, PasswordWithoutThePrompt) {
  Put("zip/enc-stored.zip", "enc.zip");
  testutil::WriteFile(tmp_ / "pw", "secret\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-p", "secret", "-o", "a", "enc.zip"},
        std::vector<std::string>{"--password-file", tmp_ / "pw", "-o", "b", "enc.zip"}}) {
    const auto r = Run(args, "not this\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(testutil::Sha256Hex(ReadFile(work() + "/" + args[3] + "/numbers.txt")),
              "2e57c67a8bbe706a08d6638ec67da02b67b3743ae7d35948cbcf8d1f45cae0a5");
  }
  // A wrong one is not asked again: the member is not written, the archive
  // fails.
  const auto r = Run({"-p", "wrong", "-o", "c", "enc.zip"}, "secret\nsecret\nsecret\n");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err.find("Password"), std::string::npos) << r.err;
  EXPECT_FALSE(testutil::FileExists(work() + "/c/numbers.txt"));
}

// The plain form: with nothing stored the current folder (never "/"), and
// several arguments that name no file together are several archives.
TEST_F(OptionsTest, PlainFormDefaultsToTheCurrentFolder) {
  Put("core/noname.gz", "a.gz");
  Put("core/lines.txt.bz2", "b.bz2");
  Put("core/named.gz", "two words.gz");
  auto r = Run({"a.gz", "b.bz2"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(work() + "/a"), ReadFile(Fixture(kLines)));
  EXPECT_EQ(ReadFile(work() + "/b"), ReadFile(Fixture(kLines)));
  r = Run({"two", "words.gz"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(testutil::FileExists(work() + "/hello.txt"));
  r = Run({"a.gz", "missing.gz"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "missing.gz: no such file\n NOT_A_FILE: 1 times\nUNSUPPORTED: 0 times\n     FAILED: 0 times\n");
}

}  // namespace
