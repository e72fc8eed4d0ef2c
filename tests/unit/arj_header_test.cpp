// ARJ headers: the search with its CRC test and its offset limits, reading
// a header from a stream, and the member rules that follow from its fields.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <zlib.h>

#include "archive/arj/arj_handler.h"
#include "unit/arj_builder.h"

using namespace arj;

namespace {

using arjtest::Bytes;
using arjtest::Fields;
using arjtest::Header;
using arjtest::Put32;

// `header` placed at `offset` in a buffer of `length` bytes of filler, the
// start of a longer file unless `whole`.
long SearchAt(const Bytes& header, size_t offset, size_t length, bool whole = false) {
  Bytes buffer(length, 0x60);
  std::copy(header.begin(), header.end(), buffer.begin() + long(offset));
  return ArjHeaderSearch(buffer.data(), buffer.size(), whole ? length : length + 1);
}

long SearchWhole(const Bytes& data) { return ArjHeaderSearch(data.data(), data.size(), data.size()); }

struct ReadBack {
  ArjHeaderResult result;
  ArjHeader header;
  long position;
};

ReadBack Read(const Bytes& data) {
  ReadBack r{};
  FILE* f = tmpfile();
  if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
  rewind(f);
  r.result = ReadArjHeader(f, &r.header);
  r.position = ftell(f);
  fclose(f);
  return r;
}

TEST(ArjHeaderSearch, FindsTheFirstHeaderWhoseCrcMatches) {
  Bytes good = Header(Fields());
  EXPECT_EQ(SearchAt(good, 0, 4000), 0);
  EXPECT_EQ(SearchAt(good, 1234, 5000), 1234);

  Bytes badCrc = good;
  badCrc[10] ^= 1;
  EXPECT_EQ(SearchAt(badCrc, 100, 4000), -1);

  // A false start (id and a size above 2600) before the real header.
  Bytes buffer(6000, 0);
  buffer[50] = 0x60, buffer[51] = 0xEA, buffer[52] = 0x29, buffer[53] = 0x0A;  // 2601
  std::copy(good.begin(), good.end(), buffer.begin() + 60);
  EXPECT_EQ(SearchWhole(buffer), 60);

  // The header's CRC lies beyond the bytes given.
  EXPECT_EQ(SearchWhole(Bytes(good.begin(), good.end() - 3)), -1);
  EXPECT_EQ(SearchWhole(Bytes(good.begin(), good.end() - 2)), 0);  // the ext size is not needed

  // Size 0 and a zero CRC pass the test.
  Bytes empty = {0x60, 0xEA, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(SearchWhole(empty), 0);
}

TEST(ArjHeaderSearch, OffsetLimits) {
  Bytes good = Header(Fields());
  // Extract's 50,000-byte buffer: offsets below 47,398 only.
  EXPECT_EQ(SearchAt(good, 47397, 50000), 47397);
  EXPECT_EQ(SearchAt(good, 47398, 50000), -1);
  // Probe's larger buffer: offsets below 50,000.
  EXPECT_EQ(SearchAt(good, 49999, 52602), 49999);
  EXPECT_EQ(SearchAt(good, 49999, 52601), -1);
  EXPECT_EQ(SearchAt(good, 50000, 1 << 20), -1);
  // A buffer of 2602 bytes or less is examined from the start to its end.
  EXPECT_EQ(SearchAt(good, 2602 - good.size(), 2602), long(2602 - good.size()));
  EXPECT_EQ(ArjHeaderSearch(nullptr, 0, 0), -1);
  // A buffer holding the whole file is examined to its end, so a small
  // archive behind a long stub is found.
  EXPECT_EQ(SearchAt(good, 45000 - good.size(), 45000, true), long(45000 - good.size()));
  EXPECT_EQ(SearchAt(good, 45000 - good.size(), 45000, false), -1);
  EXPECT_EQ(SearchAt(good, 50000, 50000 + good.size(), true), -1);  // still below 50,000 only
}

TEST(ArjReadHeader, TakesTheFieldsAndSkipsExtendedHeaders) {
  Fields f;
  f.method = 4;
  f.type = 1;
  Bytes data = Header(f, {Bytes(10, 'x'), Bytes(3, 'y')});
  data.push_back('D');
  ReadBack r = Read(data);
  ASSERT_EQ(r.result, ArjHeaderResult::kRead);
  EXPECT_EQ(r.position, long(data.size() - 1));  // at the member's data
  EXPECT_EQ(r.header.archiverVersion, 11);
  EXPECT_EQ(r.header.method, 4);
  EXPECT_EQ(r.header.fileType, 1);
  EXPECT_EQ(r.header.timeStamp, 0x2A216B5Du);
  EXPECT_EQ(r.header.compressedSize, 5u);
  EXPECT_EQ(r.header.uncompressedSize, 7u);
  EXPECT_EQ(r.header.dataCrc, 0xDEADBEEFu);
  EXPECT_EQ(r.header.accessMode, 0x21);
  EXPECT_STREQ(r.header.name, "dir/file.txt");
}

TEST(ArjReadHeader, RefusesBadHeaders) {
  Bytes good = Header(Fields());
  Bytes badId = good;
  badId[1] = 0xEB;
  EXPECT_EQ(Read(badId).result, ArjHeaderResult::kInvalid);

  Bytes badCrc = good;
  badCrc[good.size() - 3] ^= 0x80;  // inside the stored CRC
  EXPECT_EQ(Read(badCrc).result, ArjHeaderResult::kInvalid);

  Bytes tooLarge = {0x60, 0xEA, 0x29, 0x0A};  // 2601
  tooLarge.resize(2700, 0);
  EXPECT_EQ(Read(tooLarge).result, ArjHeaderResult::kInvalid);

  EXPECT_EQ(Read({0x60, 0xEA, 0, 0}).result, ArjHeaderResult::kEnd);

  // Cut anywhere: inside the basic header, its CRC, or the extended headers.
  Bytes withExt = Header(Fields(), {Bytes(40, 'e')});
  for (size_t cut : {size_t(0), size_t(3), size_t(20), good.size() - 4, withExt.size() - 1,
                     withExt.size() - 10}) {
    Bytes truncated(withExt.begin(), withExt.begin() + long(cut));
    EXPECT_EQ(Read(truncated).result, ArjHeaderResult::kInvalid) << "cut at " << cut;
  }
}

TEST(ArjReadHeader, NamesFromOtherHostsLoseBitSeven) {
  Fields f;
  f.name = "\x83\x65\x83\x58\x83\x67.txt";
  for (uint8_t host : {0, 10}) {
    f.host = host;
    EXPECT_EQ(std::string(Read(Header(f)).header.name), f.name) << int(host);
  }
  f.host = 2;
  EXPECT_EQ(std::string(Read(Header(f)).header.name), "\x03\x65\x03\x58\x03\x67.txt");
  // UTF-8 from other hosts is UTF-8: "テスト.txt" in its Shift-JIS form.
  f.name = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.txt";
  EXPECT_EQ(std::string(Read(Header(f)).header.name), "\x83\x65\x83\x58\x83\x67.txt");
}

TEST(ArjReadHeader, NamesStayInsideTheirBuffer) {
  Fields f;
  // A name longer than its buffer is refused (left empty), never cut.
  f.name = std::string(511, 'n');
  EXPECT_EQ(std::string(Read(Header(f)).header.name), f.name);
  f.name = std::string(700, 'n');
  ReadBack r = Read(Header(f));
  ASSERT_EQ(r.result, ArjHeaderResult::kRead);
  EXPECT_STREQ(r.header.name, "");

  // A first header size beyond the basic header: no name at all.
  Bytes h = Header(Fields());
  size_t size = size_t(h[2] | h[3] << 8);
  h[4] = uint8_t(size + 1);
  Bytes fixed(h.begin() + 4, h.begin() + 4 + long(size));
  uint32_t crc = uint32_t(crc32(0, fixed.data(), uInt(fixed.size())));
  for (int i = 0; i < 4; ++i) h[4 + size + size_t(i)] = uint8_t(crc >> (8 * i));
  r = Read(h);
  ASSERT_EQ(r.result, ArjHeaderResult::kRead);
  EXPECT_STREQ(r.header.name, "");
}

TEST(ArjMemberRules, WhichMembersAreExtracted) {
  auto supported = [](void (*change)(ArjHeader&)) {
    ArjHeader h;
    h.extractVersion = 1;
    h.archiverVersion = 11;
    change(h);
    return IsArjMemberSupported(h);
  };
  EXPECT_TRUE(supported([](ArjHeader&) {}));
  EXPECT_TRUE(supported([](ArjHeader& h) { h.extractVersion = 3; }));
  EXPECT_FALSE(supported([](ArjHeader& h) { h.extractVersion = 4; }));
  EXPECT_FALSE(supported([](ArjHeader& h) { h.flags = 0x01; }));  // garbled
  EXPECT_TRUE(supported([](ArjHeader& h) { h.flags = 0x10; }));
  EXPECT_TRUE(supported([](ArjHeader& h) { h.method = 4; }));
  EXPECT_FALSE(supported([](ArjHeader& h) { h.method = 5; }));
  EXPECT_FALSE(supported([](ArjHeader& h) { h.method = 4, h.archiverVersion = 1; }));
  EXPECT_TRUE(supported([](ArjHeader& h) { h.method = 3, h.archiverVersion = 1; }));
  EXPECT_TRUE(supported([](ArjHeader& h) { h.fileType = 1; }));
  EXPECT_FALSE(supported([](ArjHeader& h) { h.fileType = 2; }));  // comment header
  EXPECT_FALSE(supported([](ArjHeader& h) { h.fileType = 3; }));  // folder
  EXPECT_FALSE(supported([](ArjHeader& h) { h.fileType = 4; }));  // volume label
}

TEST(ArjMemberRules, AttributesFromTheAccessMode) {
  ArjHeader h;
  h.hostSystem = 0;
  h.accessMode = 0x21;
  EXPECT_EQ(ArjAttributes(h), 0x21u);
  h.hostSystem = 2;  // Unix permission bits
  h.accessMode = 0100644;
  EXPECT_EQ(ArjAttributes(h), 0x20u);
  h.accessMode = 0100755;  // executable by others: not read-only
  EXPECT_EQ(ArjAttributes(h), 0x20u);
  h.accessMode = 0100444;
  EXPECT_EQ(ArjAttributes(h), 0x21u);
}

}  // namespace
