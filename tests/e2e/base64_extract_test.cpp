// Base64 files and MIME messages through the whole program.
#include <string>
#include <vector>

#include "e2e/uu_extract_fixture.h"

namespace lines_test {
namespace {

using Base64Extract = ExtractTest;
using Files = std::vector<std::string>;

TEST_F(Base64Extract, BeginBase64SectionWithItsName) {
  ExpectExtractsTo("section.b64", "section.b64", {"r.bin"});
}

TEST_F(Base64Extract, BareBase64ToolOutput) {
  ExpectExtractsTo("bare.b64", "bare.B64", {"bare"});
}

TEST_F(Base64Extract, MessageWithOneAttachment) {
  ExpectExtractsTo("one.mim", "one.mim", {"data.bin"});
}

TEST_F(Base64Extract, MessageWithTwoAttachmentsAndATextPart) {
  ExpectExtractsTo("two.mime", "two.MIME", {"data.bin", "text.txt"});
}

TEST_F(Base64Extract, PartWithoutNameGetsTheSuffix) {
  ExpectExtractsTo("noname.mime", "noname.mime", {"noname.mime.b64dec"});
}

TEST_F(Base64Extract, TextCutShortIsNamedAndFails) {
  // Each fixture cut before the line that closes its body, or in the middle.
  const struct {
    const char* fixture;
    std::string cutBefore;  // cut before the last occurrence; "" cuts in the middle of a line
    const char* member;
  } rows[] = {
      {"section.b64", "\n====\n", "r.bin"},                    // "begin-base64" without "===="
      {"two.mime", "\n--==UUD_=_1796765892--", "text.txt"},   // without the closing boundary
      {"one.mim", "\n-----", "data.bin"},
      {"one.mim", "", "data.bin"},
  };
  for (const auto& row : rows) {
    std::string text = testutil::ReadFile(testutil::Fixture(std::string("lines/") + row.fixture));
    text.resize(row.cutBefore.empty() ? text.size() / 2 + 1 : text.rfind(row.cutBefore) + 1);
    const testutil::RunResult r = Extract(Write(row.fixture, text));
    EXPECT_EQ(r.exitCode, 2) << row.fixture;
    EXPECT_NE(r.err.find(std::string(row.member) + ": the archive ends inside this member"), std::string::npos)
        << row.fixture << r.err;
    EXPECT_EQ(testutil::ReportOf(r.err), kFailed);
  }
}

TEST_F(Base64Extract, MessagesThatOnlyTheirContentNamesAreFoundByASecondLook) {
  for (const char* name : {"mail.eml", "mail.msg", "mail.txt", "mail"}) {
    ExtractCleanly(FromFixture("two.mime", name));
    EXPECT_EQ(Output("data.bin"), Data()) << name;
  }
  ExtractCleanly(FromFixture("section.b64", "section.txt"));
  EXPECT_EQ(Output("r.bin"), Data());
  // Bare base64 text has nothing that names it.
  EXPECT_EQ(testutil::ReportOf(Extract(FromFixture("bare.b64", "bare.mim")).err), kUnsupported);
  EXPECT_EQ(testutil::ReportOf(Extract(FromFixture("bare.b64", "bare.txt")).err), kUnsupported);
}

TEST_F(Base64Extract, HeaderAfterLineOneHundredIsNotClaimed) {
  std::string message;
  for (int i = 0; i < 100; ++i) message += "X-Filler: line\n";
  message += "Content-Transfer-Encoding: base64\n\nQUJD\n";
  EXPECT_EQ(testutil::ReportOf(Extract(Write("late.b64", message)).err), kUnsupported);
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
