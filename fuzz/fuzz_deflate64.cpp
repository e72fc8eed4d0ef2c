// Deflate64 over arbitrary bytes. The decoder must stay inside its ring and
// tables whatever the input; once 64 MiB have come out the input is cut
// short, so every unit ends quickly (a one-bit code may give 65,538 bytes).
#include <cstdlib>
#include <vector>

#include "archive/zip/deflate64.h"
#include "fuzz_legacy_io.h"

namespace {

class CappedIo final : public fuzz::LegacyIo {
 public:
  using LegacyIo::LegacyIo;
  size_t ReadMember(uint8_t* buffer, size_t count) override {
    return written > (64u << 20) ? 0 : LegacyIo::ReadMember(buffer, count);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> work(sizeof(zip::Deflate64Work) / 8 + 1);
  CappedIo io(data, size);
  const zip::ZipDecodeResult r = zip::Deflate64(io, work.data());
  if (r != zip::ZipDecodeResult::kComplete && r != zip::ZipDecodeResult::kTruncated &&
      r != zip::ZipDecodeResult::kBadData)
    abort();
  return 0;
}
