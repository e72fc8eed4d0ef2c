// The main dialog, the progress window and the password prompt, driven
// through the window layer.
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/handler.h"
#include "core/progress.h"
#include "core/prompt.h"
#include "core/settings.h"
#include "shell/handler_list.h"
#include "shell/password_dialog.h"
#include "shell/resources/resources.h"
#include "ui_support.h"

namespace {

using uitest::Command;
using uitest::ItemText;

class MainDialogTest : public uitest::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    g_ReadAheadBuffer = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, kReadAheadSize));
    g_HandlerRegistry = CreateHandlerRegistry();
    g_ResultCounters = ResultCounters();
    g_bMakeDir = g_bOpenDir = false;
  }
  void TearDown() override {
    delete g_HandlerRegistry;
    g_HandlerRegistry = nullptr;
    LocalFree(g_ReadAheadBuffer);
    g_ReadAheadBuffer = nullptr;
    DialogTest::TearDown();
  }
  // Runs the main dialog; `act` drives it, then it is closed with Cancel.
  // Message boxes and browsers on the way are answered by `nested`.
  void Run(std::function<void(HWND)> act, std::function<bool(HWND)> nested = nullptr) {
    bool acted = false;
    script_ = [&](HWND d) {
      if (uitest::Caption(d) == u"Dorvane" && GetDlgItem(d, 1009) != nullptr) {
        if (acted) return false;
        acted = true;
        act(d);
        Command(d, IDCANCEL);
        return true;
      }
      return nested != nullptr && nested(d);
    };
    DialogBoxIndirectParamW(g_hInstance, LoadDialogTemplate(102), nullptr, MainDialogProc, 0);
    EXPECT_TRUE(acted);
  }
  // Answers a browser by choosing `path` (a file or, "" for the root, a folder).
  static std::function<bool(HWND)> Choose(std::u16string name, std::vector<std::u16string>* boxes = nullptr) {
    return [name, boxes](HWND d) {
      const std::u16string caption = uitest::Caption(d);
      if (caption == u"File") {
        if (name == u"<cancel>") {
          Command(d, IDCANCEL);
        } else {
          SetDlgItemTextW(d, 901, name.c_str());
          Command(d, IDOK);
        }
        return true;
      }
      if (boxes != nullptr && GetDlgItem(d, IDOK) != nullptr) {
        boxes->push_back(uitest::BoxText(d));
        Command(d, IDOK);
        return true;
      }
      return false;
    };
  }
  std::string ProgramTmp() const { return uitest::Utf8(uitest::ProgramPath(tmp_.path())); }
};

// With nothing stored, extraction goes into the current folder, and the
// path button shows it ("/" between folders).
TEST_F(MainDialogTest, FirstStartShowsTheCurrentFolderAndNoFile) {
  char current[4096];
  ASSERT_NE(getcwd(current, sizeof current), nullptr);
  const std::u16string shown = uitest::ProgramPath(current);
  Run([&](HWND d) {
    std::u16string expected = shown;
    std::replace(expected.begin(), expected.end(), u'\\', u'/');
    EXPECT_EQ(ItemText(d, 1012), expected);
    EXPECT_EQ(ItemText(d, 1009), u"");
    EXPECT_EQ(IsDlgButtonChecked(d, 1013), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(IsDlgButtonChecked(d, 1010), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, 1002)));
    // Initialisation reports that it did not set the focus; only messages
    // other than commands go unhandled.
    EXPECT_EQ(MainDialogProc(d, WM_INITDIALOG, 0, 0), FALSE);
    EXPECT_EQ(MainDialogProc(d, WM_COMMAND, 4242, 0), TRUE);
    EXPECT_EQ(MainDialogProc(d, WM_SIZE, 0, 0), FALSE);
  });
}

TEST_F(MainDialogTest, ShowsTheStoredPathAndFlags) {
  WriteExtractPath(u"\\");
  WriteMakeDir(true);
  Run([](HWND d) {
    EXPECT_EQ(ItemText(d, 1012), u"/");
    EXPECT_EQ(IsDlgButtonChecked(d, 1013), static_cast<UINT>(BST_CHECKED));
  });
  WriteExtractPath(u"\\data\\out");
  Run([](HWND d) { EXPECT_EQ(ItemText(d, 1012), u"/data/out"); });
}

TEST_F(MainDialogTest, CheckBoxesStoreOneOrZero) {
  Run([](HWND d) {
    DialogKey(d, VK_TAB, 0);  // file button
    DialogKey(d, VK_TAB, 0);  // path button
    DialogKey(d, VK_TAB, 0);  // "Make folder"
    DialogKey(d, VK_SPACE, u' ');
    EXPECT_TRUE(ReadMakeDir());
    DialogKey(d, VK_TAB, 0);  // "Open folder"
    DialogKey(d, VK_SPACE, u' ');
    EXPECT_TRUE(ReadOpenDir());
    DialogKey(d, VK_SPACE, u' ');
    EXPECT_FALSE(ReadOpenDir());
    // A command with a notification code is not a click.
    CheckDlgButton(d, 1013, BST_UNCHECKED);
    Command(d, 1013, 5);
    EXPECT_TRUE(ReadMakeDir());
  });
  EXPECT_FALSE(g_bMakeDir);  // the run's flags stay as they were read at start-up
}

TEST_F(MainDialogTest, FileButtonShowsTheChoiceAndCancelClearsIt) {
  testutil::WriteFile(tmp_ / "a.zip", "x");
  const std::u16string path = uitest::ProgramPath(tmp_ / "a.zip");
  Run(
      [&](HWND d) {
        Command(d, 1009);
        EXPECT_EQ(ItemText(d, 1009), u"a.zip");
        EXPECT_EQ(std::u16string(SelectedFile), path);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, 1002)));
      },
      Choose(path));
  Run(
      [&](HWND d) {
        Command(d, 1009);
        EXPECT_EQ(ItemText(d, 1009), u"a.zip");
        Command(d, 1009);  // cancelled this time
        EXPECT_EQ(ItemText(d, 1009), u"");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, 1002)));
      },
      [&, first = true](HWND d) mutable {
        if (uitest::Caption(d) != u"File") return false;
        if (first) SetDlgItemTextW(d, 901, path.c_str());
        Command(d, first ? IDOK : IDCANCEL);
        first = false;
        return true;
      });
}

TEST_F(MainDialogTest, PathButtonStoresTheChoiceOrTheRoot) {
  Run([](HWND d) {
    Command(d, 1012);
    EXPECT_EQ(ItemText(d, 1012), u"/");
  }, Choose(u"<cancel>"));
  char stored[kExtractPathNarrowSize];
  ASSERT_TRUE(ReadExtractPath(stored));
  EXPECT_STREQ(stored, "");  // "\" was stored, which reads as the root
}

TEST_F(MainDialogTest, ExtractReportsTheTotalsSinceStartUp) {
  testutil::WriteFile(tmp_ / "junk.bin", "nothing any handler reads");
  testutil::WriteFile(tmp_ / "data.gz", testutil::ReadFile(testutil::Fixture("core/noname.gz")));
  testutil::System("mkdir -p '" + tmp_ / "out" + "'");
  WriteExtractPath(uitest::ProgramPath(tmp_ / "out").c_str());
  std::vector<std::u16string> boxes;
  Run([&](HWND d) {
    wcscpy_w(SelectedFile, uitest::ProgramPath(tmp_ / "junk.bin").c_str());
    Command(d, 1002);
    wcscpy_w(SelectedFile, uitest::ProgramPath(tmp_ / "data.gz").c_str());
    Command(d, 1002);
  }, Choose(u"", &boxes));
  const std::u16string once = u" NOT_A_FILE: 0 times\nUNSUPPORTED: 1 times\n     FAILED: 0 times";
  const std::u16string named = uitest::Wide(tmp_ / "junk.bin: not an archive this program reads");
  // The file is named first; the second, successful extraction still shows the totals.
  EXPECT_EQ(boxes, (std::vector<std::u16string>{named, once, once}));
  EXPECT_EQ(testutil::ReadFile(tmp_ / "out/data"), testutil::ReadFile(testutil::Fixture("core/lines.txt")));
}

TEST_F(MainDialogTest, NothingIsShownWhileTheTotalsAreZero) {
  testutil::WriteFile(tmp_ / "data.gz", testutil::ReadFile(testutil::Fixture("core/noname.gz")));
  WriteExtractPath(uitest::ProgramPath(tmp_.path()).c_str());
  int boxes = 0;
  Run([&](HWND d) {
    wcscpy_w(SelectedFile, uitest::ProgramPath(tmp_ / "data.gz").c_str());
    Command(d, 1002);
  }, [&](HWND d) {
    ++boxes;
    Command(d, IDOK);
    return true;
  });
  EXPECT_EQ(boxes, 0);
  EXPECT_TRUE(testutil::FileExists(tmp_ / "data"));
}

TEST_F(MainDialogTest, CancelEndsTheDialog) {
  script_ = [](HWND d) {
    DialogKey(d, VK_ESCAPE, 0);
    return true;
  };
  EXPECT_EQ(DialogBoxIndirectParamW(g_hInstance, LoadDialogTemplate(102), nullptr, MainDialogProc, 0), 0);
  MSG m;
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));  // the quit request was used up
}

TEST_F(MainDialogTest, ProgressWindowShowsTitleAndNameAndCannotBeClosed) {
  ProgressRecord record;
  strcpy(record.FileName, "a.lzh");
  strcpy(record.Title, "Dorvane: Lzh" DECOMPRESS_SUFFIX);
  HWND w = CreateDialogIndirectParamW(g_hInstance, LoadDialogTemplate(106), nullptr, ProgressWindowProc,
                                      reinterpret_cast<LPARAM>(&record));
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(IsWindowVisible(w));
  EXPECT_EQ(uitest::Caption(w), u"Dorvane: Lzh \u89e3\u51cd");
  EXPECT_EQ(ItemText(w, 1011), u"a.lzh");
  char screen[8192];
  SnapshotScreen(screen, sizeof screen);
  EXPECT_NE(std::string(screen).find("Dorvane: Lzh 解凍"), std::string::npos);
  EXPECT_EQ(SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0), TRUE);
  EXPECT_EQ(SendMessageW(w, WM_COMMAND, IDCANCEL, 0), TRUE);
  EXPECT_EQ(ProgressWindowProc(w, WM_COMMAND, IDOK, 0), FALSE);
  EXPECT_TRUE(IsWindow(w));
  DestroyWindow(w);
}

TEST_F(MainDialogTest, ProgressThreadDrawsWhileTheMainThreadWaits) {
  ProgressRecord record;
  strcpy(record.FileName, "big.tar");
  strcpy(record.Title, "Dorvane: Tar");
  OpenProgress(&record);
  std::string screen;
  for (int i = 0; i < 200 && screen.find("big.tar") == std::string::npos; ++i) {
    Sleep(10);
    char text[8192];
    SnapshotScreen(text, sizeof text);
    screen = text;
  }
  EXPECT_NE(screen.find("big.tar"), std::string::npos);
  CloseProgress(&record);
  char text[8192];
  SnapshotScreen(text, sizeof text);
  EXPECT_EQ(std::string(text).find("big.tar"), std::string::npos);
}

// While "Extract" runs, the progress window lies on the main dialog and
// shows the archive, the member and a bar. The password reader looks at the
// screen while the extraction waits for it.
TEST_F(MainDialogTest, ProgressWindowLiesOnTheMainDialogWhileExtracting) {
  testutil::WriteFile(tmp_ / "enc.zip", testutil::ReadFile(testutil::Fixture("zip/enc-stored.zip")));
  WriteExtractPath(uitest::ProgramPath(tmp_.path()).c_str());
  static std::string screen;
  screen.clear();
  SetPasswordReader([](const PasswordQuestion&, char* utf8, unsigned size) {
    char text[8192] = "";
    for (int i = 0; i < 200; ++i) {
      SnapshotScreen(text, sizeof text);
      if (strstr(text, "numbers.txt") != nullptr && strstr(text, "%") != nullptr) break;
      Sleep(20);
    }
    screen = text;
    snprintf(utf8, size, "secret");
  });
  Run([&](HWND d) {
    wcscpy_w(SelectedFile, uitest::ProgramPath(tmp_ / "enc.zip").c_str());
    Command(d, 1002);
  });
  EXPECT_NE(screen.find("enc.zip"), std::string::npos) << screen;
  EXPECT_NE(screen.find("numbers.txt"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\u2591 "), std::string::npos) << screen;  // the bar, then the figures
  EXPECT_TRUE(testutil::FileExists(tmp_ / "numbers.txt"));
}

class PasswordTest : public uitest::DialogTest {};

TEST_F(PasswordTest, HidesTheTextUntilTheBoxIsCleared) {
  std::u16string shownHidden, shownPlain;
  script_ = [&](HWND d) {
    if (uitest::Caption(d) != u"Please Input Password") return false;
    EXPECT_EQ(IsDlgButtonChecked(d, 1004), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(SendDlgItemMessageW(d, 1000, EM_GETPASSWORDCHAR, 0, 0), u'*');
    EXPECT_EQ(GetFocus(), GetDlgItem(d, 1000));
    uitest::Type(d, u"s3cr\u00e9t");
    char screen[8192];
    SnapshotScreen(screen, sizeof screen);
    EXPECT_NE(std::string(screen).find("******"), std::string::npos);
    EXPECT_EQ(std::string(screen).find("s3cr"), std::string::npos);
    SendDlgItemMessageW(d, 1004, BM_CLICK, 0, 0);
    EXPECT_EQ(SendDlgItemMessageW(d, 1000, EM_GETPASSWORDCHAR, 0, 0), 0);
    SnapshotScreen(screen, sizeof screen);
    EXPECT_NE(std::string(screen).find("s3cr\xc3\xa9t"), std::string::npos);
    // No way out but OK.
    Command(d, IDCANCEL);
    SendMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
    DialogKey(d, VK_ESCAPE, 0);
    EXPECT_TRUE(IsWindow(d));
    DialogKey(d, VK_RETURN, 0);
    return true;
  };
  char utf8[64];
  DialogPasswordReader(PasswordQuestion{"", false}, utf8, sizeof utf8);
  EXPECT_STREQ(utf8, "s3cr\xc3\xa9t");
}

// The progress window's thread may make its window after the prompt is up;
// the prompt, which takes the keys, stays drawn over it.
TEST_F(PasswordTest, StaysOverAProgressWindowMadeLater) {
  ProgressRecord record;
  strcpy(record.FileName, "enc.zip");
  strcpy(record.Title, "Dorvane: Zip");
  std::string screen;
  script_ = [&](HWND d) {
    HWND progress = CreateDialogIndirectParamW(g_hInstance, LoadDialogTemplate(106), nullptr, ProgressWindowProc,
                                               reinterpret_cast<LPARAM>(&record));
    char text[8192];
    SnapshotScreen(text, sizeof text);
    screen = text;
    DestroyWindow(progress);
    Command(d, IDOK);
    return true;
  };
  char utf8[16];
  DialogPasswordReader(PasswordQuestion{"", false}, utf8, sizeof utf8);
  EXPECT_NE(screen.find("[x] Hide with '*'"), std::string::npos) << screen;
  EXPECT_NE(screen.find("OK"), std::string::npos) << screen;
}

// The caption names the member and the archive (their control characters
// escaped), and after a wrong try says so.
TEST_F(PasswordTest, FillsTheSlotAndAcceptsEmptyText) {
  std::u16string caption;
  script_ = [&](HWND d) {
    caption = uitest::Caption(d);
    Command(d, IDOK);
    return true;
  };
  char* slot = static_cast<char*>(LocalAlloc(LPTR, 4));
  strcpy(slot, "old");
  char* answer = PasswordPrompt(&slot, "docs\\se\x1b[2Kcret.txt", "a.zip", false);
  EXPECT_EQ(answer, slot);
  EXPECT_STREQ(answer, "");
  EXPECT_EQ(caption, u"Password for docs/se\\033[2Kcret.txt in a.zip:");
  script_ = [&](HWND d) {
    caption = uitest::Caption(d);
    uitest::Type(d, u"pw");
    Command(d, IDOK);
    return true;
  };
  PasswordPrompt(&slot, "b.txt", "a.zip", true);
  EXPECT_STREQ(slot, "pw");
  EXPECT_EQ(caption, u"Wrong password. Password for b.txt in a.zip:");
  LocalFree(slot);
}

TEST_F(PasswordTest, TheFieldTakesOnlyWhatFitsItsWidth) {
  script_ = [](HWND d) {
    uitest::Type(d, std::u16string(100, u'x'));
    Command(d, IDOK);
    return true;
  };
  char utf8[256];
  DialogPasswordReader(PasswordQuestion{"", false}, utf8, sizeof utf8);
  const size_t n = strlen(utf8);
  EXPECT_GT(n, 30u);
  EXPECT_LT(n, 50u);
}

}  // namespace
