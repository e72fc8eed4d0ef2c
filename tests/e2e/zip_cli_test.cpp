// ZIP archives end to end through build/dorvane: archives made by zip and
// 7zz, passwords on standard input, the legacy methods through the test-only
// encoders, large deflated members, and damaged or hostile archives.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "support/testutil.h"
#include "unit/zip_encoders.h"

namespace {

using testutil::ReadFile;
using testutil::TempDir;
using zipenc::Bytes;
using zipenc::ZipMember;

struct ManifestRow {
  std::string archive, member, sha256;  // sha256 "-" for a folder
};

// The rows of a manifest by archive. Ours has the columns archive, member,
// sha256; the shared one names its columns and puts the size before the sum.
std::map<std::string, std::vector<ManifestRow>> ManifestByArchive(const std::string& path, bool shared) {
  std::map<std::string, std::vector<ManifestRow>> byArchive;
  for (const testutil::ManifestRow& row : testutil::ReadManifest(path, shared)) {
    if (row.size() < (shared ? 4u : 3u)) continue;
    byArchive[row[0]].push_back({row[0], row[1], row[shared ? 3 : 2]});
  }
  return byArchive;
}

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string ToString(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A raw deflate stream of `data`.
Bytes Deflate(const Bytes& data, int level = 6) {
  z_stream s{};
  deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&s, data.size()));
  s.next_in = const_cast<uint8_t*>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

class ZipCli : public ::testing::Test {
 protected:
  std::map<std::string, std::string> Env() const {
    return {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}, {"TZ", "UTC"}};
  }
  testutil::RunResult Extract(const std::string& archive, const std::string& input = "") {
    return testutil::RunDorvane({"#P(" + out() + ")#F(" + archive + ")"}, Env(), input);
  }
  std::string Write(const std::string& name, const Bytes& data) {
    testutil::WriteFile(tmp_ / name, data);
    return tmp_ / name;
  }
  std::string out() const { return tmp_ / "out"; }
  std::vector<std::string> Files() const {
    std::vector<std::string> files = testutil::ListFiles(out());
    std::sort(files.begin(), files.end());
    return files;
  }
  TempDir tmp_;
};

TEST_F(ZipCli, ArchivesFromZipAnd7zzExtractWhole) {
  const std::string dir = testutil::Fixture("zip");
  const auto byArchive = ManifestByArchive(dir + "/MANIFEST.tsv", false);
  ASSERT_GE(byArchive.size(), 9u);
  for (const auto& [archive, rows] : byArchive) {
    SCOPED_TRACE(archive);
    // Encrypted archives share one password: a single answer must do.
    const bool encrypted = archive.find("enc") != std::string::npos;
    const auto r = Extract(dir + "/" + archive, encrypted ? "secret\n" : "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");  // no CRC notice
    size_t files = 0;
    for (const ManifestRow& row : rows) {
      const std::string path = out() + "/" + row.member;
      if (row.sha256 == "-") {
        EXPECT_TRUE(testutil::IsDirectory(path)) << row.member;
        continue;
      }
      ++files;
      EXPECT_EQ(testutil::Sha256Hex(ReadFile(path)), row.sha256) << row.member;
      struct stat st {};
      ASSERT_EQ(stat(path.c_str(), &st), 0) << row.member;
      EXPECT_EQ(st.st_mtime, 1589710830) << row.member;  // 2020-05-17 10:20:30, MS-DOS time in UTC
    }
    EXPECT_EQ(Files().size(), files);
    testutil::System("rm -rf '" + out() + "'");
  }
}

// A wrong password skips only the encrypted members: after three wrong
// answers nobody is asked again in that archive, and every other member is
// still extracted.
TEST_F(ZipCli, WrongPasswordsSkipOnlyTheEncryptedMembers) {
  auto member = [](const std::string& name, const std::string& text, const std::string& password) {
    ZipMember m;
    m.name = name, m.plain = m.data = ToBytes(text);
    if (!password.empty()) {
      m.flags = 0x1;
      const uint32_t crc = static_cast<uint32_t>(crc32(0, m.plain.data(), static_cast<uInt>(m.plain.size())));
      m.data = zipenc::Encrypt(m.plain, password, static_cast<uint16_t>(crc >> 16));
    }
    return m;
  };
  const std::string archive = Write("mixed.zip", zipenc::LocalHeaders({member("first.txt", "one", ""),
                                                                      member("secret.txt", "hidden", "pw"),
                                                                      member("middle.txt", "two", ""),
                                                                      member("later.txt", "also hidden", "pw"),
                                                                      member("last.txt", "three", "")}));
  auto r = Extract(archive, "wrong\nalso wrong\nstill wrong\npw\n");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("secret.txt: no password given opens it; skipped"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("later.txt: no password given opens it; skipped"), std::string::npos) << r.err;
  EXPECT_EQ(Files(), (std::vector<std::string>{"first.txt", "last.txt", "middle.txt"}));

  // A right answer within three tries opens it, and is kept for the rest.
  testutil::System("rm -rf '" + out() + "'");
  r = Extract(archive, "wrong\npw\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Files().size(), 5u);
  EXPECT_EQ(ReadFile(out() + "/later.txt"), "also hidden");
}

TEST_F(ZipCli, LegacyMethodsAndEncryptionThroughTheHandler) {
  std::vector<ZipMember> members;
  auto add = [&](const std::string& name, uint16_t method, uint16_t flags, const Bytes& plain, const Bytes& data) {
    ZipMember m;
    m.name = name, m.method = method, m.flags = flags, m.plain = plain, m.data = data;
    members.push_back(m);
  };
  const Bytes text = zipenc::SampleData(50000, 42);
  add("shrunk.bin", 1, 0, text, zipenc::Shrink(text, 1000));
  for (int factor = 1; factor <= 4; ++factor)
    add("reduced" + std::to_string(factor) + ".bin", static_cast<uint16_t>(1 + factor), 0, text,
        zipenc::Reduce(text, factor));
  for (int flags = 0; flags < 4; ++flags)
    add("imploded" + std::to_string(flags) + ".bin", 6, static_cast<uint16_t>(flags << 1), text,
        zipenc::Implode(text, flags & 1, flags & 2));
  // Encrypted legacy member: the bit reader reads through decryption.
  const uint32_t crc = static_cast<uint32_t>(crc32(0, text.data(), static_cast<uInt>(text.size())));
  add("secret-imploded.bin", 6, 0x1 | 0x4, text, zipenc::Encrypt(zipenc::Implode(text, false, true), "pw", crc >> 16));
  const auto r = Extract(Write("legacy.zip", zipenc::LocalHeaders(members)), "pw\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  for (const ZipMember& m : members) EXPECT_EQ(ReadFile(out() + "/" + m.name), ToString(text)) << m.name;
}

// A legacy member whose header gives a compressed size short of its data:
// the decoder reads no further than that size (never into what follows),
// so the member ends damaged and the next member is whole.
TEST_F(ZipCli, LegacyDecodersReadNoFurtherThanTheCompressedSize) {
  const Bytes text = zipenc::SampleData(30000, 7);
  struct Row {
    uint16_t method, flags;
    Bytes data;
  };
  const Row rows[] = {{1, 0, zipenc::Shrink(text)}, {3, 0, zipenc::Reduce(text, 2)}, {6, 0x6, zipenc::Implode(text, true, true)}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.method);
    ZipMember cut, next;
    cut.name = "cut.bin", cut.method = row.method, cut.flags = row.flags, cut.plain = text, cut.data = row.data;
    cut.compressedSize = static_cast<int32_t>(row.data.size()) - 16;
    next.name = "next.txt", next.plain = next.data = ToBytes("the next member");
    const auto r = Extract(Write("cut.zip", zipenc::LocalHeaders({cut, next})));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("cut.bin: "), std::string::npos) << r.err;
    EXPECT_TRUE(ReadFile(out() + "/cut.bin") != ToString(text));
    EXPECT_EQ(ReadFile(out() + "/next.txt"), "the next member");
    testutil::System("rm -rf '" + out() + "'");
  }
}

TEST_F(ZipCli, DeflatedMemberLargerThanBothHalvesOfTheBuffer) {
  // 700 KiB that does not compress, then 2 MiB that does: more than 512 KiB
  // of input and of output.
  Bytes data = zipenc::SampleData(2 << 20, 7);
  uint32_t s = 1;
  Bytes noise(700 << 10);
  for (uint8_t& b : noise) s = s * 1664525u + 1013904223u, b = static_cast<uint8_t>(s >> 24);
  data.insert(data.begin(), noise.begin(), noise.end());
  const Bytes packed = Deflate(data);
  ASSERT_GT(packed.size(), 512u << 10);
  const uint32_t crc = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));

  ZipMember plain, secret;
  plain.name = "big.bin", plain.method = 8, plain.plain = data, plain.data = packed;
  secret = plain;
  secret.name = "big-secret.bin", secret.flags = 1, secret.data = zipenc::Encrypt(packed, "pw", crc >> 16);
  const auto r = Extract(Write("big.zip", zipenc::LocalHeaders({plain, secret})), "pw\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(testutil::Sha256Hex(ReadFile(out() + "/big.bin")), testutil::Sha256Hex(data.data(), data.size()));
  EXPECT_EQ(testutil::Sha256Hex(ReadFile(out() + "/big-secret.bin")), testutil::Sha256Hex(data.data(), data.size()));
}

TEST_F(ZipCli, NamesStayInsideTheOutputFolder) {
  std::vector<ZipMember> members(3);
  members[0].name = "/rooted.txt";
  members[1].name = "../../escaped.txt";
  members[2].name = "a/../../b/../../up.txt";
  for (ZipMember& m : members) m.plain = m.data = ToBytes("x");
  const auto r = Extract(Write("names.zip", zipenc::LocalHeaders(members)));
  EXPECT_EQ(r.exitCode, 0);
  for (const std::string& f : Files()) EXPECT_EQ(f.find(".."), std::string::npos) << f;
  EXPECT_EQ(Files().size(), 3u);
  EXPECT_TRUE(testutil::FileExists(out() + "/rooted.txt"));
  EXPECT_FALSE(testutil::FileExists(tmp_ / "escaped.txt"));
  EXPECT_FALSE(testutil::FileExists(tmp_.path() + "/../escaped.txt"));
}

TEST_F(ZipCli, DamagedHeadersAreSkippedAndTheScanGoesOn) {
  ZipMember first, last;
  first.name = "first.txt", first.plain = first.data = ToBytes("first data");
  last.name = "last.txt", last.plain = last.data = ToBytes("last data");
  ZipMember noName = first;
  noName.name = "";
  ZipMember nulName = first;
  nulName.name = std::string("nu\0l.txt", 8);
  // A method number no archiver writes makes no header; one that is
  // written but not decoded here is a member, named.
  ZipMember method7 = first, method200 = first;
  method7.name = "seven.txt", method7.method = 7;
  method200.name = "unknown.txt", method200.method = 200;
  Bytes archive = zipenc::LocalHeaders({first, noName, nulName, method7, method200});
  archive.push_back('P');  // a signature right after a 0x50 byte
  const Bytes tail = zipenc::LocalHeaders({last});
  archive.insert(archive.end(), tail.begin(), tail.end());
  const auto r = Extract(Write("damaged.zip", archive));
  // The member without a name is the one the scan cannot skip: it is named
  // as lost.
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("without a name"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("seven.txt: compression method tokenizing (7) is not supported"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("unknown.txt"), std::string::npos) << r.err;
  EXPECT_EQ(Files(), (std::vector<std::string>{"first.txt", "last.txt"}));
  EXPECT_EQ(ReadFile(out() + "/last.txt"), "last data");
}

TEST_F(ZipCli, ProbeNeedsANamedLocalHeader) {
  ZipMember noName;
  noName.plain = noName.data = ToBytes("data");
  auto r = Extract(Write("noname.zip", zipenc::LocalHeaders({noName})));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("UNSUPPORTED: 1 times"), std::string::npos);

  // Found by content under another name, behind a leading 0x50 byte.
  ZipMember named = noName;
  named.name = "n.txt";
  Bytes data = ToBytes("PPK");
  Bytes headers = zipenc::LocalHeaders({named});
  data.insert(data.end(), headers.begin(), headers.end());
  r = Extract(Write("archive.dat", data));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out() + "/n.txt"), "data");
}

TEST_F(ZipCli, DamagedDataIsNamedAndOnlyAChecksumErrorKeepsItsFile) {
  const Bytes text = zipenc::SampleData(20000, 3);
  ZipMember stored, deflated, sized, truncated;
  stored.name = "stored.txt", stored.plain = stored.data = text;
  stored.data[100] ^= 0xFF;
  deflated.name = "deflated.txt", deflated.method = 8, deflated.plain = text, deflated.data = Deflate(text);
  deflated.data[deflated.data.size() / 2] ^= 0x55;  // an error in the middle of the stream
  // The right CRC-32, but a size one byte more than the stream gives.
  sized.name = "sized.txt", sized.method = 8, sized.plain = text, sized.plain.push_back('x');
  sized.crc = static_cast<uint32_t>(crc32(0, text.data(), static_cast<uInt>(text.size())));
  sized.data = Deflate(text);
  truncated.name = "cut.txt", truncated.method = 8, truncated.plain = text, truncated.data = Deflate(text);
  Bytes archive = zipenc::LocalHeaders({stored, deflated, sized, truncated});
  archive.resize(archive.size() - truncated.data.size() / 2);
  const auto r = Extract(Write("bad.zip", archive));
  EXPECT_EQ(r.exitCode, 2);
  for (const char* name : {"stored.txt: checksum error", "deflated.txt: ", "sized.txt: size differs: stored 20001, got 20000",
                           "cut.txt: the archive ends"}) {
    EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
  }
  // A checksum or size error keeps the file (the flipped deflate byte still
  // gives a whole stream); data cut short leaves nothing under the name.
  for (const char* name : {"stored.txt", "deflated.txt", "sized.txt"})
    EXPECT_TRUE(testutil::FileExists(out() + "/" + name)) << name << r.err;
  EXPECT_EQ(ReadFile(out() + "/stored.txt").size(), text.size());
  EXPECT_FALSE(testutil::FileExists(out() + "/cut.txt")) << r.err;
}

TEST_F(ZipCli, SharedShrunkAndImplodedArchives) {
  if (!testutil::HaveSharedFixtures("zip")) GTEST_SKIP() << "no shared ZIP fixtures";
  const std::string dir = testutil::SharedFixture("zip");
  const auto byArchive = ManifestByArchive(dir + "/MANIFEST.tsv", true);
  ASSERT_FALSE(byArchive.empty());
  for (const auto& [archive, rows] : byArchive) {
    SCOPED_TRACE(archive);
    const auto r = Extract(dir + "/" + archive);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    for (const ManifestRow& row : rows)
      EXPECT_EQ(testutil::Sha256Hex(ReadFile(out() + "/" + row.member)), row.sha256) << row.member;
    testutil::System("rm -rf '" + out() + "'");
  }
}

// A Zstandard member (method 93) written to a stream: no sizes in its
// header, no directory; the frame's end and the data descriptor behind it
// delimit it, and the member after it is found.
TEST_F(ZipCli, StreamedZstandardMemberEndsAtItsFrame) {
  const Bytes text = zipenc::SampleData(50000, 5);
  Bytes frame(ZSTD_compressBound(text.size()));
  frame.resize(ZSTD_compress(frame.data(), frame.size(), text.data(), text.size(), 3));
  ZipMember zstd, after;
  zstd.name = "z.bin", zstd.method = 93, zstd.flags = 0x08, zstd.plain = text, zstd.compressedSize = 0;
  zstd.data = frame;
  const uint32_t crc = static_cast<uint32_t>(crc32(0, text.data(), static_cast<uInt>(text.size())));
  for (uint32_t v : {0x08074B50u, crc, static_cast<uint32_t>(frame.size()), static_cast<uint32_t>(text.size())})
    for (int i = 0; i < 4; ++i) zstd.data.push_back(static_cast<uint8_t>(v >> (8 * i)));
  after.name = "after.txt", after.plain = after.data = ToBytes("behind it\n");
  const auto r = Extract(Write("zstd.zip", zipenc::LocalHeaders({zstd, after})));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(ReadFile(out() + "/z.bin") == ToString(text));
  EXPECT_EQ(ReadFile(out() + "/after.txt"), "behind it\n");
}

}  // namespace
