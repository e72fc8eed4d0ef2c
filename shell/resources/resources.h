// The program's resources: the dialog templates 102 (main dialog), 103
// (password prompt), 106 (progress window), 110 (file types), 900 (folder
// browser) and the menu 2006 of the folder browser, in dialog units.
#pragma once

#include "platform/window.h"

namespace resources {

constexpr int kIdStatic = -1;
constexpr DWORD kDialogFrame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

// Template 102: the main dialog.
inline constexpr DialogItem kMainItems[] = {
    {kIdStatic, ControlKind::Label, u"File for unpacking:", 0, 5, 4, 125, 10},
    {1009, ControlKind::Button, u"", BS_PUSHBUTTON | WS_TABSTOP, 5, 15, 125, 14},
    {kIdStatic, ControlKind::Label, u"Extract path:", 0, 5, 31, 125, 10},
    {1012, ControlKind::Button, u"", BS_PUSHBUTTON | WS_TABSTOP, 5, 41, 125, 14},
    {1013, ControlKind::CheckBox, u"Make folder", BS_AUTOCHECKBOX | WS_TABSTOP, 5, 56, 49, 12},
    {1010, ControlKind::CheckBox, u"Open folder", BS_AUTOCHECKBOX | WS_TABSTOP, 74, 56, 56, 12},
    {1002, ControlKind::Button, u"Extract", BS_DEFPUSHBUTTON | WS_TABSTOP, 5, 76, 50, 14},
    {1006, ControlKind::Button, u"Associate", BS_PUSHBUTTON | WS_TABSTOP, 80, 76, 50, 14},
    {kIdStatic, ControlKind::Icon, u"101", 0, 18, 98, 20, 20},
    {kIdStatic, ControlKind::Label, u"Dorvane for PocketPC\nbuild 32.48.4\nterminal edition", 0, 57, 94, 73, 35},
};
inline constexpr DialogTemplate kMainDialog = {
    102, kDialogFrame | WS_VISIBLE, 0, u"Dorvane", 8, u"System", 135, 130,
    kMainItems, sizeof kMainItems / sizeof kMainItems[0]};

// Template 103: the password prompt.
inline constexpr DialogItem kPasswordItems[] = {
    {1000, ControlKind::Edit, u"", WS_BORDER | WS_TABSTOP, 3, 7, 124, 12},
    {1004, ControlKind::CheckBox, u"Hide with '*'", BS_AUTOCHECKBOX | WS_TABSTOP, 6, 25, 51, 10},
    {1, ControlKind::Button, u"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 81, 25, 42, 14},
};
inline constexpr DialogTemplate kPasswordDialog = {
    103, kDialogFrame | DS_CENTER | WS_VISIBLE, 0, u"Please Input Password", 9, u"Tahoma", 130, 46,
    kPasswordItems, sizeof kPasswordItems / sizeof kPasswordItems[0]};

// Template 106: the progress window (caption and texts set at run time):
// the archive's name, the member being written, and a bar with how far the
// archive has been read.
inline constexpr DialogItem kProgressItems[] = {
    {1011, ControlKind::Label, u"Static", 0, 6, 2, 150, 8},
    {1014, ControlKind::Label, u"", 0, 6, 10, 150, 8},
    {1015, ControlKind::Label, u"", 0, 6, 18, 150, 8},
};
inline constexpr DialogTemplate kProgressDialog = {
    106, WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT, WS_EX_TOOLWINDOW, u"", 9, u"Tahoma",
    162, 28, kProgressItems, sizeof kProgressItems / sizeof kProgressItems[0]};

// Template 110: the file types.
inline constexpr DialogItem kAssociateItems[] = {
    {401, ControlKind::CheckBox, u"LZH", BS_AUTOCHECKBOX | WS_TABSTOP, 8, 3, 24, 10},
    {402, ControlKind::CheckBox, u"ZIP", BS_AUTOCHECKBOX | WS_TABSTOP, 35, 3, 22, 10},
    {408, ControlKind::CheckBox, u"ARJ", BS_AUTOCHECKBOX | WS_TABSTOP, 60, 3, 26, 10},
    {404, ControlKind::CheckBox, u"TAR", BS_AUTOCHECKBOX | WS_TABSTOP, 8, 16, 24, 10},
    {407, ControlKind::CheckBox, u"Z", BS_AUTOCHECKBOX | WS_TABSTOP, 35, 16, 21, 10},
    {412, ControlKind::CheckBox, u"NTX", BS_AUTOCHECKBOX | WS_TABSTOP, 60, 16, 25, 10},
    {411, ControlKind::CheckBox, u"IMP", BS_AUTOCHECKBOX | WS_TABSTOP, 88, 16, 24, 10},
    {406, ControlKind::CheckBox, u"GZ, TGZ", BS_AUTOCHECKBOX | WS_TABSTOP, 8, 30, 46, 10},
    {405, ControlKind::CheckBox, u"BZ2, TBZ", BS_AUTOCHECKBOX | WS_TABSTOP, 60, 30, 47, 10},
    {410, ControlKind::CheckBox, u"B64", BS_AUTOCHECKBOX | WS_TABSTOP, 8, 43, 46, 10},
    {409, ControlKind::CheckBox, u"UUE, XXE", BS_AUTOCHECKBOX | WS_TABSTOP, 60, 43, 47, 10},
};
inline constexpr DialogTemplate kAssociateDialog = {
    110, kDialogFrame | DS_CENTER | WS_VISIBLE, WS_EX_CAPTIONOKBTN, u"Associate", 9, u"Tahoma", 114, 60,
    kAssociateItems, sizeof kAssociateItems / sizeof kAssociateItems[0]};

// Template 900: the folder browser (positions replaced by its layout).
inline constexpr DialogItem kBrowserItems[] = {
    {901, ControlKind::Edit, u"", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 4, 4, 131, 12},
    {902, ControlKind::ComboBox, u"", CBS_DROPDOWNLIST | WS_TABSTOP, 4, 20, 131, 60},
    {903, ControlKind::ListView, u"",
     LVS_LIST | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SORTASCENDING | LVS_AUTOARRANGE | LVS_EDITLABELS | WS_BORDER |
         WS_TABSTOP,
     4, 36, 131, 121},
};
inline constexpr DialogTemplate kBrowserDialog = {
    900, WS_POPUP | WS_BORDER | DS_SETFONT | WS_VISIBLE, WS_EX_CAPTIONOKBTN, u"", 9, u"System", 139, 161,
    kBrowserItems, sizeof kBrowserItems / sizeof kBrowserItems[0]};

// Menu 2006: the folder browser's menu bar.
inline constexpr MenuItem kActionItems[] = {{u"OK", 1}, {u"Cancel", 2}};
inline constexpr MenuItem kToolsItems[] = {
    {u"Switch window", 702}, {u"Report view", 904}, {u"List view", 906}, {u"Folder Up", 905}};
inline constexpr MenuPopup kBrowserPopups[] = {{u"Action", kActionItems, 2}, {u"Tools", kToolsItems, 4}};
inline constexpr MenuTemplate kBrowserMenu = {2006, kBrowserPopups, 2};

inline constexpr const DialogTemplate* kDialogs[] = {&kMainDialog, &kPasswordDialog, &kProgressDialog,
                                                     &kAssociateDialog, &kBrowserDialog};
inline constexpr const MenuTemplate* kMenus[] = {&kBrowserMenu};
inline constexpr ModuleResources kModule = {kDialogs, 5, kMenus, 1};

}  // namespace resources

// The program's module: its resources, registered with the window layer.
inline HINSTANCE g_hInstance = &resources::kModule;

// A dialog template of the program's module by number, as the dialogs load
// them (FindResourceW, LoadResource).
inline const DialogTemplate* LoadDialogTemplate(int id) {
  HRSRC found = FindResourceW(g_hInstance, MAKEINTRESOURCEW(id), RT_DIALOG);
  return static_cast<const DialogTemplate*>(LoadResource(g_hInstance, found));
}
