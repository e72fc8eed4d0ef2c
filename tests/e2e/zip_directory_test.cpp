// ZIP archives read through their central directory
// (tests/fixtures/make-zipsets.sh): members written to a pipe, split sets,
// and the methods of today's archivers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using testutil::ReadFile;

using testutil::NumberLines;

// noise.bin: 120,000 bytes of Python's random with seed 7.
constexpr char kNoiseSha[] = "793c7e7408320d870195fc2dd4871fd326b3ba6afb2ac9fd0b1909c069250214";

class ZipDirectory : public ::testing::Test {
 protected:
  // Copies the fixtures into the test's folder and runs the program on the
  // last of them.
  testutil::RunResult Run(const std::vector<std::string>& fixtures, std::vector<std::string> args) {
    for (const std::string& f : fixtures)
      testutil::WriteFile(tmp_ / f, ReadFile(testutil::Fixture("zipsets/" + f)));
    args.push_back(tmp_ / fixtures.back());
    return testutil::RunDorvane(args, {{"DORVANE_REGISTRY", tmp_ / "reg"}});
  }
  std::string Out(const std::string& name) const { return ReadFile(tmp_ / ("out/" + name)); }
  std::string out() const { return tmp_ / "out"; }
  testutil::TempDir tmp_;
};

// Python's zipfile on a pipe: every size only in the data descriptors and
// the directory, stored members among them; and the same archive cut
// before its directory, where a stored member ends at the descriptor that
// fits it.
TEST_F(ZipDirectory, MembersWrittenToAPipe) {
  const std::string whole = ReadFile(testutil::Fixture("zipsets/pipe.zip"));
  for (const std::string& archive : {whole, whole.substr(0, whole.find("PK\1\2"))}) {
    testutil::TempDir dir;
    testutil::WriteFile(dir / "pipe.zip", archive);
    const auto r = testutil::RunDorvane({"-o", dir / "out", dir / "pipe.zip"}, {{"DORVANE_REGISTRY", dir / "reg"}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out/stored.txt"), NumberLines(1000));
    EXPECT_EQ(ReadFile(dir / "out/deflated.txt"), NumberLines(30000));
    EXPECT_EQ(testutil::Sha256Hex(ReadFile(dir / "out/noise.bin")), kNoiseSha);
  }
}

// zip -s 64k: three segments, members running across them; a missing
// segment is named and what needs it fails, the rest comes out.
TEST_F(ZipDirectory, SplitSets) {
  auto r = Run({"split.z01", "split.z02", "split.zip"}, {"-o", out()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Out("lines.txt"), NumberLines(30000));
  EXPECT_EQ(testutil::Sha256Hex(Out("noise.bin")), kNoiseSha);
  EXPECT_EQ(Out("small.txt"), NumberLines(1000));

  testutil::TempDir other;
  for (const char* f : {"split.z01", "split.zip"})
    testutil::WriteFile(other / f, ReadFile(testutil::Fixture(std::string("zipsets/") + f)));
  r = testutil::RunDorvane({"-o", other / "out", other / "split.zip"}, {{"DORVANE_REGISTRY", other / "reg"}});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("split.zip: the segment split.z02 of this split archive is missing"), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(other / "out/small.txt"), NumberLines(1000));  // wholly in the last segment
  EXPECT_NE(r.err.find("noise.bin: "), std::string::npos) << r.err;
}

// One member of each method of today's archivers: each comes out whole,
// CRC-32 checked, and is listed with its method.
TEST_F(ZipDirectory, MethodsOfTodaysArchivers) {
  auto r = Run({"today.zip"}, {"-o", out()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const char* name : {"lzma.txt", "lzma-eos.txt", "xz.txt", "bzip2.txt", "deflate64.txt", "ppmd.txt",
                           "zip-bzip2.txt", "last.txt"})
    EXPECT_EQ(Out(name), NumberLines(5000)) << name;
  r = Run({"today.zip"}, {"-l"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const char* method : {"lzma", "xz", "bzip2", "deflate64", "ppmd"})
    EXPECT_NE(r.out.find(method), std::string::npos) << method << "\n" << r.out;
}

// PPMd by 7zz: a 1 MiB model of order 16 that fills and starts again
// (restart.txt) or is cut down (cutoff.txt), orders 2 and 8 over bytes,
// and PPMd under AES-256. Cut inside a member, with a byte of one flipped,
// or asking for the restore method that freezes the model, the archive
// fails and names it; the other members come out.
TEST_F(ZipDirectory, Ppmd) {
  // order2.bin and default.bin: 12,000 bytes of words and noise.
  constexpr char kMixedSha[] = "094fe0bf26b7a9f42adbe116387fce958e22a44a8d411722f648e02aabc1d708";
  const std::string whole = ReadFile(testutil::Fixture("zipsets/ppmd.zip"));
  const size_t restartHeader = whole.find("restart.txt") - 30;
  const size_t extra = static_cast<uint8_t>(whole[restartHeader + 28]) | static_cast<uint8_t>(whole[restartHeader + 29]) << 8;
  const size_t restartData = restartHeader + 30 + 11 + extra;  // its parameter word
  const size_t cutoffData = whole.find("cutoff.txt") + 10;
  std::string flipped = whole;
  flipped[cutoffData + 9000] = static_cast<char>(flipped[cutoffData + 9000] ^ 0x10);
  std::string frozen = whole;  // restore method 2 in restart.txt's parameter word
  frozen[restartData + 1] = static_cast<char>((frozen[restartData + 1] & 0x0F) | 0x20);
  const struct {
    const char* label;
    std::string archive;
    const char* lost;    // the member that fails, or none
    const char* notice;  // what is said of it
  } cases[] = {
      {"whole", whole, nullptr, ""},
      {"cut", whole.substr(0, restartData + 16000), "restart.txt", "the archive ends inside this member"},
      {"flipped", flipped, "cutoff.txt", ""},  // damaged data or a checksum error
      {"frozen", frozen, "restart.txt", "PPMd with the model frozen when full (restore method 2) is not supported; skipped"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    testutil::TempDir dir;
    testutil::WriteFile(dir / "ppmd.zip", c.archive);
    const auto r =
        testutil::RunDorvane({"-p", "secret", "-o", dir / "out", dir / "ppmd.zip"}, {{"DORVANE_REGISTRY", dir / "reg"}});
    EXPECT_EQ(r.exitCode, c.lost == nullptr ? 0 : 2) << r.err;
    if (c.lost != nullptr) {
      EXPECT_NE(r.err.find(std::string(c.lost) + ": " + c.notice), std::string::npos) << r.err;
    }
    if (c.archive.size() < whole.size()) {
      EXPECT_FALSE(testutil::FileExists(dir / "out/restart.txt"));
      continue;
    }
    const std::string lost = c.lost != nullptr ? c.lost : "";
    for (const char* name : {"restart.txt", "cutoff.txt"}) {
      if (name != lost) {
        EXPECT_EQ(ReadFile(dir / (std::string("out/") + name)), NumberLines(20000)) << name;
      }
    }
    EXPECT_EQ(ReadFile(dir / "out/aes.txt"), NumberLines(3000));
    for (const char* name : {"order2.bin", "default.bin"})
      EXPECT_EQ(testutil::Sha256Hex(ReadFile(dir / (std::string("out/") + name))), kMixedSha) << name;
  }
  const auto r = Run({"ppmd.zip"}, {"-l"});
  EXPECT_NE(r.out.find("aes256+ppmd"), std::string::npos) << r.out;
  // Written to a pipe: without the central directory the end mark ends
  // the member, and the descriptor behind it gives its CRC-32.
  const std::string piped = ReadFile(testutil::Fixture("zipsets/ppmd-pipe.zip"));
  for (const std::string& archive : {piped, piped.substr(0, piped.find("PK\1\2"))}) {
    testutil::TempDir dir;
    testutil::WriteFile(dir / "pipe.zip", archive);
    const auto p = testutil::RunDorvane({"-o", dir / "out", dir / "pipe.zip"}, {{"DORVANE_REGISTRY", dir / "reg"}});
    EXPECT_EQ(p.exitCode, 0) << p.err;
    EXPECT_EQ(ReadFile(dir / "out/piped.txt"), NumberLines(3000));
  }
}

// Deflate64 beyond Deflate: distances over 32 KiB, lengths over 258, a
// ring that fills in the middle of a match.
TEST_F(ZipDirectory, Deflate64UsesItsWholeWindow) {
  std::string block;
  uint32_t x = 1;
  for (int i = 0; i < 40000; ++i) {
    x = x * 1103515245u + 12345u;
    block += static_cast<char>('a' + (x >> 16) % 26);
  }
  std::string expected;
  for (int i = 0; i < 6; ++i) expected += block;
  expected += std::string(100000, 'z') + block;
  const auto r = Run({"deflate64.zip"}, {"-o", out()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Out("wide.bin") == expected) << Out("wide.bin").size() << " bytes";
}

// WinZip AES (7zz, password "secret"): AE-2 (no CRC-32) and the same
// archive marked AE-1; a wrong password, a flipped byte that the
// authentication code catches, and an AE-1 CRC-32 that does not hold.
TEST_F(ZipDirectory, WinZipAes) {
  for (const char* archive : {"aes.zip", "aes-ae1.zip"}) {
    SCOPED_TRACE(archive);
    testutil::TempDir dir;
    const std::string data = ReadFile(testutil::Fixture(std::string("zipsets/") + archive));
    auto run = [&](const std::string& bytes, const std::vector<std::string>& options) {
      testutil::WriteFile(dir / archive, bytes);
      std::vector<std::string> args = options;
      args.push_back(dir / archive);
      return testutil::RunDorvane(args, {{"DORVANE_REGISTRY", dir / "reg"}});
    };
    auto r = run(data, {"-p", "secret", "-o", dir / "out"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out/five.txt"), NumberLines(5000));
    EXPECT_EQ(ReadFile(dir / "out/aes256.txt"), NumberLines(5000));
    EXPECT_EQ(ReadFile(dir / "out/tiny.txt"), "tiny\n");

    r = run(data, {"-p", "wrong", "-t"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("five.txt: no password given opens it; skipped"), std::string::npos) << r.err;

    std::string flipped = data;
    const size_t inside = data.find("five.txt") + 300;  // five.txt's local header, then its data
    flipped[inside] = static_cast<char>(flipped[inside] ^ 0x20);
    r = run(flipped, {"-p", "secret", "-t"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("five.txt: the authentication code does not match"), std::string::npos) << r.err;

    r = run(data, {"-l"});
    EXPECT_NE(r.out.find("aes128+deflate"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("aes256+lzma"), std::string::npos) << r.out;
  }
  // AE-1 keeps the CRC-32, and it is checked: tiny.txt's, changed in both
  // headers, no longer holds.
  std::string ae1 = ReadFile(testutil::Fixture("zipsets/aes-ae1.zip"));
  for (size_t at = ae1.find("tiny.txt"); at != std::string::npos; at = ae1.find("tiny.txt", at + 1)) {
    const size_t crc = ae1.compare(at - 30, 4, "PK\3\4") == 0 ? at - 30 + 14 : at - 46 + 16;
    ae1[crc] = static_cast<char>(ae1[crc] ^ 1);
  }
  testutil::WriteFile(tmp_ / "crc.zip", ae1);
  const auto r = testutil::RunDorvane({"-p", "secret", "-t", tmp_ / "crc.zip"}, {{"DORVANE_REGISTRY", tmp_ / "reg"}});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("tiny.txt: checksum error"), std::string::npos) << r.err;
}

}  // namespace
