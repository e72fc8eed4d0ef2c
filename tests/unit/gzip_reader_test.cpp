#include "stream/gzip_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>


using namespace gzip;
using namespace flate;

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

// zlib's inflate over the whole file in gzip mode, member after member as
// its gzip file reader goes: the bytes before the end, and how it ended
// (0 cleanly, 1 cut inside a member, -1 on damage).
std::pair<Bytes, int> Reference(const Bytes& file) {
  if (file.size() < 2 || file[0] != '\x1F' || file[1] != '\x8B') return {file, 0};
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, 31), Z_OK);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data()));
  z.avail_in = static_cast<uInt>(file.size());
  Bytes out;
  int end = 1;
  for (;;) {
    char piece[65536];
    z.next_out = reinterpret_cast<Bytef*>(piece);
    z.avail_out = sizeof piece;
    const int r = inflate(&z, Z_NO_FLUSH);
    out.append(piece, sizeof piece - z.avail_out);
    if (r == Z_STREAM_END) {
      end = 0;
      if (z.avail_in < 2 || z.next_in[0] != 0x1F || z.next_in[1] != 0x8B) break;
      inflateReset(&z);
      end = 1;
    } else if (r == Z_DATA_ERROR) {
      end = -1;
      break;
    } else if (z.avail_in == 0 && z.avail_out != 0) {
      break;
    }
  }
  inflateEnd(&z);
  return {out, end};
}

// A row says how to make its file; the file is made inside the test, so
// listing the tests compresses nothing.
struct Case {
  const char* name;
  std::function<Bytes()> file;
};

class GzipReaderTest : public ::testing::TestWithParam<Case> {};

// zlib is the reference for the bytes and the way the data ends, on both
// backends, for reads of a mebibyte (the handler) and of 4 KiB, from
// memory and from a file read 9 or 4,000 bytes at a time (members,
// trailers and input the inflater hands back cross buffer fills).
TEST_P(GzipReaderTest, ReadsWhatZlibDecodes) {
  const Bytes file = GetParam().file();
  const auto [expected, end] = Reference(file);
  for (InflateBackend backend : {InflateBackend::kIsal, InflateBackend::kZlib}) {
    if (!HasInflateBackend(backend)) continue;
    for (auto [piece, fill] : {std::pair<int, size_t>{1 << 20, 0}, {4096, 0}, {4096, 9}, {1 << 20, 4000}}) {
      SCOPED_TRACE(fill);
      GzipReader* reader =
          fill == 0 ? GzipOpenMemory(reinterpret_cast<const uint8_t*>(file.data()), file.size(), backend)
                    : GzipOpenStream(fmemopen(const_cast<char*>(file.data()), file.size(), "rb"), backend, fill);
      ASSERT_NE(reader, nullptr);
      Bytes got;
      Bytes buffer(static_cast<size_t>(piece), '\0');
      int n;
      while ((n = GzipRead(reader, buffer.data(), piece)) > 0) got.append(buffer, 0, static_cast<size_t>(n));
      EXPECT_EQ(n, end < 0 ? -1 : 0) << static_cast<int>(backend) << " " << piece;
      EXPECT_EQ(GzipRead(reader, buffer.data(), piece), n);  // the end stays
      EXPECT_EQ(GzipTruncated(reader), end == 1);
      EXPECT_TRUE(got == expected) << static_cast<int>(backend) << " " << piece << ": " << got.size() << " bytes, "
                                   << expected.size() << " expected";
      GzipClose(reader);
    }
  }
}

// Made once per process, at the first row that needs them.
const Bytes& One() {
  static const Bytes member = Member(Text(3000, 1));
  return member;
}
const Bytes& MiB() {
  static const Bytes member = Member(Text(1 << 20, 2));
  return member;
}

INSTANTIATE_TEST_SUITE_P(
    Files, GzipReaderTest,
    ::testing::Values(
        Case{"MembersThenGarbage", [] { return One() + Member(Text(1500000, 3), true) + "trailing junk"; }},
        Case{"GarbageOfOneMagicByte", [] { return One() + "\x1F"; }},
        Case{"DataCheckWrong", [] { return Flip(One(), One().size() - 8, 0x01); }},
        Case{"LengthWrongBehindAFullRead", [] { return Flip(MiB(), MiB().size() - 4, 0x01); }},
        Case{"DeflateDataDamaged", [] { return Flip(MiB(), MiB().size() / 2, 0xFF); }},
        Case{"Truncated", [] { return MiB().substr(0, MiB().size() - 4000); }},
        Case{"TruncatedTrailer", [] { return One().substr(0, One().size() - 3); }},
        Case{"HeaderCheckWrong", [] { return Flip(Member(Text(100, 4), true), 37, 0x01); }},
        Case{"SecondMemberMethodWrong", [] { return One() + Flip(One(), 2, 0x0F); }},
        Case{"ReservedFlag", [] { return Flip(One(), 3, 0x20); }},
        Case{"OldMagicIsCopiedAsItStands", [] { return Bytes("\x1F\x9E", 2) + Text(5000, 5); }}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
