// The folder browser driven through the window layer: start folder, ancestor
// list, listing and patterns, size texts, accepting in both modes, folder
// up, rename and delete.
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "shell/browser.h"
#include "ui_support.h"

namespace {

using testutil::FileExists;
using testutil::IsDirectory;
using testutil::WriteFile;
using uitest::Command;
using uitest::ProgramPath;

TEST(WildcardMatch, FollowsThePatternRules) {
  EXPECT_TRUE(WildcardMatch(u"*.*", u"README"));  // "*.*" also takes names without a dot
  EXPECT_TRUE(WildcardMatch(u"*.ZIP", u"A.ZIP"));
  EXPECT_FALSE(WildcardMatch(u"*.ZIP", u"A.ZIP.BAK"));
  EXPECT_TRUE(WildcardMatch(u"*.ZIP", u".ZIP"));
  EXPECT_TRUE(WildcardMatch(u"A?C", u"ABC"));
  EXPECT_FALSE(WildcardMatch(u"A?C", u"AC"));
  EXPECT_TRUE(WildcardMatch(u"A*B*C", u"AXXBYYBZC"));
  EXPECT_FALSE(WildcardMatch(u"A*B*C", u"AXXBYYBZ"));
  EXPECT_TRUE(WildcardMatch(u"*", u""));
  EXPECT_TRUE(WildcardMatch(u"**A", u"BA"));
  EXPECT_FALSE(WildcardMatch(u"ABC", u"AB"));
  EXPECT_FALSE(WildcardMatch(u"*.TXT", u"A.ZIP"));
}

TEST(FormatSize, UsesBytesKilobytesAndMegabytes) {
  const struct {
    DWORD size;
    const char16_t* text;
  } cases[] = {{0, u"0"},           {9999, u"9999"},          {10000, u"10KB"},
               {999999, u"999KB"},  {1000000, u"1,000KB"},    {12345678, u"12,345KB"},
               {99999999, u"99,999KB"}, {100000000, u"100MB"}, {0xFFFFFFFFu, u"4294MB"}};
  for (const auto& c : cases) {
    WCHAR text[32];
    FormatSize(c.size, text, 32);
    EXPECT_EQ(std::u16string(text), c.text) << c.size;
  }
}

TEST(PatternList, KeepsCopiesAndTheLongestLength) {
  PatternList list;
  WCHAR pattern[] = u"*.ZIP";
  ASSERT_TRUE(AppendPattern(&list, pattern));
  ASSERT_TRUE(AppendPattern(&list, u"*.LZH1"));
  pattern[0] = u'X';
  EXPECT_EQ(list.count, 2);
  EXPECT_EQ(list.capacity, 2);
  EXPECT_EQ(list.longest, 6u);
  EXPECT_EQ(std::u16string(list.entries[0].text), u"*.ZIP");
  ClearPatterns(&list);
  ClearPatterns(&list);  // twice is harmless
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.entries, nullptr);
}

class BrowserTest : public uitest::DialogTest {
 protected:
  // Runs the browser on `start`; `act` drives it once it is up.
  INT_PTR Run(int mode, const std::u16string& start, const std::u16string& patterns,
              std::function<void(HWND)> act) {
    PrepareRequest(&request_);
    request_.Mode = mode;
    request_.MustExist = 1;
    wcscpy_s_w(path_, MAX_PATH, start.c_str());
    bool acted = false;
    script_ = [&](HWND dialog) {
      if (uitest::Caption(dialog) != u"File") return false;
      if (acted) return false;
      acted = true;
      act(dialog);
      return true;
    };
    const INT_PTR r = RunBrowser(&request_, nullptr, path_, patterns.c_str());
    ReleaseRequest(&request_);
    return r;
  }
  static HWND List(HWND d) { return GetDlgItem(d, 903); }
  static std::vector<std::u16string> Rows(HWND d) {
    std::vector<std::u16string> rows;
    const int n = static_cast<int>(SendMessageW(List(d), LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) rows.push_back(Cell(d, i, 0));
    return rows;
  }
  static std::u16string Cell(HWND d, int row, int sub) {
    WCHAR text[MAX_PATH];
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = sub;
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    SendMessageW(List(d), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return text;
  }
  static void Focus(HWND d, const std::u16string& name) {
    const auto rows = Rows(d);
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i] != name) continue;
      LVITEMW state{};
      state.stateMask = state.state = LVIS_FOCUSED | LVIS_SELECTED;
      SendMessageW(List(d), LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
      return;
    }
    ADD_FAILURE() << "no row " << uitest::Utf8(name);
  }
  static void Notify(HWND d, int code, WORD key = 0) {
    NMLVKEYDOWN n{};
    n.hdr = {List(d), 903, code};
    n.wVKey = key;
    SendMessageW(d, WM_NOTIFY, 903, reinterpret_cast<LPARAM>(&n));
  }
  static std::vector<std::u16string> Ancestors(HWND d, int* selected) {
    HWND combo = GetDlgItem(d, 902);
    std::vector<std::u16string> out;
    const int n = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
      WCHAR text[MAX_PATH];
      SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      out.push_back(text);
    }
    *selected = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    return out;
  }
  std::u16string Folder() const { return ProgramPath(tmp_.path()) + u"\\"; }
  // A host path as a user types it: "/" between folders.
  static std::u16string ProgramSlashes(const std::string& host) {
    std::u16string typed = ProgramPath(host);
    std::replace(typed.begin(), typed.end(), u'\\', u'/');
    return typed;
  }

  BrowserRequest request_;
  WCHAR path_[MAX_PATH];
};

// Nothing chosen yet: the current folder. The root shows as "/" and
// "Folder Up" there stays there.
TEST_F(BrowserTest, EmptyPathStartsInTheCurrentFolder) {
  char current[4096];
  ASSERT_NE(getcwd(current, sizeof current), nullptr);
  std::u16string expected = ProgramPath(current);
  if (expected.back() != u'\\') expected += u'\\';
  std::vector<std::u16string> ancestors;
  int selected = -1;
  EXPECT_EQ(Run(kPickFile, u"", u"*.*", [&](HWND d) {
              EXPECT_EQ(std::u16string(request_.CurrentFolder), expected);
              SendDlgItemMessageW(d, 902, CB_SETCURSEL, 0, 0);
              Command(d, 902, CBN_SELCHANGE);
              ancestors = Ancestors(d, &selected);
              Command(d, 905);
              EXPECT_EQ(std::u16string(request_.CurrentFolder), u"\\");
              Command(d, IDCANCEL);
            }),
            IDCANCEL);
  EXPECT_EQ(ancestors, std::vector<std::u16string>{u"/"});
  EXPECT_EQ(selected, 0);
  EXPECT_EQ(std::u16string(path_), u"");  // a cancelled run leaves the path alone
}

// A name typed with "/" counts like one typed with "\"; one that starts
// with a separator is a path from the root.
TEST_F(BrowserTest, TypedSlashesSeparateFolders) {
  testutil::System("mkdir -p '" + tmp_ / "a" + "'");
  WriteFile(tmp_ / "a/good.zip", "x");
  for (const std::u16string& typed : {std::u16string(u"a/good.zip"), ProgramSlashes(tmp_ / "a/good.zip")}) {
    EXPECT_EQ(Run(kPickFile, Folder(), u"*.*", [&](HWND d) {
                SetDlgItemTextW(d, 901, typed.c_str());
                Command(d, IDOK);
              }),
              IDOK);
    EXPECT_EQ(std::u16string(path_), Folder() + u"a\\good.zip");
  }
}

TEST_F(BrowserTest, AncestorListIndentsAndJumpsBack) {
  testutil::System("mkdir -p '" + tmp_ / "My Documents/Work" + "'");
  WriteFile(tmp_ / "My Documents/Work/a.zip", "x");
  const std::u16string start = Folder() + u"My Documents\\Work\\a.zip";
  std::vector<std::u16string> ancestors;
  int selected = -1;
  Run(kPickFile, start, u"*.*", [&](HWND d) {
    ancestors = Ancestors(d, &selected);
    // Choose the My Documents entry (one level up).
    SendDlgItemMessageW(d, 902, CB_SETCURSEL, ancestors.size() - 2, 0);
    Command(d, 902, CBN_SELCHANGE);
    EXPECT_EQ(std::u16string(request_.CurrentFolder), Folder() + u"My Documents\\");
    EXPECT_EQ(Rows(d), std::vector<std::u16string>{u"Work"});
    Command(d, IDCANCEL);
  });
  ASSERT_GE(ancestors.size(), 3u);
  const size_t depth = ancestors.size() - 1;
  EXPECT_EQ(ancestors[0], u"/");
  EXPECT_EQ(ancestors[depth - 1], std::u16string(depth - 1, u' ') + u"My Documents");
  EXPECT_EQ(ancestors[depth], std::u16string(depth, u' ') + u"Work");
  EXPECT_EQ(selected, static_cast<int>(depth));
}

TEST_F(BrowserTest, ListsFoldersFirstAndFiltersFilesByPattern) {
  for (const char* name : {"a.zip", "A.ZIP", "a.zip.bak", "README", ".hidden"}) WriteFile(tmp_ / name, "x");
  testutil::System("mkdir -p '" + tmp_ / "sub" + "' '" + tmp_ / ".dotdir" + "'");
  std::vector<std::u16string> zipRows, allRows;
  Run(kPickFile, Folder(), u"*.zip", [&](HWND d) {
    zipRows = Rows(d);
    Command(d, IDCANCEL);
  });
  // Names equal but for letter case keep the file system's order.
  ASSERT_EQ(zipRows.size(), 3u);
  EXPECT_EQ(zipRows[0], u"sub");
  std::sort(zipRows.begin() + 1, zipRows.end());
  EXPECT_EQ(zipRows, (std::vector<std::u16string>{u"sub", u"A.ZIP", u"a.zip"}));
  Run(kPickFile, Folder(), u"*.*", [&](HWND d) {
    allRows = Rows(d);
    Command(d, IDCANCEL);
  });
  EXPECT_EQ(allRows.size(), 5u);  // sub, a.zip, A.ZIP, a.zip.bak, README; no dot names
  EXPECT_EQ(allRows[0], u"sub");
  std::vector<std::u16string> folderRows;
  Run(kPickFolder, Folder(), u"*.*", [&](HWND d) {
    folderRows = Rows(d);
    Command(d, IDCANCEL);
  });
  EXPECT_EQ(folderRows, std::vector<std::u16string>{u"sub"});
}

TEST_F(BrowserTest, ShowsSizeAndDateColumnsAndSwitchesViews) {
  WriteFile(tmp_ / "big.bin", std::string(12345, 'x'));
  WriteFile(tmp_ / "small.bin", std::string(9999, 'x'));
  Run(kPickFile, Folder(), u"*.*", [&](HWND d) {
    const auto rows = Rows(d);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Cell(d, 0, 1), u"12KB");
    EXPECT_EQ(Cell(d, 1, 1), u"9999");
    EXPECT_EQ(Cell(d, 0, 2).size(), 19u);  // yyyy-mm-dd hh:mm:ss
    Command(d, 904);
    EXPECT_EQ(GetWindowLongW(List(d), GWL_STYLE) & LVS_TYPEMASK, static_cast<LONG_PTR>(LVS_REPORT));
    char screen[8192];
    SnapshotScreen(screen, sizeof screen);
    EXPECT_NE(std::string(screen).find("Name"), std::string::npos);
    EXPECT_NE(std::string(screen).find("12KB"), std::string::npos);
    Command(d, 906);
    EXPECT_EQ(GetWindowLongW(List(d), GWL_STYLE) & LVS_TYPEMASK, static_cast<LONG_PTR>(LVS_LIST));
    Command(d, IDCANCEL);
  });
}

TEST_F(BrowserTest, PickFileAcceptsAnExistingFileOnly) {
  WriteFile(tmp_ / "a.zip", "x");
  testutil::System("mkdir -p '" + tmp_ / "sub" + "'");
  EXPECT_EQ(Run(kPickFile, Folder(), u"*.*", [&](HWND d) {
              SetDlgItemTextW(d, 901, u"missing.zip");
              Command(d, IDOK);
              EXPECT_TRUE(IsWindow(d));  // refused silently
              SetDlgItemTextW(d, 901, u"sub");
              Command(d, IDOK);
              EXPECT_TRUE(IsWindow(d));  // a folder is no file
              SetDlgItemTextW(d, 901, u"");
              Command(d, IDOK);
              EXPECT_TRUE(IsWindow(d));
              // A click on the file puts its name in the field; a double
              // click then accepts it.
              Focus(d, u"a.zip");
              Notify(d, NM_CLICK);
              EXPECT_EQ(uitest::ItemText(d, 901), u"a.zip");
              Notify(d, NM_DBLCLK);
            }),
            IDOK);
  EXPECT_EQ(std::u16string(path_), Folder() + u"a.zip");
}

TEST_F(BrowserTest, ClickOnAFolderKeepsTheTypedName) {
  testutil::System("mkdir -p '" + tmp_ / "sub" + "'");
  WriteFile(tmp_ / "sub/in.gz", "x");
  Run(kPickFile, Folder(), u"*.*", [&](HWND d) {
    SetDlgItemTextW(d, 901, u"typed");
    Command(d, 901, EN_CHANGE);
    Focus(d, u"sub");
    Notify(d, NM_CLICK);
    EXPECT_EQ(uitest::ItemText(d, 901), u"typed");
    Notify(d, NM_DBLCLK);  // opens the folder
    EXPECT_EQ(std::u16string(request_.CurrentFolder), Folder() + u"sub\\");
    EXPECT_EQ(Rows(d), std::vector<std::u16string>{u"in.gz"});
    Command(d, 905);  // and back up
    EXPECT_EQ(std::u16string(request_.CurrentFolder), Folder());
    Command(d, IDCANCEL);
  });
}

TEST_F(BrowserTest, PickFolderReturnsTheFolderShown) {
  testutil::System("mkdir -p '" + tmp_ / "sub" + "'");
  WriteFile(tmp_ / "file", "x");
  EXPECT_EQ(Run(kPickFolder, Folder() + u"sub\\", u"*.*", [&](HWND d) {
              EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, 901)));
              Command(d, IDOK);
            }),
            IDOK);
  EXPECT_EQ(std::u16string(path_), Folder() + u"sub");
  EXPECT_EQ(Run(kPickFolder, u"\\", u"*.*", [&](HWND d) { Command(d, IDOK); }), IDOK);
  EXPECT_EQ(std::u16string(path_), u"");  // the root is empty text
}

TEST_F(BrowserTest, RenameNeverReplacesAnotherFile) {
  WriteFile(tmp_ / "one.txt", "1");
  WriteFile(tmp_ / "two.txt", "2");
  Run(kPickFile, Folder(), u"*.*", [&](HWND d) {
    Focus(d, u"one.txt");
    DialogKey(d, VK_TAB, 0);  // the list has the focus; move it away and back
    SetFocus(List(d));
    DialogKey(d, VK_F2, 0);
    EXPECT_EQ(request_.LabelEditing, 1);
    Command(d, IDCANCEL);  // commands are ignored during a rename
    EXPECT_TRUE(IsWindow(d));
    for (int i = 0; i < 7; ++i) DialogKey(d, VK_BACK, 0);
    uitest::Type(d, u"two.txt");
    DialogKey(d, VK_RETURN, 0);
    EXPECT_EQ(request_.LabelEditing, 0);
    EXPECT_EQ(Rows(d), (std::vector<std::u16string>{u"one.txt", u"two.txt"}));
    // A free name renames.
    Focus(d, u"one.txt");
    DialogKey(d, VK_F2, 0);
    uitest::Type(d, u".bak");
    DialogKey(d, VK_RETURN, 0);
    EXPECT_EQ(Rows(d), (std::vector<std::u16string>{u"one.txt.bak", u"two.txt"}));
    // Esc cancels.
    Focus(d, u"two.txt");
    DialogKey(d, VK_F2, 0);
    uitest::Type(d, u"x");
    DialogKey(d, VK_ESCAPE, 0);
    EXPECT_TRUE(IsWindow(d));
    Command(d, IDCANCEL);
  });
  EXPECT_EQ(testutil::ReadFile(tmp_ / "two.txt"), "2");
  EXPECT_EQ(testutil::ReadFile(tmp_ / "one.txt.bak"), "1");
}

TEST_F(BrowserTest, DeleteAsksAndKeepsAFolderWithContents) {
  testutil::System("mkdir -p '" + tmp_ / "full" + "' '" + tmp_ / "empty" + "'");
  WriteFile(tmp_ / "full/x", "x");
  WriteFile(tmp_ / "keep", "k");
  WriteFile(tmp_ / "gone", "g");
  std::vector<std::u16string> asked;
  auto browse = script_;
  Run(kPickFile, Folder(), u"*.*", [&](HWND d) {
    auto answer = IDYES;
    script_ = [&](HWND box) {
      asked.push_back(uitest::Caption(box) + u":" + uitest::BoxText(box));
      Command(box, answer);
      return true;
    };
    for (const char16_t* name : {u"full", u"empty", u"gone"}) {
      Focus(d, name);
      Notify(d, LVN_KEYDOWN, VK_DELETE);
    }
    answer = IDNO;
    Focus(d, u"keep");
    Notify(d, LVN_KEYDOWN, VK_DELETE);
    Notify(d, LVN_KEYDOWN, VK_BACK);  // other keys do nothing
    Command(d, IDCANCEL);
  });
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"Delete ?:full", u"Delete ?:empty", u"Delete ?:gone", u"Delete ?:keep"}));
  EXPECT_TRUE(IsDirectory(tmp_ / "full"));
  EXPECT_FALSE(IsDirectory(tmp_ / "empty"));
  EXPECT_FALSE(FileExists(tmp_ / "gone"));
  EXPECT_TRUE(FileExists(tmp_ / "keep"));
}

TEST_F(BrowserTest, FillsTheScreenAndFollowsItsSize) {
  Run(kPickFile, Folder(), u"*.*", [&](HWND d) {
    RECT before, after, list;
    GetWindowRect(d, &before);
    SetScreenSize(30, 100);
    GetWindowRect(d, &after);
    GetWindowRect(List(d), &list);
    EXPECT_GT(after.right, before.right);
    EXPECT_GT(after.bottom, before.bottom);
    char screen[16384];
    SnapshotScreen(screen, sizeof screen);
    std::string s(screen);
    EXPECT_NE(s.find("F10:  Action  Tools"), std::string::npos);
    // The frame spans the new width (counted in characters).
    const std::string top = s.substr(0, s.find('\n'));
    size_t chars = 0;
    for (unsigned char c : top) chars += (c & 0xC0) != 0x80;
    EXPECT_EQ(chars, 100u);
    EXPECT_EQ(list.bottom - list.top, (30 - 1 - 2 - 2 - 1) * 26);  // below the edit and the drop-down list
    Command(d, IDCANCEL);
  });
}

TEST_F(BrowserTest, MenuBarSendsItsCommands) {
  testutil::System("mkdir -p '" + tmp_ / "sub" + "'");
  Run(kPickFolder, Folder() + u"sub\\", u"*.*", [&](HWND d) {
    DialogKey(d, VK_F10, 0);
    DialogKey(d, VK_RIGHT, 0);  // Tools
    for (int i = 0; i < 3; ++i) DialogKey(d, VK_DOWN, 0);  // Folder Up
    DialogKey(d, VK_RETURN, 0);
    EXPECT_EQ(std::u16string(request_.CurrentFolder), Folder());
    DialogKey(d, VK_F10, 0);
    DialogKey(d, VK_RETURN, 0);  // Action, OK
  });
  EXPECT_EQ(std::u16string(path_), ProgramPath(tmp_.path()));
}

}  // namespace
