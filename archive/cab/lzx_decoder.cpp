// LZX block decoder: decodes straight into the window, then copies each data
// block's output once and undoes the Intel E8 call translation on it.
#include "archive/cab/lzx_decoder.h"

#include <cstdlib>
#include <cstring>

#include "core/byte_order.h"
#include "codec/match_copy.h"

namespace cab {

// This decoder is written on the codec kit.
using namespace codec;

namespace {

constexpr unsigned kSlotCount = 51;
struct SlotTables {
  uint8_t extra[kSlotCount];
  uint32_t base[kSlotCount];
};
constexpr SlotTables MakeSlotTables() {
  SlotTables t{};
  uint32_t base = 0;
  for (unsigned i = 0; i < kSlotCount; ++i) {
    unsigned extra = i < 4 ? 0 : (i - 2) / 2;
    t.extra[i] = static_cast<uint8_t>(extra > 17 ? 17 : extra);
    t.base[i] = base;
    base += 1u << t.extra[i];
  }
  return t;
}
constexpr SlotTables kSlots = MakeSlotTables();

constexpr unsigned kMaxCodeBits = 16;
constexpr unsigned kFrameLimit = 32768;  // E8 translation stops after this many blocks

enum BlockType : uint8_t { kNone = 0, kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

// 16-bit little-endian words, most significant bit first, over one data
// block in memory (see codec/msb_bit_reader.h for running dry).
inline uint32_t ReadBits(BitReader& bits, unsigned n) {
  return GetWordBits(bits, static_cast<int>(n));
}

// Bits consumed from the start of the block, zeros past its end included.
inline size_t ConsumedBits(const BitReader& bits, const uint8_t* in) {
  return (static_cast<size_t>(bits.next - in) + bits.padBytes) * 8 - static_cast<size_t>(bits.count);
}

// Restarts the bits at byte `at` of the block (which may lie past its end).
inline void RestartBits(BitReader& bits, const uint8_t* in, size_t length, size_t at) {
  const size_t start = at < length ? at : length;
  StartBits(bits, in + start, length - start, nullptr);
  bits.padBytes = static_cast<uint32_t>(at - start);
}

// Builds a tree over `symbols` of its lengths. Every length 0 gives an
// empty tree, which is allowed; a tree that fails to build is empty too, so
// that nothing decodes with a table that does not match its lengths.
template <class Tree>
bool BuildTree(Tree& t, unsigned symbols) {
  t.symbols = symbols;
  const HuffmanBuild built = BuildHuffmanTable(t.lengths, static_cast<int>(symbols),
                                               static_cast<int>(Tree::kBits), t.table, t.nodes);
  t.empty = built != HuffmanBuild::Ok;
  return built != HuffmanBuild::Invalid;
}

// The next symbol, or -1 for an empty tree. Needs 16 bits loaded.
template <class Tree>
inline int DecodeSymbol(const Tree& t, BitCursor& bits) {
  if (t.empty) return -1;
  return static_cast<int>(
      DecodeHuffman<static_cast<int>(Tree::kBits)>(bits, t.table, t.lengths, t.nodes, t.symbols));
}

template <class Tree>
inline int ReadSymbol(const Tree& t, BitReader& bits) {
  EnsureWordBits(bits, kMaxCodeBits);
  return DecodeSymbol(t, bits);
}

// Lengths [first, last) coded as differences to the previous lengths through
// a pretree of their own.
bool ReadLengths(LzxState& s, BitReader& bits, uint8_t* lengths, unsigned first, unsigned last) {
  for (unsigned i = 0; i < kLzxPretreeSymbols; ++i)
    s.pretree.lengths[i] = static_cast<uint8_t>(ReadBits(bits, 4));
  if (!BuildTree(s.pretree, kLzxPretreeSymbols)) return false;
  for (unsigned i = first; i < last;) {
    int symbol = ReadSymbol(s.pretree, bits);
    if (symbol < 0) return false;
    // Runs may overshoot `last` by up to 50 entries, into the spare ones.
    if (symbol == 17) {
      unsigned n = 4 + ReadBits(bits, 4);
      std::memset(lengths + i, 0, n);
      i += n;
    } else if (symbol == 18) {
      unsigned n = 20 + ReadBits(bits, 5);
      std::memset(lengths + i, 0, n);
      i += n;
    } else if (symbol == 19) {
      unsigned n = 4 + ReadBits(bits, 1);
      int delta = ReadSymbol(s.pretree, bits);
      if (delta < 0 || delta > 16) return false;
      std::memset(lengths + i, (lengths[i] + 17 - delta) % 17, n);
      i += n;
    } else {
      lengths[i] = static_cast<uint8_t>((lengths[i] + 17 - symbol) % 17);
      ++i;
    }
  }
  return true;
}

bool ReadTrees(LzxState& s, BitReader& bits) {
  if (!ReadLengths(s, bits, s.mainTree.lengths, 0, 256) ||
      !ReadLengths(s, bits, s.mainTree.lengths, 256, s.mainElements) ||
      !BuildTree(s.mainTree, s.mainElements))
    return false;
  if (s.mainTree.lengths[0xE8] != 0) s.intelStarted = true;
  return ReadLengths(s, bits, s.lengthTree.lengths, 0, kLzxLengthSymbols) &&
         BuildTree(s.lengthTree, kLzxLengthSymbols);
}

// Produces `run` bytes of a verbatim or aligned block at the window position.
// The bit cursor, the repeated offsets and the tree fields are kept in
// locals: stores into the window could alias them and would otherwise force
// them through memory on every symbol.
CabResult DecodeRun(LzxState& s, BitReader& reader, uint32_t run) {
  uint8_t* const window = s.window;
  const uint32_t windowSize = s.windowSize;
  const uint32_t mask = windowSize - 1;
  uint32_t pos = s.windowPos;
  const bool aligned = s.blockType == kAligned;
  LocalBits local;
  local.Load(reader);
  BitCursor& bits = local.c;
  uint32_t r0 = s.r0, r1 = s.r1, r2 = s.r2;
  const uint16_t* const mainTable = s.mainTree.table;
  const uint8_t* const mainLengths = s.mainTree.lengths;
  const unsigned mainSymbols = s.mainTree.symbols;
  CabResult result = CabResult::Corrupt;
  if (s.mainTree.empty) goto done;
  while (run > 0) {
    EnsureLocalWords(local, reader, kMaxCodeBits);
    const uint32_t e = DecodeHuffman<decltype(s.mainTree)::kBits>(
        bits, mainTable, mainLengths, s.mainTree.nodes, mainSymbols);
    if (e < 256) {
      window[pos++] = static_cast<uint8_t>(e);
      --run;
      continue;
    }
    const unsigned symbol = e - 256;
    uint32_t length = symbol & 7;
    if (length == 7) {
      EnsureLocalWords(local, reader, kMaxCodeBits);
      int more = DecodeSymbol(s.lengthTree, bits);
      if (more < 0) goto done;
      length += static_cast<uint32_t>(more);
    }
    length += 2;
    const unsigned slot = symbol >> 3;
    uint32_t offset;
    if (slot >= 3) {
      const unsigned extra = kSlots.extra[slot];
      offset = kSlots.base[slot] - 2;
      EnsureLocalWords(local, reader, static_cast<int>(extra));
      if (aligned && extra >= 3) {
        offset += PeekBits(bits, static_cast<int>(extra - 3)) << 3;
        DropBits(bits, static_cast<int>(extra - 3));
        EnsureLocalWords(local, reader, kMaxCodeBits);
        int low = DecodeSymbol(s.alignedTree, bits);
        if (low < 0) goto done;
        offset += static_cast<uint32_t>(low);
      } else {
        // The top `extra` bits; none for extra 0.
        offset += PeekBits(bits, static_cast<int>(extra));
        DropBits(bits, static_cast<int>(extra));
      }
      r2 = r1;
      r1 = r0;
      r0 = offset;
    } else if (slot == 0) {
      offset = r0;
    } else if (slot == 1) {
      offset = r1;
      r1 = r0;
      r0 = offset;
    } else {
      offset = r2;
      r2 = r0;
      r0 = offset;
    }
    // A match stays inside its run (so inside the window) and reaches back
    // at most one window.
    if (length > run || offset == 0 || offset > windowSize) goto done;
    CopyMatchInWindow(window, mask, pos, offset, length);
    pos += length;
    run -= length;
  }
  result = CabResult::Ok;
  s.windowPos = pos;
done:
  local.Store(reader);
  s.r0 = r0;
  s.r1 = r1;
  s.r2 = r2;
  return result;
}

// Undoes the encoder's E8 call translation: absolute targets back to
// relative ones. Never touches the last 10 bytes of a block.
void UndoE8(LzxState& s, uint8_t* out, size_t size) {
  if (s.framesRead >= kFrameLimit || s.intelFileSize == 0) return;
  int64_t p = s.intelPos;
  s.intelPos = static_cast<int32_t>(static_cast<uint32_t>(s.intelPos) + static_cast<uint32_t>(size));
  if (size <= 6 || !s.intelStarted) return;
  const int64_t fileSize = s.intelFileSize;
  const int64_t end = static_cast<int64_t>(size) - 10;
  for (int64_t i = 0; i < end;) {
    if (out[i] != 0xE8) {
      ++i;
      ++p;
      continue;
    }
    int64_t a = static_cast<int32_t>(LoadLe32(out + i + 1));
    if (a >= -p && a < fileSize) {
      uint32_t r = static_cast<uint32_t>(a >= 0 ? a - p : a + fileSize);
      out[i + 1] = static_cast<uint8_t>(r);
      out[i + 2] = static_cast<uint8_t>(r >> 8);
      out[i + 3] = static_cast<uint8_t>(r >> 16);
      out[i + 4] = static_cast<uint8_t>(r >> 24);
    }
    i += 5;
    p += 5;
  }
}

}  // namespace

unsigned LzxExtraBits(unsigned slot) { return slot < kSlotCount ? kSlots.extra[slot] : 0; }
uint32_t LzxPositionBase(unsigned slot) { return slot < kSlotCount ? kSlots.base[slot] : 0; }
unsigned LzxPositionSlots(int w) { return w == 20 ? 42 : w == 21 ? 50 : 2 * static_cast<unsigned>(w); }

CabResult LzxInit(LzxState& s, int w) {
  if (w < 15 || w > 21) return CabResult::Unsupported;
  uint32_t size = 1u << w;
  if (s.window != nullptr && s.allocatedSize < size) LzxRelease(s);
  if (s.window == nullptr) {
    s.window = static_cast<uint8_t*>(std::malloc(size));
    if (s.window == nullptr) return CabResult::NoMemory;
    s.allocatedSize = size;
  }
  s.windowSize = size;
  s.mainElements = static_cast<uint16_t>(256 + 8 * LzxPositionSlots(w));
  s.r0 = s.r1 = s.r2 = 1;
  s.headerRead = false;
  s.blockRemaining = 0;
  s.blockLength = 0;
  s.framesRead = 0;
  s.blockType = kNone;
  s.intelPos = 0;
  s.intelFileSize = 0;
  s.intelStarted = false;
  s.windowPos = 0;
  std::memset(s.mainTree.lengths, 0, sizeof s.mainTree.lengths);
  std::memset(s.lengthTree.lengths, 0, sizeof s.lengthTree.lengths);
  s.mainTree.empty = s.lengthTree.empty = s.alignedTree.empty = s.pretree.empty = true;
  return CabResult::Ok;
}

void LzxRelease(LzxState& s) {
  std::free(s.window);
  s.window = nullptr;
  s.allocatedSize = 0;
}

CabResult LzxDecodeBlock(LzxState& s, const uint8_t* in, size_t inLength, uint8_t* out,
                         size_t outLength) {
  const uint8_t* data = nullptr;
  CabResult r = LzxDecodeBlockInPlace(s, in, inLength, out, outLength, &data);
  if (r == CabResult::Ok && data != out) std::memcpy(out, data, outLength);
  return r;
}

CabResult LzxDecodeBlockInPlace(LzxState& s, const uint8_t* in, size_t inLength, uint8_t* out,
                                size_t outLength, const uint8_t** data) {
  *data = out;
  if (s.window == nullptr || outLength > kCabOutputSize) return CabResult::Corrupt;
  BitReader bits;
  StartBits(bits, in, inLength, nullptr);
  size_t bytePos = 0;  // read position inside an uncompressed block
  if (!s.headerRead) {
    if (ReadBits(bits, 1) != 0) {
      uint32_t high = ReadBits(bits, 16);
      s.intelFileSize = static_cast<int32_t>((high << 16) | ReadBits(bits, 16));
    } else {
      s.intelFileSize = 0;
    }
    s.headerRead = true;
  }
  uint32_t owed = static_cast<uint32_t>(outLength);
  while (owed > 0) {
    if (s.blockRemaining == 0) {
      if (s.blockType == kUncompressed) RestartBits(bits, in, inLength, bytePos + (s.blockLength & 1));
      s.blockType = static_cast<uint8_t>(ReadBits(bits, 3));
      uint32_t high = ReadBits(bits, 16);
      s.blockLength = (high << 8) | ReadBits(bits, 8);
      s.blockRemaining = s.blockLength;
      switch (s.blockType) {
        case kAligned:
          for (unsigned i = 0; i < kLzxAlignedSymbols; ++i)
            s.alignedTree.lengths[i] = static_cast<uint8_t>(ReadBits(bits, 3));
          if (!BuildTree(s.alignedTree, kLzxAlignedSymbols)) return CabResult::Corrupt;
          [[fallthrough]];
        case kVerbatim:
          if (!ReadTrees(s, bits)) return CabResult::Corrupt;
          break;
        case kUncompressed: {
          s.intelStarted = true;
          // 1 to 16 bits of padding up to the next 16-bit boundary, then
          // R0, R1, R2 as bytes.
          size_t at = (ConsumedBits(bits, in) / 16 + 1) * 2;
          if (at + 12 > inLength) return CabResult::Corrupt;
          s.r0 = LoadLe32(in + at);
          s.r1 = LoadLe32(in + at + 4);
          s.r2 = LoadLe32(in + at + 8);
          bytePos = at + 12;
          break;
        }
        default:
          return CabResult::Corrupt;
      }
      if (s.blockType != kUncompressed && RanDry(bits)) return CabResult::Corrupt;
    }
    while (s.blockRemaining > 0 && owed > 0) {
      uint32_t run = s.blockRemaining < owed ? s.blockRemaining : owed;
      s.blockRemaining -= run;
      owed -= run;
      s.windowPos &= s.windowSize - 1;
      if (s.windowPos + run > s.windowSize) return CabResult::Unsupported;
      if (s.blockType == kUncompressed) {
        if (bytePos + run > inLength) return CabResult::Corrupt;
        std::memcpy(s.window + s.windowPos, in + bytePos, run);
        bytePos += run;
        s.windowPos += run;
      } else {
        CabResult r = DecodeRun(s, bits, run);
        if (r != CabResult::Ok) return r;
      }
    }
  }
  if (s.blockType != kUncompressed && RanDry(bits)) return CabResult::Corrupt;

  // The block's bytes end at the window position; a folder whose block sizes
  // do not divide the window may have wrapped between runs.
  uint32_t end = s.windowPos == 0 ? s.windowSize : s.windowPos;
  uint32_t total = static_cast<uint32_t>(outLength);
  const bool translate = s.framesRead < kFrameLimit && s.intelFileSize != 0;
  if (end >= total && !translate) {
    *data = s.window + end - total;
  } else if (end >= total) {
    std::memcpy(out, s.window + end - total, total);
  } else {
    uint32_t tail = total - end;
    std::memcpy(out, s.window + s.windowSize - tail, tail);
    std::memcpy(out + tail, s.window, end);
  }
  UndoE8(s, out, total);
  ++s.framesRead;
  return CabResult::Ok;
}

}  // namespace cab
