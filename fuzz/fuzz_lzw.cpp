// LzwReader over arbitrary codes. The first input byte becomes the flags
// byte after the magic; the second picks a piece size. Invariants: no read
// delivers more than asked, a read of 0 stays 0, and reading in small pieces
// delivers exactly the bytes of reading in large ones.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "stream/lzw_reader.h"

using namespace lzw;

namespace {

// Large enough for any real stream the fuzzer makes; a bomb stops here.
constexpr size_t kOutputLimit = 256u << 10;

std::vector<uint8_t> ReadAll(const std::vector<uint8_t>& z, int32_t piece) {
  std::vector<uint8_t> out;
  LzwReader* r = LzwOpenMemory(z.data(), z.size());
  if (r == nullptr) return out;
  std::vector<uint8_t> buf(static_cast<size_t>(piece));
  while (out.size() < kOutputLimit) {
    const int32_t n = LzwRead(r, buf.data(), piece);
    if (n < 0 || n > piece) abort();
    if (n == 0) {
      if (LzwRead(r, buf.data(), piece) != 0) abort();
      break;
    }
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  LzwClose(r);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::vector<uint8_t> z = {0x1F, 0x9D, data[0]};
  z.insert(z.end(), data + 2, data + size);
  LzwReader* probe = LzwOpenMemory(z.data(), z.size());
  if ((probe == nullptr) != ((data[0] & 0x1F) > 16)) abort();
  LzwClose(probe);
  const int32_t small = 1 + data[1] % 700;
  std::vector<uint8_t> whole = ReadAll(z, 1 << 16);
  std::vector<uint8_t> pieces = ReadAll(z, small);
  const size_t common = whole.size() < pieces.size() ? whole.size() : pieces.size();
  if (whole.size() < kOutputLimit && pieces.size() < kOutputLimit && whole.size() != pieces.size())
    abort();
  for (size_t i = 0; i < common; ++i)
    if (whole[i] != pieces[i]) abort();
  return 0;
}
