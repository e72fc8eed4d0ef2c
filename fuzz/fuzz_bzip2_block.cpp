// Our bzip2 block decoder against libbzip2, block by block: a block we
// accept must be one libbzip2 accepts, giving the same bytes. The first
// byte picks the mode: the rest of the input is the file as it stands, or
// it is compressed (the second byte's low bits pick the level) and then
// damaged where the input's last bytes say; undamaged, every block must be
// accepted and the blocks must add up to the input.
#include <bzlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "stream/bzip2_block.h"
#include "support/bzip2_compress.h"

using namespace bzip2;

namespace {

constexpr size_t kOutputLimit = 1 << 20;

uint64_t Bits(const std::vector<uint8_t>& d, uint64_t at, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i, ++at) v = v << 1 | (d[at / 8] >> (7 - at % 8) & 1);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool compress = data[0] & 1;
  std::vector<uint8_t> file;
  bool sound = false;
  if (compress) {
    file = testutil::Bzip2Compress<std::vector<uint8_t>>(data + 2, size - 2, 1 + data[1] % 9);
    sound = true;
    // Each pair of input bytes from the 65th on flips some bits of one byte.
    for (size_t i = 64; i + 1 < size; i += 2) {
      const size_t at = (static_cast<size_t>(data[i]) * 977 + i * 131) % file.size();
      file[at] = static_cast<uint8_t>(file[at] ^ (data[i + 1] | 1));
      sound = false;
    }
  } else {
    file.assign(data + 1, data + size);
  }
  if (file.size() < 4 || file[0] != 'B' || file[1] != 'Z' || file[2] != 'h' || file[3] < '1' || file[3] > '9') {
    return 0;
  }
  const int level = file[3] - '0';

  // Blocks run from one magic to the next, the last to the end marker.
  std::vector<uint64_t> magics;
  uint64_t w = 0;
  for (uint64_t i = 0; i < file.size() * 8; ++i) {
    w = (w << 1 | (file[i / 8] >> (7 - i % 8) & 1)) & 0xFFFFFFFFFFFF;
    if (i < 47) continue;
    if (w == 0x314159265359) magics.push_back(i - 47);
    if (w == 0x177245385090) {
      magics.push_back(i - 47);
      break;
    }
  }

  BlockScratch scratch;
  std::vector<uint8_t> stream;
  std::vector<uint8_t> ours;
  std::vector<uint8_t> theirs(kOutputLimit);
  std::vector<uint8_t> all;
  for (size_t b = 0; b + 1 < magics.size(); ++b) {
    const uint64_t start = magics[b];
    const uint64_t end = magics[b + 1];
    if (end - start < 80) continue;  // a false magic inside the one before
    OneBlockStream(file.data(), file.size(), start, end, level, static_cast<uint32_t>(Bits(file, start + 48, 32)),
                   stream);
    size_t produced = 0;
    const bool ok = DecodeBlockBits(scratch, {stream.data(), stream.size(), 32, 32 + end - start, level},
                                    kOutputLimit, ours, produced);
    if (sound && !ok) abort();
    if (!ok) continue;
    unsigned length = static_cast<unsigned>(theirs.size());
    if (BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(theirs.data()), &length,
                                   reinterpret_cast<char*>(stream.data()), static_cast<unsigned>(stream.size()), 0,
                                   0) != BZ_OK ||
        length != produced || !std::equal(ours.begin(), ours.begin() + static_cast<ptrdiff_t>(produced),
                                          theirs.begin())) {
      abort();
    }
    all.insert(all.end(), ours.begin(), ours.begin() + static_cast<ptrdiff_t>(produced));
  }
  if (sound && !std::equal(all.begin(), all.end(), data + 2, data + size)) abort();
  return 0;
}
