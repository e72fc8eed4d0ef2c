// The TAR header rules and the TAR walk over archives built in memory, block
// by block, so that each case shows one rule.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "stream/byte_source.h"
#include "archive/tar/tar_header.h"
#include "archive/tar/tar_reader.h"
#include "core/charset.h"
#include "core/member_output.h"
#include "support/testutil.h"

using namespace tar;

namespace {

using testutil::FileExists;
using testutil::ReadFile;

struct Member {
  Member(std::string name, std::string data, char type = '0', unsigned mode = 0644,
         unsigned mtime = 1000000000)
      : name(std::move(name)), data(std::move(data)), type(type), mode(mode), mtime(mtime) {}
  std::string name;
  std::string data;
  char type;
  unsigned mode;
  unsigned mtime;
  std::string sizeField;  // raw size field, when not the data's size
};

void PutOctal(std::string& block, size_t offset, size_t width, unsigned long value) {
  char text[32];
  snprintf(text, sizeof text, "%0*lo", static_cast<int>(width - 1), value);
  block.replace(offset, width - 1, text);
}

std::string Header(const Member& m) {
  std::string b(kTarBlock, '\0');
  b.replace(0, m.name.size() < 100 ? m.name.size() : 100, m.name);
  PutOctal(b, kTarModeOffset, 8, m.mode);
  PutOctal(b, kTarSizeOffset, 12, m.data.size());
  if (!m.sizeField.empty()) b.replace(kTarSizeOffset, m.sizeField.size(), m.sizeField);
  PutOctal(b, kTarMtimeOffset, 12, m.mtime);
  b[kTarTypeOffset] = m.type;
  b.replace(kTarMagicOffset, 6, std::string("ustar\0", 6));
  unsigned sum = 8 * ' ';
  for (size_t i = 0; i < kTarBlock; ++i)
    if (i < kTarChksumOffset || i >= kTarChksumOffset + 8) sum += static_cast<uint8_t>(b[i]);
  PutOctal(b, kTarChksumOffset, 7, sum);
  return b;
}

std::string Padded(const std::string& data) {
  return data + std::string((kTarBlock - data.size() % kTarBlock) % kTarBlock, '\0');
}

std::string Archive(const std::vector<Member>& members) {
  std::string tar;
  for (const Member& m : members) tar += Header(m) + Padded(m.data);
  return tar + std::string(2 * kTarBlock, '\0');
}

std::string Bytes(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7 + i / 13);
  return s;
}

class TarWalk : public ::testing::Test {
 protected:
  void SetUp() override { BuildLeadByteTable(); }
  // Extracts through a memory source delivering at most `piece` bytes per
  // read, with a work buffer of `work` bytes.
  bool Extract(const std::string& tar, int32_t piece = 0, size_t work = 1 << 20) {
    MemoryByteSource source(reinterpret_cast<const uint8_t*>(tar.data()), tar.size(), piece);
    std::vector<uint8_t> buffer(work);
    const bool ok = TarExtract(source, "", dir_.path().c_str(), buffer.data(), buffer.size());
    EXPECT_FALSE(source.isOpen());
    return ok;
  }
  std::string Out(const std::string& name) const { return dir_ / name; }
  testutil::TempDir dir_;
};

TEST(TarHeader, OctalFields) {
  auto octal = [](const char* text, size_t width) {
    return ParseTarOctal(reinterpret_cast<const uint8_t*>(text), width);
  };
  EXPECT_EQ(octal("0000644\0", 8), 0644u);
  EXPECT_EQ(octal("  1 7 \0", 8), 017u);        // blanks passed over anywhere
  EXPECT_EQ(octal("12a4", 4), 012u);            // anything else ends the number
  EXPECT_EQ(octal("        ", 8), 0u);          // blank field
  EXPECT_EQ(octal("\x80\0\0\0\0\0\0\x10", 8), 0u);  // not octal at all
  EXPECT_EQ(octal("7777777777777", 12), 077777777777ull * 8 + 7);  // width bounds it
  // Numbers (sizes, times) may also be base-256.
  auto number = [](const std::string& text) {
    uint64_t value = 0;
    return ParseTarNumber(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &value) ? value : ~0ull;
  };
  EXPECT_EQ(number("0000644\0"), 0644u);
  EXPECT_EQ(number(std::string("\x80\0\0\0\0\0\0\x02\x40\0\0\0", 12)), 9ull << 30);
  EXPECT_EQ(number(std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xfe", 12)), ~0ull);  // negative
  EXPECT_EQ(number(std::string("\x80\x01\0\0\0\0\0\0\0\0\0\0", 12)), ~0ull);  // past 63 bits
}

TEST(TarHeader, ChecksumAndProbe) {
  std::string block = Header({"a.txt", "x"});
  EXPECT_TRUE(TarChecksumMatches(reinterpret_cast<const uint8_t*>(block.data())));
  block[0] = 'b';
  EXPECT_FALSE(TarChecksumMatches(reinterpret_cast<const uint8_t*>(block.data())));

  auto probe = [](const std::string& bytes) {
    MemoryByteSource source(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const bool ok = TarProbe(source, "");
    EXPECT_FALSE(source.isOpen());
    return ok;
  };
  EXPECT_TRUE(probe(Archive({{"a.txt", "x"}})));
  EXPECT_FALSE(probe(std::string(2 * kTarBlock, '\0')));  // sum 256, field 0
  EXPECT_FALSE(probe(Header({"a.txt", "x"}).substr(0, kTarBlock - 1)));
}

TEST_F(TarWalk, BlockBoundariesWhateverTheReadPieces) {
  const std::vector<Member> members = {
      {"empty", ""}, {"b512", Bytes(512, 1)}, {"b1024", Bytes(1024, 2)}, {"b1025", Bytes(1025, 3)},
      {"big", Bytes(3 * 512 * 7 + 3, 4)}};
  const std::string tar = Archive(members);
  for (auto [piece, work] : {std::pair<int32_t, size_t>{0, 1 << 20}, {1, 512}, {700, 1536}}) {
    SCOPED_TRACE(piece);
    ASSERT_TRUE(Extract(tar, piece, work));
    for (const Member& m : members) EXPECT_EQ(ReadFile(Out(m.name)), m.data) << m.name;
  }
}

TEST_F(TarWalk, FoldersModesAndTimes) {
  ASSERT_TRUE(Extract(Archive({{"docs/", "", '5', 0755},
                               {"plain-folder", "", '5', 0755},
                               {"sub/dir/a.txt", "A", '0', 0100444, 1234567890},
                               {"w.txt", "W", '\0', 0644}})));
  EXPECT_TRUE(testutil::IsDirectory(Out("docs")));
  EXPECT_TRUE(testutil::IsDirectory(Out("plain-folder")));
  EXPECT_EQ(ReadFile(Out("sub/dir/a.txt")), "A");
  struct stat st;
  ASSERT_EQ(stat(Out("sub/dir/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1234567890);
  EXPECT_EQ(st.st_mode & 0222, 0u) << "no owner write: read-only";
  ASSERT_EQ(stat(Out("w.txt").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0200, 0u);
  EXPECT_EQ(st.st_mtime, 1000000000);
}

TEST_F(TarWalk, SkippedEntriesConsumeTheirBlocks) {
  ASSERT_TRUE(Extract(Archive({{"link", "", '2'},
                               {"hard", Bytes(600, 5), '1'},
                               {"dev", "", '3'},
                               {"globals", "9 a=b\n", 'g'},
                               {"after", "ok"}})));
  EXPECT_EQ(testutil::ListFiles(dir_.path()), std::vector<std::string>{"after"});
}

TEST_F(TarWalk, LongNames) {
  const std::string longName = "d/" + std::string(150, 'n');
  const std::string tooLong(300, 'x');
  const std::string pax = "30 path=pax/" + std::string(17, 'p') + "\n";
  ASSERT_TRUE(Extract(Archive({{"././@LongLink", longName + '\0', 'L'},
                               {"cut-name", "one"},
                               {"././@LongLink", tooLong + '\0', 'L'},
                               {"refused", "two"},
                               {"././@LongLink", "", 'L'},  // size 0: nothing kept
                               {"short", "three"},
                               {"PaxHeaders/x", pax, 'x'},
                               {"pax-cut", "four"}})));
  EXPECT_EQ(ReadFile(Out(longName)), "one");
  EXPECT_EQ(ReadFile(Out("short")), "three");
  EXPECT_EQ(ReadFile(Out("pax/" + std::string(17, 'p'))), "four");
  EXPECT_EQ(testutil::ListFiles(dir_.path()).size(), 3u) << "the refused member is skipped";
}

TEST_F(TarWalk, NamesStayInsideTheFolder) {
  ASSERT_TRUE(Extract(Archive({{"../up.txt", "u"}, {"/abs.txt", "a"}, {"a/../../b.txt", "b"},
                               // Two members of one folder: the second reuses
                               // the folder made for the first.
                               {"q:d/x?", "x"}, {"q:d/y", "y"}})));
  EXPECT_EQ(ReadFile(Out("q_d/x_")), "x");
  EXPECT_EQ(ReadFile(Out("q_d/y")), "y");
  EXPECT_EQ(ReadFile(Out("__/up.txt")), "u");
  EXPECT_EQ(ReadFile(Out("abs.txt")), "a");
  EXPECT_EQ(ReadFile(Out("a/__/__/b.txt")), "b");
}

TEST_F(TarWalk, TruncatedArchiveKeepsWhatWasComplete) {
  const std::string tar = Archive({{"one", Bytes(700, 6)}, {"two", Bytes(2000, 7)}, {"three", "3"}});
  // Cut inside the data of "two": "one" stays whole, "two" leaves nothing
  // under its name, and the walk ends.
  ASSERT_TRUE(Extract(tar.substr(0, 4 * 512 + 1000)));
  EXPECT_EQ(ReadFile(Out("one")), Bytes(700, 6));
  EXPECT_FALSE(FileExists(Out("two")));
  EXPECT_FALSE(FileExists(Out("three")));
  // Cut inside a header: nothing after it.
  testutil::TempDir other;
  std::vector<uint8_t> work(4096);
  const std::string cut = tar.substr(0, 3 * 512 + 100);
  MemoryByteSource source(reinterpret_cast<const uint8_t*>(cut.data()), cut.size());
  ASSERT_TRUE(TarExtract(source, "", other.path().c_str(), work.data(), work.size()));
  EXPECT_EQ(testutil::ListFiles(other.path()), std::vector<std::string>{"one"});
}

// Every header's checksum is checked: a header with a flipped size digit is
// named, the walk reads on to the next valid header (the member's data
// blocks are no headers), and the archive fails.
TEST_F(TarWalk, DamagedHeaderIsNamedAndTheWalkResyncs) {
  std::string tar = Archive({{"first", "1"}, {"victim", Bytes(1500, 9)}, {"last", "L"}});
  tar[2 * kTarBlock + kTarSizeOffset + 8] ^= 1;  // one size digit of "victim"
  ResetArchiveOutcome();
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(Extract(tar));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(": damaged header at byte 1024 (member \"victim\"); skipped 1536 bytes to the next valid header"),
            std::string::npos) << err;
  EXPECT_TRUE(g_ArchiveOutcome.failed);
  EXPECT_EQ(testutil::ListFiles(dir_.path()), (std::vector<std::string>{"first", "last"}));
  EXPECT_EQ(ReadFile(Out("last")), "L");
}

// Sizes beyond the octal field: GNU base-256 and a pax "size" record are
// used; a member that claims 9 GiB and is cut short is named, not written as
// an empty file.
TEST_F(TarWalk, Base256AndPaxSizes) {
  Member paxSized{"pax-sized", Bytes(5000, 3)};
  paxSized.sizeField = "00000000001";  // the header's own size is a placeholder
  const std::string pax = "13 size=5000\n";
  ResetArchiveOutcome();
  ASSERT_TRUE(Extract(Archive({{"PaxHeaders/x", pax, 'x'}, paxSized, {"next", "n"}})));
  EXPECT_EQ(ReadFile(Out("pax-sized")), Bytes(5000, 3));
  EXPECT_EQ(ReadFile(Out("next")), "n");
  EXPECT_FALSE(g_ArchiveOutcome.failed);

  Member big{"big", "abc"};
  big.sizeField = std::string("\x80\0\0\0\0\0\0\x02\x40\0\0\0", 12);  // 9 GiB
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(Extract(Header(big) + "abc"));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("big: the archive ends inside this member"), std::string::npos) << err;
  EXPECT_TRUE(g_ArchiveOutcome.failed);
  EXPECT_FALSE(FileExists(Out("big")));  // cut short: nothing under its name
}

TEST_F(TarWalk, MemberThatCannotBeCreatedIsSkipped) {
  ASSERT_TRUE(Extract(Archive({{"clash/", "", '5'}, {"clash", Bytes(900, 8)}, {"next", "n"}})));
  EXPECT_TRUE(testutil::IsDirectory(Out("clash")));
  EXPECT_EQ(ReadFile(Out("next")), "n");
}

}  // namespace
