#include "stream/gzip_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using Bytes = std::string;

// Text of `size` bytes that compresses, but not to nothing.
Bytes Text(size_t size, unsigned seed) {
  Bytes s;
  for (unsigned x = seed; s.size() < size;) {
    x = x * 1103515245u + 12345u;
    s += "lorem ipsum dolor sit amet "[(x >> 16) % 27];
  }
  return s;
}

// One gzip member made by zlib; with `fields`, the header carries an extra
// field, a name, a comment and a header check.
Bytes Member(const Bytes& data, bool fields = false) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
  gz_header h{};
  Bytef extra[] = {'A', 'B', 2, 0, 'x', 'y'};
  if (fields) {
    h.extra = extra;
    h.extra_len = sizeof extra;
    h.name = reinterpret_cast<Bytef*>(const_cast<char*>("name.txt"));
    h.comment = reinterpret_cast<Bytef*>(const_cast<char*>("a comment"));
    h.hcrc = 1;
    deflateSetHeader(&z, &h);
  }
  Bytes out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes Flip(Bytes s, size_t at, uint8_t mask) {
  s[at] = static_cast<char>(s[at] ^ mask);
  return s;
}

// Every read's result, with its bytes: 1 MiB reads, as the gzip handler
// makes them.
using Trace = std::vector<std::pair<int, Bytes>>;

template <typename Read>
Trace Collect(Read read) {
  Trace t;
  Bytes buffer(1 << 20, '\0');
  for (int i = 0; i < 64; ++i) {
    const int n = read(buffer.data(), static_cast<int>(buffer.size()));
    t.emplace_back(n, buffer.substr(0, n > 0 ? n : 0));
    if (n <= 0) break;
  }
  return t;
}

struct Case {
  const char* name;
  Bytes file;
};

class GzipReaderTest : public ::testing::TestWithParam<Case> {};

// zlib's gzip file reader, as the handlers used it, is the reference: the
// reader gives the same reads on both backends.
TEST_P(GzipReaderTest, ReadsAsZlibsFileReaderDoes) {
  testutil::TempDir tmp;
  const std::string path = tmp / "in.gz";
  testutil::WriteFile(path, GetParam().file);
  gzFile gz = gzopen(path.c_str(), "rb");
  ASSERT_NE(gz, nullptr);
  gzbuffer(gz, 256 * 1024);
  const Trace expected = Collect([gz](char* b, int n) { return gzread(gz, b, static_cast<unsigned>(n)); });
  gzclose(gz);
  for (InflateBackend backend : {InflateBackend::kIsal, InflateBackend::kZlib}) {
    if (!HasInflateBackend(backend)) continue;
    const Bytes& file = GetParam().file;
    GzipReader* reader = GzipOpenMemory(reinterpret_cast<const uint8_t*>(file.data()), file.size(), backend);
    ASSERT_NE(reader, nullptr);
    const Trace got = Collect([reader](char* b, int n) { return GzipRead(reader, b, n); });
    GzipClose(reader);
    ASSERT_EQ(got.size(), expected.size()) << static_cast<int>(backend);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].first, expected[i].first) << "read " << i << " backend " << static_cast<int>(backend);
      EXPECT_TRUE(got[i].second == expected[i].second) << "read " << i;
    }
  }
}

const Bytes kOne = Member(Text(3000, 1));
const Bytes kMiB = Member(Text(1 << 20, 2));

INSTANTIATE_TEST_SUITE_P(
    Files, GzipReaderTest,
    ::testing::Values(
        Case{"MembersThenGarbage", kOne + Member(Text(1500000, 3), true) + "trailing junk"},
        Case{"GarbageOfOneMagicByte", kOne + "\x1F"},
        Case{"DataCheckWrong", Flip(kOne, kOne.size() - 8, 0x01)},
        Case{"LengthWrongBehindAFullRead", Flip(kMiB, kMiB.size() - 4, 0x01)},
        Case{"Truncated", kMiB.substr(0, kMiB.size() - 4000)},
        Case{"TruncatedTrailer", kOne.substr(0, kOne.size() - 3)},
        Case{"HeaderCheckWrong", Flip(Member(Text(100, 4), true), 37, 0x01)},
        Case{"SecondMemberMethodWrong", kOne + Flip(kOne, 2, 0x0F)},
        Case{"ReservedFlag", Flip(kOne, 3, 0x20)},
        Case{"OldMagicIsCopiedAsItStands", Bytes("\x1F\x9E", 2) + Text(5000, 5)}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
