// DecodeMember: the decoders of LZH member data, also used by the ARJ reader
// (stored data and ARJ methods 1 to 3).
//
// The archive stream is positioned at the member's first data byte; decoded
// bytes go to the output stream. No CRC is computed here. Whatever the input,
// the decoders stay inside their tables, trees and window.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/lzh/lh1_decoder.h"
#include "archive/lzh/pmarc_decoder.h"
#include "codec/msb_bit_reader.h"
#include "archive/lzh/lzh_table.h"

namespace lzh {

// Method numbers, as derived from the method id of a member header.
enum class LzhMethod : uint8_t {
  Lzs = 0,    // "-lzs-": LArc, bit-coded, 2 KiB window
  Lz4 = 1,    // "-lz4-": stored
  Lz5 = 2,    // "-lz5-": LArc, byte-coded, 4 KiB window
  Lh0 = 3,    // "-lh0-": stored (also ARJ method 0)
  Lh1 = 4,    // "-lh1-": adaptive Huffman, 4 KiB window
  Lh2 = 5,    // "-lh2-": adaptive Huffman, growing position tree, 8 KiB window
  Lh3 = 6,    // "-lh3-": static Huffman, 8 KiB window
  Lh4 = 7,    // block static Huffman, 4 KiB window
  Lh5 = 8,    // "-lh5-": block static Huffman, 8 KiB window
  Lh6 = 9,    // "-lh6-": block static Huffman, 32 KiB window
  Lh7 = 10,   // "-lh7-": block static Huffman, 64 KiB window
  Arj = 11,   // ARJ methods 1 to 3: block static Huffman, 26,624-byte window
  Lhx = 12,   // "-lhx-": block static Huffman, 512 KiB window
  Lk7 = 13,   // "-lk7-": LHARK's block method (its "-lh7-"), 64 KiB window
  Pm0 = 14,   // "-pm0-": PMarc, stored
  Pm1 = 15,   // "-pm1-": PMarc, static codes over a move-to-front list, 16 KiB window
  Pm2 = 16,   // "-pm2-": PMarc, sent codes over a move-to-front list, 8 KiB window
  None = 17,  // anything else (folders, unknown ids): nothing is written
};

enum class LzhDecodeResult : uint8_t {
  Ok,             // the unpacked size was produced (or, stored: copied)
  InputEnded,     // the packed data ended first; what was decoded is written
  WriteFailed,    // the output stream refused a write
  NoMemory,       // the window could not be allocated; nothing written
  UnknownMethod,  // no decoder for this number; nothing written
};

// The decoder state: allocate one per archive (it is large, so on the heap:
// `new (std::nothrow) LzhDecoderState`); DecodeMember initialises every part
// a method uses at the start of each member, so nothing carries over.
struct LzhDecoderState {
  codec::BitReader reader;
  codec::FileBitInput input;  // the member's packed data, for the reader
  // Block and static Huffman methods (-lh3- to -lh7-, ARJ).
  uint8_t literalLengths[kLzhLiteralSymbols];
  uint8_t positionLengths[kLzhPositionLengths];  // also the 19-symbol code-length code
  uint16_t literalTable[1 << kLzhLiteralTableBits];
  uint16_t positionTable[1 << kLzhPositionTableBits];
  LzhTree tree;
  uint32_t blockCount;  // codes left in the current block
  int positionSymbols;  // np: size of the position code
  int positionBits;     // pbit: width of the position-length count
  // LArc methods.
  uint32_t matchPosition;
  uint32_t flagByte;
  uint32_t flagsLeft;
  // -lh1- and -lh2-.
  AdaptiveTree adaptive;
  // -pm1- and -pm2-.
  PmarcState pmarc;
};

// The sliding window of one member and the output it is flushed to.
struct LzhWindow {
  uint8_t* data;
  uint32_t size;
  FILE* output;
  bool writeFailed;
  // Bytes the output may still take: a last match that runs past the
  // member's size is cut there (ARJ's decoders write it whole).
  uint64_t room = UINT64_MAX;
  // How far back a match may reach, a power of two up to `size`, when the
  // window is larger than the method's dictionary; 0: the whole window.
  uint32_t reach = 0;
};

struct LzhMethodInfo;

// A method's decoder: decodes one member into the window DecodeMember
// allocated with the method's size and filled with spaces, reading through
// the state's reader, which is positioned on the packed data.
using LzhDecodeFn = LzhDecodeResult (*)(LzhDecoderState& s, const LzhMethodInfo& method,
                                        LzhWindow& window, uint64_t unpackedSize);

// What a method number stands for; the rows are in lzh_methods.h.
struct LzhMethodInfo {
  LzhMethod method;
  const char* id;           // method id in a member header; null for ARJ's and None
  bool stored;              // copied as it is
  uint32_t windowSize;      // 0 without a window
  uint8_t positionSymbols;  // np: size of a block method's position code
  uint8_t positionBits;     // pbit: width of its position-length count
  LzhDecodeFn decode;       // null when stored or unknown
};

// Decodes `packedSize` bytes of member data into `unpackedSize` bytes.
// Leaves the archive stream wherever decoding stopped (at most packedSize
// bytes on); the caller repositions it. The stored numbers copy the packed
// size, or up to the end of the input when it ends first.
LzhDecodeResult DecodeMember(LzhDecoderState& state, LzhMethod method, FILE* archive,
                             uint64_t packedSize, FILE* output, uint64_t unpackedSize);

// Writes the first `count` window bytes to the output, as far as there is
// room; false on failure.
bool FlushWindow(LzhWindow& window, uint32_t count);

}  // namespace lzh
