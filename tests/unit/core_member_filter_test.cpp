// Choosing members by shell globs over their paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/charset.h"
#include "core/member_filter.h"

namespace {

TEST(MemberFilter, GlobsOverMemberPaths) {
  unsetenv("DORVANE_CODEPAGE");  // Shift-JIS
  BuildLeadByteTable();
  const struct {
    const char* pattern;
    const char* name;
    bool selected;
  } rows[] = {
      {"*.txt", "a.txt", true},
      {"*.txt", "docs/a.txt", false},             // "*" stays within a folder
      {"*/*.txt", "docs\\a.txt", true},           // either separator in the name
      {"docs/*", "docs/deep/z.txt", false},
      {"docs/**", "docs/deep/z.txt", true},
      {"**/z.txt", "z.txt", true},                // "**/" may stand for no folder
      {"**.txt", "docs/deep/z.txt", true},
      {"docs", "docs/deep/z.txt", true},          // a folder's name takes what is below it
      {"docs", "docsx/z.txt", false},
      {"?.t[a-z]t", "a.txt", true},
      {"?.t[!x]t", "a.txt", false},
      {"[ab]*", "c", false},
      {"a[", "a[", true},                         // an open set is a plain "["
      {"./docs/", "docs/a.txt", true},
      {"*a*b", "xaxxab", true},                   // backtracking over "*"
      {"\x82\xA0?", "\x82\xA0\x82\xA2", true},    // whole Shift-JIS characters
      {"\x82?", "\x82\xA0\x82\xA2", false},
  };
  for (const auto& row : rows) {
    ClearMemberPatterns();
    AddMemberPattern(row.pattern, row.pattern, true);
    EXPECT_EQ(MemberSelected(row.name), row.selected) << row.pattern << " ~ " << row.name;
  }
}

TEST(MemberFilter, ExcludeWinsAndUnmatchedPatternsAreKept) {
  BuildLeadByteTable();
  ClearMemberPatterns();
  EXPECT_TRUE(MemberSelected("anything"));
  AddMemberPattern("docs/**", "docs/**", true);
  AddMemberPattern("*.bin", "*.bin", true);
  AddMemberPattern("**/deep", "**/deep", false);
  AddMemberPattern("none", "none", false);
  EXPECT_TRUE(MemberSelected("docs/fox.txt"));
  EXPECT_FALSE(MemberSelected("docs/deep/z.txt"));
  EXPECT_FALSE(MemberSelected("numbers.txt"));
  EXPECT_EQ(UnmatchedMemberPatterns(), (std::vector<std::string>{"*.bin", "none"}));
  ClearMemberPatterns();
}

}  // namespace
