// Files and folders through the Win32-named calls: path conversion, folders,
// attributes, moving, handles and file times, find-first-file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "platform/windows.h"
#include "support/testutil.h"

namespace {

// A host (UTF-8, "/") path in the program's form (UTF-16, "\").
std::u16string Wide(const std::string& hostPath) {
  std::u16string out(hostPath.size() + 1, u'\0');
  int n = MultiByteToWideChar(CP_UTF8, 0, hostPath.c_str(), -1, &out[0],
                              static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  std::replace(out.begin(), out.end(), u'/', u'\\');
  return out;
}

std::string Narrow(const WCHAR* wide) {
  char out[MAX_PATH * 4];
  return WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, sizeof out, nullptr, nullptr) ? out : "";
}

DWORD Error() { return GetLastError(); }

// 2001-01-01 13:26:58 UTC.
constexpr int64_t kSeconds = 978355618;
FILETIME FileTimeOf(int64_t unixSeconds) {
  uint64_t value = static_cast<uint64_t>(unixSeconds * 10000000 + 116444736000000000LL);
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

TEST(PlatformFiles, HostPaths) {
  char out[64];
  EXPECT_TRUE(HostPathFromWide(u"\\tmp\\Jos\u00E9\\a.gz", out, sizeof out));
  EXPECT_STREQ(out, "/tmp/Jos\xC3\xA9/a.gz");
  EXPECT_TRUE(HostPathFromWide(u"rel\\x", out, sizeof out));  // relative stays relative
  EXPECT_STREQ(out, "rel/x");
  EXPECT_TRUE(HostPathFromWide(u"a\xDCFF", out, sizeof out));  // a byte kept from decoding
  EXPECT_STREQ(out, "a\xFF");
  EXPECT_FALSE(HostPathFromWide(u"\\abcdef", out, 7));  // needs 8 bytes with the terminator
  EXPECT_TRUE(HostPathFromWide(u"\\abcdef", out, 8));
  EXPECT_FALSE(HostPathFromWide(nullptr, out, sizeof out));
  EXPECT_FALSE(HostPathFromWide(u"", out, sizeof out));
}

TEST(PlatformFiles, Folders) {
  testutil::TempDir dir;
  std::u16string folder = Wide(dir / "T\u00E9l\u00E9chargements");
  EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_TRUE(testutil::IsDirectory(dir / "T\u00E9l\u00E9chargements"));
  EXPECT_FALSE(CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryW(Wide(dir / "missing/sub").c_str(), nullptr));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesW(folder.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  testutil::WriteFile(dir / "T\u00E9l\u00E9chargements/f", "x");
  EXPECT_FALSE(RemoveDirectoryW(folder.c_str()));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(RemoveDirectoryW((folder + u"\\f").c_str()));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_FALSE(DeleteFileW(folder.c_str()));  // folders are not files
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(DeleteFileW((folder + u"\\f").c_str()));
  EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));
  EXPECT_FALSE(testutil::FileExists(dir / "T\u00E9l\u00E9chargements"));
}

TEST(PlatformFiles, AttributesAndReadOnly) {
  testutil::TempDir dir;
  testutil::WriteFile(dir / "a.txt", "data");
  std::u16string file = Wide(dir / "a.txt");
  EXPECT_EQ(GetFileAttributesW(file.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));

  EXPECT_TRUE(SetFileAttributesW(file.c_str(), 0x21));
  struct stat st;
  ASSERT_EQ(stat((dir / "a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(GetFileAttributesW(file.c_str()), 0x21u);
  EXPECT_FALSE(DeleteFileW(file.c_str()));  // read-only files stay, as on the device
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  EXPECT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_EQ(stat((dir / "a.txt").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  EXPECT_EQ(GetFileAttributesW(file.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));

  // A folder's read-only bit is accepted but keeps the folder usable.
  EXPECT_TRUE(SetFileAttributesW(Wide(dir.path()).c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesW(Wide(dir.path()).c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  EXPECT_EQ(GetFileAttributesW(Wide(dir / "none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesW(Wide(dir / "none/x").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(SetFileAttributesW(Wide(dir / "none").c_str(), 0x20));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(PlatformFiles, RelativePathsUseTheCurrentFolder) {
  testutil::TempDir dir;
  testutil::WriteFile(dir / "r.txt", "x");
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  DWORD attributes = GetFileAttributesW(u"r.txt");
  BOOL made = CreateDirectoryW(u"sub", nullptr);
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(attributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(made);
  EXPECT_TRUE(testutil::IsDirectory(dir / "sub"));
}

TEST(PlatformFiles, MoveNeverReplaces) {
  testutil::TempDir dir;
  testutil::WriteFile(dir / "a", "A");
  testutil::WriteFile(dir / "b", "B");
  EXPECT_FALSE(MoveFileW(Wide(dir / "a").c_str(), Wide(dir / "b").c_str()));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(testutil::ReadFile(dir / "b"), "B");
  EXPECT_TRUE(MoveFileW(Wide(dir / "a").c_str(), Wide(dir / "c").c_str()));
  EXPECT_EQ(testutil::ReadFile(dir / "c"), "A");
  EXPECT_FALSE(testutil::FileExists(dir / "a"));
  EXPECT_FALSE(MoveFileW(Wide(dir / "a").c_str(), Wide(dir / "d").c_str()));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(MoveFileW(Wide(dir / "c").c_str(), Wide(dir / "none/d").c_str()));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(PlatformFiles, HandlesAndFileTimes) {
  testutil::TempDir dir;
  testutil::WriteFile(dir / "t", "12345");
  std::u16string file = Wide(dir / "t");
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME when = FileTimeOf(kSeconds), before1970 = FileTimeOf(-315619200);  // 1960-01-01
  EXPECT_TRUE(SetFileTime(h, &when, nullptr, &when));
  EXPECT_TRUE(CloseHandle(h));
  struct stat st;
  ASSERT_EQ(stat((dir / "t").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kSeconds);
  EXPECT_EQ(testutil::ReadFile(dir / "t"), "12345");

  h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &before1970));
  EXPECT_TRUE(CloseHandle(h));
  ASSERT_EQ(stat((dir / "t").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, -315619200);

  EXPECT_EQ(CreateFileW(Wide(dir / "none").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileW(Wide(dir.path()).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));  // success, but it was there
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(testutil::ReadFile(dir / "t"), "");

  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetFileTime(INVALID_HANDLE_VALUE, nullptr, nullptr, &when));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

std::vector<std::string> FindAll(const std::u16string& pattern, DWORD* error = nullptr) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = GetLastError();
    return names;
  }
  do names.push_back(Narrow(data.cFileName));
  while (FindNextFileW(h, &data));
  if (error) *error = GetLastError();
  EXPECT_TRUE(FindClose(h));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PlatformFiles, FindFirstFile) {
  testutil::TempDir dir;
  testutil::WriteFile(dir / "a.txt", "1");
  testutil::WriteFile(dir / "b.TXT", "22");
  testutil::WriteFile(dir / "c.lzh", "333");
  testutil::WriteFile(dir / "Jos\u00E9.lzh", "");
  testutil::WriteFile(dir / "noext", "");
  ASSERT_EQ(mkdir((dir / "d").c_str(), 0755), 0);
  std::u16string folder = Wide(dir.path());

  DWORD error = 0;
  using Names = std::vector<std::string>;
  EXPECT_EQ(FindAll(folder + u"\\*.txt", &error), (Names{"a.txt", "b.TXT"}));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(FindAll(folder + u"\\?.lzh"), (Names{"c.lzh"}));
  EXPECT_EQ(FindAll(folder + u"\\*o*.LZH"), (Names{"Jos\u00E9.lzh"}));
  EXPECT_EQ(FindAll(folder + u"\\*"),
            (Names{"Jos\u00E9.lzh", "a.txt", "b.TXT", "c.lzh", "d", "noext"}));
  EXPECT_EQ(FindAll(folder + u"\\*.*").size(), 6u);
  EXPECT_EQ(FindAll(folder + u"\\c.lzh"), (Names{"c.lzh"}));  // exact name

  EXPECT_TRUE(FindAll(folder + u"\\*.zip", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FindAll(folder + u"\\C.LZH", &error).empty());  // exact names: host letter case
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FindAll(folder + u"\\none\\*", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  // Sizes, attributes and times are filled.
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW((folder + u"\\c.lzh").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 3u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  struct stat st;
  ASSERT_EQ(stat((dir / "c.lzh").c_str(), &st), 0);
  uint64_t expected = static_cast<uint64_t>(st.st_mtime) * 10000000 + 116444736000000000ULL +
                      static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
  EXPECT_EQ((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                data.ftLastWriteTime.dwLowDateTime,
            expected);
  EXPECT_FALSE(CloseHandle(h));  // a search is closed by FindClose only
  EXPECT_TRUE(FindClose(h));
  h = FindFirstFileW((folder + u"\\d").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(FindClose(h));
}

TEST(PlatformFiles, StreamsAndMemory) {
  testutil::TempDir dir;
  std::u16string path = Wide(dir / "\u65E5\u672C.txt");
  FILE* f = _wfopen(path.c_str(), u"wb");
  ASSERT_NE(f, nullptr);
  fputs("hello", f);
  fclose(f);
  EXPECT_EQ(testutil::ReadFile(dir / "\u65E5\u672C.txt"), "hello");
  EXPECT_EQ(_wfopen(Wide(dir / "none").c_str(), u"rb"), nullptr);

  auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 64));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::count(block, block + 64, 0), 64);
  EXPECT_EQ(LocalFree(block), nullptr);
}

TEST(PlatformFiles, LastErrorIsPerThread) {
  SetLastError(ERROR_DIR_NOT_EMPTY);
  DWORD seenInThread = 1;
  std::thread other([&] {
    seenInThread = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
  });
  other.join();
  EXPECT_EQ(seenInThread, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
}

}  // namespace
