// LZX block decoder for cabinet folders, windows of 2^15 to 2^21 bytes.
//
// One LZX stream runs through all data blocks of a folder: the window, the
// three repeated offsets, the tree lengths, the current LZX block and the
// Intel E8 values carry over from one data block to the next, while the bit
// reader starts afresh at each data block (each holds one 32 KiB frame).
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/cab/cab_result.h"
#include "codec/huffman_table.h"

namespace cab {

// A decode tree: a table of 2^bits entries and tree nodes for longer codes
// (see codec/huffman_table.h). Lengths keep 64 spare entries because a run
// of the pretree may overshoot the last position.
template <unsigned Symbols, unsigned Bits>
struct LzxTree {
  static constexpr unsigned kSymbols = Symbols;
  static constexpr unsigned kBits = Bits;
  uint8_t lengths[Symbols + 64];
  uint16_t table[1u << Bits];
  codec::HuffmanTree<codec::HuffmanTreeNodes(Symbols)> nodes;
  unsigned symbols;  // symbols the table was built over
  bool empty;        // no symbol can be decoded: every length 0 (allowed), or
                     // a failed build
};

constexpr unsigned kLzxMainSymbols = 656;  // 256 + 8 * 50 position slots
constexpr unsigned kLzxLengthSymbols = 249;
constexpr unsigned kLzxAlignedSymbols = 8;
constexpr unsigned kLzxPretreeSymbols = 20;

struct LzxState {
  uint8_t* window = nullptr;   // malloc'ed; kept across folders and runs
  uint32_t windowSize = 0;     // 2^w of the current folder
  uint32_t allocatedSize = 0;  // size of `window`
  uint32_t windowPos = 0;      // next write position
  uint32_t r0 = 1, r1 = 1, r2 = 1;  // the three most recent match offsets
  uint16_t mainElements = 0;   // 256 + 8 * position slots
  bool headerRead = false;     // the folder's Intel header bit was read
  uint8_t blockType = 0;       // 0 none yet, 1 verbatim, 2 aligned, 3 uncompressed
  uint32_t blockLength = 0;
  uint32_t blockRemaining = 0;
  uint32_t framesRead = 0;     // data blocks decoded in this folder
  int32_t intelFileSize = 0;   // 0: no E8 translation
  int32_t intelPos = 0;        // uncompressed position of the next data block
  bool intelStarted = false;
  LzxTree<kLzxMainSymbols, 12> mainTree;
  LzxTree<kLzxLengthSymbols, 12> lengthTree;
  LzxTree<kLzxAlignedSymbols, 7> alignedTree;
  LzxTree<kLzxPretreeSymbols, 6> pretree;
};

// Starts (or restarts) a folder with window exponent w: Unsupported when w
// is outside 15..21, NoMemory when the window cannot be had. A window that is
// large enough is reused.
[[nodiscard]] CabResult LzxInit(LzxState& state, int w);
// Frees the window.
void LzxRelease(LzxState& state);
// Decodes one data block of `inLength` bytes into out[0..outLength). The
// input must be followed by two readable bytes (kCabInputSpare). Corrupt for
// broken data, Unsupported for a run across the window end.
[[nodiscard]] CabResult LzxDecodeBlock(LzxState& state, const uint8_t* in, size_t inLength,
                                       uint8_t* out, size_t outLength);

// As LzxDecodeBlock, but the block's bytes may stay in the window: *data
// points at them there, or at out[0..outLength) when they had to be copied
// (a block across the window end, or Intel E8 translation to undo). Bytes
// in the window stay valid until the next call with this state.
[[nodiscard]] CabResult LzxDecodeBlockInPlace(LzxState& state, const uint8_t* in, size_t inLength,
                                              uint8_t* out, size_t outLength, const uint8_t** data);

// Position slot tables as the LZX format defines them: extra bits per slot
// (0,0,0,0,1,1,2,2,... up to 17) and each slot's base (running sum of
// 2^extra). Exposed for the tests' encoder.
unsigned LzxExtraBits(unsigned slot);
uint32_t LzxPositionBase(unsigned slot);
// Position slots for a window exponent: 42 for 20, 50 for 21, else 2w.
unsigned LzxPositionSlots(int w);

}  // namespace cab
