// PPMd variant I, revision 1: a context-mixing model of orders 2 to 16 over
// one memory block of up to 256 MiB, driven by a carry-less range decoder.
// Nothing in the stream but the coded symbols: the model grows the same way
// on both sides, and when its memory is full it starts again (restore
// method 0) or cuts its deepest contexts away (method 1).
//
// The model lives in one block: the text of the last symbols grows upward
// from its start, and 12-byte units (contexts, the symbol lists of
// contexts, free blocks) are handed out from its upper seven eighths.
// Everything in the block refers to everything else by 32-bit offsets from
// its start, so a unit's layout does not depend on the machine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/bit_input.h"

namespace codec {

constexpr unsigned kPpmdIMinOrder = 2;
constexpr unsigned kPpmdIMaxOrder = 16;
// The smallest block the model starts in (its order-0 context and the 256
// symbols of it, with room to grow), and the largest a stream may ask for.
constexpr uint32_t kPpmdIMinMemory = 1u << 12;
constexpr uint32_t kPpmdIMaxMemory = 256u << 20;
// Restore methods: start the model again, or cut it down to three quarters.
constexpr unsigned kPpmdIRestart = 0;
constexpr unsigned kPpmdICutOff = 1;

// Sizes of free blocks in units: 1, 2, 3, 4, 6, 8, ..., 24, 28, ..., 128.
constexpr unsigned kPpmdIIndexes = 38;

// Secondary escape estimation: an adaptive escape frequency per class of
// contexts whose symbols were partly masked.
struct PpmdISee {
  uint16_t summ;
  uint8_t shift;  // how fast summ follows the escapes
  uint8_t count;  // symbols until shift grows
};

struct PpmdIContext;
struct PpmdIState;

struct PpmdI {
  // The range decoder and its input.
  uint32_t range;
  uint32_t code;
  uint32_t low;
  const uint8_t* next;  // input in hand
  const uint8_t* end;
  BitInput* input;
  bool dry;  // a byte past the end of the input was asked for (read as 0)

  // The memory block: `memory` as allocated, `base` the origin of every
  // offset (offset 0 is no unit), `size` usable bytes from base + align.
  uint8_t* memory;
  uint8_t* base;
  uint32_t size;
  uint32_t align;
  uint8_t* text;        // next byte of text
  uint8_t* unitsStart;  // lowest unit; text may not reach it
  uint8_t* loUnit;      // units are cut upward from here ...
  uint8_t* hiUnit;      // ... and contexts downward from here
  uint32_t glueCount;   // allocations to go before free blocks are joined
  uint32_t freeList[kPpmdIIndexes];
  uint32_t stamps[kPpmdIIndexes];  // blocks in each free list

  PpmdIContext* minContext;
  PpmdIContext* maxContext;
  PpmdIState* foundState;
  unsigned orderFall;
  unsigned initEsc;
  unsigned prevSuccess;
  unsigned maxOrder;
  unsigned restoreMethod;
  uint32_t runLength;  // a signed count kept in two's complement
  uint32_t initRunLength;
  bool broken;  // the model met a state no stream can lead to

  // Symbols masked by the escapes of the symbol being decoded: those whose
  // entry equals escCount (a new round for each symbol, so the array is
  // cleared only when the count wraps).
  uint8_t escCount;
  uint8_t charMask[256];

  PpmdISee dummySee;
  PpmdISee see[24][32];
  uint16_t binSumm[25][64];
};

// A record with no memory; FreePpmdI on it does nothing.
void ClearPpmdI(PpmdI& p);

// Allocates the model's block (`memoryBytes`, kPpmdIMinMemory to
// kPpmdIMaxMemory) and starts the model of order `order` with the restore
// method `restoreMethod` (kPpmdIRestart or kPpmdICutOff), then the range
// decoder on `input`, taking its first four bytes. False when the
// parameters are outside those bounds or the memory cannot be had.
[[nodiscard]] bool StartPpmdI(PpmdI& p, unsigned order, uint32_t memoryBytes, unsigned restoreMethod,
                              BitInput* input);

void FreePpmdI(PpmdI& p);

enum class PpmdIStatus {
  kFull,     // `room` bytes were decoded
  kEnd,      // the end mark came (after *made bytes)
  kBadData,  // the input codes nothing the model has
};

// Decodes up to `room` bytes into `out`; *made says how many came. Past
// the end of the input the decoder reads zeros and p.dry holds: what it
// decodes from then on is not in the stream.
PpmdIStatus DecodePpmdI(PpmdI& p, uint8_t* out, size_t room, size_t* made);

// Input bytes taken from the input's last piece and not used.
inline size_t PpmdIUnused(const PpmdI& p) { return static_cast<size_t>(p.end - p.next); }

}  // namespace codec
