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

}  // namespace
