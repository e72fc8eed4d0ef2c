// LZH archives through the whole program: jlha fixtures of every header
// level, self-extracting stubs, headers built here field by field (names,
// folders, damage), and the real archives of ../shared/fixtures/lzh.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using testutil::Fixture;
using testutil::ListFiles;
using testutil::ReadFile;
using testutil::TempDir;

uint16_t Crc16(const std::string& data) {
  uint16_t crc = 0;
  for (unsigned char b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// A level-0 member: base header with name, then the data as given.
std::string Level0(const std::string& method, const std::string& name, const std::string& data,
                   uint32_t unpacked, uint8_t attribute = 0x20, uint32_t dosTime = 0x5A2C6000) {
  std::string h(2, '\0');
  h += method;
  Put32(h, static_cast<uint32_t>(data.size()));
  Put32(h, unpacked);
  Put32(h, dosTime);
  h += static_cast<char>(attribute);
  h += '\0';  // level
  h += static_cast<char>(name.size());
  h += name;
  Put16(h, Crc16(data));
  h[0] = static_cast<char>(h.size() - 2);
  uint8_t sum = 0;
  for (size_t i = 2; i < h.size(); ++i) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(h[i]));
  h[1] = static_cast<char>(sum);
  return h + data;
}

struct Level2Member {
  std::string method = "-lh0-";
  std::string directory;  // raw bytes, 0xFF separators
  std::string name;
  std::string data;
  uint32_t unixTime = 1000000000;
  uint8_t attribute = 0x20;
  bool badCrc = false;
  char os = 'U';
  size_t padding = 0;   // zero bytes after the extended headers
  int sizeError = 0;    // added to the stored header size
  std::vector<std::string> more;  // further extended headers, type byte first
};

// A level-2 member with a header-CRC, a file-name and (if any) a folder
// extended header.
std::string Level2(const Level2Member& m) {
  std::vector<std::string> ext;
  ext.push_back(std::string("\x00\x00\x00", 3));
  ext.push_back("\x01" + m.name);
  if (!m.directory.empty()) ext.push_back("\x02" + m.directory);
  ext.insert(ext.end(), m.more.begin(), m.more.end());
  std::string h(2, '\0');
  h += m.method;
  Put32(h, static_cast<uint32_t>(m.data.size()));
  Put32(h, static_cast<uint32_t>(m.data.size()));
  Put32(h, m.unixTime);
  h += static_cast<char>(m.attribute);
  h += '\x02';
  Put16(h, Crc16(m.data));
  h += m.os;
  Put16(h, static_cast<uint32_t>(ext[0].size() + 2));
  size_t crcAt = 0;
  for (size_t i = 0; i < ext.size(); ++i) {
    if (i == 0) crcAt = h.size() + 1;
    h += ext[i];
    Put16(h, i + 1 < ext.size() ? static_cast<uint32_t>(ext[i + 1].size() + 2) : 0);
  }
  h += std::string(m.padding, '\0');
  const size_t size = h.size() + m.sizeError;
  h[0] = static_cast<char>(size & 0xFF);
  h[1] = static_cast<char>(size >> 8);
  const uint16_t crc = static_cast<uint16_t>(Crc16(h) ^ (m.badCrc ? 1 : 0));
  h[crcAt] = static_cast<char>(crc & 0xFF);
  h[crcAt + 1] = static_cast<char>(crc >> 8);
  return h + m.data;
}

// A member of level 1, 2 or 3 whose name is in a file-name extended header,
// followed by `more` extended headers (type byte first, data after). Level
// 2 and 3 headers start with a header-CRC extended header. The 32-bit size
// fields hold `sizeField` when it is given, else the data's size.
std::string Extended(int level, const std::string& method, const std::string& name,
                     const std::string& data, const std::vector<std::string>& more = {}, char os = 'U',
                     int64_t sizeField = -1) {
  const size_t word = level == 3 ? 4 : 2;
  std::vector<std::string> ext;
  if (level >= 2) ext.push_back(std::string("\x00\x00\x00", 3));
  ext.push_back("\x01" + name);
  ext.insert(ext.end(), more.begin(), more.end());
  auto putSize = [&](std::string& h, size_t v) {
    Put16(h, static_cast<uint32_t>(v & 0xFFFF));
    if (word == 4) Put16(h, static_cast<uint32_t>(v >> 16));
  };
  size_t extTotal = 0;
  for (const auto& e : ext) extTotal += e.size() + word;
  std::string h = level == 3 ? std::string("\x04\x00", 2) : std::string(2, '\0');
  h += method;
  const uint32_t packed = sizeField >= 0 ? static_cast<uint32_t>(sizeField)
                                         : static_cast<uint32_t>(data.size() + (level == 1 ? extTotal : 0));
  Put32(h, packed);
  Put32(h, sizeField >= 0 ? static_cast<uint32_t>(sizeField) : static_cast<uint32_t>(data.size()));
  Put32(h, level == 1 ? 0x5A2C6000 : 1000000000);
  h += '\x20';
  h += static_cast<char>(level);
  if (level == 1) h += '\0';  // no name in the base header
  Put16(h, Crc16(data));
  h += os;
  if (level == 3) Put32(h, 0);  // total header size, set below
  putSize(h, ext[0].size() + word);
  size_t crcAt = 0;
  for (size_t i = 0; i < ext.size(); ++i) {
    if (i == 0 && level >= 2) crcAt = h.size() + 1;
    h += ext[i];
    putSize(h, i + 1 < ext.size() ? ext[i + 1].size() + word : 0);
  }
  if (level == 1) {
    // The base header ends with the first extended size; its checksum
    // covers it.
    const size_t baseSize = 27;
    h[0] = static_cast<char>(baseSize - 2);
    uint8_t sum = 0;
    for (size_t i = 2; i < baseSize; ++i) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(h[i]));
    h[1] = static_cast<char>(sum);
    return h + data;
  }
  if (level == 3) {
    for (int k = 0; k < 4; ++k) h[24 + k] = static_cast<char>((h.size() >> (8 * k)) & 0xFF);
  } else {
    h[0] = static_cast<char>(h.size() & 0xFF);
    h[1] = static_cast<char>(h.size() >> 8);
  }
  const uint16_t crc = Crc16(h);
  h[crcAt] = static_cast<char>(crc & 0xFF);
  h[crcAt + 1] = static_cast<char>(crc >> 8);
  return h + data;
}

// The extended header of 64-bit packed and unpacked sizes.
std::string Sizes64(uint64_t packed, uint64_t unpacked) {
  std::string e("\x42");
  for (uint64_t v : {packed, unpacked})
    for (int k = 0; k < 8; ++k) e += static_cast<char>((v >> (8 * k)) & 0xFF);
  return e;
}

std::map<std::string, std::string> Manifest(const std::string& path) {
  std::map<std::string, std::string> rows;
  for (const testutil::ManifestRow& row : testutil::ReadManifest(path))
    if (row.size() == 2) rows[row[0]] = row[1];
  return rows;
}

class LzhExtract : public ::testing::Test {
 protected:
  testutil::RunResult Extract(const std::string& archive,
                              std::map<std::string, std::string> env = {}) {
    env["DORVANE_REGISTRY"] = tmp_ / "registry.reg";
    return testutil::RunDorvane({"#P(" + out() + ")#F(" + archive + ")"}, env);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    testutil::WriteFile(tmp_ / name, bytes);
    return tmp_ / name;
  }
  std::string out() const { return tmp_ / "out"; }
  std::vector<std::string> Extracted() {
    auto files = ListFiles(out());
    std::sort(files.begin(), files.end());
    return files;
  }
  TempDir tmp_;
};

TEST_F(LzhExtract, JlhaArchivesOfEveryLevel) {
  const auto manifest = Manifest(Fixture("lzh/MANIFEST.tsv"));
  // Names of 300 and 1,000 bytes, folders included.
  const std::string name300 = std::string(99, 'a') + "/" + std::string(99, 'b') + "/" + std::string(100, 'c');
  std::string name1000;
  for (char c : {'d', 'e', 'f', 'g'}) name1000 += std::string(199, c) + "/";
  name1000 += std::string(200, 'h');
  const std::map<std::string, std::vector<std::string>> archives = {
      {"level0_lh5.lzh", {"hello.txt", "long.txt"}},
      {"level1_lh6.lzh", {"empty.txt", "hello.txt", "long.txt"}},
      {"level2_lh7.lzh", {"hello.txt", "long.txt", "sub/inner/deep.txt"}},
      {"level2_lh0.lzh", {"hello.txt", "sub/inner/deep.txt"}},
      {"level2_long_names.lzh", {name300, name1000}},
  };
  for (const auto& [archive, members] : archives) {
    TempDir dir;
    const auto r = testutil::RunDorvane({"#P(" + (dir / "out") + ")#F(" + Fixture("lzh/" + archive) + ")"},
                                        {{"DORVANE_REGISTRY", dir / "registry.reg"}});
    EXPECT_EQ(r.exitCode, 0) << archive << r.err;
    auto files = ListFiles(dir / "out");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, members) << archive;
    for (const auto& m : members) {
      EXPECT_EQ(testutil::Sha256Hex(ReadFile(dir / "out/" + m)), manifest.at(m)) << archive << " " << m;
    }
  }
}

TEST_F(LzhExtract, TimeStampsFollowTheHeaderLevel) {
  Level2Member m;
  m.name = "unix.txt";
  m.data = "level 2";
  m.unixTime = 1234567890;
  // DOS 2001-02-03 04:05:06: date (21 << 9 | 2 << 5 | 3), time (4 << 11 | 5 << 5 | 3).
  const uint32_t dos = ((21u << 9 | 2u << 5 | 3u) << 16) | (4u << 11 | 5u << 5 | 3u);
  const std::string archive =
      Level0("-lh0-", "dos.txt", "level 0", 7, 0x20, dos) + Level2(m) + std::string(1, '\0');
  ASSERT_EQ(Extract(Write("t.lzh", archive), {{"TZ", "UTC"}}).exitCode, 0);
  struct stat st;
  ASSERT_EQ(stat((out() + "/unix.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1234567890);
  ASSERT_EQ(stat((out() + "/dos.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 981173106);  // 2001-02-03 04:05:06 UTC
}

TEST_F(LzhExtract, ReadOnlyAttributeIsApplied) {
  const std::string archive = Level0("-lh0-", "ro.txt", "x", 1, 0x21) + std::string(1, '\0');
  ASSERT_EQ(Extract(Write("a.lzh", archive)).exitCode, 0);
  struct stat st;
  ASSERT_EQ(stat((out() + "/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
}

// A method without a decoder is named and fails the archive; no empty file
// stands in for the member, and the walk goes on.
TEST_F(LzhExtract, UnknownMethodFailsTheMember) {
  const std::string archive =
      Level0("-lh9-", "u.txt", "xx", 2) + Level0("-lh0-", "next.txt", "n", 1) + std::string(1, '\0');
  const auto r = Extract(Write("u.lzh", archive));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("u.txt: unsupported compression method"), std::string::npos) << r.err;
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"next.txt"}));
}

TEST_F(LzhExtract, SelfExtractingStubIsFoundWithin300KiB) {
  const std::string lzh = ReadFile(Fixture("lzh/level2_lh0.lzh"));
  // The stub holds no "-l" pattern, so the first header is the archive's.
  std::string stub(200 * 1024, 'M');
  ASSERT_EQ(Extract(Write("setup.exe", stub + lzh)).exitCode, 0);
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"hello.txt", "sub/inner/deep.txt"}));

  // Beyond the probe's 300 KiB nobody takes the file.
  TempDir other;
  std::string far(400 * 1024, 'M');
  const auto r = testutil::RunDorvane({"#P(" + other.path() + ")#F(" + Write("far.exe", far + lzh) + ")"},
                                      {{"DORVANE_REGISTRY", other / "registry.reg"}});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_FALSE(testutil::FileExists(other / "hello.txt"));
}

TEST_F(LzhExtract, FolderNamesShiftJisAndDotDot) {
  Level2Member folder;
  folder.directory = "a\xFF" "b\xFF";
  folder.name = "c.txt";
  folder.data = "in a/b";
  Level2Member sjis;
  sjis.name = "\x95\x5C.txt";  // the second byte is "\"
  sjis.data = "table";
  Level2Member dir;
  dir.method = "-lhd-";
  dir.name = "emptydir";
  const std::string archive = Level2(folder) + Level2(sjis) + Level2(dir) +
                              Level0("-lh0-", "..\\..\\evil.txt", "no", 2) + std::string(1, '\0');
  ASSERT_EQ(Extract(Write("n.lzh", archive)).exitCode, 0);
  EXPECT_EQ(ReadFile(out() + "/a/b/c.txt"), "in a/b");
  EXPECT_EQ(ReadFile(out() + "/\xE8\xA1\xA8.txt"), "table");
  EXPECT_TRUE(testutil::IsDirectory(out() + "/emptydir"));
  EXPECT_EQ(ReadFile(out() + "/__/__/evil.txt"), "no");
  EXPECT_FALSE(testutil::FileExists(tmp_ / "evil.txt"));
}

TEST_F(LzhExtract, OverlongNameIsSkippedAndTheWalkGoesOn) {
  // A name past the output path limit (4,096 bytes) is refused; one whose
  // single part is past the file system's limit fails there. Both are named.
  Level2Member longName;
  for (int i = 0; i < 21; ++i) longName.directory += std::string(199, 'd') + "\xFF";
  longName.name = "nnn";
  longName.data = "long";
  Level2Member longPart;
  longPart.name = std::string(300, 'p');
  longPart.data = "part";
  Level2Member after;
  after.name = "after.txt";
  after.data = "after";
  const auto r = Extract(Write("l.lzh", Level2(longName) + Level2(longPart) + Level2(after) + std::string(1, '\0')));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("ddd: the name is too long for an output path"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ppp: cannot be created"), std::string::npos) << r.err;
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"after.txt"}));
}

// The Unix archivers' permission header (0x50) gives the mode; a symbolic
// link is stored as "name|target".
TEST_F(LzhExtract, UnixModesAndSymbolicLinks) {
  auto mode = [](uint16_t m) { return std::string("\x50", 1) + static_cast<char>(m & 0xFF) + static_cast<char>(m >> 8); };
  Level2Member run;
  run.name = "run";
  run.data = "#!/bin/sh\n";
  run.more = {mode(0100750)};
  Level2Member link;
  link.name = "link|run";
  link.more = {mode(0120777)};
  const std::string archive = Level2(run) + Level2(link) + std::string(1, '\0');
  const auto r = Extract(Write("u.lzh", archive));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const mode_t mask = umask(022);
  umask(mask);
  struct stat st;
  ASSERT_EQ(stat((out() + "/run").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u & ~mask);
  char target[16] = {};
  EXPECT_EQ(readlink((out() + "/link").c_str(), target, sizeof target - 1), 3);
  EXPECT_STREQ(target, "run");
}

// A level-2 header is as long as its stored size says, padding included;
// the OS-9/68k port stores that size two bytes short.
TEST_F(LzhExtract, Level2HeaderSizeAndTheOs9Shortfall) {
  struct Row {
    const char* label;
    char os;
    size_t padding;
    int sizeError;
    bool read;
  } rows[] = {
      {"padding byte", 'U', 1, 0, true},
      {"OS-9 two bytes short", 'K', 0, -2, true},
      {"two bytes short elsewhere", 'U', 0, -2, false},
  };
  for (const Row& row : rows) {
    Level2Member m;
    m.name = "a.txt";
    m.data = "member data";
    m.os = row.os;
    m.padding = row.padding;
    m.sizeError = row.sizeError;
    Level2Member next;
    next.name = "b.txt";
    next.data = "next";
    TempDir dir;
    testutil::WriteFile(dir / "h.lzh", Level2(m) + Level2(next) + std::string(1, '\0'));
    const auto r = testutil::RunDorvane({"#P(" + (dir / "out") + ")#F(" + (dir / "h.lzh") + ")"},
                                        {{"DORVANE_REGISTRY", dir / "registry.reg"}});
    if (row.read) {
      EXPECT_EQ(r.exitCode, 0) << row.label << r.err;
      EXPECT_EQ(ReadFile(dir / "out/a.txt"), "member data") << row.label;
      EXPECT_EQ(ReadFile(dir / "out/b.txt"), "next") << row.label;
    } else {
      EXPECT_FALSE(testutil::FileExists(dir / "out/a.txt")) << row.label;
    }
  }
}

// A header that fails its checks ends the walk and fails the archive: what
// follows it is not read. A zero where a header's size byte stands is the
// end mark, and ends the archive cleanly.
TEST_F(LzhExtract, DamagedHeadersEndTheWalk) {
  Level2Member good;
  good.name = "good.txt";
  good.data = "good";
  Level2Member next = good;
  next.name = "next.txt";
  struct Case {
    const char* label;
    std::string damaged;
    int exitCode = 2;
  };
  Level2Member badCrc = good;
  badCrc.name = "badcrc.txt";
  badCrc.badCrc = true;
  std::string badChecksum = Level0("-lh0-", "sum.txt", "s", 1);
  badChecksum[1] = static_cast<char>(badChecksum[1] + 1);
  std::string size254 = Level0("-lh0-", "s254.txt", "s", 1);
  size254[0] = static_cast<char>(254);
  std::string zeroLow = Level2(next);
  zeroLow[0] = '\0';
  std::string notL = Level0("-lh0-", "notl.txt", "n", 1);
  notL[3] = 'x';
  const Case cases[] = {{"bad header CRC", Level2(badCrc)},
                        {"bad checksum", badChecksum},
                        {"size byte 254", size254},
                        {"level 2 low size byte 0", zeroLow, 0},
                        {"method not -l", notL},
                        {"random bytes", std::string("\x13\x57\x9b\xdf\x02\x46\x8a\xce garbage after the first header", 40)},
                        {"truncated header", Level2(next).substr(0, 30)}};
  for (const Case& c : cases) {
    TempDir dir;
    const std::string archive = Level2(good) + c.damaged + Level2(next) + std::string(1, '\0');
    testutil::WriteFile(dir / "d.lzh", archive);
    const auto r = testutil::RunDorvane({"#P(" + (dir / "out") + ")#F(" + (dir / "d.lzh") + ")"},
                                        {{"DORVANE_REGISTRY", dir / "registry.reg"}});
    EXPECT_EQ(r.exitCode, c.exitCode) << c.label << r.err;
    EXPECT_EQ(ListFiles(dir / "out"), (std::vector<std::string>{"good.txt"})) << c.label;
  }
}

TEST_F(LzhExtract, TruncatedArchiveKeepsTheWholeMembersAndFails) {
  const std::string lzh = ReadFile(Fixture("lzh/level2_lh7.lzh"));
  const auto r = Extract(Write("cut.lzh", lzh.substr(0, lzh.size() / 2)));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("long.txt: the archive ends inside this member"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(out() + "/hello.txt"), "Hello from the LZH fixtures.\n");
  // The member cut short leaves nothing under its name.
  EXPECT_FALSE(testutil::FileExists(out() + "/long.txt"));
}

TEST_F(LzhExtract, TinyFileIsNeverLzh) {
  const std::string archive = Level0("-lh0-", "", "", 0).substr(0, 20);
  ASSERT_EQ(archive.size(), 20u);
  EXPECT_EQ(Extract(Write("tiny.lzh", archive)).exitCode, 2);
}

// Real archives of other writers: every member's content must match the
// manifest's SHA-256, or its header CRC-16 where no SHA-256 is known.
TEST_F(LzhExtract, ArchivesOfOtherWriters) {
  if (!testutil::HaveSharedFixtures("lzh")) GTEST_SKIP() << "no shared LZH fixtures";
  int rows = 0;
  for (const testutil::ManifestRow& row : testutil::ReadManifest(testutil::SharedFixture("lzh/MANIFEST.tsv"), true)) {
    if (row.size() < 5) continue;
    const std::string &archive = row[0], &member = row[1], &size = row[2], &sha = row[3], &crc = row[4];
    ++rows;
    TempDir dir;
    // Archives of LArc carry other extensions: the content pass finds them.
    const auto r = testutil::RunDorvane(
        {"#P(" + (dir / "out") + ")#F(" + testutil::SharedFixture("lzh/" + archive) + ")"},
        {{"DORVANE_REGISTRY", dir / "registry.reg"}});
    EXPECT_EQ(r.exitCode, 0) << archive << r.err;
    // DOS writers store upper-case names; the manifest's case differs.
    auto lower = [](std::string s) {
      for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      return s;
    };
    std::string found;
    for (const auto& f : ListFiles(dir / "out")) {
      if (lower(f) == lower(member)) found = f;
    }
    ASSERT_FALSE(found.empty()) << archive << ": " << member << " missing";
    const std::string content = ReadFile(dir / "out/" + found);
    EXPECT_EQ(content.size(), std::stoul(size)) << archive;
    if (sha != "-") {
      EXPECT_EQ(testutil::Sha256Hex(content), sha) << archive;
    }
    EXPECT_EQ(Crc16(content), std::stoul(crc, nullptr, 16)) << archive;
  }
  EXPECT_GE(rows, 9);
}

// One row per header kind and method built here: what each archive must
// give (file contents; a folder as "name/").
TEST_F(LzhExtract, HeaderKindsAndStoredMethods) {
  std::string mac(128, '\0');  // a MacBinary header as MacLHA writes it
  mac[1] = 5;
  mac.replace(2, 5, "m.txt");
  mac[0x56] = 6;  // data fork: 6 bytes; no resource fork
  const std::string macData = mac + "fork!\n" + std::string(122, '\0');
  std::string other = macData;
  other[2] = 'n';  // a MacBinary file of another name is kept whole
  struct Row {
    const char* kind;
    std::string archive;
    std::map<std::string, std::string> files;
  } rows[] = {
      {"level 3", Extended(3, "-lh0-", "three.txt", "level three"), {{"three.txt", "level three"}}},
      {"level 1, 64-bit sizes", Extended(1, "-lh0-", "a.txt", "sized", {Sizes64(5, 5)}, 'U', 0x7FFFFFFF),
       {{"a.txt", "sized"}}},
      {"level 2, 64-bit sizes", Extended(2, "-lh0-", "b.txt", "sized", {Sizes64(5, 5)}, 'U', 0x7FFFFFFF),
       {{"b.txt", "sized"}}},
      {"level 3, 64-bit sizes", Extended(3, "-lh0-", "c.txt", "sized", {Sizes64(5, 5)}, 'U', 0x7FFFFFFF),
       {{"c.txt", "sized"}}},
      {"-pm0-", Level0("-pm0-", "P.TXT", "pmarc", 5), {{"P.TXT", "pmarc"}}},
      {"Amiga stored folder", Level0("-lh0-", "dir", "", 0, 0x10) + Level0("-lh0-", "dir/f", "f", 1),
       {{"dir/", ""}, {"dir/f", "f"}}},
      {"MacLHA", Extended(2, "-lh0-", "m.txt", macData, {}, 'm'), {{"m.txt", "fork!\n"}}},
      {"MacLHA, another name", Extended(2, "-lh0-", "m.txt", other, {}, 'm'), {{"m.txt", other}}},
  };
  for (const Row& row : rows) {
    TempDir dir;
    testutil::WriteFile(dir / "a.lzh", row.archive + std::string(1, '\0'));
    const auto r = testutil::RunDorvane({"#P(" + (dir / "out") + ")#F(" + (dir / "a.lzh") + ")"},
                                        {{"DORVANE_REGISTRY", dir / "registry.reg"}});
    EXPECT_EQ(r.exitCode, 0) << row.kind << ": " << r.err;
    for (const auto& [name, content] : row.files) {
      if (name.back() == '/') {
        struct stat st;
        EXPECT_TRUE(stat((dir / ("out/" + name)).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) << row.kind;
      } else {
        EXPECT_EQ(ReadFile(dir / ("out/" + name)), content) << row.kind << ": " << name;
      }
    }
  }
}

// A MacLHA member's CRC-16 covers the MacBinary header it loses.
TEST_F(LzhExtract, MacLhaChecksumCoversTheDroppedHeader) {
  std::string mac(128, '\0');
  mac[1] = 1;
  mac[2] = 'm';
  mac[0x56] = 2;
  std::string archive = Extended(2, "-lh0-", "m", mac + "ok" + std::string(126, '\0'), {}, 'm');
  archive[archive.size() - 100] = 'X';  // in the padding after the fork
  const auto r = Extract(Write("m.lzh", archive + std::string(1, '\0')));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("m: checksum error"), std::string::npos) << r.err;
}

// A self-extracting stub may carry a member of its own (the Amiga stub its
// usage text), ended by an end mark and padding; the archive is after it.
TEST_F(LzhExtract, StubsOwnMemberIsPassedOver) {
  const std::string own = Level0("-lh0-", "usage.txt", "stub text", 9) + std::string(2, '\0');
  const std::string archive = Level0("-lh0-", "real.txt", "real", 4) + std::string(1, '\0');
  ASSERT_EQ(Extract(Write("sfx.run", std::string(3000, 'S') + own + archive)).exitCode, 0);
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"real.txt"}));
}

// A stored member of more than 4 GiB, made as a sparse file: zeros, then a
// tail the CRC-16 sees (zeros at the start leave it 0), then a second
// member that is only found at the right 64-bit offset. Listed always;
// tested (4 GiB read, nothing written) in CI only.
TEST_F(LzhExtract, MemberOver4GiBHas64BitSizes) {
  const uint64_t size = (uint64_t{1} << 32) + 8192;
  const std::string tail = "the end of a big member";
  std::string head = Extended(2, "-lh0-", "big.bin", "", {Sizes64(size, size)}, 'U', 0);
  const uint16_t crc = Crc16(tail);
  // The data CRC-16 sits at offset 21 of a level-2 header, the header CRC
  // at 27; it is made again over the new data CRC.
  head[21] = static_cast<char>(crc & 0xFF);
  head[22] = static_cast<char>(crc >> 8);
  head[27] = head[28] = 0;
  const uint16_t headerCrc = Crc16(head);
  head[27] = static_cast<char>(headerCrc & 0xFF);
  head[28] = static_cast<char>(headerCrc >> 8);
  const std::string after = Level0("-lh0-", "after.txt", "after", 5) + std::string(1, '\0');
  const std::string path = tmp_ / "big.lzh";
  {
    std::ofstream f(path, std::ios::binary);
    f << head;
    f.seekp(static_cast<std::streamoff>(head.size() + size - tail.size()));
    f << tail << after;
  }
  const std::map<std::string, std::string> env = {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}};
  const auto l = testutil::RunDorvane({"-l", path}, env);
  EXPECT_EQ(l.exitCode, 0) << l.err;
  EXPECT_NE(l.out.find("4294975488"), std::string::npos) << l.out;
  EXPECT_NE(l.out.find("after.txt"), std::string::npos) << l.out;
  if (std::getenv("CI") == nullptr) return;
  const auto r = testutil::RunDorvane({"-t", "-v", path}, env);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("big.bin: OK"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("after.txt: OK"), std::string::npos) << r.out;
}

// Real archives of the LHA family's other writers (level 3, -lhx-, MacLHA,
// PMarc): every member as the manifest says, its CRC-16 checked on the way.
TEST_F(LzhExtract, FamilyArchivesOfOtherWriters) {
  if (!testutil::HaveSharedFixtures("lzh-family")) GTEST_SKIP() << "no shared LZH family fixtures";
  int rows = 0;
  for (const testutil::ManifestRow& row :
       testutil::ReadManifest(testutil::SharedFixture("lzh-family/MANIFEST.tsv"), true)) {
    if (row.size() < 4) continue;
    const std::string &archive = row[0], &member = row[1], &size = row[2], &sha = row[3];
    ++rows;
    TempDir dir;
    const auto r = testutil::RunDorvane(
        {"#P(" + (dir / "out") + ")#F(" + testutil::SharedFixture("lzh-family/" + archive) + ")"},
        {{"DORVANE_REGISTRY", dir / "registry.reg"}});
    EXPECT_EQ(r.exitCode, 0) << archive << r.err;
    // DOS and MSX writers store upper-case names; the manifest's case differs.
    std::string found;
    for (const auto& f : ListFiles(dir / "out")) {
      if (f.size() == member.size() && std::equal(f.begin(), f.end(), member.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
          }))
        found = f;
    }
    ASSERT_FALSE(found.empty()) << archive << ": " << member << " missing";
    const std::string content = ReadFile(dir / "out/" + found);
    EXPECT_EQ(content.size(), std::stoul(size)) << archive;
    EXPECT_EQ(testutil::Sha256Hex(content), sha) << archive;
  }
  EXPECT_GE(rows, 5);
}

}  // namespace
