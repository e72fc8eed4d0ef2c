// Expand over arbitrary bytes: the first byte picks the factor, the next two
// the member size, the rest is the compressed stream. The output must stay
// within the decoder's stated bound.
#include <cstdlib>
#include <vector>

#include "archive/zip/expand.h"
#include "fuzz_legacy_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static std::vector<uint64_t> work(sizeof(zip::ExpandWork) / 8 + 1);
  const int factor = 1 + data[0] % 4;
  const uint32_t memberSize = (data[1] | data[2] << 8) * 4u;
  fuzz::LegacyIo io(data + 3, size - 3);
  (void)zip::Expand(io, memberSize, factor, work.data());
  if (io.written > memberSize + 384u) abort();
  return 0;
}
