// Arbitrary bytes through the ARJ method-4 decoder. The first four bytes
// give the unpacked size (up to 1 MiB) and the next two the packed size; the
// rest is the packed data, followed by bytes the decoder must not read.
// Invariants: the decoder reads no further than the packed size, writes at
// most the unpacked size plus one last match (256 bytes), and writes all of
// it when it reports success.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "archive/arj/arj_method4.h"
#include "core/byte_order.h"

using namespace arj;
using namespace lzh;

namespace {

// Output that only counts the bytes written to it.
ssize_t CountWrite(void* cookie, const char*, size_t size) {
  *static_cast<uint64_t*>(cookie) += size;
  return ssize_t(size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  static auto* state = new LzhDecoderState;
  const uint32_t unpacked = LoadLe32(data) % (1u << 20);
  const size_t available = size - 6;
  size_t packed = size_t(data[4] | data[5] << 8);
  if (packed > available) packed = available;

  FILE* in = fmemopen(const_cast<uint8_t*>(data + 6), available > 0 ? available : 1, "rb");
  uint64_t written = 0;
  cookie_io_functions_t io = {nullptr, CountWrite, nullptr, nullptr};
  FILE* out = fopencookie(&written, "wb", io);
  if (in == nullptr || out == nullptr) abort();
  const LzhDecodeResult result = DecodeArjMethod4(*state, in, uint32_t(packed), out, unpacked);
  const long consumed = ftell(in);
  fclose(in);
  fclose(out);
  if (consumed < 0 || size_t(consumed) > packed) abort();
  if (written > uint64_t(unpacked) + 256) abort();
  if (result == LzhDecodeResult::Ok && written < unpacked) abort();
  return 0;
}
