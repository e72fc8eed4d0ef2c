// The Reg* calls over the store file (regstore.h).
//
// An HKEY is the key's full path; every call reads the store afresh, so a
// key deleted by another process is seen at once (ERROR_KEY_DELETED for a
// handle to it). Key and value names compare without regard to letter case.
// RegDeleteKeyW removes the key with everything below it, as on the device.
// Names with control characters, lone surrogates or key names longer than
// 255 characters are refused with ERROR_INVALID_PARAMETER: the store's text
// format could not hold them.
#include <cstring>
#include <string>

#include "platform/host.h"
#include "platform/regstore.h"

struct RegKey {
  std::u16string path;
};

namespace {

constexpr size_t kMaxKeyNameLength = 255;

// The full path behind a handle; false for a handle that is none.
bool PathOf(HKEY key, std::u16string& path) {
  auto value = reinterpret_cast<uintptr_t>(key);
  if (key == HKEY_CLASSES_ROOT) {
    path = u"HKEY_CLASSES_ROOT";
  } else if (key == HKEY_CURRENT_USER) {
    path = u"HKEY_CURRENT_USER";
  } else if (key == HKEY_LOCAL_MACHINE) {
    path = u"HKEY_LOCAL_MACHINE";
  } else if (!key || (value >= 0x80000000u && value < 0x80000100u)) {
    return false;  // null, or a predefined key this store does not have
  } else {
    path = key->path;
  }
  return true;
}

bool IsPredefined(HKEY key) {
  auto value = reinterpret_cast<uintptr_t>(key);
  return value >= 0x80000000u && value < 0x80000100u;
}

bool ValidName(const std::u16string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    char16_t c = name[i];
    if (c < 0x20) return false;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
        name[i + 1] <= 0xDFFF)
      ++i;
    else if (c >= 0xD800 && c <= 0xDFFF)
      return false;
  }
  return true;
}

// parent + "\" + subKey, empty components dropped; false when a component
// cannot be a key name.
bool JoinPath(const std::u16string& parent, LPCWSTR subKey, std::u16string& path) {
  path = parent;
  if (!subKey) return true;
  std::u16string rest(subKey);
  size_t begin = 0;
  while (begin <= rest.size()) {
    size_t end = rest.find(u'\\', begin);
    if (end == std::u16string::npos) end = rest.size();
    std::u16string part = rest.substr(begin, end - begin);
    if (!part.empty()) {
      if (part.size() > kMaxKeyNameLength || !ValidName(part)) return false;
      path += u'\\';
      path += part;
    }
    begin = end + 1;
  }
  return true;
}

bool IsRootPath(const std::u16string& path) { return path.find(u'\\') == std::u16string::npos; }

bool Exists(regstore::Store& store, const std::u16string& path) {
  return IsRootPath(path) || store.Find(path) != nullptr;
}

regstore::Value* FindValue(regstore::Key& key, const std::u16string& name) {
  for (regstore::Value& v : key.values)
    if (regstore::SameName(v.name, name)) return &v;
  return nullptr;
}

// The key's values; the roots hold theirs in a key of their own name,
// made when first needed.
regstore::Key* KeyOf(regstore::Store& store, const std::u16string& path, bool create) {
  regstore::Key* key = store.Find(path);
  if (!key && create && IsRootPath(path)) key = &store.Create(path);
  return key;
}

}  // namespace

LONG RegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD, REGSAM, HKEY* result) {
  std::u16string base, path;
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!PathOf(parent, base)) return ERROR_INVALID_HANDLE;
  if (!JoinPath(base, subKey, path)) return ERROR_FILE_NOT_FOUND;
  regstore::Store store = regstore::Load();
  if (!Exists(store, path)) return ERROR_FILE_NOT_FOUND;
  *result = new RegKey{path};
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM,
                     SECURITY_ATTRIBUTES*, HKEY* result, DWORD* disposition) {
  std::u16string base, path;
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!PathOf(parent, base)) return ERROR_INVALID_HANDLE;
  if (!JoinPath(base, subKey, path)) return ERROR_INVALID_PARAMETER;
  bool made = false;
  LONG status = regstore::Update([&](regstore::Store& store, bool& changed) -> LONG {
    if (!Exists(store, base)) return ERROR_KEY_DELETED;
    if (IsRootPath(path)) return ERROR_SUCCESS;
    store.Create(path, &made);
    changed = made;
    return ERROR_SUCCESS;
  });
  if (status != ERROR_SUCCESS) return status;
  if (disposition) *disposition = made ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = new RegKey{path};
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* dataSize) {
  std::u16string path;
  if (!PathOf(key, path)) return ERROR_INVALID_HANDLE;
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  regstore::Store store = regstore::Load();
  if (!Exists(store, path)) return ERROR_KEY_DELETED;
  regstore::Key* k = KeyOf(store, path, false);
  regstore::Value* value = k ? FindValue(*k, name ? name : u"") : nullptr;
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  DWORD size = static_cast<DWORD>(value->data.size());
  if (!dataSize) return ERROR_SUCCESS;
  DWORD room = *dataSize;
  *dataSize = size;
  if (!data) return ERROR_SUCCESS;  // a size query
  if (room < size) return ERROR_MORE_DATA;
  if (size) memcpy(data, value->data.data(), size);
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  std::u16string path;
  if (!PathOf(key, path)) return ERROR_INVALID_HANDLE;
  if (!data && dataSize) return ERROR_INVALID_PARAMETER;
  regstore::Value value;
  value.name = name ? name : u"";
  if (!ValidName(value.name)) return ERROR_INVALID_PARAMETER;
  value.type = type;
  if (dataSize) value.data.assign(data, data + dataSize);
  return regstore::Update([&](regstore::Store& store, bool& changed) -> LONG {
    if (!Exists(store, path)) return ERROR_KEY_DELETED;
    regstore::Key* k = KeyOf(store, path, true);
    regstore::Value* old = FindValue(*k, value.name);
    if (old && old->type == value.type && old->data == value.data) return ERROR_SUCCESS;
    if (old)
      *old = value;
    else
      k->values.push_back(value);
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteKeyW(HKEY parent, LPCWSTR subKey) {
  std::u16string base, path;
  if (!PathOf(parent, base)) return ERROR_INVALID_HANDLE;
  if (!subKey) return ERROR_INVALID_PARAMETER;
  if (!JoinPath(base, subKey, path)) return ERROR_FILE_NOT_FOUND;
  if (IsRootPath(path)) return ERROR_ACCESS_DENIED;
  return regstore::Update([&](regstore::Store& store, bool& changed) -> LONG {
    changed = store.Remove(path);
    return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  std::u16string path;
  if (!PathOf(key, path)) return ERROR_INVALID_HANDLE;
  std::u16string valueName = name ? name : u"";
  return regstore::Update([&](regstore::Store& store, bool& changed) -> LONG {
    if (!Exists(store, path)) return ERROR_KEY_DELETED;
    regstore::Key* k = KeyOf(store, path, false);
    if (!k) return ERROR_FILE_NOT_FOUND;
    for (auto it = k->values.begin(); it != k->values.end(); ++it)
      if (regstore::SameName(it->name, valueName)) {
        k->values.erase(it);
        changed = true;
        return ERROR_SUCCESS;
      }
    return ERROR_FILE_NOT_FOUND;
  });
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameSize, DWORD*, LPWSTR keyClass,
                   DWORD* classSize, FILETIME* lastWrite) {
  std::u16string path;
  if (!PathOf(key, path)) return ERROR_INVALID_HANDLE;
  if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
  regstore::Store store = regstore::Load();
  if (!Exists(store, path)) return ERROR_KEY_DELETED;
  std::vector<std::u16string> children = store.Children(path);
  if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
  const std::u16string& child = children[index];
  // nameSize counts characters, the terminator included on the way in and
  // excluded on the way out.
  if (*nameSize <= child.size()) return ERROR_MORE_DATA;
  child.copy(name, child.size());
  name[child.size()] = 0;
  *nameSize = static_cast<DWORD>(child.size());
  if (keyClass && classSize && *classSize) keyClass[0] = 0;
  if (classSize) *classSize = 0;
  if (lastWrite) *lastWrite = FILETIME{0, 0};  // the store keeps no times
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!IsPredefined(key)) delete key;
  return ERROR_SUCCESS;
}
