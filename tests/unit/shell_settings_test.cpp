// The settings in the registry store, and the command-line token parser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/charset.h"
#include "core/settings.h"
#include "shell/command_line.h"
#include "support/testutil.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("DORVANE_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
    unsetenv("DORVANE_CODEPAGE");
    BuildLeadByteTable();
  }
  void TearDown() override { unsetenv("DORVANE_REGISTRY"); }
  void StoreRaw(const std::string& values) {
    testutil::WriteFile(dir_ / "registry.reg",
                        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\qv\\DorvaneCE]\n" + values);
  }
  testutil::TempDir dir_;
};

TEST_F(SettingsTest, FirstStartHasRootPathAndNoFlags) {
  char path[kExtractPathNarrowSize] = "junk";
  EXPECT_FALSE(ReadExtractPath(path));
  EXPECT_STREQ(path, "");
  EXPECT_FALSE(ReadMakeDir());
  EXPECT_FALSE(ReadOpenDir());
}

TEST_F(SettingsTest, RoundTrip) {
  ASSERT_TRUE(WriteExtractPath(u"\\Storage Card\\out"));
  ASSERT_TRUE(WriteMakeDir(true));
  ASSERT_TRUE(WriteOpenDir(false));
  char path[kExtractPathNarrowSize];
  EXPECT_TRUE(ReadExtractPath(path));
  EXPECT_STREQ(path, "\\Storage Card\\out");
  EXPECT_TRUE(ReadMakeDir());
  EXPECT_FALSE(ReadOpenDir());
  ASSERT_TRUE(WriteMakeDir(false));
  EXPECT_FALSE(ReadMakeDir());
}

TEST_F(SettingsTest, StoredRootReadsAsEmpty) {
  ASSERT_TRUE(WriteExtractPath(u"\\"));
  char path[kExtractPathNarrowSize] = "junk";
  EXPECT_TRUE(ReadExtractPath(path));
  EXPECT_STREQ(path, "");
}

TEST_F(SettingsTest, OnlyAStoredOneIsSet) {
  StoreRaw("\"MakeDir\"=dword:00000002\n\"OpenDir\"=\"1\"\n");
  EXPECT_FALSE(ReadMakeDir());
  EXPECT_FALSE(ReadOpenDir());
  StoreRaw("\"MakeDir\"=dword:00000001\n");
  EXPECT_TRUE(ReadMakeDir());
}

TEST_F(SettingsTest, JapaneseExtractPath) {
  ASSERT_TRUE(WriteExtractPath(u"\\\u30BD\u30D5\u30C8"));
  char path[kExtractPathNarrowSize];
  ASSERT_TRUE(ReadExtractPath(path));
  EXPECT_STREQ(path, "\\\x83\x5C\x83\x74\x83\x67");
}

TEST(CommandLine, FindNoCase) {
  const WCHAR* line = u"#p(\\out)#F(\\a.lzh)";
  EXPECT_EQ(FindNoCase(line, u"#P("), line);
  EXPECT_EQ(FindNoCase(line, u"#f("), line + 8);
  EXPECT_EQ(FindNoCase(line, u"#X("), nullptr);
  EXPECT_EQ(FindNoCase(u"ab", u"abc"), nullptr);
  EXPECT_EQ(FindNoCase(nullptr, u"a"), nullptr);
}

TEST(CommandLine, ParseToken) {
  WCHAR value[kTokenValueSize];
  EXPECT_TRUE(ParseToken(u"#P", u"#P(\\Storage Card\\out)#F(\\My Documents\\a.lzh)", value));
  EXPECT_EQ(std::u16string(value), u"\\Storage Card\\out");
  EXPECT_TRUE(ParseToken(u"#F", u"#P(\\Storage Card\\out)#F(\\My Documents\\a.lzh)", value));
  EXPECT_EQ(std::u16string(value), u"\\My Documents\\a.lzh");
  EXPECT_TRUE(ParseToken(u"#P", u"#p()#f(x)", value));
  EXPECT_EQ(std::u16string(value), u"");
  // A missing ")" leaves the value empty.
  EXPECT_FALSE(ParseToken(u"#P", u"#P(\\out", value));
  EXPECT_EQ(std::u16string(value), u"");
  // Too long for the buffer: refused, not cut.
  std::u16string longLine = u"#P(" + std::u16string(300, u'x') + u")";
  EXPECT_FALSE(ParseToken(u"#P", longLine.c_str(), value));
  EXPECT_EQ(std::u16string(value), u"");
}

}  // namespace
