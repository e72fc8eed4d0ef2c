// PMarc's coders (MSX): -pm1- and -pm2-. Both send a literal not as its
// value but as its place in a move-to-front list of the byte values, which
// every byte written (literal or copied) moves to the front; both copy
// matches from a sliding window. -pm1- codes everything with fixed codes
// whose reach grows with the output; -pm2- sends small prefix codes that it
// replaces at set points of the output.
#pragma once

#include <cstdint>

#include "codec/msb_bit_reader.h"

namespace lzh {

struct LzhDecoderState;
struct LzhWindow;
struct LzhMethodInfo;
enum class LzhDecodeResult : uint8_t;

// The byte values, most recently written first.
struct PmarcHistory {
  uint8_t order[256];  // order[0] is the byte written last
  uint8_t where[256];  // the index of each byte value in `order`
};

// A prefix code of up to 31 symbols, codes assigned by length, then by
// symbol (shorter codes first). Paths no code reaches decode as symbol 0;
// codes that do not fit the code space are dropped.
struct PmarcCode {
  static constexpr int kMaxSymbols = 32;
  static constexpr int kMaxLength = 16;
  bool single;                       // one symbol, read without a bit
  uint8_t longest;                   // longest code length
  uint8_t count[kMaxLength + 1];     // codes of each length
  uint8_t symbols[kMaxSymbols];      // symbols in code order
};

// What -pm1- and -pm2- keep across the codes of one member.
struct PmarcState {
  PmarcHistory history;
  // -pm1-: the code of the literal ranges the member chose, as a lookup on
  // the next five bits: symbol in bits 4-7, length in bits 0-3.
  uint8_t rangeTable[32];
  // -pm2-.
  PmarcCode commands;  // literals by range, copies by length class
  PmarcCode offsets;   // the bit count of a copy's distance
  bool offsetsSent;    // the command code has copies that use `offsets`
  int stage;           // how many times the codes were (re)sent
  uint64_t nextChange; // output count at which new codes may follow
};

// Starts the list: printable ASCII, control codes, then the high halves.
void StartHistory(PmarcHistory& h);
// Moves byte b to the front of the list.
void MoveToFront(PmarcHistory& h, uint8_t b);

// Builds `code` from n lengths (0 = unused; at most 31 symbols, lengths at
// most 16).
void BuildPmarcCode(PmarcCode& code, const uint8_t* lengths, int n);
// A code of one symbol that takes no bits.
void SinglePmarcCode(PmarcCode& code, uint8_t symbol);
uint32_t DecodePmarc(const PmarcCode& code, codec::BitReader& r);

LzhDecodeResult DecodePm1(LzhDecoderState& s, const LzhMethodInfo& method, LzhWindow& window,
                          uint64_t unpackedSize);
LzhDecodeResult DecodePm2(LzhDecoderState& s, const LzhMethodInfo& method, LzhWindow& window,
                          uint64_t unpackedSize);

}  // namespace lzh
