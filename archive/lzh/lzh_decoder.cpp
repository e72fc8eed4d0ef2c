#include "archive/lzh/lzh_decoder.h"

#include <cstdlib>
#include <cstring>

#include "archive/lzh/lzh_methods.h"

namespace lzh {

// This decoder is written on the codec kit.
using namespace codec;

namespace {

// Stored members are copied in pieces of this size.
constexpr uint32_t kCopyPiece = 32768;

LzhDecodeResult CopyStored(FILE* archive, uint64_t packedSize, FILE* output) {
  uint8_t piece[kCopyPiece];
  uint64_t left = packedSize;
  while (left > 0) {
    const size_t want = left < kCopyPiece ? left : kCopyPiece;
    const size_t got = std::fread(piece, 1, want, archive);
    if (got == 0) return LzhDecodeResult::InputEnded;
    if (std::fwrite(piece, 1, got, output) != got) return LzhDecodeResult::WriteFailed;
    left -= got;
  }
  return LzhDecodeResult::Ok;
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
  const size_t n = count < window.room ? count : static_cast<size_t>(window.room);
  window.room -= n;
  if (std::fwrite(window.data, 1, n, window.output) != n) window.writeFailed = true;
  return !window.writeFailed;
}

LzhDecodeResult DecodeMember(LzhDecoderState& s, LzhMethod method, FILE* archive,
                             uint64_t packedSize, FILE* output, uint64_t unpackedSize) {
  const LzhMethodInfo& m = LzhMethodInfoOf(method);
  if (m.stored) return CopyStored(archive, packedSize, output);
  if (m.decode == nullptr) return LzhDecodeResult::UnknownMethod;

  uint8_t* data = static_cast<uint8_t*>(std::malloc(m.windowSize));
  if (data == nullptr) return LzhDecodeResult::NoMemory;
  std::memset(data, ' ', m.windowSize);
  LzhWindow window{data, m.windowSize, output, false};
  if (method != LzhMethod::Arj) window.room = unpackedSize;
  ResetTables(s);
  // Bit readers load their first bits when first asked; -lz5- reads bytes.
  s.input.Start(archive, packedSize);
  StartBits(s.reader, nullptr, 0, &s.input);
  const LzhDecodeResult result = m.decode(s, m, window, unpackedSize);
  std::free(data);
  return result;
}

}  // namespace lzh
