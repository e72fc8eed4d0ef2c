// Base64 files and MIME messages through the whole program.
#include <string>
#include <vector>

#include "e2e/uu_extract_fixture.h"

namespace lines_test {
namespace {

using Base64Extract = ExtractTest;
using Files = std::vector<std::string>;

TEST_F(Base64Extract, BeginBase64SectionWithItsName) {
  ExtractCleanly(FromFixture("section.b64", "section.b64"));
  EXPECT_EQ(OutputFiles(), Files{"r.bin"});
  EXPECT_EQ(Output("r.bin"), Data());
}

TEST_F(Base64Extract, BareBase64ToolOutput) {
  ExtractCleanly(FromFixture("bare.b64", "bare.B64"));
  EXPECT_EQ(OutputFiles(), Files{"bare"});
  EXPECT_EQ(Output("bare"), Data());
}

TEST_F(Base64Extract, MessageWithOneAttachment) {
  ExtractCleanly(FromFixture("one.mim", "one.mim"));
  EXPECT_EQ(OutputFiles(), Files{"data.bin"});
  EXPECT_EQ(Output("data.bin"), Data());
}

TEST_F(Base64Extract, MessageWithTwoAttachmentsAndATextPart) {
  ExtractCleanly(FromFixture("two.mime", "two.MIME"));
  EXPECT_EQ(OutputFiles(), (Files{"data.bin", "text.txt"}));
  EXPECT_EQ(Output("data.bin"), Data());
  EXPECT_EQ(Output("text.txt"), Text());
}

TEST_F(Base64Extract, PartWithoutNameGetsTheSuffix) {
  ExtractCleanly(FromFixture("noname.mime", "noname.mime"));
  EXPECT_EQ(OutputFiles(), Files{"noname.mime.b64dec"});
  EXPECT_EQ(Output("noname.mime.b64dec"), Data());
}

TEST_F(Base64Extract, OnlyItsExtensionsAreClaimed) {
  EXPECT_EQ(Extract(FromFixture("one.mim", "one.txt")).err, kUnsupported);
  EXPECT_EQ(Extract(FromFixture("bare.b64", "bare.mim")).err, kUnsupported);
  EXPECT_EQ(OutputFiles(), Files{});
}

TEST_F(Base64Extract, HeaderAfterLineOneHundredIsNotClaimed) {
  std::string message;
  for (int i = 0; i < 100; ++i) message += "X-Filler: line\n";
  message += "Content-Transfer-Encoding: base64\n\nQUJD\n";
  EXPECT_EQ(Extract(Write("late.b64", message)).err, kUnsupported);
}

TEST_F(Base64Extract, FoldedHeaderKeepsTheName) {
  ExtractCleanly(Write("folded.mim",
                       "Content-Type: application/octet-stream;\r\n"
                       " name=\"folded.bin\"\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\nQUJD\r\n"));
  EXPECT_EQ(OutputFiles(), Files{"folded.bin"});
  EXPECT_EQ(Output("folded.bin"), "ABC");
}

TEST_F(Base64Extract, NamesNeverLeaveTheOutputFolder) {
  // ".." parts become "__": the part lands in folders below the output
  // folder, and the next part still comes out.
  ExtractCleanly(Write("evil.mim",
      "Content-Type: x; name=\"../../evil.bin\"\n"
      "Content-Transfer-Encoding: base64\n\nQUJD\n--b\n"
      "Content-Type: x; name=\"good.bin\"\n"
      "Content-Transfer-Encoding: base64\n\nRUZH\n"));
  EXPECT_EQ(OutputFiles(), (Files{"__/__/evil.bin", "good.bin"}));
  EXPECT_EQ(Output("good.bin"), "EFG");
  EXPECT_EQ(Strays(), Files{});
}

}  // namespace
}  // namespace lines_test
