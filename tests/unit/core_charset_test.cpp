// Narrow-string walking and path splitting with Shift-JIS names.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/charset.h"

namespace {

class CharsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DORVANE_CODEPAGE");
    BuildLeadByteTable();
  }
};

TEST_F(CharsetTest, LeadByteTableIsShiftJis) {
  EXPECT_EQ(g_LeadByteTable[0], 0);
  EXPECT_EQ(g_LeadByteTable[0x80], 1);
  EXPECT_EQ(g_LeadByteTable[0x81], 2);
  EXPECT_EQ(g_LeadByteTable[0x9F], 2);
  EXPECT_EQ(g_LeadByteTable[0xA0], 1);
  EXPECT_EQ(g_LeadByteTable[0xDF], 1);
  EXPECT_EQ(g_LeadByteTable[0xE0], 2);
  EXPECT_EQ(g_LeadByteTable[0xFC], 2);
  EXPECT_EQ(g_LeadByteTable[0xFD], 1);
}

TEST_F(CharsetTest, SecondByteIsNeverASeparatorOrDot) {
  // 0x83 0x5C is one character whose second byte is the code of "\".
  const char s[] = "\x83\x5C.t";
  EXPECT_EQ(CharLength(s), 2u);
  EXPECT_EQ(CharNext(s), s + 2);
  const PathSplit split = SplitPath(s);
  EXPECT_EQ(split.lastSeparator, -1);
  EXPECT_EQ(split.lastDot, 2);
  EXPECT_STREQ(ExtensionOf("\\dir\\\x83\x5C.txt"), "txt");
  EXPECT_STREQ(BaseNameOf("\\dir\\\x83\x5C"), "\x83\x5C");
  const char t[] = "a\\\x83\x5C";
  EXPECT_EQ(LastOccurrence(t, '\\'), t + 1);
}

TEST_F(CharsetTest, DanglingOrBrokenLeadByteStandsAlone) {
  const char dangling[] = "ab\x83";
  EXPECT_EQ(CharLength(dangling + 2), 1u);
  EXPECT_EQ(*CharNext(dangling + 2), '\0');
  // A lead byte followed by a separator cannot hide that separator.
  const char broken[] = "\x81/..";
  EXPECT_EQ(CharLength(broken), 1u);
  EXPECT_EQ(SplitPath(broken).lastSeparator, 1);
  EXPECT_EQ(CharLength(""), 0u);
}

TEST_F(CharsetTest, EqualsNoCase) {
  EXPECT_EQ(EqualsNoCase("TGZ", "tgz"), 0);
  EXPECT_NE(EqualsNoCase("", "gz"), 0);
  EXPECT_NE(EqualsNoCase("gz", ""), 0);
  EXPECT_EQ(EqualsNoCase("", ""), 0);
  EXPECT_NE(EqualsNoCase("1zh", "lzh"), 0);
  EXPECT_NE(EqualsNoCase("gz", "gzip"), 0);
  // Double-byte characters compare by their bytes only.
  EXPECT_EQ(EqualsNoCase("\x82\x60", "\x82\x60"), 0);
  EXPECT_NE(EqualsNoCase("\x82\x60", "\x82\x81"), 0);
  EXPECT_EQ(EqualsNoCaseN("Content-Type: text", "content-type:", 13), 0);
  EXPECT_NE(EqualsNoCaseN("Content", "content-type:", 13), 0);
}

TEST_F(CharsetTest, ExtensionAndBaseName) {
  EXPECT_STREQ(ExtensionOf("\\a.b\\c"), "");
  EXPECT_STREQ(ExtensionOf("\\a\\b.tar.gz"), "gz");
  EXPECT_STREQ(ExtensionOf("\\a\\.profile"), "profile");
  EXPECT_STREQ(ExtensionOf("a/b.Z"), "Z");
  EXPECT_STREQ(BaseNameOf("\\x\\y.gz"), "y.gz");
  EXPECT_STREQ(BaseNameOf("plain"), "plain");
}

TEST_F(CharsetTest, WideConversionsRoundTrip) {
  EXPECT_EQ(NarrowToWide("abc", nullptr, 0), 4);
  WCHAR wide[16];
  ASSERT_TRUE(NarrowToWide("\x83\x5C\x2E", wide, 16));
  EXPECT_EQ(wide[0], 0x30BD);  // KATAKANA LETTER SO
  EXPECT_EQ(wide[1], u'.');
  char back[16];
  ASSERT_TRUE(WideToNarrow(wide, back, sizeof back));
  EXPECT_STREQ(back, "\x83\x5C.");
  EXPECT_FALSE(WideToNarrow(wide, back, 2));  // refused, not cut
}

TEST(CharsetCodePage, Utf8TableFollowsSequences) {
  setenv("DORVANE_CODEPAGE", "65001", 1);
  BuildLeadByteTable();
  EXPECT_EQ(CharLength("\xE3\x81\x82/"), 3u);
  EXPECT_EQ(CharLength("\xE3/.."), 1u);
  unsetenv("DORVANE_CODEPAGE");
  BuildLeadByteTable();
}

}  // namespace
