#include "archive/lzh/lzh_decoder.h"

#include <cstdlib>
#include <cstring>

#include "archive/lzh/lh3_decoder.h"
#include "archive/lzh/lh5_decoder.h"
#include "archive/lzh/lz5_decoder.h"
#include "archive/lzh/lzs_decoder.h"

namespace {

// Stored members are copied in pieces of this size.
constexpr uint32_t kCopyPiece = 32768;

// The -lz5- window starts with runs and ramps that early matches may copy.
constexpr uint32_t kLz5WindowSize = 4096;

LzhDecodeResult CopyStored(FILE* archive, uint32_t packedSize, FILE* output) {
  uint8_t piece[kCopyPiece];
  uint32_t left = packedSize;
  while (left > 0) {
    const size_t want = left < kCopyPiece ? left : kCopyPiece;
    const size_t got = std::fread(piece, 1, want, archive);
    if (got == 0) return LzhDecodeResult::InputEnded;
    if (std::fwrite(piece, 1, got, output) != got) return LzhDecodeResult::WriteFailed;
    left -= static_cast<uint32_t>(got);
  }
  return LzhDecodeResult::Ok;
}

uint32_t WindowSizeOf(LzhMethod method) {
  switch (method) {
    case LzhMethod::Lzs: return 2048;
    case LzhMethod::Lz5: return kLz5WindowSize;
    case LzhMethod::Lh1: return 4096;
    case LzhMethod::Lh2: return 8192;
    case LzhMethod::Lh3: return 8192;
    case LzhMethod::Lh4: return 4096;
    case LzhMethod::Lh5: return 8192;
    case LzhMethod::Lh6: return 32768;
    case LzhMethod::Lh7: return 65536;
    case LzhMethod::Arj: return 26624;
    default: return 0;
  }
}

// Spaces everywhere; for -lz5- the start holds 18 zeros, 13 copies of each
// byte value, then 0..255, then 255..0, then 128 zeros (the last 110 bytes
// stay spaces). LArc's own members copy from all of it.
void PrefillWindow(uint8_t* window, uint32_t size, LzhMethod method) {
  std::memset(window, ' ', size);
  if (method != LzhMethod::Lz5) return;
  std::memset(window, 0, 18);
  uint8_t* p = window + 18;
  for (int k = 0; k < 256; ++k, p += 13) std::memset(p, k, 13);
  for (int k = 0; k < 256; ++k) *p++ = static_cast<uint8_t>(k);
  for (int k = 255; k >= 0; --k) *p++ = static_cast<uint8_t>(k);
  std::memset(p, 0, 128);
}

// Tables start empty for every member, so a table that a damaged block
// fails to replace holds only values of this member's codes.
void ResetTables(LzhDecoderState& s) {
  std::memset(s.literalLengths, 0, sizeof s.literalLengths);
  std::memset(s.positionLengths, 0, sizeof s.positionLengths);
  std::memset(s.literalTable, 0, sizeof s.literalTable);
  std::memset(s.positionTable, 0, sizeof s.positionTable);
  std::memset(&s.tree, 0, sizeof s.tree);
  s.blockCount = 0;
}

}  // namespace

bool FlushWindow(LzhWindow& window, uint32_t count) {
  if (window.writeFailed) return false;
  if (std::fwrite(window.data, 1, count, window.output) != count) window.writeFailed = true;
  return !window.writeFailed;
}

LzhDecodeResult DecodeMember(LzhDecoderState& s, LzhMethod method, FILE* archive,
                             uint32_t packedSize, FILE* output, uint32_t unpackedSize) {
  if (method == LzhMethod::Lz4 || method == LzhMethod::Lh0) {
    return CopyStored(archive, packedSize, output);
  }
  const uint32_t size = WindowSizeOf(method);
  if (size == 0) return LzhDecodeResult::UnknownMethod;

  uint8_t* data = static_cast<uint8_t*>(std::malloc(size));
  if (data == nullptr) return LzhDecodeResult::NoMemory;
  PrefillWindow(data, size, method);
  LzhWindow window{data, size, output, false};
  ResetTables(s);

  LzhDecodeResult result;
  switch (method) {
    case LzhMethod::Lz5:
      StartByteInput(s.reader, archive, packedSize);
      result = DecodeLz5(s, window, unpackedSize);
      break;
    case LzhMethod::Lzs:
      StartBitReader(s.reader, archive, packedSize);
      result = DecodeLzs(s, window, unpackedSize);
      break;
    case LzhMethod::Lh1:
    case LzhMethod::Lh2:
      StartBitReader(s.reader, archive, packedSize);
      result = DecodeAdaptive(s, window, method == LzhMethod::Lh2, unpackedSize);
      break;
    case LzhMethod::Lh3:
      StartBitReader(s.reader, archive, packedSize);
      result = DecodeLh3(s, window, unpackedSize);
      break;
    default:
      StartBitReader(s.reader, archive, packedSize);
      result = DecodeBlockMethod(s, method, window, unpackedSize);
      break;
  }
  std::free(data);
  return result;
}
