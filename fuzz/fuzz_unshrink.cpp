// Unshrink over arbitrary bytes: the first two bytes give the member size,
// the rest is the compressed stream. The output must stay within the
// decoder's stated bound, whatever the input.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/zip/unshrink.h"
#include "fuzz_legacy_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static std::vector<uint64_t> work(sizeof(zip::UnshrinkWork) / 8 + 1);
  const uint32_t memberSize = (data[0] | data[1] << 8) * 4u;
  fuzz::LegacyIo io(data + 2, size - 2);
  (void)zip::Unshrink(io, memberSize, work.data());
  if (io.written > memberSize + 8191u) abort();
  return 0;
}
