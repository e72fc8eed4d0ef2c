#include "core/settings.h"

#include <cstring>

#include "core/charset.h"

namespace {

const WCHAR kSettingsKey[] = u"Software\\qv\\DorvaneCE";
const WCHAR kExtractPath[] = u"ExtractPath";
const WCHAR kMakeDir[] = u"MakeDir";
const WCHAR kOpenDir[] = u"OpenDir";

bool ReadFlag(const WCHAR* name) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, value = 0, size = sizeof value;
  const LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  // Only a stored 1 of the right type and size reads as set.
  return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value && value == 1;
}

bool WriteValue(const WCHAR* name, DWORD type, const BYTE* data, DWORD size) {
  HKEY key;
  DWORD disposition;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, const_cast<LPWSTR>(u""), 0, KEY_WRITE,
                      nullptr, &key, &disposition) != ERROR_SUCCESS)
    return false;
  const LONG rc = RegSetValueExW(key, name, 0, type, data, size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool WriteFlag(const WCHAR* name, bool set) {
  const DWORD value = set ? 1 : 0;
  return WriteValue(name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// ReadExtractPath, also telling whether a value was stored at all.
bool ReadStoredPath(char* out, bool* stored) {
  out[0] = '\0';
  *stored = false;
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  WCHAR wide[MAX_PATH + 1];
  DWORD type = 0, size = MAX_PATH * sizeof(WCHAR);
  const LONG rc = RegQueryValueExW(key, kExtractPath, nullptr, &type, reinterpret_cast<BYTE*>(wide), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return true;
  *stored = true;
  // The stored text need not carry its terminator.
  wide[size / sizeof(WCHAR)] = 0;
  if (!WideToNarrow(wide, out, kExtractPathNarrowSize)) {
    out[0] = '\0';
    return true;
  }
  if (strcmp(out, "\\") == 0) out[0] = '\0';
  return true;
}

}  // namespace

bool ReadExtractPath(char* out) {
  bool stored;
  return ReadStoredPath(out, &stored);
}

bool CurrentFolderPath(char* out) {
  out[0] = '\0';
  WCHAR wide[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, wide);
  if (length == 0 || length >= MAX_PATH) return false;
  if (!WideToNarrow(wide, out, kExtractPathNarrowSize)) {
    out[0] = '\0';
    return false;
  }
  // The root folder is held as empty text, like a stored "\".
  if (strcmp(out, "\\") == 0) out[0] = '\0';
  return true;
}

bool ReadOutputFolder(char* out) {
  bool stored;
  ReadStoredPath(out, &stored);
  return stored || CurrentFolderPath(out);
}

bool WriteExtractPath(const WCHAR* path) {
  const size_t length = wcslen_w(path);
  if (length >= MAX_PATH) return false;  // would not read back into 260 characters
  return WriteValue(kExtractPath, REG_SZ, reinterpret_cast<const BYTE*>(path),
                    static_cast<DWORD>((length + 1) * sizeof(WCHAR)));
}

bool ReadMakeDir() { return ReadFlag(kMakeDir); }
bool ReadOpenDir() { return ReadFlag(kOpenDir); }
bool WriteMakeDir(bool set) { return WriteFlag(kMakeDir, set); }
bool WriteOpenDir(bool set) { return WriteFlag(kOpenDir, set); }
