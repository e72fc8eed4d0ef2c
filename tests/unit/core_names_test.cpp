// Stored names into narrow text: the UTF-8 check, the marks, the legacy code
// page, names in named character sets, and names that do not fit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/charset.h"
#include "core/names.h"
#include "core/output.h"

namespace {

// The characters narrow text stands for, as UTF-8 (bytes that are no
// character come back as themselves).
std::string Shown(const char* narrow) {
  WCHAR wide[kPathBufferSize];
  if (!NarrowToWide(narrow, wide, kPathBufferSize)) return "<unconvertible>";
  char utf8[4 * kPathBufferSize];
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr) <= 0)
    return "<unconvertible>";
  return utf8;
}

std::string Repeat(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

class NamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DORVANE_CODEPAGE");
    BuildLeadByteTable();
  }
};

struct Row {
  const char* label;
  std::string stored;
  NameMarking marking;
  std::string shown;  // UTF-8; empty: the narrow text is the stored bytes
};

TEST_F(NamesTest, DecodesByMarkAndContent) {
  const std::string sjisData = "\x83\x66\x81\x5B\x83\x5E.txt";  // データ.txt in Shift-JIS
  const std::string tesu = "\xC3\xBD.txt";                     // ﾃｽ.txt in Shift-JIS, ý.txt in UTF-8
  const Row rows[] = {
      {"ascii", "docs/a.txt", NameMarking::kUnmarked, "docs/a.txt"},
      {"utf8 unmarked", "café-日本/データ.txt", NameMarking::kUnmarked, "café-日本/データ.txt"},
      {"utf8 marked", "résumé.txt", NameMarking::kUtf8, "résumé.txt"},
      {"decomposed kept", "e\xCC\x81.txt", NameMarking::kUnmarked, "e\xCC\x81.txt"},
      {"four-byte", "\xF0\x9F\x98\x80.txt", NameMarking::kUnmarked, "\xF0\x9F\x98\x80.txt"},
      {"sjis unmarked", sjisData, NameMarking::kUnmarked, "データ.txt"},
      {"sjis legacy", sjisData, NameMarking::kLegacy, "データ.txt"},
      {"sjis marked but not utf8", sjisData, NameMarking::kUtf8, "データ.txt"},
      // Half-width katakana pairs can be well-formed UTF-8: only a legacy
      // host keeps them Shift-JIS.
      {"katakana unmarked", tesu, NameMarking::kUnmarked, "ý.txt"},
      {"katakana legacy", tesu, NameMarking::kLegacy, "ﾃｽ.txt"},
      {"utf8 from a legacy host", "é.txt", NameMarking::kLegacy, "ﾃｩ.txt"},
      // Not UTF-8 (overlong, surrogate, past U+10FFFF, cut short): legacy text.
      {"overlong", "\xC0\xAF.txt", NameMarking::kUnmarked, "ﾀｯ.txt"},
      {"surrogate", "\xED\xA0\x80", NameMarking::kUnmarked, ""},
      {"past max", "\xF4\x90\x80\x80", NameMarking::kUnmarked, ""},
      {"cut short", "\xE6\x97", NameMarking::kUtf8, ""},
      {"neither utf8 nor 932", "\x80\xFD\xFF", NameMarking::kUnmarked, ""},
      {"ends at nul", std::string("ab\0cd", 5), NameMarking::kUnmarked, "ab"},
  };
  for (const Row& row : rows) {
    char out[kPathBufferSize];
    ASSERT_TRUE(DecodeStoredName(reinterpret_cast<const uint8_t*>(row.stored.data()),
                                 row.stored.size(), row.marking, out, sizeof out))
        << row.label;
    if (row.shown.empty()) {
      EXPECT_EQ(std::string(out), row.stored) << row.label;
    } else {
      EXPECT_EQ(Shown(out), row.shown) << row.label;
    }
  }
}

TEST_F(NamesTest, NarrowFormsAreWholeCharacters) {
  // Characters of code page 932 become its codes; others a user-area code.
  char out[kPathBufferSize];
  const std::string data = "データ/é";
  ASSERT_TRUE(DecodeStoredName(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                               NameMarking::kUnmarked, out, sizeof out));
  EXPECT_EQ(std::string(out, 7), "\x83\x66\x81\x5B\x83\x5E/");
  EXPECT_GE(static_cast<uint8_t>(out[7]), 0xF0);
  EXPECT_LE(static_cast<uint8_t>(out[7]), 0xF9);
  EXPECT_EQ(strlen(out), 9u);
  EXPECT_EQ(Shown(out), data);
}

TEST_F(NamesTest, NamesThatDoNotFitAreRefused) {
  struct {
    std::string stored;
    NameMarking marking;
    bool fits;
  } rows[] = {
      {std::string(259, 'a'), NameMarking::kUnmarked, true},
      {std::string(260, 'a'), NameMarking::kUnmarked, false},
      {std::string(260, '\x83'), NameMarking::kLegacy, false},
      // 129 x "é" is 258 narrow bytes; 130 x is 260.
      {Repeat("é", 129), NameMarking::kUtf8, true},
      {Repeat("é", 130), NameMarking::kUtf8, false},
      // 300 half-width katakana: 900 bytes of UTF-8, 300 narrow bytes; 250
      // of them fit.
      {Repeat("ｱ", 300), NameMarking::kUtf8, false},
      {Repeat("ｱ", 250), NameMarking::kUtf8, true},
  };
  for (const auto& row : rows) {
    char out[kPathBufferSize] = "x";
    EXPECT_EQ(DecodeStoredName(reinterpret_cast<const uint8_t*>(row.stored.data()), row.stored.size(),
                               row.marking, out, sizeof out),
              row.fits)
        << row.stored.size();
    if (!row.fits) {
      EXPECT_STREQ(out, "");
    }
  }
}

TEST_F(NamesTest, DotDotInUtf8PathsCannotClimb) {
  const std::string stored = "日本/../../é/..";
  char name[kPathBufferSize], path[kPathBufferSize];
  ASSERT_TRUE(DecodeStoredName(reinterpret_cast<const uint8_t*>(stored.data()), stored.size(),
                               NameMarking::kUtf8, name, sizeof name));
  ASSERT_TRUE(JoinOutputPath(path, sizeof path, "\\out", name));
  EXPECT_EQ(Shown(path), "\\out\\日本/__/__/é/__");
}

TEST_F(NamesTest, NamedCharacterSets) {
  const struct {
    const char* charset;
    std::string stored;
    std::string shown;
  } rows[] = {
      {"UTF-8", "résumé.txt", "résumé.txt"},
      {"utf-8", "データ.txt", "データ.txt"},
      {"ISO-2022-JP", "\x1B$B%G!<%?\x1B(B.txt", "データ.txt"},
      {"Shift_JIS", "\x83\x66\x81\x5B\x83\x5E.txt", "データ.txt"},
      {"ISO-8859-1", "r\xE9sum\xE9.txt", "résumé.txt"},
      // Unknown to iconv, or not text in the set: an unmarked name.
      {"x-no-such-set", "résumé.txt", "résumé.txt"},
      {"ISO-2022-JP", "\x83\x66\x81\x5B\x83\x5E", "データ"},
  };
  for (const auto& row : rows) {
    char out[kPathBufferSize];
    ASSERT_TRUE(DecodeNameInCharset(row.charset, reinterpret_cast<const uint8_t*>(row.stored.data()),
                                    row.stored.size(), out, sizeof out))
        << row.charset;
    EXPECT_EQ(Shown(out), row.shown) << row.charset;
  }
}

TEST_F(NamesTest, Utf8CodePageTakesUtf8AsItIs) {
  setenv("DORVANE_CODEPAGE", "65001", 1);
  BuildLeadByteTable();
  const std::string stored = "café-日本";
  char out[kPathBufferSize];
  ASSERT_TRUE(DecodeStoredName(reinterpret_cast<const uint8_t*>(stored.data()), stored.size(),
                               NameMarking::kUnmarked, out, sizeof out));
  EXPECT_EQ(std::string(out), stored);
  unsetenv("DORVANE_CODEPAGE");
  BuildLeadByteTable();
}

}  // namespace
