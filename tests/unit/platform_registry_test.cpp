// The registry store: round trips through the text file, the Win32 query
// conventions, damaged stores, concurrent writers and the store's location.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/windows.h"
#include "support/testutil.h"

namespace {

const WCHAR* const kKey = u"Software\\qv\\DorvaneCE";

// Points DORVANE_REGISTRY at a fresh store for one test.
class StoreGuard {
 public:
  StoreGuard() : path_(dir_ / "registry.reg") {
    const char* old = getenv("DORVANE_REGISTRY");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("DORVANE_REGISTRY", path_.c_str(), 1);
  }
  ~StoreGuard() {
    if (had_)
      setenv("DORVANE_REGISTRY", old_.c_str(), 1);
    else
      unsetenv("DORVANE_REGISTRY");
  }
  const std::string& path() const { return path_; }
  const testutil::TempDir& dir() const { return dir_; }

 private:
  testutil::TempDir dir_;
  std::string path_;
  bool had_ = false;
  std::string old_;
};

HKEY Create(const WCHAR* subKey = kKey) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  return key;
}

LONG SetString(HKEY key, const WCHAR* name, const std::u16string& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

LONG SetDword(HKEY key, const WCHAR* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

std::u16string GetString(HKEY key, const WCHAR* name) {
  WCHAR buffer[MAX_PATH] = {};
  DWORD type = 0, size = sizeof buffer;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return u"<none>";
  return buffer;
}

TEST(PlatformRegistry, RoundTripThroughTheTextFile) {
  StoreGuard store;
  HKEY key = Create();
  const std::u16string path = u"\\My Documents\\T\u00E9l\u00E9chargements \"\u65E5\u672C\"";
  EXPECT_EQ(SetString(key, u"ExtractPath", path), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key, u"MakeDir", 1), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key, u"OpenDir", 0xDEADBEEF), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, nullptr, u"default"), ERROR_SUCCESS);
  const BYTE blob[] = {0x00, 0x01, 0xFF};
  EXPECT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, u"Lines", u"a\r\nb"), ERROR_SUCCESS);  // no text form: kept as bytes
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_EQ(testutil::ReadFile(store.path()),
            "REGEDIT4\n"
            "\n[HKEY_CURRENT_USER\\Software]\n"
            "\n[HKEY_CURRENT_USER\\Software\\qv]\n"
            "\n[HKEY_CURRENT_USER\\Software\\qv\\DorvaneCE]\n"
            "\"ExtractPath\"=\"\\\\My Documents\\\\T\xC3\xA9l\xC3\xA9" "chargements "
            "\\\"\xE6\x97\xA5\xE6\x9C\xAC\\\"\"\n"
            "\"MakeDir\"=dword:00000001\n"
            "\"OpenDir\"=dword:deadbeef\n"
            "@=\"default\"\n"
            "\"Blob\"=hex:00,01,ff\n"
            "\"Lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n");

  // Read back through a fresh handle, names in any letter case.
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\QV\\dorvanece", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, u"extractpath"), path);
  EXPECT_EQ(GetString(key, u""), u"default");
  EXPECT_EQ(GetString(key, u"Lines"), u"a\r\nb");
  DWORD value = 0, type = 0, size = sizeof value;
  EXPECT_EQ(RegQueryValueExW(key, u"OpenDir", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 0xDEADBEEFu);
  BYTE bytes[8];
  size = sizeof bytes;
  EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, bytes, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(bytes[2], 0xFF);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST(PlatformRegistry, QueryConventions) {
  StoreGuard store;
  HKEY key = Create();
  ASSERT_EQ(SetString(key, u"Name", u"abcdef"), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  // A size query: no buffer, the size comes back.
  EXPECT_EQ(RegQueryValueExW(key, u"Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 14u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  // Too small a buffer: ERROR_MORE_DATA and the size needed.
  BYTE small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, u"Name", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 14u);
  // A value of another type is reported with its own type.
  ASSERT_EQ(SetDword(key, u"Name", 7), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, u"Name"), u"<none>");
  EXPECT_EQ(RegQueryValueExW(key, u"Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size, 4u);

  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(key, u"name"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"name"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueExW(key, u"Bad\nName", 0, REG_SZ, nullptr, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST(PlatformRegistry, MissingKeysAndHandles) {
  StoreGuard store;
  HKEY key = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_FALSE(testutil::FileExists(store.path()));  // reading never creates the store

  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  HKEY again;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &again, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  // The ancestors exist too.
  HKEY parent;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\qv", 0, KEY_READ, &parent), ERROR_SUCCESS);

  // A handle to a key deleted meanwhile.
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\qv\\DorvaneCE"), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(again, u"X", 1), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\qv\\DorvaneCE"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);  // not a root
  HKEY none;
  EXPECT_EQ(RegOpenKeyExW(nullptr, kKey, 0, KEY_READ, &none), ERROR_INVALID_HANDLE);
  for (HKEY k : {key, again, parent}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST(PlatformRegistry, SubkeysEnumeratedAndDeletedAsATree) {
  StoreGuard store;
  for (const WCHAR* path : {u".lzh", u"DorvaneCE_LZH\\Shell\\Open\\Command",
                            u"DorvaneCE_LZH\\DefaultIcon", u".ZIP"}) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  std::vector<std::u16string> names;
  WCHAR name[64];
  DWORD index = 0, size = 64;
  LONG status;
  while ((status = RegEnumKeyExW(HKEY_CLASSES_ROOT, index++, name, &size, nullptr, nullptr,
                                 nullptr, nullptr)) == ERROR_SUCCESS) {
    names.push_back(name);
    EXPECT_EQ(size, names.back().size());
    size = 64;
  }
  EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(names, (std::vector<std::u16string>{u".lzh", u".ZIP", u"DorvaneCE_LZH"}));
  size = 4;  // too small for "DorvaneCE_LZH"
  EXPECT_EQ(RegEnumKeyExW(HKEY_CLASSES_ROOT, 2, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);

  // Deleting a key takes its subkeys with it, and nothing beside it.
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"dorvanece_lzh"), ERROR_SUCCESS);
  HKEY key;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"DorvaneCE_LZH\\Shell", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u".lzh", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST(PlatformRegistry, DamagedStoreReadsAsEmptyAndIsKeptAside) {
  for (const std::string& damage :
       {std::string("not a registry file\n"), std::string("REGEDIT4\n\"Orphan\"=\"x\"\n"),
        std::string("REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"V\"=dword:xyz\n"),
        std::string("REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"V\"=\"unterminated\n"),
        std::string("REGEDIT4\n[HKEY_NOWHERE\\A]\n"), std::string("REGEDIT4\n[HKEY_CURRENT_USER\\\xFF]\n"),
        std::string("\0\0\0\xFF", 4)}) {
    StoreGuard store;
    testutil::WriteFile(store.path(), damage);
    HKEY key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(testutil::FileExists(store.path() + ".bad"));  // reading changes nothing
    key = Create();
    EXPECT_EQ(SetDword(key, u"MakeDir", 1), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(testutil::ReadFile(store.path() + ".bad"), damage);
    EXPECT_NE(testutil::ReadFile(store.path()).find("\"MakeDir\"=dword:00000001"),
              std::string::npos);
  }
}

TEST(PlatformRegistry, ReadsWhatOtherToolsWrite) {
  StoreGuard store;
  testutil::WriteFile(store.path(),
                      "\xEF\xBB\xBFREGEDIT4\r\n\r\n; a comment\r\n"
                      "[HKEY_CURRENT_USER\\Software\\qv\\DorvaneCE]\r\n"
                      "\"MakeDir\"=dword:1\r\n"
                      "\"Blob\"=hex:01,02,\\\r\n  03,04\r\n");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0, size = sizeof value;
  EXPECT_EQ(RegQueryValueExW(key, u"MakeDir", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  BYTE bytes[8];
  size = sizeof bytes;
  EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, nullptr, bytes, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(bytes[3], 4);
  RegCloseKey(key);
}

TEST(PlatformRegistry, ConcurrentWritersLoseNothing) {
  StoreGuard store;
  HKEY key = Create();
  RegCloseKey(key);
  constexpr int kEach = 25;
  auto writer = [](const char16_t prefix) {
    HKEY k;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &k) != ERROR_SUCCESS) return false;
    bool ok = true;
    for (int i = 0; i < kEach; ++i) {
      std::u16string name = {prefix, static_cast<char16_t>(u'A' + i)};
      ok = ok && SetDword(k, name.c_str(), static_cast<DWORD>(i)) == ERROR_SUCCESS;
    }
    RegCloseKey(k);
    return ok;
  };
  // Another process and two threads of this one write at the same time.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(writer(u'p') ? 0 : 1);
  bool threadOk[2] = {false, false};
  std::thread a([&] { threadOk[0] = writer(u't'); });
  std::thread b([&] { threadOk[1] = writer(u'u'); });
  a.join();
  b.join();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(threadOk[0] && threadOk[1]);

  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  for (char16_t prefix : {u'p', u't', u'u'})
    for (int i = 0; i < kEach; ++i) {
      std::u16string name = {prefix, static_cast<char16_t>(u'A' + i)};
      DWORD value = 99, size = sizeof value;
      EXPECT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&value), &size),
                ERROR_SUCCESS);
      EXPECT_EQ(value, static_cast<DWORD>(i));
    }
  RegCloseKey(key);
}

TEST(PlatformRegistry, StoreLocation) {
  testutil::TempDir dir;
  const char* saved = getenv("DORVANE_REGISTRY");
  std::string keepRegistry = saved ? saved : "";
  const char* savedConfig = getenv("XDG_CONFIG_HOME");
  std::string keepConfig = savedConfig ? savedConfig : "";
  unsetenv("DORVANE_REGISTRY");
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  HKEY key = Create();
  EXPECT_EQ(SetDword(key, u"MakeDir", 0), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(testutil::FileExists(dir / "dorvane/registry.reg"));
  if (saved) setenv("DORVANE_REGISTRY", keepRegistry.c_str(), 1);
  if (savedConfig)
    setenv("XDG_CONFIG_HOME", keepConfig.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
