// yEnc files through the whole program.
#include <string>
#include <vector>

#include "e2e/uu_extract_fixture.h"

namespace lines_test {
namespace {

using YencExtract = ExtractTest;
using Files = std::vector<std::string>;

TEST_F(YencExtract, EverySectionOfAnNtxFile) {
  ExpectExtractsTo("sections.ntx", "sections.NTX", {"data.bin", "text.txt"});
}

TEST_F(YencExtract, RecognisedByContent) {
  ExpectExtractsTo("single.txt", "single.txt", {"data.bin"});
}

TEST_F(YencExtract, NtxWithoutSectionIsNotClaimed) {
  EXPECT_EQ(testutil::ReportOf(Extract(Write("a.ntx", "no yEnc text in here at all\n")).err), kUnsupported);
  // Two blanks before name= are not the header the probe looks for.
  EXPECT_EQ(testutil::ReportOf(Extract(Write("b.ntx", "=ybegin size=1  name=x.bin\n\x6B\n=yend\n")).err),
            kUnsupported);
}

TEST_F(YencExtract, NamesAreSanitisedAndMakeTheirFolders) {
  ExtractCleanly(Write("s.ntx",
                       "=ybegin line=128 size=1 name=sub\\a:b.bin  \n\x6B\n=yend size=1\n"
                       "=ybegin line=128 size=1 name=../../up/c.bin\n\x6C\n=yend size=1\n"));
  EXPECT_EQ(OutputFiles(), (Files{"__/__/up/c.bin", "sub/a_b.bin"}));
  EXPECT_EQ(Output("sub/a_b.bin"), "A");
  EXPECT_EQ(Output("__/__/up/c.bin"), "B");
  EXPECT_EQ(Strays(), Files{});
}

TEST_F(YencExtract, SectionThatCannotBeWrittenIsSkipped) {
  testutil::System("mkdir -p '" + out() + "/data.bin'");
  const testutil::RunResult r = Extract(FromFixture("sections.ntx", "sections.ntx"));
  EXPECT_EQ(r.err, std::string("data.bin: cannot be created: Is a directory\n") + kFailed);
  EXPECT_EQ(Output("text.txt"), Text());
}

TEST_F(YencExtract, MissingYendIsAMemberCutShort) {
  const testutil::RunResult r = Extract(Write("open.ntx", "=ybegin line=128 size=3 name=open.bin\n\x6B\x6C\n\x6D"));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("open.bin: the archive ends inside"), std::string::npos) << r.err;
  EXPECT_FALSE(testutil::FileExists(out() + "/open.bin"));
}

TEST_F(YencExtract, TrailerSizeAndCrcsAreCompared) {
  // "ABC" is 6B 6C 6D encoded; its CRC-32 is a3830348. pcrc32 covers the
  // part, crc32 the whole file (compared only for a section that is not a
  // part); a size that differs from the bytes decoded is damage.
  struct Row {
    const char* trailer;
    bool part;
    const char* notice;  // nullptr: a clean run
  } rows[] = {
      {"=yend size=3 crc32=a3830348", false, nullptr},
      {"=yend size=3 crc32=A3830349", false, "abc.bin: checksum error (stored a3830349, computed a3830348)"},
      {"=yend size=3 part=1 pcrc32=a3830349 crc32=a3830348", true, "abc.bin: checksum error"},
      {"=yend size=3 part=1 pcrc32=a3830348 crc32=12345678", true, nullptr},
      {"=yend size=4", false, "abc.bin: damaged data"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.trailer);
    std::string text = "=ybegin line=128 size=3 name=abc.bin\n";
    if (row.part) text += "=ypart begin=1 end=3\n";
    text += "\x6B\x6C\x6D\n" + std::string(row.trailer) + "\n";
    const testutil::RunResult r = Extract(Write("abc.ntx", text));
    if (row.notice == nullptr) {
      EXPECT_EQ(r.exitCode, 0);
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.exitCode, 2);
      EXPECT_NE(r.err.find(row.notice), std::string::npos) << r.err;
    }
    EXPECT_EQ(Output("abc.bin"), "ABC");
  }
}

}  // namespace
}  // namespace lines_test
