#include "shell/associate.h"

#include <unistd.h>

#include <cstring>

const FileTypeRow kFileTypeRows[12] = {
    {401, {u".lzh", nullptr}, {u"DorvaneCE_LZH", nullptr}, {u"LHA Archive", nullptr}},
    {402, {u".zip", nullptr}, {u"DorvaneCE_ZIP", nullptr}, {u"ZIP Archive", nullptr}},
    {403, {u".rar", nullptr}, {u"DorvaneCE_RAR", nullptr}, {u"RAR Archive", nullptr}},
    {404, {u".tar", nullptr}, {u"DorvaneCE_TAR", nullptr}, {u"TAR Archive", nullptr}},
    {405, {u".bz2", u".tbz"}, {u"DorvaneCE_BZ2", u"DorvaneCE_TBZ"}, {u"BZIP2 Archive", u"TAR+BZIP2 Archive"}},
    {406, {u".gz", u".tgz"}, {u"DorvaneCE_GZ", u"DorvaneCE_TGZ"}, {u"GZIP Archive", u"TAR+GZIP Archive"}},
    {407, {u".z", nullptr}, {u"DorvaneCE_Z", nullptr}, {u"Z Archive", nullptr}},
    {408, {u".arj", nullptr}, {u"DorvaneCE_ARJ", nullptr}, {u"ARJ Archive", nullptr}},
    {409, {u".uue", u".xxe"}, {u"DorvaneCE_UUE", u"DorvaneCE_XXE"}, {u"UUencode Archive", u"XXencode Archive"}},
    {410, {u".b64", nullptr}, {u"DorvaneCE_B64", nullptr}, {u"B64 Archive", nullptr}},
    {411, {u".imp", nullptr}, {u"DorvaneCE_IMP", nullptr}, {u"IMP Archive", nullptr}},
    {412, {u".ntx", nullptr}, {u"DorvaneCE_NTX", nullptr}, {u"yEnc Archive", nullptr}},
};

namespace {

const FileTypeRow& Row(int boxId) { return kFileTypeRows[boxId - 401]; }

// The rows by box id, in the orders the dialog walks them.
constexpr int kInitOrder[12] = {402, 401, 403, 404, 405, 406, 407, 408, 411, 410, 409, 412};
constexpr int kDecideOrder[12] = {401, 402, 403, 404, 405, 406, 407, 408, 411, 410, 409, 412};
constexpr int kWriteOrder[12] = {401, 402, 403, 404, 405, 406, 407, 408, 411, 410, 412, 409};

bool Concat(WCHAR* out, size_t size, const WCHAR* a, const WCHAR* b, const WCHAR* c = u"") {
  const size_t la = wcslen_w(a), lb = wcslen_w(b), lc = wcslen_w(c);
  if (la + lb + lc >= size) return false;
  memcpy(out, a, la * sizeof(WCHAR));
  memcpy(out + la, b, lb * sizeof(WCHAR));
  memcpy(out + la + lb, c, lc * sizeof(WCHAR));
  out[la + lb + lc] = 0;
  return true;
}

bool EqualsNoCaseWide(const WCHAR* a, const WCHAR* b) {
  for (; *a != 0 && *b != 0; ++a, ++b)
    if (towupper_w(*a) != towupper_w(*b)) return false;
  return *a == *b;
}

bool SetDefault(const WCHAR* key, const WCHAR* value) {
  HKEY handle;
  DWORD disposition;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, const_cast<WCHAR*>(u""), 0, 0, nullptr, &handle, &disposition) !=
      ERROR_SUCCESS)
    return false;
  RegSetValueExW(handle, u"Default", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 static_cast<DWORD>((wcslen_w(value) + 1) * sizeof(WCHAR)));
  RegCloseKey(handle);
  return true;
}

}  // namespace

int ReadDefaultValue(const WCHAR* key, WCHAR* buffer, int capacity) {
  buffer[0] = 0;
  HKEY handle;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return 0;
  DWORD type = 0, bytes = static_cast<DWORD>(capacity) * sizeof(WCHAR);
  const LONG status = RegQueryValueExW(handle, u"Default", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) {
    buffer[0] = 0;
    return 0;
  }
  // The stored text need not be terminated; keep it inside the buffer.
  size_t units = bytes / sizeof(WCHAR);
  if (units >= static_cast<size_t>(capacity)) units = static_cast<size_t>(capacity) - 1;
  buffer[units] = 0;
  return static_cast<int>(wcslen_w(buffer));
}

AssociationState QueryAssociation(const WCHAR* extension, const WCHAR* progId) {
  WCHAR value[128];
  if (ReadDefaultValue(extension, value, 128) == 0) return AssociationState::Unset;
  return EqualsNoCaseWide(value, progId) ? AssociationState::Own : AssociationState::Foreign;
}

AssociationAction DecideAction(bool ticked, const WCHAR* extension, const WCHAR* progId) {
  if (ticked) return AssociationAction::Associate;
  return QueryAssociation(extension, progId) == AssociationState::Foreign ? AssociationAction::Leave
                                                                          : AssociationAction::Remove;
}

bool RegisterType(const WCHAR* extension, const WCHAR* progId, const WCHAR* description, const WCHAR* programPath) {
  WCHAR key[MAX_PATH], value[MAX_PATH + 16];
  if (!SetDefault(extension, progId)) return false;
  if (!SetDefault(progId, description)) return false;
  if (!Concat(key, MAX_PATH, progId, u"\\DefaultIcon") || !Concat(value, MAX_PATH + 16, programPath, u", -0") ||
      !SetDefault(key, value))
    return false;
  if (!Concat(key, MAX_PATH, progId, u"\\Shell\\Open\\Command") ||
      !Concat(value, MAX_PATH + 16, u"\"", programPath, u"\" %1") || !SetDefault(key, value))
    return false;
  return true;
}

bool UnregisterType(const WCHAR* extension, const WCHAR* progId) {
  HKEY root;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, u"", 0, KEY_ALL_ACCESS, &root) != ERROR_SUCCESS) return false;
  RegDeleteKeyW(root, progId);
  RegCloseKey(root);
  HKEY key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, extension, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return true;
  RegDeleteValueW(key, u"Default");
  RegCloseKey(key);
  return true;
}

bool ProgramPath(WCHAR* path, int size) {
  char host[4096];
  const ssize_t n = readlink("/proc/self/exe", host, sizeof host - 1);
  path[0] = 0;
  if (n <= 0) return false;
  host[n] = '\0';
  if (MultiByteToWideChar(CP_UTF8, 0, host, -1, path, size) <= 0) {
    path[0] = 0;
    return false;
  }
  for (WCHAR* p = path; *p != 0; ++p)
    if (*p == u'/') *p = u'\\';
  return true;
}

INT_PTR AssociationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    for (int id : kInitOrder) {
      const FileTypeRow& row = Row(id);
      if (QueryAssociation(row.extensions[0], row.progIds[0]) == AssociationState::Own)
        CheckDlgButton(dialog, id, BST_CHECKED);
    }
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDCANCEL) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  if (LOWORD(wParam) != IDOK) return TRUE;
  // Every decision is taken against the registry as it was before the change.
  AssociationAction actions[12];
  for (int id : kDecideOrder) {
    const FileTypeRow& row = Row(id);
    const bool ticked = IsDlgButtonChecked(dialog, id) == BST_CHECKED;  // 403 has no box: never ticked
    actions[id - 401] = DecideAction(ticked, row.extensions[0], row.progIds[0]);
  }
  if (MessageBoxW(dialog, u"Associate selected file type to Dorvane?", u"Dorvane", MB_YESNO) == IDYES) {
    WCHAR program[MAX_PATH];
    ProgramPath(program, MAX_PATH);
    for (int id : kWriteOrder) {
      const FileTypeRow& row = Row(id);
      for (int i = 0; i < 2 && row.extensions[i] != nullptr; ++i) {
        if (actions[id - 401] == AssociationAction::Associate)
          RegisterType(row.extensions[i], row.progIds[i], row.descriptions[i], program);
        else if (actions[id - 401] == AssociationAction::Remove)
          UnregisterType(row.extensions[i], row.progIds[i]);
      }
    }
    MessageBoxW(dialog, u"Associated!", u"Dorvane", MB_OK | MB_ICONINFORMATION);
  }
  EndDialog(dialog, 1);
  return TRUE;
}
