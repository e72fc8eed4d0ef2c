// PPMd variant I over arbitrary bytes: a parameter word as ZIP method 98
// has it (order, memory, restore method), then the range coder's bytes.
// The memory comes in 16 KiB steps instead of MiB, so the model fills and
// is restarted or cut down within a few hundred KiB of output; at most
// 4 MiB come out of each input. The decoder must stay inside its block and
// tables whatever it reads.
#include <cstdlib>

#include "codec/ppmd_i.h"

namespace {

class Bytes final : public codec::BitInput {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool NextPiece(const uint8_t** next, const uint8_t** end) override {
    if (given_ || size_ == 0) return false;
    given_ = true;
    *next = data_;
    *end = data_ + size_;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  bool given_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned word = data[0] | data[1] << 8;
  const unsigned order = (word & 0x0F) + 1;
  const uint32_t memory = (((word >> 4) & 0xFF) + 1) << 14;
  const unsigned restore = word >> 12;
  Bytes input(data + 2, size - 2);
  codec::PpmdI p;
  codec::ClearPpmdI(p);
  const bool valid = order >= codec::kPpmdIMinOrder && restore <= codec::kPpmdICutOff;
  if (!codec::StartPpmdI(p, order, memory, restore, &input)) {
    if (valid) abort();  // such small blocks are always had
    return 0;
  }
  static uint8_t out[1 << 16];
  uint32_t sum = 0;
  for (size_t total = 0; total < (4u << 20) && !p.dry;) {
    size_t made = 0;
    const codec::PpmdIStatus status = codec::DecodePpmdI(p, out, sizeof out, &made);
    if (made > sizeof out) abort();
    for (size_t i = 0; i < made; ++i) sum += out[i];
    total += made;
    if (status != codec::PpmdIStatus::kFull) break;
  }
  codec::FreePpmdI(p);
  return static_cast<int>(sum & 0);
}
