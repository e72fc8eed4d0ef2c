// The options form's everyday habits, run as a process: standard input as
// an archive, members to standard output, choosing members, the test
// summary, notices that name their archive, format names, -f folders and
// the bare form that takes options.
#include <gtest/gtest.h>

#include <map>
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

class HabitsTest : public ::testing::Test, protected testutil::WorkFolder {
 protected:
  using WorkFolder::Run;  // not the gtest one
  std::string Sha(const std::string& relative) { return testutil::Sha256Hex(ReadFile(work() + "/" + relative)); }
};

// "-" reads the archive from standard input, a pipe or a redirected file;
// its format comes from its content and it is called "stdin".
TEST_F(HabitsTest, StandardInputIsAnArchive) {
  auto r = Run({"-l", "-"}, ReadFile(Fixture("tar/ustar.tgz")));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("stdin (tar.gz):\n", 0), 0u) << r.out;
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

// Standard input longer than what is kept in memory: the TAR family and the
// single streams read it as it comes, with no temporary file (TMPDIR names
// no folder); another format is copied into a temporary file first. Input
// that fits in memory needs no temporary file whatever its format.
TEST_F(HabitsTest, StandardInputIsStreamedWhereItCanBe) {
  if (!testutil::HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  ASSERT_EQ(testutil::System("cd '" + work() + "' && python3 -c \"import random, zipfile; "
                             "d = random.Random(5).randbytes(3 << 20); open('big.bin', 'wb').write(d); "
                             "zipfile.ZipFile('big.zip', 'w').writestr('big.bin', d)\" && "
                             "tar -cf big.tar big.bin && gzip -c big.tar > big.tgz && gzip -nc big.bin > big.gz"),
            0);
  const std::string big = Sha("big.bin");
  const std::map<std::string, std::string> noTemporary = {{"DORVANE_REGISTRY", tmp_ / "registry.reg"},
                                                          {"TMPDIR", tmp_ / "missing"}};
  const struct {
    std::string input;
    std::string out;
    std::string sha;
  } rows[] = {
      {ReadFile(work() + "/big.tar"), "tar/big.bin", big},
      {ReadFile(work() + "/big.tgz"), "tgz/big.bin", big},
      {ReadFile(work() + "/big.gz"), "gz/stdin.ungzip", big},
      {ReadFile(Fixture("zip/deflate9.zip")), "zip/numbers.txt", kNumbersSha},
  };
  for (const auto& row : rows) {
    const std::string folder = row.out.substr(0, row.out.find('/'));
    auto r = testutil::RunDorvane({"-q", "-o", folder, "-"}, noTemporary, row.input, work());
    EXPECT_EQ(r.exitCode, 0) << row.out << ": " << r.err;
    EXPECT_EQ(Sha(row.out), row.sha) << row.out;
  }
  // Cut short in the pipe: the member is named and lost.
  auto r = testutil::RunDorvane({"-q", "-o", "cut", "-"}, noTemporary, ReadFile(work() + "/big.tar").substr(0, 2 << 20),
                                work());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err.rfind("big.bin: the archive ends inside this member; not extracted\n", 0), 0u) << r.err;
  // A large ZIP needs its temporary file.
  r = testutil::RunDorvane({"-q", "-o", "zip", "-"}, noTemporary, ReadFile(work() + "/big.zip"), work());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err.rfind("stdin: no temporary file for standard input: ", 0), 0u) << r.err;
  r = Run({"-q", "-o", "zip", "-"}, ReadFile(work() + "/big.zip"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Sha("zip/big.bin"), big);
}

}  // namespace

namespace {

// -c: the members' bytes one after another on standard output, in archive
// order, the names (-v) on standard error; a failed member still fails.
TEST_F(HabitsTest, MembersToStandardOutput) {
  Put("zip/deflate9.zip", "a.zip");
  ASSERT_EQ(Run({"-q", "-o", "x", "a.zip"}).exitCode, 0);
  auto r = Run({"-c", "-v", "a.zip"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string all;
  for (const char* name : {"numbers.txt", "docs/fox.txt", "docs/deep/zzz.txt", "random.bin", "empty.txt"})
    all += ReadFile(work() + "/x/" + name);
  EXPECT_TRUE(r.out == all) << r.out.size();
  EXPECT_EQ(r.err, "numbers.txt\ndocs/fox.txt\ndocs/deep/zzz.txt\nrandom.bin\nempty.txt\n");
  std::string damaged = ReadFile(Fixture("core/noname.gz"));
  damaged[damaged.size() - 6] ^= 0x5A;  // the stored CRC-32
  testutil::WriteFile(work() + "/bad.gz", damaged);
  r = Run({"-c", "bad.gz"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err.rfind("bad: damaged data\n", 0), 0u) << r.err;
  EXPECT_EQ(ListFiles(work()).size(), 7u);  // a.zip, bad.gz and x/'s five files
}

// A terminal takes one member: with a second, the run is refused and
// nothing is written, exit status 1; one member alone is shown.
TEST_F(HabitsTest, StandardOutputTerminalTakesOneMember) {
  if (!testutil::HaveTool("script")) GTEST_SKIP() << "script is not installed";
  Put("zip/deflate9.zip", "a.zip");
  const std::string log = tmp_ / "typescript";
  const int status = testutil::System("cd '" + work() + "' && DORVANE_REGISTRY='" + tmp_ / "registry.reg" +
                                      "' script -qec \"'" DORVANE_BINARY "' -q -c a.zip\" '" + log +
                                      "' > /dev/null 2>&1");
  EXPECT_EQ(status, 1);
  const std::string screen = ReadFile(log);
  EXPECT_EQ(screen.find("3000\r\n"), std::string::npos);  // numbers.txt, the first member
  EXPECT_NE(screen.find("dorvane: standard output is a terminal: docs/fox.txt would be a second member"),
            std::string::npos)
      << screen;
  const int one = testutil::System("cd '" + work() + "' && DORVANE_REGISTRY='" + tmp_ / "registry.reg" +
                                   "' script -qec \"'" DORVANE_BINARY "' -q -c -i numbers.txt a.zip\" '" + log +
                                   "' > /dev/null 2>&1");
  EXPECT_EQ(one, 0);
  EXPECT_NE(ReadFile(log).find("2999\r\n3000\r\n"), std::string::npos);
}

}  // namespace

namespace {

// -i and -x choose members alike in every mode; a pattern that matches
// nothing is named and the run ends with status 1.
TEST_F(HabitsTest, IncludeAndExcludeChooseMembers) {
  Put("zip/deflate9.zip", "a.zip");
  const std::vector<std::string> choose = {"-i", "docs/**", "-i", "*.bin", "-x", "**/deep"};
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), choose.begin(), choose.end());
    args.push_back("a.zip");
    return Run(args);
  };
  auto r = with({"-l"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(" docs/\n.* docs/fox.txt\n.* random.bin\n-+ -+\n.*  3 members\n")))
      << r.out;
  r = with({"-t", "-v"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("a.zip:")), "docs/fox.txt: OK\nrandom.bin: OK\n");
  r = with({"-q", "-o", "out"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ListFiles(work() + "/out"), (std::vector<std::string>{"docs/fox.txt", "random.bin"}));
  r = Run({"-c", "-i", "numbers.txt", "a.zip"});
  EXPECT_EQ(testutil::Sha256Hex(r.out), kNumbersSha);
  // Nothing chosen: named, status 1, nothing written.
  r = Run({"-o", "none", "-i", "*.doc", "-x", "nothing/**", "a.zip"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "dorvane: no member matches '*.doc'\ndorvane: no member matches 'nothing/**'\n");
  EXPECT_EQ(ListFiles(work() + "/none"), std::vector<std::string>{});
  // A fault of the archive itself is never left out: a .tgz without its
  // gzip trailer fails whichever members are chosen.
  const std::string tgz = ReadFile(Fixture("tar/ustar.tgz"));
  testutil::WriteFile(work() + "/cut.tgz", tgz.substr(0, tgz.size() - 8));
  r = Run({"-t", "-i", "tree/docs/**", "cut.tgz"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err.rfind("cut.tgz: the compressed data ends before its checksum", 0), 0u) << r.err;
}

}  // namespace

namespace {

// -t ends each archive with a line that counts its members and failures.
TEST_F(HabitsTest, TestEndsEachArchiveWithASummary) {
  Put("zip/deflate9.zip", "a.zip");
  std::string cut = ReadFile(Fixture("zip/deflate9.zip"));
  testutil::WriteFile(work() + "/cut.zip", cut.substr(0, 9000));  // inside random.bin
  std::string damaged = ReadFile(Fixture("core/noname.gz"));
  damaged[damaged.size() - 6] ^= 0x5A;
  testutil::WriteFile(work() + "/bad.gz", damaged);
  const auto r = Run({"-t", "a.zip", "cut.zip", "bad.gz", "-"}, ReadFile(Fixture("core/named.gz")));
  EXPECT_EQ(r.exitCode, 2);
  // The two folders count, as the listing counts them.
  EXPECT_EQ(r.out,
            "a.zip: 7 members tested, all OK\n"
            "cut.zip: 1 of 6 members FAILED\n"
            "bad.gz: 1 of 1 member FAILED\n"
            "stdin: 1 member tested, all OK\n");
}

}  // namespace

namespace {

// The listing's heading names the format as Linux users know it.
TEST_F(HabitsTest, ListingNamesTheFormat) {
  const std::vector<std::string> names = {Put("lzh/level2_lh7.lzh", "a.lzh"), Put("cab/mszip.cab", "b.cab"),
                                          Put("lines/plain.uu", "c.uu"), Put("core/named.gz", "d.gz"),
                                          Put("tar/posix.tar.bz2", "e.tar.bz2")};
  std::vector<std::string> args = {"-l"};
  args.insert(args.end(), names.begin(), names.end());
  const auto r = Run(args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string headings;
  for (size_t at = 0; at < r.out.size();) {
    const size_t end = r.out.find('\n', at);
    const std::string line = r.out.substr(at, end - at);
    if (line.back() == ':') headings += line + "\n";
    at = end + 1;
  }
  EXPECT_EQ(headings, "a.lzh (lzh):\nb.cab (cab):\nc.uu (uuencode):\nd.gz (gzip):\ne.tar.bz2 (tar.bz2):\n");
}

}  // namespace

namespace {

// -f names each folder after its archive without the archive extensions;
// archives of one run that would share a folder, or meet a file of that
// name, get "-2", "-3", ...
TEST_F(HabitsTest, FolderPerArchiveDropsArchiveExtensions) {
  Put("zip/deflate9.zip", "t.zip");
  Put("core/noname.gz", "t.tar.gz");
  Put("core/named.gz", "t.gz");
  Put("zip/deflate9.zip", "v1.2 release.zip");
  testutil::System("mkdir '" + work() + "/out'");
  testutil::WriteFile(work() + "/out/t-3", "a file");
  const auto r = Run({"-q", "-f", "-o", "out", "t.zip", "t.tar.gz", "t.gz", "v1.2 release.zip"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Sha("out/t/numbers.txt"), kNumbersSha);
  EXPECT_EQ(ReadFile(work() + "/out/t-2/t.tar"), ReadFile(Fixture("core/lines.txt")));
  EXPECT_TRUE(testutil::FileExists(work() + "/out/t-4/hello.txt"));
  EXPECT_EQ(Sha("out/v1.2 release/numbers.txt"), kNumbersSha);
}

}  // namespace

namespace {

// The bare form reads options given among archives that name no file, as
// GNU getopt permutes them; a bare run into a stored folder says where on
// a terminal, and nothing when scripted.
TEST_F(HabitsTest, BareFormTakesOptionsAndSaysWhereItExtracts) {
  Put("lines/plain.uu", "run.uue");
  auto r = Run({"run.uue", "-o", "dest"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(testutil::FileExists(work() + "/dest/data.bin"));
  EXPECT_EQ(ReadFile(tmp_ / "registry.reg").find("ExtractPath"), std::string::npos);  // stores nothing
  ASSERT_EQ(Run({"#P(" + tmp_ / "stored" + ")#F(run.uue)"}).exitCode, 0);
  r = Run({"run.uue"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  if (!testutil::HaveTool("script")) GTEST_SKIP() << "script is not installed";
  const std::string log = tmp_ / "typescript";
  EXPECT_EQ(testutil::System("cd '" + work() + "' && DORVANE_REGISTRY='" + tmp_ / "registry.reg" +
                             "' script -qec \"'" DORVANE_BINARY "' run.uue\" '" + log + "' > /dev/null 2>&1"),
            0);
  EXPECT_NE(ReadFile(log).find("dorvane: extracting into " + tmp_ / "stored" + "\r\n"), std::string::npos)
      << ReadFile(log);
}

}  // namespace

namespace {

// --json: one document per run that python3's json module reads; kinds,
// modes, link targets, times in UTC, encryption, names escaped as JSON
// wants, and in test mode each verdict.
TEST_F(HabitsTest, JsonListingForScripts) {
  if (!testutil::HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  Put("tar/ustar.tgz", "u.tgz");
  Put("zip/enc-stored.zip", "enc.zip");
  // A gzip file whose stored name holds ESC, a quote and a tab; its data
  // is "hi".
  std::string gz("\x1f\x8b\x08\x08\0\0\0\0\0\x03", 10);
  gz += std::string("n\x1b\"\t.txt") + '\0' + std::string("\xcb\xc8\x04\x00", 4) +
        std::string("\xac\x2a\x93\xd8\x02\0\0\0", 8);
  testutil::WriteFile(work() + "/n.gz", gz);
  const std::string summary =
      "import json, sys\n"
      "d = json.load(open(sys.argv[1]))\n"
      "for a in d['archives']:\n"
      "  print(a['path'], a['format'], a.get('verdict'))\n"
      "  for m in a['members']:\n"
      "    if m['kind'] != 'folder' and m['name'].count('/') < 3:\n"
      "      print(' ', repr(m['name']), m['kind'], m['size'], m['packed_size'], m['method'], m['time'],\n"
      "            m['mode'], m['link_target'], m['encrypted'], m.get('verdict'))\n";
  testutil::WriteFile(tmp_ / "summary.py", summary);
  auto Summary = [&](const std::string& json) {
    testutil::WriteFile(tmp_ / "out.json", json);
    EXPECT_EQ(testutil::System("python3 '" + tmp_ / "summary.py" + "' '" + tmp_ / "out.json" + "' > '" +
                               tmp_ / "summary.txt" + "' 2>&1"),
              0)
        << ReadFile(tmp_ / "summary.txt");
    return ReadFile(tmp_ / "summary.txt");
  };
  auto r = Run({"-l", "--json", "u.tgz", "enc.zip", "-"}, ReadFile(work() + "/n.gz"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Summary(r.out),
            "u.tgz tar.gz None\n"
            "  'tree/docs/readme.txt' file 15 None None 2001-09-09T01:46:40Z 0644 None False None\n"
            "  'tree/docs/ro.txt' file 10 None None 2001-09-09T01:46:40Z 0444 None False None\n"
            "  'tree/hard' hardlink 0 None link 2001-09-09T01:46:40Z 0644 tree/docs/readme.txt False None\n"
            "  'tree/link' symlink 0 None symlink 2001-09-09T01:46:40Z 0777 docs/readme.txt False None\n"
            "  'tree/sizes/b0' file 0 None None 2001-09-09T01:46:40Z 0644 None False None\n"
            "  'tree/sizes/b1024' file 1024 None None 2001-09-09T01:46:40Z 0644 None False None\n"
            "  'tree/sizes/b1025' file 1025 None None 2001-09-09T01:46:40Z 0644 None False None\n"
            "  'tree/sizes/b3000' file 3000 None None 2001-09-09T01:46:40Z 0644 None False None\n"
            "  'tree/sizes/b512' file 512 None None 2001-09-09T01:46:40Z 0644 None False None\n"
            "  'tree/sizes/pipe' fifo 0 None fifo 2001-09-09T01:46:40Z 0644 None False None\n"
            "enc.zip zip None\n"
            "  'numbers.txt' file 13893 13905 stored 2020-05-17T10:20:30Z 0644 None True None\n"
            "  'empty.txt' file 0 12 stored 2020-05-17T10:20:30Z 0644 None True None\n"
            "stdin gzip None\n"
            "  'n\\x1b\"\\t.txt' file 2 None deflate None None None False None\n");
  std::string damaged = ReadFile(Fixture("core/noname.gz"));
  damaged[damaged.size() - 6] ^= 0x5A;
  testutil::WriteFile(work() + "/bad.gz", damaged);
  r = Run({"-t", "--format=json", "-v", "bad.gz", "n.gz"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(Summary(r.out),
            "bad.gz gzip FAILED\n"
            "  'bad' file 13690 None deflate None None None False FAILED\n"
            "n.gz gzip OK\n"
            "  'n\\x1b\"\\t.txt' file 2 None deflate None None None False OK\n");
  EXPECT_NE(r.err.find("n\\033\"\\t.txt: OK\n"), std::string::npos) << r.err;  // -v on standard error
}

}  // namespace
