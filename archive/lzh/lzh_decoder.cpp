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

// The window of a block method grows to this size (for members that long)
// beyond its dictionary, so that it is written in bigger pieces and more of
// its codes are decoded in runs between the window's wraps.
constexpr uint32_t kBlockMethodWindow = 256 * 1024;

// The window for a member of `unpackedSize` bytes: the dictionary, or, for
// a block method whose dictionary is a power of two, up to
// kBlockMethodWindow bytes, a power of two, as far as the member fills it.
uint32_t WindowSize(const LzhMethodInfo& m, uint64_t unpackedSize) {
  const uint32_t dictionary = m.windowSize;
  if (m.positionSymbols == 0 || (dictionary & (dictionary - 1)) != 0) return dictionary;
  uint32_t size = dictionary;
  while (size < kBlockMethodWindow && size < unpackedSize) size *= 2;
  return size;
}

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

  const uint32_t size = WindowSize(m, unpackedSize);
  uint8_t* data = static_cast<uint8_t*>(std::malloc(size));
  if (data == nullptr) return LzhDecodeResult::NoMemory;
  std::memset(data, ' ', size);
  LzhWindow window{data, size, output, false};
  if (method != LzhMethod::Arj) window.room = unpackedSize;
  if (size != m.windowSize) window.reach = m.windowSize;
  ResetTables(s);
  // Bit readers load their first bits when first asked; -lz5- reads bytes.
  s.input.Start(archive, packedSize);
  StartBits(s.reader, nullptr, 0, &s.input);
  const LzhDecodeResult result = m.decode(s, m, window, unpackedSize);
  std::free(data);
  return result;
}

}  // namespace lzh
