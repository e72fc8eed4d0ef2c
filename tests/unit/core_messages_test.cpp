// Notices and program-ending errors as a command-line run shows them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/charset.h"
#include "core/messages.h"
#include "core/progress.h"

namespace {

TEST(Messages, ProgramErrorEndsWithStatusOne) {
  unsetenv("DORVANE_CODEPAGE");
  BuildLeadByteTable();
  EXPECT_EXIT(ProgramError("x.cab"), ::testing::ExitedWithCode(1),
              "^Error!\nDorvane: program error x\\.cab\n$");
  // The command-line forms say "dorvane: ", as their other messages do.
  EXPECT_EXIT(
      {
        SetCommandLineMessages(true);
        ProgramError("x.cab");
      },
      ::testing::ExitedWithCode(1), "^Error!\ndorvane: program error x\\.cab\n$");
}

// A view that says when it is taken down.
struct MarkingView : ProgressView {
  void Show(const ProgressRecord&) override {}
  void Pump(const ProgressRecord&) override {}
  void Hide(const ProgressRecord&) override { fputs("[closed]\n", stderr); }
} g_markingView;

// exit() destroys what the progress thread waits on and calls, so a
// program-ending error inside an extraction closes the progress window
// before the process ends rather than leave the thread waiting.
TEST(Messages, ProgramErrorClosesTheProgressWindowBeforeTheEnd) {
  BuildLeadByteTable();
  EXPECT_EXIT(
      {
        SetProgressView(&g_markingView);
        ProgressRecord record;
        OpenProgress(&record);
        ProgramError("x.cab");
      },
      ::testing::ExitedWithCode(1), "^Error!\nDorvane: program error x\\.cab\n\\[closed\\]\n$");
}

TEST(Messages, FatalErrorCutsLongTextAtACharacter) {
  BuildLeadByteTable();
  // 300 double-byte characters: the box holds 256 wide characters, the line
  // end included, and no character is split.
  std::string text;
  for (int i = 0; i < 300; ++i) text += "\x82\xA0";  // HIRAGANA LETTER A
  EXPECT_EXIT(FatalError("", text.c_str()), ::testing::ExitedWithCode(1),
              "^Error!\nDorvane: (\xE3\x81\x82){245}\n$");
}

TEST(Messages, NoticeShowsJapaneseText) {
  BuildLeadByteTable();
  ::testing::internal::CaptureStderr();
  ShowMessage("\x93\x57\x8A\x4A\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\xE5\xB1\x95\xE9\x96\x8B\n");
}

TEST(Messages, FormatMessageTextCutsAtACharacter) {
  BuildLeadByteTable();
  char buf[6];
  FormatMessageText(buf, sizeof buf, "ab%s", "\x82\xA0\x82\xA0");
  EXPECT_STREQ(buf, "ab\x82\xA0");
  FormatMessageText(buf, sizeof buf, "%d", 12345678);
  EXPECT_STREQ(buf, "12345");
  WCHAR* wide = ToWide("\x83\x5C");
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide[0], 0x30BD);
  char* narrow = ToNarrow(wide);
  ASSERT_NE(narrow, nullptr);
  EXPECT_STREQ(narrow, "\x83\x5C");
  LocalFree(wide);
  LocalFree(narrow);
}

// Control characters (C0, DEL, C1) and stray bytes are shown as escapes;
// everything else, Japanese text and the escapes themselves included, as it
// is. A notice keeps the one line end that ends it.
TEST(Messages, ControlCharactersAreShownAsEscapes) {
  unsetenv("DORVANE_CODEPAGE");
  BuildLeadByteTable();
  char c1[8];  // U+009B (CSI) as program text: a code of its own in Shift-JIS
  ASSERT_TRUE(WideToNarrow(u"\u009B", c1, sizeof c1));
  struct Row {
    std::string in, shown;
  };
  const Row rows[] = {
      {"\x1b]0;title\a\x1b[2K\rall fine", "\\033]0;title\\a\\033[2K\\rall fine"},
      {"tab\there\nnew\x7f\x01", "tab\\there\\nnew\\177\\001"},
      {std::string("c1") + c1, "c1\\302\\233"},
      {"stray\xa0", "stray\\240"},                 // no character in Shift-JIS
      {"\x93\x57\x8A\x4A dir\\a.txt", "\x93\x57\x8A\x4A dir\\a.txt"},  // "\" is no control
      {"\\033 stays", "\\033 stays"},
  };
  for (const Row& row : rows) {
    char out[256];
    EscapeControls(out, sizeof out, row.in.c_str());
    EXPECT_EQ(std::string(out), row.shown) << row.in;
  }
  // Names also show "/" between their folders; a cut never splits an escape.
  char name[16];
  DisplayName(name, sizeof name, "docs\\\x1b[31m");
  EXPECT_STREQ(name, "docs/\\033[31m");
  DisplayName(name, 8, "ab\x1b\x1b");
  EXPECT_STREQ(name, "ab\\033");
  SetProgressMember("docs\\\x1b[2K");  // and the status line's member
  CurrentProgressMemberUtf8(name, sizeof name);
  EXPECT_STREQ(name, "docs/\\033[2K");
  SetProgressMember("");
  ::testing::internal::CaptureStderr();
  ShowMessage("a\x1b[2Kb: \r\n\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "a\\033[2Kb: \\r\\n\n");
}

}  // namespace
