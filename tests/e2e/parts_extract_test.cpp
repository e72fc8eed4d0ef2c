// Files posted in parts (tests/fixtures/make-parts.sh): gathered over the
// files of one run in any order and written whole, or named with the parts
// that are missing and not written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

struct PartsRow {
  std::vector<std::string> files;  // fixtures of tests/fixtures/parts, in the order given
  std::string named;               // "": parts.bin comes out whole; else the notice
};

class PartsExtract : public ::testing::Test {
 protected:
  void Check(const std::vector<PartsRow>& rows) {
    for (const PartsRow& row : rows) {
      const std::string out = tmp_ / ("out" + std::to_string(++runs_));
      std::vector<std::string> args{"-o", out};
      for (const std::string& f : row.files) args.push_back(In(f));
      const testutil::RunResult r = testutil::RunDorvane(args, {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}});
      const std::string label = row.files.front() + "...";
      if (row.named.empty()) {
        EXPECT_EQ(r.exitCode, 0) << label << r.err;
        EXPECT_EQ(r.err, "") << label;
        EXPECT_EQ(testutil::ReadFile(out + "/parts.bin"), Whole()) << label;
      } else {
        EXPECT_EQ(r.exitCode, 2) << label;
        EXPECT_NE(r.err.find(row.named), std::string::npos) << label << r.err;
        EXPECT_NE(r.err.find("FAILED: 1 times"), std::string::npos) << label << r.err;
        EXPECT_FALSE(testutil::FileExists(out + "/parts.bin")) << label;
      }
    }
  }
  // A fixture, or several joined into one file ("a+b"), copied in; a path
  // as it is.
  std::string In(const std::string& source) {
    if (source[0] == '/') return source;
    std::string content, name;
    for (size_t at = 0; at <= source.size();) {
      const size_t plus = source.find('+', at);
      const std::string part = source.substr(at, plus == std::string::npos ? std::string::npos : plus - at);
      content += testutil::ReadFile(testutil::Fixture("parts/" + part));
      name += (name.empty() ? "" : "-") + part;
      at = plus == std::string::npos ? source.size() + 1 : plus + 1;
    }
    testutil::WriteFile(tmp_ / name, content);
    return tmp_ / name;
  }
  static std::string Whole() { return testutil::ReadFile(testutil::Fixture("parts/parts.bin")); }

  testutil::TempDir tmp_;
  int runs_ = 0;
};

TEST_F(PartsExtract, Yenc) {
  // y.002 with one data byte changed: its pcrc32 no longer matches.
  std::string bad = testutil::ReadFile(testutil::Fixture("parts/y.002"));
  const size_t data = bad.find('\n', bad.find("=ypart")) + 10;
  bad[data] = bad[data] == 'a' ? 'b' : 'a';
  testutil::WriteFile(tmp_ / "bad.002", bad);
  Check({
      {{"y.003", "y.001", "y.002"}, ""},
      {{"y.002+y.003+y.001"}, ""},  // all parts in one file, out of order
      {{"y.001", "y.003"}, "parts.bin: part 2 of 3 missing"},
      {{"y.002"}, "parts.bin: parts 1 and 3 of 3 missing"},
      {{"y.001", "y.003", tmp_ / "bad.002"}, "parts.bin: part 2: checksum error"},
  });
}

TEST_F(PartsExtract, UuencodeNumberedParts) {
  Check({
      {{"u.003", "u.001", "u.002"}, ""},
      {{"u.002+u.001+u.003"}, ""},
      {{"u.001", "u.003"}, "parts.bin: part 2 of 3 missing"},
      {{"u.002", "u.003"}, "parts.bin: part 1 of 3 missing"},
  });
}

TEST_F(PartsExtract, UuencodeSplitPieces) {
  Check({
      {{"s.uue.ac", "s.uue.aa", "s.uue.ab"}, ""},
      {{"s.uue.aa", "s.uue.ac"}, "parts.bin: part 2 of 3 missing"},
      {{"s.uue.aa", "s.uue.ab"}, "parts.bin: the piece holding its end line is missing"},
  });
}

}  // namespace
