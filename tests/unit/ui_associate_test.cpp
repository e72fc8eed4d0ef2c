// The file-type association dialog and its registry layout.
#include "shell/associate.h"
#include "shell/resources/resources.h"
#include "ui_support.h"

namespace {

using uitest::Command;

bool KeyExists(const std::u16string& key) {
  HKEY h;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}
std::u16string Default(const std::u16string& key) {
  WCHAR value[300];
  return ReadDefaultValue(key.c_str(), value, 300) > 0 ? value : u"<none>";
}

class AssociateTest : public uitest::DialogTest {
 protected:
  // Runs the dialog: `tick` sets the boxes, then OK, answering the question
  // with `answer`. Returns the boxes' initial states by id.
  std::map<int, bool> Run(std::function<void(HWND)> tick, int answer = IDYES) {
    std::map<int, bool> initial;
    messages_.clear();
    script_ = [&](HWND d) {
      const std::u16string caption = uitest::Caption(d);
      if (caption == u"Associate") {
        for (int id = 401; id <= 412; ++id)
          if (GetDlgItem(d, id) != nullptr) initial[id] = IsDlgButtonChecked(d, id) == BST_CHECKED;
        tick(d);
        Command(d, IDOK);
        return true;
      }
      messages_.push_back(caption + u":" + uitest::BoxText(d));
      Command(d, GetDlgItem(d, IDYES) != nullptr ? answer : IDOK);
      return true;
    };
    result_ = DialogBoxIndirectParamW(g_hInstance, LoadDialogTemplate(110), nullptr, AssociationDialogProc, 0);
    return initial;
  }
  std::vector<std::u16string> messages_;
  INT_PTR result_ = -1;
};

TEST_F(AssociateTest, FreshRegistryShowsNothingTickedAndWritesNothing) {
  const auto initial = Run([](HWND) {});
  EXPECT_EQ(initial.size(), 11u);  // RAR has no box
  for (const auto& [id, ticked] : initial) EXPECT_FALSE(ticked) << id;
  EXPECT_EQ(messages_, (std::vector<std::u16string>{u"Dorvane:Associate selected file type to Dorvane?",
                                                     u"Dorvane:(i) Associated!"}));
  EXPECT_EQ(result_, 1);
  EXPECT_FALSE(KeyExists(u".zip"));
  EXPECT_FALSE(KeyExists(u"DorvaneCE_ZIP"));
}

TEST_F(AssociateTest, RegistersTheWholeLayout) {
  Run([](HWND d) { CheckDlgButton(d, 402, BST_CHECKED); });
  WCHAR program[MAX_PATH];
  ASSERT_TRUE(ProgramPath(program, MAX_PATH));
  const std::u16string path(program);
  EXPECT_EQ(path.find(u'/'), std::u16string::npos);
  EXPECT_EQ(Default(u".zip"), u"DorvaneCE_ZIP");
  EXPECT_EQ(Default(u"DorvaneCE_ZIP"), u"ZIP Archive");
  EXPECT_EQ(Default(u"DorvaneCE_ZIP\\DefaultIcon"), path + u", -0");
  EXPECT_EQ(Default(u"DorvaneCE_ZIP\\Shell\\Open\\Command"), u"\"" + path + u"\" %1");
  // The value is the named value "Default", stored with its terminator.
  HKEY h;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u".zip", 0, KEY_READ, &h), ERROR_SUCCESS);
  DWORD type = 0, bytes = 0;
  EXPECT_EQ(RegQueryValueExW(h, u"Default", nullptr, &type, nullptr, &bytes), ERROR_SUCCESS);
  RegCloseKey(h);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, (13u + 1) * 2);
  // The box shows ticked next time; clearing it withdraws the ProgID and
  // the value but keeps the extension key.
  const auto again = Run([](HWND d) { CheckDlgButton(d, 402, BST_UNCHECKED); });
  EXPECT_TRUE(again.at(402));
  EXPECT_FALSE(KeyExists(u"DorvaneCE_ZIP"));
  EXPECT_FALSE(KeyExists(u"DorvaneCE_ZIP\\Shell\\Open\\Command"));
  EXPECT_TRUE(KeyExists(u".zip"));
  EXPECT_EQ(Default(u".zip"), u"<none>");
}

TEST_F(AssociateTest, ForeignTypesAreLeftUnlessTicked) {
  ASSERT_TRUE(RegisterType(u".zip", u"OtherZip", u"Other", u"\\other.exe"));
  const auto initial = Run([](HWND) {});
  EXPECT_FALSE(initial.at(402));
  EXPECT_EQ(Default(u".zip"), u"OtherZip");
  EXPECT_TRUE(KeyExists(u"OtherZip\\Shell\\Open\\Command"));
  Run([](HWND d) { CheckDlgButton(d, 402, BST_CHECKED); });
  EXPECT_EQ(Default(u".zip"), u"DorvaneCE_ZIP");
}

TEST_F(AssociateTest, PairsFollowTheirFirstExtension) {
  ASSERT_TRUE(RegisterType(u".bz2", u"DorvaneCE_BZ2", u"BZIP2 Archive", u"\\x"));
  const auto initial = Run([](HWND) {});  // confirmed as it stands: ticked
  EXPECT_TRUE(initial.at(405));
  EXPECT_EQ(Default(u".tbz"), u"DorvaneCE_TBZ");
  EXPECT_EQ(Default(u"DorvaneCE_TBZ"), u"TAR+BZIP2 Archive");
  Run([](HWND d) { CheckDlgButton(d, 405, BST_UNCHECKED); });
  EXPECT_EQ(Default(u".bz2"), u"<none>");
  EXPECT_EQ(Default(u".tbz"), u"<none>");
  EXPECT_FALSE(KeyExists(u"DorvaneCE_TBZ"));
}

TEST_F(AssociateTest, AProgIdDifferingInCaseIsOurOwn) {
  ASSERT_TRUE(RegisterType(u".lzh", u"dorvanece_lzh", u"x", u"\\x"));
  EXPECT_EQ(QueryAssociation(u".lzh", u"DorvaneCE_LZH"), AssociationState::Own);
  EXPECT_EQ(QueryAssociation(u".arj", u"DorvaneCE_ARJ"), AssociationState::Unset);
  EXPECT_EQ(DecideAction(false, u".lzh", u"DorvaneCE_LZH"), AssociationAction::Remove);
  const auto initial = Run([](HWND) {});
  EXPECT_TRUE(initial.at(401));
}

TEST_F(AssociateTest, OwnRarRegistrationIsWithdrawn) {
  ASSERT_TRUE(RegisterType(u".rar", u"DorvaneCE_RAR", u"RAR Archive", u"\\x"));
  Run([](HWND) {});
  EXPECT_FALSE(KeyExists(u"DorvaneCE_RAR"));
}

TEST_F(AssociateTest, NoAndCancelWriteNothing) {
  Run([](HWND d) { CheckDlgButton(d, 401, BST_CHECKED); }, IDNO);
  EXPECT_EQ(result_, 1);
  EXPECT_EQ(messages_.size(), 1u);  // no "Associated!"
  EXPECT_FALSE(KeyExists(u".lzh"));
  script_ = [](HWND d) {
    CheckDlgButton(d, 401, BST_CHECKED);
    DialogKey(d, VK_ESCAPE, 0);
    return true;
  };
  EXPECT_EQ(DialogBoxIndirectParamW(g_hInstance, LoadDialogTemplate(110), nullptr, AssociationDialogProc, 0), 0);
  EXPECT_FALSE(KeyExists(u".lzh"));
}

TEST_F(AssociateTest, ArjIsRegisteredAsArjArchive) {
  Run([](HWND d) { CheckDlgButton(d, 408, BST_CHECKED); });
  EXPECT_EQ(Default(u"DorvaneCE_ARJ"), u"ARJ Archive");
}

}  // namespace
