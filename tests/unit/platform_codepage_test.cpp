// Code-page conversions: Shift-JIS, 1252 and UTF-8 against UTF-16, the
// lossless handling of bytes and characters a code page cannot hold, and the
// Win32 size conventions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/windows.h"

namespace {

std::u16string ToWide(const std::string& narrow, UINT page = 932, DWORD flags = 0) {
  int n = MultiByteToWideChar(page, flags, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  if (n == 0) return u"<fail>";
  std::u16string wide(static_cast<size_t>(n), u'\0');
  EXPECT_EQ(n, MultiByteToWideChar(page, flags, narrow.data(), static_cast<int>(narrow.size()),
                                   &wide[0], n));
  return wide;
}

std::string ToNarrow(const std::u16string& wide, UINT page = 932, BOOL* defaulted = nullptr) {
  int n = WideCharToMultiByte(page, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, defaulted);
  if (n == 0) return "<fail>";
  std::string narrow(static_cast<size_t>(n), '\0');
  EXPECT_EQ(n, WideCharToMultiByte(page, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0],
                                   n, nullptr, defaulted));
  return narrow;
}

bool IsUserAreaCode(const std::string& s, size_t at) {
  auto lead = static_cast<unsigned char>(s[at]), second = static_cast<unsigned char>(s[at + 1]);
  return lead >= 0xF0 && lead <= 0xF9 && second >= 0x40 && second <= 0xFC && second != 0x5C &&
         second != 0x7F;
}

TEST(PlatformCodePage, ShiftJisWithBackslashSecondByte) {
  // "ソ" is 0x83 0x5C: the second byte is the code of "\" but belongs to the kana.
  const std::string narrow = "\x83\x5C.txt";
  EXPECT_EQ(ToWide(narrow), u"\u30BD.txt");
  EXPECT_EQ(ToNarrow(u"\u30BD.txt"), narrow);
  EXPECT_EQ(ToWide("\x93\xFA\x96\x7B\xB1"), u"\u65E5\u672C\uFF71");  // 日本 and half-width ｱ
  EXPECT_EQ(ToNarrow(u"\u65E5\u672C\uFF71"), "\x93\xFA\x96\x7B\xB1");
}

TEST(PlatformCodePage, TerminatorAndSizeConventions) {
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  WCHAR wide[4];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 4), 4);
  EXPECT_EQ(std::u16string(wide), u"abc");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 3), 3);  // no terminator added

  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(437, 0, "abc", -1, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // A double-byte character needs both bytes of room.
  char narrow[4];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u30BDa", -1, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u30BDa", -1, narrow, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u30BDa", -1, narrow, 4, nullptr, nullptr), 4);
  EXPECT_STREQ(narrow, "\x83\x5C" "a");
}

TEST(PlatformCodePage, InvalidShiftJisBytesStayDistinctAndComeBack) {
  // Lone bytes that are no character: each keeps its identity.
  const std::string lone = std::string("\x80", 1) + "\xA0" + "\xFD" + "\xFF";
  std::u16string wide = ToWide(lone);
  EXPECT_EQ(wide, u"\xDC80\xDCA0\xDCFD\xDCFF");
  EXPECT_EQ(ToNarrow(wide), lone);

  // A lead byte with a second byte that makes no character is one character
  // (as the Shift-JIS walkers see it): the "/" never becomes a separator.
  for (const std::string& pair : {std::string("\x81/"), std::string("\x85\x40"), std::string("\xFC\xFD")}) {
    std::u16string w = ToWide("a" + pair + "b");
    ASSERT_EQ(w.size(), 4u) << "pair " << pair;
    EXPECT_EQ(w.find(u'/'), std::u16string::npos);
    EXPECT_EQ(ToNarrow(w), "a" + pair + "b");
  }
  // Different invalid pairs give different characters.
  EXPECT_NE(ToWide("\x81/"), ToWide("\x82/"));

  // A lead byte at the end stands alone and is not merged with the terminator.
  EXPECT_EQ(MultiByteToWideChar(932, 0, "a\x81", -1, nullptr, 0), 3);
  EXPECT_EQ(ToNarrow(ToWide(std::string("a\x81", 3))), std::string("a\x81", 3));

  // Strict callers can still refuse them.
  WCHAR buffer[8];
  EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "\x80", 1, buffer, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "\x83\x5C", 2, buffer, 8), 1);
}

TEST(PlatformCodePage, CharactersOutsideShiftJisRoundTrip) {
  const std::u16string foreign = u"Jos\u00E9 M\u00FCller \U0001F600 \u00E9";
  BOOL defaulted = TRUE;
  std::string narrow = ToNarrow(foreign, 932, &defaulted);
  EXPECT_FALSE(defaulted);
  EXPECT_EQ(narrow.find('?'), std::string::npos);
  // é, ü and the emoji each become one two-byte user-area code.
  ASSERT_EQ(narrow.size(), 19u);  // "Jos" é " M" ü "ller " emoji " " é
  EXPECT_TRUE(IsUserAreaCode(narrow, 3));
  EXPECT_TRUE(IsUserAreaCode(narrow, 7));
  EXPECT_TRUE(IsUserAreaCode(narrow, 14));
  EXPECT_EQ(narrow.substr(3, 2), narrow.substr(17, 2));  // the same é, the same code
  EXPECT_NE(narrow.substr(3, 2), narrow.substr(7, 2));
  EXPECT_EQ(ToWide(narrow), foreign);

  // A lone surrogate is no character: the default character, as on Windows.
  EXPECT_EQ(ToNarrow(u"a\xD800z", 932, &defaulted), "a?z");
  EXPECT_TRUE(defaulted);
}

TEST(PlatformCodePage, StandardUserAreaCodesKeepTheirPrivateUseCharacters) {
  EXPECT_EQ(ToWide("\xF0\x40"), u"\uE000");
  EXPECT_EQ(ToNarrow(u"\uE000"), "\xF0\x40");
  EXPECT_EQ(ToWide("\xF0\x80"), u"\uE03F");  // 0x7F is skipped in the second byte
  EXPECT_EQ(ToNarrow(u"\uE03F"), "\xF0\x80");
}

TEST(PlatformCodePage, ThreadsShareOneAssignment) {
  // Two threads convert the same foreign characters at once; both must end
  // with the same codes, and every code must read back as its character.
  std::u16string text;
  for (char16_t c = 0x0100; c < 0x0100 + 200; ++c) text.push_back(c);  // Latin Extended-A
  std::string results[2];
  std::thread a([&] { results[0] = ToNarrow(text); });
  std::thread b([&] { results[1] = ToNarrow(text); });
  a.join();
  b.join();
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(ToWide(results[0]), text);
}

TEST(PlatformCodePage, Cp1252) {
  EXPECT_EQ(ToWide("caf\xE9 \x80", 1252), u"caf\u00E9 \u20AC");
  EXPECT_EQ(ToNarrow(u"caf\u00E9 \u20AC", 1252), "caf\xE9 \x80");
  // An undefined byte is kept as itself; a character 1252 lacks becomes "?".
  EXPECT_EQ(ToWide("\x81", 1252), u"\xDC81");
  EXPECT_EQ(ToNarrow(u"\xDC81", 1252), "\x81");
  BOOL defaulted = FALSE;
  EXPECT_EQ(ToNarrow(u"\u65E5\U0001F600", 1252, &defaulted), "??");
  EXPECT_TRUE(defaulted);
}

TEST(PlatformCodePage, Utf8) {
  EXPECT_EQ(ToWide("\xC3\xA9\xF0\x9F\x98\x80", CP_UTF8), u"\u00E9\U0001F600");
  EXPECT_EQ(ToNarrow(u"\u00E9\U0001F600", CP_UTF8), "\xC3\xA9\xF0\x9F\x98\x80");
  // Invalid and overlong bytes each keep their value and come back raw.
  const std::string bad = "a\xFF\xC0\xAF\xED\xA0\x80";
  EXPECT_EQ(ToWide(bad, CP_UTF8), u"a\xDCFF\xDCC0\xDCAF\xDCED\xDCA0\xDC80");
  EXPECT_EQ(ToNarrow(ToWide(bad, CP_UTF8), CP_UTF8), bad);
  // UTF-8 has no default character (as on Windows).
  BOOL defaulted;
  char out[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, out, 8, nullptr, &defaulted), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(PlatformCodePage, ActiveCodePageFromEnvironment) {
  const char* saved = getenv("DORVANE_CODEPAGE");
  std::string keep = saved ? saved : "";
  unsetenv("DORVANE_CODEPAGE");
  EXPECT_EQ(GetACP(), 932u);
  setenv("DORVANE_CODEPAGE", "1252", 1);
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(ToWide("\xE9", CP_ACP), u"\u00E9");
  setenv("DORVANE_CODEPAGE", "65001", 1);
  EXPECT_EQ(GetACP(), 65001u);
  setenv("DORVANE_CODEPAGE", "437", 1);  // not one we have: the default
  EXPECT_EQ(GetACP(), 932u);
  if (saved)
    setenv("DORVANE_CODEPAGE", keep.c_str(), 1);
  else
    unsetenv("DORVANE_CODEPAGE");
}

TEST(PlatformCodePage, WideStringHelpers) {
  EXPECT_EQ(towupper_w(u'a'), u'A');
  EXPECT_EQ(towupper_w(u'1'), u'1');
  EXPECT_EQ(towupper_w(u'\u00E9'), u'\u00C9');
  EXPECT_EQ(towupper_w(u'\u03B1'), u'\u0391');  // Greek alpha
  EXPECT_EQ(towupper_w(u'\xD800'), u'\xD800');
  EXPECT_EQ(wcslen_w(u"abc"), 3u);
  WCHAR buffer[4];
  EXPECT_EQ(std::u16string(wcscpy_w(buffer, u"xyz")), u"xyz");
  EXPECT_TRUE(wcscpy_s_w(buffer, 4, u"abc"));
  EXPECT_FALSE(wcscpy_s_w(buffer, 4, u"abcd"));
  EXPECT_EQ(std::u16string(buffer), u"abc");  // cut and terminated
  EXPECT_FALSE(wcscpy_s_w(buffer, 0, u"a"));
}

}  // namespace
