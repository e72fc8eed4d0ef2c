// The window layer's own controls, driven with keys as a user would: edit
// lines and the list view.
#include <string>
#include <vector>

#include "ui_support.h"

namespace {

using uitest::ItemText;

constexpr int kField = 10, kScroller = 11, kList = 12;

// Two edits ten cells wide, one that scrolls and one that does not, and a
// list view whose rows can be renamed.
constexpr DialogItem kItems[] = {
    {kField, ControlKind::Edit, u"", WS_BORDER | WS_TABSTOP, 3, 0, 30, 8},
    {kScroller, ControlKind::Edit, u"", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 3, 8, 30, 8},
    {kList, ControlKind::ListView, u"", LVS_LIST | LVS_EDITLABELS | WS_TABSTOP, 3, 16, 180, 32},
};
constexpr DialogTemplate kTemplate = {1, WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, u"Test", 9, nullptr, 200, 60,
                                      kItems, 3};

struct Seen {
  int changes = 0;
  std::vector<std::u16string> renamed;
};
Seen g_seen;

INT_PTR TestProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
    ++g_seen.changes;
    return TRUE;
  }
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->code == LVN_ENDLABELEDITW) {
      const auto* info = reinterpret_cast<const NMLVDISPINFOW*>(lParam);
      if (info->item.pszText != nullptr) g_seen.renamed.push_back(info->item.pszText);
      SetWindowLongW(dialog, DWL_MSGRESULT, TRUE);
      return TRUE;
    }
  }
  return FALSE;
}

class WindowTest : public uitest::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    g_seen = Seen();
    dialog_ = CreateDialogIndirectParamW(nullptr, &kTemplate, nullptr, TestProc, 0);
    ASSERT_NE(dialog_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(dialog_);
    DialogTest::TearDown();
  }
  void Keys(std::initializer_list<UINT> keys) {
    for (UINT vk : keys) DialogKey(dialog_, vk, 0);
  }
  void Type(const std::u16string& text) { uitest::Type(dialog_, text); }
  std::string Screen() {
    char text[8192];
    SnapshotScreen(text, sizeof text);
    return text;
  }
  HWND dialog_ = nullptr;
};

TEST_F(WindowTest, EditsInsideTheText) {
  SetFocus(GetDlgItem(dialog_, kScroller));
  Type(u"acd");
  Keys({VK_LEFT, VK_LEFT});
  Type(u"b");
  EXPECT_EQ(ItemText(dialog_, kScroller), u"abcd");
  Keys({VK_HOME, VK_DELETE});
  EXPECT_EQ(ItemText(dialog_, kScroller), u"bcd");
  Keys({VK_END, VK_BACK, VK_RIGHT});
  Type(u"!");
  EXPECT_EQ(ItemText(dialog_, kScroller), u"bc!");
  Keys({VK_HOME, VK_BACK, VK_LEFT, VK_RIGHT, VK_RIGHT, VK_BACK});
  EXPECT_EQ(ItemText(dialog_, kScroller), u"b!");
  Keys({VK_END, VK_DELETE});  // nothing after the caret
  EXPECT_EQ(ItemText(dialog_, kScroller), u"b!");
  EXPECT_EQ(g_seen.changes, 8);  // moves send no change
  // A new text puts the caret at its end.
  SetDlgItemTextW(dialog_, kScroller, u"xy");
  Type(u"z");
  EXPECT_EQ(ItemText(dialog_, kScroller), u"xyz");
}

TEST_F(WindowTest, AFieldWithoutScrollingTakesOnlyWhatFitsWhereverTheCaretIs) {
  SetFocus(GetDlgItem(dialog_, kField));
  Type(u"123456789xyz");  // nine characters fit before the cursor's cell
  EXPECT_EQ(ItemText(dialog_, kField), u"123456789");
  Keys({VK_HOME});
  Type(u"0");
  EXPECT_EQ(ItemText(dialog_, kField), u"123456789");
  Keys({VK_DELETE});
  Type(u"0");
  EXPECT_EQ(ItemText(dialog_, kField), u"023456789");
  SendDlgItemMessageW(dialog_, kField, EM_SETPASSWORDCHAR, u'*', 0);
  Keys({VK_END, VK_LEFT, VK_BACK});
  Type(u"#");
  EXPECT_EQ(ItemText(dialog_, kField), u"0234567#9");
  EXPECT_NE(Screen().find("*********"), std::string::npos);
  EXPECT_EQ(Screen().find("0234"), std::string::npos);
}

TEST_F(WindowTest, AScrollingFieldShowsTheCaret) {
  SetFocus(GetDlgItem(dialog_, kScroller));
  Type(u"abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(ItemText(dialog_, kScroller), u"abcdefghijklmnopqrstuvwxyz");
  std::string s = Screen();
  EXPECT_NE(s.find("rstuvwxyz_"), std::string::npos) << s;
  EXPECT_EQ(s.find("abc"), std::string::npos) << s;
  Keys({VK_HOME});
  s = Screen();
  EXPECT_NE(s.find("abcdefghij"), std::string::npos) << s;
  EXPECT_EQ(s.find("xyz"), std::string::npos) << s;
}

TEST_F(WindowTest, RenameEditsInsideTheName) {
  HWND list = GetDlgItem(dialog_, kList);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.pszText = const_cast<WCHAR*>(u"notes.txt");
  SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  SetFocus(list);
  Keys({VK_F2, VK_HOME});
  Type(u"old ");
  Keys({VK_END, VK_LEFT, VK_LEFT, VK_LEFT, VK_LEFT, VK_BACK, VK_BACK, VK_BACK, VK_BACK, VK_BACK});
  Type(u"memo");
  Keys({VK_DELETE});
  Type(u",");
  Keys({VK_RETURN});
  EXPECT_EQ(g_seen.renamed, std::vector<std::u16string>{u"old memo,txt"});
}

// List view: the names flow down the columns and on into the next column;
// Left and Right move by a column and the view scrolls sideways.
TEST_F(WindowTest, ListViewFlowsNamesIntoColumns) {
  HWND list = GetDlgItem(dialog_, kList);  // 60 cells by 4 rows
  for (int i = 1; i <= 30; ++i) {
    std::u16string name = u"item-" + uitest::Wide(std::to_string(100 + i).substr(1));
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = i;
    item.pszText = &name[0];
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  SetFocus(list);
  auto focused = [&] { return SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED); };
  std::string s = Screen();
  // Columns of 9 cells (the name and two spaces): six side by side.
  EXPECT_NE(s.find("item-01  item-05  item-09  item-13  item-17  item-21"), std::string::npos) << s;
  EXPECT_NE(s.find("item-04  item-08"), std::string::npos) << s;
  EXPECT_EQ(s.find("item-25"), std::string::npos) << s;
  Keys({VK_LEFT});
  EXPECT_EQ(focused(), 0);
  Keys({VK_DOWN, VK_RIGHT, VK_RIGHT});
  EXPECT_EQ(focused(), 9);
  for (int i = 0; i < 5; ++i) Keys({VK_RIGHT});
  EXPECT_EQ(focused(), 29);  // the last one, in the eighth column
  s = Screen();
  EXPECT_NE(s.find("item-09  item-13  item-17  item-21  item-25  item-29"), std::string::npos) << s;
  EXPECT_EQ(s.find("item-05"), std::string::npos) << s;
  Keys({VK_HOME});
  EXPECT_NE(Screen().find("item-01  item-05"), std::string::npos);
  // Report view: one row per line, under the headers.
  SetWindowLongW(list, GWL_STYLE, (GetWindowLongW(list, GWL_STYLE) & ~LVS_TYPEMASK) | LVS_REPORT);
  s = Screen();
  EXPECT_EQ(s.find("item-01  item-05"), std::string::npos) << s;
  EXPECT_NE(s.find("item-01"), std::string::npos) << s;
  EXPECT_EQ(s.find("item-04"), std::string::npos) << s;  // three rows below the (empty) header
}

}  // namespace
