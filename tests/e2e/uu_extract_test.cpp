// uuencoded files through the whole program.
#include <string>
#include <vector>

#include "e2e/uu_extract_fixture.h"

namespace lines_test {
namespace {

using UuExtract = ExtractTest;
using Files = std::vector<std::string>;

TEST_F(UuExtract, WritesTheNamedFile) {
  ExpectExtractsTo("plain.uu", "plain.uu", {"data.bin"});
}

TEST_F(UuExtract, ExtensionInAnyCaseAndTheNameFromTheBeginLine) {
  ExpectExtractsTo("mixed.UuE", "mixed.UuE", {"x.bin"});
}

TEST_F(UuExtract, BeginLineWithoutNameUsesTheArchiveName) {
  ExpectExtractsTo("noname.uu", "noname.UU", {"noname"});
}

TEST_F(UuExtract, TextThatOnlyItsContentNamesIsFoundByASecondLook) {
  // No handler claims these extensions: the content decides.
  for (const char* name : {"post.txt", "plain.uux", "mail.eml", "mail.msg", "post"}) {
    ExtractCleanly(FromFixture("plain.uu", name));
    EXPECT_EQ(Output("data.bin"), Data()) << name;
  }
  // A "begin" line of ordinary text is not taken, nor one without an
  // encoded line after it; an extension some handler claims gets no
  // second look.
  for (const auto& [name, text] : std::vector<std::pair<const char*, std::string>>{
           {"notes.txt", "begin the day\nM is not the end\n"},
           {"notes", "begin 644 x.bin\nplain words follow\n"},
           {"data.zip", testutil::ReadFile(testutil::Fixture("lines/plain.uu"))}}) {
    EXPECT_EQ(testutil::ReportOf(Extract(Write(name, text)).err), kUnsupported) << name;
  }
}

TEST_F(UuExtract, NameEndsAtWhiteSpaceAndShortFilesAreNotClaimed) {
  ExtractCleanly(Write("blank.uu", "begin 644 my file.bin\n#86)C\n`\nend\n"));
  EXPECT_EQ(OutputFiles(), Files{"my"});
  EXPECT_EQ(Output("my"), "abc");
  EXPECT_EQ(testutil::ReportOf(Extract(Write("tiny.uu", "begin 644 x\n")).err), kUnsupported);  // 12 bytes
}

TEST_F(UuExtract, BeginLineAsTheLastLineFails) {
  const testutil::RunResult r = Extract(Write("last.uu", "some text here\nbegin 644 x.bin\n"));
  EXPECT_EQ(r.err, kFailed);
  EXPECT_EQ(OutputFiles(), Files{});
}

TEST_F(UuExtract, CutOrNoisyTextIsNamedAndFails) {
  const std::string whole = testutil::ReadFile(testutil::Fixture("lines/plain.uu"));
  const std::string noise = "This line is ordinary text, not a uuencoded line\n";
  const size_t lastData = whole.rfind("\n`\nend") + 1;
  const struct {
    std::string text;
    const char* reason;
  } rows[] = {
      {whole.substr(0, whole.rfind("end\n")), "the archive ends inside this member"},  // no "end"
      {whole.substr(0, lastData), "the archive ends inside this member"},
      {whole.substr(0, whole.size() / 2), "the archive ends inside this member"},
      {whole.substr(0, lastData) + noise + "`\nend\n", "damaged data"},
      {"begin 644 data.bin\n" + noise + noise, "damaged data"},
  };
  for (const auto& row : rows) {
    const testutil::RunResult r = Extract(Write("cut.uu", row.text));
    EXPECT_EQ(r.err, std::string("data.bin: ") + row.reason + "; not extracted\n" + kFailed);
    EXPECT_EQ(OutputFiles(), Files{});  // nothing under the name of a member cut short or damaged
  }
}

TEST_F(UuExtract, NamesNeverLeaveTheOutputFolder) {
  // ".." components become "__" and land in folders below the output folder.
  for (const char* name : {"../../evil.bin", "..\\..\\evil.bin", "sub/../../evil.bin"})
    ExtractCleanly(Write("evil.uu", std::string("begin 644 ") + name + "\n#86)C\n`\nend\n"));
  // A name starting with a separator stays inside too.
  ExtractCleanly(Write("abs.uu", "begin 644 /abs.bin\n#86)C\n`\nend\n"));
  EXPECT_EQ(OutputFiles(), (Files{"__/__/evil.bin", "abs.bin", "sub/__/__/evil.bin"}));
  EXPECT_EQ(Strays(), Files{});
}

TEST_F(UuExtract, OutputThatCannotBeCreatedFails) {
  testutil::System("mkdir -p '" + out() + "/data.bin'");
  const testutil::RunResult r = Extract(FromFixture("plain.uu", "plain.uu"));
  EXPECT_EQ(r.err, std::string("data.bin: cannot be created: Is a directory\n") + kFailed);
  EXPECT_TRUE(testutil::IsDirectory(out() + "/data.bin"));
}

}  // namespace
}  // namespace lines_test
