// LzwReader over streams made by compress (tests/fixtures/make-tar.sh) and
// over small hand-packed streams for the rules no tool output pins down.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "stream/lzw_reader.h"
#include "support/testutil.h"

using namespace lzw;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Everything the reader delivers, read in pieces of `piece` bytes.
std::string DecodeAll(const std::vector<uint8_t>& z, int32_t piece, bool* failed = nullptr) {
  LzwReader* r = LzwOpenMemory(z.data(), z.size());
  EXPECT_NE(r, nullptr);
  if (r == nullptr) return "";
  std::string out;
  std::vector<char> buf(piece);
  for (;;) {
    int32_t n = LzwRead(r, buf.data(), piece);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, piece);
    if (n <= 0) break;
    out.append(buf.data(), n);
  }
  EXPECT_EQ(LzwRead(r, buf.data(), piece), 0) << "reads after the end give 0";
  if (failed != nullptr) *failed = LzwFailed(r);
  EXPECT_EQ(LzwClose(r), 0);
  return out;
}

// A stream of 9-bit codes packed least-significant bit first. kPad moves to
// the start of the next group of eight codes, as the writer does after a
// CLEAR.
constexpr int kPad = -1;
std::vector<uint8_t> Packed(uint8_t flags, std::initializer_list<int> codes) {
  std::vector<uint8_t> z(3 + 64, 0);
  z[0] = 0x1F;
  z[1] = 0x9D;
  z[2] = flags;
  uint8_t* body = z.data() + 3;
  size_t bit = 0;
  for (int c : codes) {
    if (c == kPad) {
      bit = (bit + 71) / 72 * 72;
      continue;
    }
    for (int i = 0; i < 9; ++i)
      if ((c >> i) & 1) body[(bit + i) / 8] |= static_cast<uint8_t>(1 << ((bit + i) % 8));
    bit += 9;
  }
  z.resize(3 + (bit + 7) / 8);
  return z;
}

struct Row {
  const char* file;
  size_t size;
  const char* sha256;
};

const Row kRows[] = {
    // Words and noise: the table fills at 10 and 12 bits (and stops growing
    // at the last entry), not at 16 (flags 0x90).
    {"tar/words-b10.Z", 12005, "c13fb192a9aadc1f6859096591e2848e9186e707365442688e2f87dea7daca90"},
    {"tar/words-b12.Z", 12005, "c13fb192a9aadc1f6859096591e2848e9186e707365442688e2f87dea7daca90"},
    {"tar/words-b16.Z", 12005, "c13fb192a9aadc1f6859096591e2848e9186e707365442688e2f87dea7daca90"},
    // A CLEAR in the middle, at 10 bits.
    {"tar/clear-b10.Z", 21400, "28937618191846c7ff11843eda806fae6181844dcbcc59f81985f593bf1305da"},
    // One byte repeated: every code but the first equals the next free entry.
    {"tar/run.Z", 1000000, "1b977e9f84f1b26b6ed7f68b0498faee2385ea4125bd29adce4a7d9106ba3134"},
    // 1.6 MB periodic text: the last codes expand to thousands of bytes.
    {"tar/alpha.Z", 1620000, "203ae32fb74c36560b925a5c8b616596863b40692243b40cfa85f34149354032"},
};

TEST(LzwReader, DecodesCompressOutputWhateverThePieceSize) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.file);
    std::vector<uint8_t> z = Bytes(testutil::ReadFile(testutil::Fixture(row.file)));
    ASSERT_FALSE(z.empty());
    for (int32_t piece : {0x100000, 512, 7}) {
      SCOPED_TRACE(piece);
      bool failed = true;
      std::string out = DecodeAll(z, piece, &failed);
      EXPECT_FALSE(failed);
      EXPECT_EQ(out.size(), row.size);
      EXPECT_EQ(testutil::Sha256Hex(out), row.sha256);
    }
  }
}

TEST(LzwReader, OpensFilesByPath) {
  LzwReader* r = LzwOpen((testutil::Fixture("tar/run.Z")).c_str());
  ASSERT_NE(r, nullptr);
  std::vector<char> buf(4096);
  size_t total = 0;
  while (int32_t n = LzwRead(r, buf.data(), 4096)) total += n;
  EXPECT_EQ(total, 1000000u);
  LzwClose(r);
  EXPECT_EQ(LzwOpen("/nonexistent/x.Z"), nullptr);
}

TEST(LzwReader, TruncatedStreamGivesAPrefixOfTheData) {
  std::vector<uint8_t> z = Bytes(testutil::ReadFile(testutil::Fixture("tar/words-b10.Z")));
  ASSERT_FALSE(z.empty());
  std::string full = DecodeAll(z, 0x10000);
  for (size_t cut : {3ul, 4ul, 5ul, 100ul, 4001ul, z.size() / 2, z.size() - 1}) {
    SCOPED_TRACE(cut);
    std::vector<uint8_t> part(z.begin(), z.begin() + cut);
    std::string out = DecodeAll(part, 512);
    EXPECT_LT(out.size(), full.size());
    EXPECT_EQ(out, full.substr(0, out.size()));
  }
}

TEST(LzwReader, HandPackedStreams) {
  // Codes equal to the next free entry (257, then 258): "A", "AA", "AAA".
  EXPECT_EQ(DecodeAll(Packed(0x90, {'A', 257, 258}), 512), "AAAAAA");
  // CLEAR: the rest of its group is skipped and the table restarts, so 257
  // is again the entry being defined, built on "C".
  EXPECT_EQ(DecodeAll(Packed(0x90, {'A', 'B', 256, kPad, 'C', 257}), 512), "ABCCC");
  // Without block mode 256 is an ordinary entry, the first one made.
  EXPECT_EQ(DecodeAll(Packed(0x10, {'A', 'B', 256}), 512), "ABAB");
  // A width change mid-stream is covered by the compress fixtures; a stream
  // with maxbits 9 stays inside its 512 entries.
  EXPECT_EQ(DecodeAll(Packed(0x89, {'x', 257, 258, 259}), 3), std::string(10, 'x'));
}

TEST(LzwReader, CorruptCodesEndTheDataAfterWhatWasDecoded) {
  bool failed = false;
  // A first code of 256 or more.
  EXPECT_EQ(DecodeAll(Packed(0x90, {300, 'A'}), 512, &failed), "");
  EXPECT_TRUE(failed);
  // A code above the next free entry: the bytes before it still arrive.
  EXPECT_EQ(DecodeAll(Packed(0x90, {'A', 'B', 300, 'C'}), 1, &failed), "AB");
  EXPECT_TRUE(failed);
  // A clean end is not a failure.
  EXPECT_EQ(DecodeAll(Packed(0x90, {'A'}), 512, &failed), "A");
  EXPECT_FALSE(failed);
}

TEST(LzwReader, RefusesBadHeaders) {
  const std::vector<std::vector<uint8_t>> bad = {
      {},                  // empty
      {0x1F, 0x9D},        // short header
      {0x1F, 0x8B, 0x90},  // gzip magic
      {0x1F, 0x9D, 0x91},  // maxbits 17
      {0x1F, 0x9D, 0x9F},  // maxbits 31
  };
  for (const auto& z : bad) EXPECT_EQ(LzwOpenMemory(z.data(), z.size()), nullptr);
  // A header alone is an empty stream.
  std::vector<uint8_t> empty{0x1F, 0x9D, 0x90};
  EXPECT_EQ(DecodeAll(empty, 512), "");
}

}  // namespace
