// The program run as a process: command-line forms, the settings it stores,
// the result report and the gzip and bzip2 handlers end to end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>

#include "core/charset.h"
#include "core/settings.h"
#include "support/testutil.h"

namespace {

using testutil::Fixture;
using testutil::ReadFile;
using testutil::RunDorvane;
using testutil::TempDir;

const char kNotAFile[] = " NOT_A_FILE: 1 times\nUNSUPPORTED: 0 times\n     FAILED: 0 times\n";
const char kUnsupported[] = " NOT_A_FILE: 0 times\nUNSUPPORTED: 1 times\n     FAILED: 0 times\n";

class CliTest : public ::testing::Test {
 protected:
  std::map<std::string, std::string> Env() const { return {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}}; }
  testutil::RunResult Run(const std::vector<std::string>& args) { return RunDorvane(args, Env()); }
  testutil::RunResult Extract(const std::string& archive) {
    return Run({"#P(" + out() + ")#F(" + archive + ")"});
  }
  std::string out() const { return tmp_ / "out"; }
  std::string Copy(const std::string& fixture, const std::string& name) {
    const std::string path = tmp_ / name;
    testutil::WriteFile(path, ReadFile(Fixture(fixture)));
    return path;
  }
  // The ExtractPath the program stored, read back through the settings.
  std::string StoredExtractPath() {
    setenv("DORVANE_REGISTRY", (tmp_ / "registry.reg").c_str(), 1);
    BuildLeadByteTable();
    char path[kExtractPathNarrowSize];
    ReadExtractPath(path);
    unsetenv("DORVANE_REGISTRY");
    return path;
  }
  void StoreMakeDir() {
    testutil::WriteFile(tmp_ / "registry.reg",
                        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\qv\\DorvaneCE]\n"
                        "\"MakeDir\"=dword:00000001\n");
  }
  TempDir tmp_;
};

TEST_F(CliTest, TokenFormExtractsAndStoresThePath) {
  const auto r = Extract(Copy("core/noname.gz", "data.gz"));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(out() + "/data"), ReadFile(Fixture("core/lines.txt")));
  std::string expected = out();
  for (char& c : expected) if (c == '/') c = '\\';
  EXPECT_EQ(StoredExtractPath(), expected);
}

TEST_F(CliTest, PlainFormUsesTheStoredPath) {
  ASSERT_EQ(Extract(tmp_ / "missing.gz").exitCode, 2);  // stores the path only
  const auto r = Run({Copy("core/lines.txt.bz2", "lines.txt.bz2")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out() + "/lines.txt"), ReadFile(Fixture("core/lines.txt")));
}

TEST_F(CliTest, LowerCaseTokensInAnyOrder) {
  const auto r = Run({"#f(" + Copy("core/noname.gz", "d.gz") + ")#p(" + out() + ")"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(testutil::FileExists(out() + "/d"));
}

TEST_F(CliTest, ArgumentsAreJoinedWithBlanks) {
  const std::string archive = Copy("core/noname.gz", "two words.gz");
  const auto r = Run({"#P(" + out() + ")#F(" + tmp_.path() + "/two", "words.gz)"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(testutil::FileExists(out() + "/two words"));
}

TEST_F(CliTest, ReportsWhatIsNotAFile) {
  const std::string archive = Copy("core/noname.gz", "q.gz");
  const struct {
    std::string arg, named;
  } rows[] = {
      {tmp_ / "missing.gz", tmp_ / "missing.gz: no such file"},
      {tmp_.path(), tmp_.path() + ": is a folder"},
      {"\"" + archive + "\"", "\"" + archive + "\": no such file"},  // quotes are part of the path
      // Only "#F(": the whole line is taken as a path.
      {"#F(" + archive + ")", "#F(" + archive + "): no such file"},
  };
  for (const auto& row : rows) {
    const auto r = Run({row.arg});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, row.named + "\n" + kNotAFile);
  }
}

TEST_F(CliTest, UnclosedFolderTokenStoresTheRoot) {
  Extract(tmp_ / "missing.gz");
  ASSERT_NE(StoredExtractPath(), "");
  const auto r = Run({"#F(" + tmp_ / "missing.gz" + ")#P(" + out()});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(testutil::ReportOf(r.err), kNotAFile);
  EXPECT_EQ(StoredExtractPath(), "");
}

TEST_F(CliTest, EmptyAndUnknownFilesAreNamedAndUnsupported) {
  testutil::WriteFile(tmp_ / "empty.gz", "");
  auto r = Extract(tmp_ / "empty.gz");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, tmp_ / "empty.gz: an empty file, not an archive\n" + kUnsupported);
  EXPECT_FALSE(testutil::FileExists(out()));  // no folder for an unsupported file
  testutil::WriteFile(tmp_ / "notes.doc", "just some text, no archive\n");
  r = Extract(tmp_ / "notes.doc");
  EXPECT_EQ(r.err, tmp_ / "notes.doc: not an archive this program reads\n" + kUnsupported);
  // Nine bytes that start like gzip are too short to be taken.
  testutil::WriteFile(tmp_ / "short.gz", std::string("\x1F\x8B\x08\0\0\0\0\0\0", 9));
  r = Extract(tmp_ / "short.gz");
  EXPECT_EQ(testutil::ReportOf(r.err), kUnsupported);
  // Several files: each is named, in order, before the one report.
  r = Run({tmp_ / "notes.doc", tmp_ / "missing.gz"});
  EXPECT_EQ(r.err, tmp_ / "notes.doc: not an archive this program reads\n" + tmp_ / "missing.gz: no such file\n" +
                       " NOT_A_FILE: 1 times\nUNSUPPORTED: 1 times\n     FAILED: 0 times\n");
}

TEST_F(CliTest, CorruptBzip2IsNotTaken) {
  std::string data = ReadFile(Fixture("core/lines.txt.bz2"));
  for (size_t i = 10; i < 20; ++i) data[i] = static_cast<char>(data[i] ^ 0x5A);
  testutil::WriteFile(tmp_ / "bad.bz2", data);
  const auto r = Extract(tmp_ / "bad.bz2");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(testutil::ReportOf(r.err), kUnsupported);
}

TEST_F(CliTest, GzipOutputNames) {
  // A stored name wins over the archive's own name.
  auto r = Extract(Copy("core/named.gz", "whatever.gz"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out() + "/hello.txt"), "The quick brown fox jumps over the lazy dog.\n");
  // Without one: the extension is stripped in any letter case ...
  r = Extract(Copy("core/noname.gz", "data.GZ"));
  EXPECT_TRUE(testutil::FileExists(out() + "/data"));
  // ... and any other name gets the suffix; a .tgz that holds no TAR
  // archive is found in the content pass.
  r = Extract(Copy("core/plain.tgz", "a.tgz"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(testutil::FileExists(out() + "/a.tgz.ungzip"));
  r = Extract(Copy("core/noname.gz", "plain"));
  EXPECT_TRUE(testutil::FileExists(out() + "/plain.ungzip"));
}

TEST_F(CliTest, Bzip2OutputNames) {
  auto r = Extract(Copy("core/notes.tbz", "notes.tbz"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out() + "/notes.tbz.unbzip2"), "The quick brown fox jumps over the lazy dog.\n");
  r = Extract(Copy("core/lines.txt.bz2", "L.BZ2"));
  EXPECT_TRUE(testutil::FileExists(out() + "/L"));
}

// A gzip header with the name flag and the given stored name.
std::string GzipWithName(const std::string& name, const std::string& rest) {
  std::string header("\x1F\x8B\x08\x08\0\0\0\0\0\x03", 10);
  return header + name + std::string(1, '\0') + rest;
}

TEST_F(CliTest, StoredGzipNameNeverLeavesTheFolder) {
  // The deflate data of the fixture without its 10-byte header (no name).
  const std::string body = ReadFile(Fixture("core/noname.gz")).substr(10);
  testutil::WriteFile(tmp_ / "evil.gz", GzipWithName("../../x", body));
  auto r = Extract(tmp_ / "evil.gz");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(testutil::FileExists(tmp_ / "x"));
  EXPECT_FALSE(testutil::FileExists(tmp_ / "../x"));
  for (const auto& f : testutil::ListFiles(tmp_.path()))
    EXPECT_TRUE(f == "evil.gz" || f == "registry.reg" || f == "registry.reg.lock" ||
                f.rfind("out/", 0) == 0)
        << f;
  // A name too long for the path buffer is refused, not cut.
  std::filesystem::remove_all(out());
  testutil::WriteFile(tmp_ / "long.gz", GzipWithName(std::string(300, 'n'), body));
  r = Extract(tmp_ / "long.gz");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("long.gz: the output name is too long"), std::string::npos) << r.err;
  EXPECT_TRUE(testutil::ListFiles(out()).empty());
}

TEST_F(CliTest, MakeDirPutsEachArchiveInItsOwnFolder) {
  StoreMakeDir();
  const auto r = Extract(Copy("core/noname.gz", "x.tar.gz"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out() + "/x/x.tar"), ReadFile(Fixture("core/lines.txt")));
}

// A store that cannot be written (here its lock is a symbolic link, which is
// not followed) still sends the archive into the "#P" folder, not into the
// one stored before, and says that the settings were not saved.
TEST_F(CliTest, TheGivenFolderIsUsedWhenTheSettingsCannotBeSaved) {
  const std::string archive = Copy("core/noname.gz", "x.gz");
  ASSERT_EQ(Extract(archive).exitCode, 0);
  testutil::System("rm -rf '" + out() + "'");
  unlink((tmp_ / "registry.reg.lock").c_str());
  ASSERT_EQ(symlink((tmp_ / "victim").c_str(), (tmp_ / "registry.reg.lock").c_str()), 0);
  const auto r = Run({"#P(" + tmp_ / "want" + ")#F(" + archive + ")"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("The settings could not be saved; this run extracts into " + tmp_ / "want"),
            std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(tmp_ / "want/x"), ReadFile(Fixture("core/lines.txt")));
  EXPECT_FALSE(testutil::FileExists(out()));
  EXPECT_FALSE(testutil::FileExists(tmp_ / "victim"));
  std::string stored = out();
  for (char& c : stored) if (c == '/') c = '\\';
  EXPECT_EQ(StoredExtractPath(), stored);  // the earlier one stays
}

TEST_F(CliTest, TruncatedNamedHeaderWritesNothing) {
  // The name flag is set but the file ends after the fixed header: the name
  // is empty, no file can be made of it, and the member is named as lost.
  testutil::WriteFile(tmp_ / "h.gz", std::string("\x1F\x8B\x08\x08\0\0\0\0\0\x03", 10));
  const auto r = Extract(tmp_ / "h.gz");
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_TRUE(testutil::ListFiles(out()).empty());
}

}  // namespace

namespace {

// An LZH archive named setup.exe: no extension pass, found by content.
TEST_F(CliTest, ExeIsDecidedByContent) {
  const auto r = Extract(Copy("lzh/level1_lh6.lzh", "setup.exe"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(testutil::ListFiles(out()).empty());
}

// A gzip file named a.z is not claimed by the compress TAR reader; the
// content pass gives it to the gzip handler (which strips its own
// extension only, so the name keeps its suffix).
TEST_F(CliTest, LowerCaseZIsDecidedByContent) {
  const auto r = Extract(Copy("core/noname.gz", "a.z"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out() + "/a.z.ungzip"), ReadFile(Fixture("core/lines.txt")));
}

// Files of several compressed streams made by real tools
// (tests/fixtures/make-streams.sh): every stream is decoded, in order.
// Each file holds the numbers 1 to N, one per line.
struct StreamsCase {
  const char* fixture;
  int lines;           // the output is the numbers 1 to `lines` (damaged: no output)
  int exitCode;
  const char* notice;  // standard error holds this
};
void PrintTo(const StreamsCase& c, std::ostream* os) { *os << c.fixture; }

class SeveralStreams : public CliTest, public ::testing::WithParamInterface<StreamsCase> {};

TEST_P(SeveralStreams, DecodesEveryStream) {
  const StreamsCase& c = GetParam();
  const auto r = Extract(Copy(std::string("streams/") + c.fixture, c.fixture));
  EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
  if (*c.notice == '\0') {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(c.notice), std::string::npos) << r.err;
  }
  const std::string lines = testutil::NumberLines(c.lines);
  const std::string name = c.fixture;
  const std::string got = ReadFile(out() + "/" + name.substr(0, name.rfind('.')));
  if (c.exitCode == 0) {
    EXPECT_TRUE(got == lines) << got.size() << " bytes";
  } else {  // damaged: nothing under the name
    EXPECT_FALSE(testutil::FileExists(out() + "/" + name.substr(0, name.rfind('.'))));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SeveralStreams,
    ::testing::Values(StreamsCase{"concat.bz2", 3000, 0, ""}, StreamsCase{"lbzip2.bz2", 40000, 0, ""},
                      // As bzip2 -d does: named, ignored, no failure.
                      StreamsCase{"junk.bz2", 3000, 0, "junk.bz2: the data from byte 2709 on is not bzip2 data"},
                      // A damaged block: named, and no file.
                      StreamsCase{"damaged.bz2", 36666, 2, "damaged data"},
                      StreamsCase{"concat.gz", 3000, 0, ""},
                      StreamsCase{"junk.gz", 3000, 0, "junk.gz: the data from byte 5291 on is not gzip data"},
                      StreamsCase{"zeros.gz", 3000, 0, ""}),
    [](const auto& info) {
      std::string name = info.param.fixture;
      return name.replace(name.find('.'), 1, "_");
    });

}  // namespace
