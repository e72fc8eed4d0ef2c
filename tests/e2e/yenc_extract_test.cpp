// yEnc files through the whole program.
#include <string>
#include <vector>

#include "e2e/uu_extract_fixture.h"

namespace lines_test {
namespace {

using YencExtract = ExtractTest;
using Files = std::vector<std::string>;

TEST_F(YencExtract, EverySectionOfAnNtxFile) {
  ExtractCleanly(FromFixture("sections.ntx", "sections.NTX"));
  EXPECT_EQ(OutputFiles(), (Files{"data.bin", "text.txt"}));
  EXPECT_EQ(Output("data.bin"), Data());
  EXPECT_EQ(Output("text.txt"), Text());
}

TEST_F(YencExtract, RecognisedByContent) {
  ExtractCleanly(FromFixture("single.txt", "single.txt"));
  EXPECT_EQ(OutputFiles(), Files{"data.bin"});
  EXPECT_EQ(Output("data.bin"), Data());
}

TEST_F(YencExtract, NtxWithoutSectionIsNotClaimed) {
  EXPECT_EQ(Extract(Write("a.ntx", "no yEnc text in here at all\n")).err, kUnsupported);
  // Two blanks before name= are not the header the probe looks for.
  EXPECT_EQ(Extract(Write("b.ntx", "=ybegin size=1  name=x.bin\n\x6B\n=yend\n")).err,
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
  EXPECT_EQ(r.err, kFailed);
  EXPECT_EQ(Output("text.txt"), Text());
}

TEST_F(YencExtract, MissingYendDecodesToTheEnd) {
  ExtractCleanly(Write("open.ntx", "=ybegin line=128 size=3 name=open.bin\n\x6B\x6C\n\x6D"));
  EXPECT_EQ(Output("open.bin"), "ABC");
}

}  // namespace
}  // namespace lines_test
