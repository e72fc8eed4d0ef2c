// Stored names end to end: archives made by real tools with UTF-8 names, and
// with Shift-JIS names patched in (tests/fixtures/make-names.sh), must give
// exactly the file names listed in NAMES.tsv; hand-made ZIP members for the
// marks the tools here do not write.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "support/testutil.h"
#include "unit/zip_encoders.h"

namespace {

using testutil::TempDir;

std::map<std::string, std::vector<std::string>> ReadNames() {
  std::map<std::string, std::vector<std::string>> names;
  std::ifstream in(testutil::Fixture("names/NAMES.tsv"));
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) names[line.substr(0, tab)].push_back(line.substr(tab + 1));
  }
  return names;
}

std::vector<std::string> ExtractedNames(const std::string& archive,
                                        const std::map<std::string, std::string>& env = {}) {
  TempDir tmp;
  std::map<std::string, std::string> all = env;
  all["DORVANE_REGISTRY"] = tmp / "registry.reg";
  (void)testutil::RunDorvane({"#P(" + (tmp / "out") + ")#F(" + archive + ")"}, all);
  std::vector<std::string> files = testutil::ListFiles(tmp / "out");
  std::sort(files.begin(), files.end());
  return files;
}

class StoredNames : public ::testing::TestWithParam<std::string> {};

TEST_P(StoredNames, ComeOutAsTheArchiverWroteThem) {
  std::vector<std::string> expected = ReadNames()[GetParam()];
  ASSERT_FALSE(expected.empty());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ExtractedNames(testutil::Fixture("names/" + GetParam())), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, StoredNames,
    ::testing::Values("utf8-zip.zip", "utf8-7zz.zip", "utf8-gnu.tar", "utf8-ustar.tar",
                      "utf8-pax.tar", "utf8-bsdtar.tgz", "utf8-gcab.cab", "utf8-uuenview.uu", "utf8-uuenview.ntx", "utf8-mpack.mim",
                      "sjis-zip.zip", "sjis-dos.zip",
                      "sjis-ustar.tar", "sjis-lh0.lzh", "sjis-lh1.lzh", "sjis-lh2.lzh",
                      "sjis-lh1-dos.lzh", "sjis-lh2-dos.lzh"),
    [](const ::testing::TestParamInfo<std::string>& info) {
      std::string name = info.param;
      std::replace_if(name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
      return name;
    });

// The same UTF-8 names with UTF-8 as the active code page, and with code
// page 1252, which holds "é" but no Japanese: those become "?" and then "_".
TEST(StoredNamesCodePage, Utf8AndLatin) {
  const std::string zip = testutil::Fixture("names/utf8-zip.zip");
  EXPECT_EQ(ExtractedNames(zip, {{"DORVANE_CODEPAGE", "65001"}}),
            (std::vector<std::string>{"café-日本/résumé.txt", "café-日本/データ.txt"}));
  EXPECT_EQ(ExtractedNames(zip, {{"DORVANE_CODEPAGE", "1252"}}),
            (std::vector<std::string>{"café-__/___.txt", "café-__/résumé.txt"}));
}

// ZIP marks no tool here writes: flag bit 11 and the Unicode Path extra
// field, which counts only with version 1 and the stored name's CRC-32.
TEST(StoredNamesZip, FlagAndUnicodePathField) {
  auto unicodePath = [](uint8_t version, const std::string& stored, const std::string& utf8,
                        uint32_t crcDelta) {
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size()))) + crcDelta;
    zipenc::Bytes e = {0x75, 0x70, static_cast<uint8_t>(5 + utf8.size()), 0, version};
    for (int i = 0; i < 4; ++i) e.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    e.insert(e.end(), utf8.begin(), utf8.end());
    return e;
  };
  auto member = [](const std::string& name, uint16_t flags, zipenc::Bytes extra) {
    zipenc::ZipMember m;
    m.name = name;
    m.flags = flags;
    m.plain = m.data = {'x'};
    m.extra = std::move(extra);
    return m;
  };
  const std::vector<zipenc::ZipMember> members = {
      member("データ1.txt", 0x800, {}),
      member("\x83\x66\x81\x5B\x83\x5E" "2.txt", 0x800, {}),  // marked, but Shift-JIS
      member("\xC3\xBD.txt", 0, {}),                          // unmarked: read as UTF-8
      member("a.txt", 0, unicodePath(1, "a.txt", "résumé-a.txt", 0)),
      member("b.txt", 0, unicodePath(1, "b.txt", "résumé-b.txt", 1)),  // stale: ignored
      member("c.txt", 0, unicodePath(2, "c.txt", "résumé-c.txt", 0)),  // unknown version
  };
  TempDir tmp;
  const zipenc::Bytes zip = zipenc::LocalHeaders(members);
  testutil::WriteFile(tmp / "marks.zip", zip);
  EXPECT_EQ(ExtractedNames(tmp / "marks.zip"),
            (std::vector<std::string>{"b.txt", "c.txt", "résumé-a.txt", "ý.txt", "データ1.txt",
                                      "データ2.txt"}));
}

// Names up to an output path long come out whole, measured after decoding:
// 25 folders of 80 half-width katakana take 6,024 bytes of UTF-8 but 2,024
// narrow bytes and fit; 41 folders of 100 "a" (4,140 bytes) do not, and
// that member is skipped and named, never cut. In ZIP, and in TAR through
// GNU long-name records.
TEST(StoredNames, LengthCountsOnceDecoded) {
  auto folders = [](const std::string& part, int length, int count) {
    std::string folder, out;
    for (int i = 0; i < length; ++i) folder += part;
    for (int i = 0; i < count; ++i) out += (i == 0 ? "" : "/") + folder;
    return out;
  };
  const std::string fits = folders("ｱ", 80, 25);
  const std::string tooLong = folders("a", 100, 41);
  std::vector<zipenc::ZipMember> members(2);
  members[0].name = fits;
  members[1].name = tooLong;
  for (auto& m : members) m.plain = m.data = {'x'};
  const zipenc::Bytes zipBytes = zipenc::LocalHeaders(members);
  const std::string zip(zipBytes.begin(), zipBytes.end());
  const std::string nul(1, '\0');
  const std::string tar = testutil::Tar(
      {{"././@LongLink", fits + nul, 'L'}, {"fits", "x"}, {"././@LongLink", tooLong + nul, 'L'}, {"long", "x"}});
  for (const auto& [name, bytes] : {std::make_pair("long.zip", zip), std::make_pair("long.tar", tar)}) {
    SCOPED_TRACE(name);
    TempDir tmp;
    testutil::WriteFile(tmp / name, bytes);
    const testutil::RunResult r = testutil::RunDorvane({"#P(" + (tmp / "out") + ")#F(" + (tmp / name) + ")"},
                                                       {{"DORVANE_REGISTRY", tmp / "registry.reg"}});
    // find, unlike opendir on a whole path, walks below the host's path
    // limit, which the first member's path passes.
    EXPECT_EQ(testutil::System("cd '" + (tmp / "out") + "' && test \"$(find . -type f)\" = './" + fits + "'"), 0);
    EXPECT_NE(r.err.find("the name is too long for an output path"), std::string::npos) << r.err;
  }
}

}  // namespace
