// DecodeMember on arbitrary bytes. Byte 0 picks the method number (every
// LZH, LArc, LHARK and PMarc coder, ARJ's, and unknown ones), bytes 1-2 the
// unpacked size (up to 1 MiB), byte 3 how much of the rest is the packed
// size; the rest is the archive stream. Checks that no decoder reads past the
// packed size, that stored methods copy exactly what is there, and that
// window methods write at most the unpacked size (ARJ's: plus one match).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "archive/lzh/lzh_decoder.h"

using namespace lzh;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<LzhDecoderState> state(new LzhDecoderState);
  if (size < 5) return 0;
  const auto method = static_cast<LzhMethod>(data[0] % 19);
  const uint32_t unpacked = static_cast<uint32_t>(data[1] | (data[2] << 8)) << 4;
  const size_t streamSize = size - 4;
  // 255 means "everything"; otherwise a share of the stream.
  const uint32_t packed = data[3] == 255 ? static_cast<uint32_t>(streamSize)
                                         : static_cast<uint32_t>(streamSize * data[3] / 255);
  FILE* in = fmemopen(const_cast<uint8_t*>(data + 4), streamSize, "rb");
  char* outBuffer = nullptr;
  size_t outSize = 0;
  FILE* out = open_memstream(&outBuffer, &outSize);
  if (in == nullptr || out == nullptr) abort();

  const LzhDecodeResult result = DecodeMember(*state, method, in, packed, out, unpacked);
  const long consumed = ftell(in);
  fclose(in);
  fclose(out);
  free(outBuffer);

  if (consumed < 0 || static_cast<uint32_t>(consumed) > packed) abort();
  switch (method) {
    case LzhMethod::Lz4:
    case LzhMethod::Lh0:
    case LzhMethod::Pm0:
      if (outSize != packed || result != LzhDecodeResult::Ok) abort();
      break;
    case LzhMethod::None:
      if (outSize != 0 || result != LzhDecodeResult::UnknownMethod) abort();
      break;
    default:
      if (method > LzhMethod::None) {
        if (outSize != 0) abort();
      } else if (outSize > static_cast<size_t>(unpacked) + (method == LzhMethod::Arj ? 256 : 0)) {
        abort();
      } else if (result == LzhDecodeResult::Ok && outSize < unpacked) {
        abort();
      }
      break;
  }
  return 0;
}
