#include "archive/lzh/pmarc_decoder.h"

#include <cstring>

#include "archive/lzh/lzh_decoder.h"
#include "archive/lzh/lzh_window.h"

namespace lzh {

// This decoder is written on the codec kit.
using namespace codec;

void StartHistory(PmarcHistory& h) {
  // Runs of byte values, in the order the list starts with.
  constexpr struct {
    uint8_t first, last;
  } kRuns[] = {{0x20, 0x7F}, {0x00, 0x1F}, {0xA0, 0xDF}, {0x80, 0x9F}, {0xE0, 0xFF}};
  int i = 0;
  for (const auto& run : kRuns) {
    for (int b = run.first; b <= run.last; ++b, ++i) {
      h.order[i] = static_cast<uint8_t>(b);
      h.where[b] = static_cast<uint8_t>(i);
    }
  }
}

void MoveToFront(PmarcHistory& h, uint8_t b) {
  for (int i = h.where[b]; i > 0; --i) {
    const uint8_t moved = h.order[i - 1];
    h.order[i] = moved;
    h.where[moved] = static_cast<uint8_t>(i);
  }
  h.order[0] = b;
  h.where[b] = 0;
}

void SinglePmarcCode(PmarcCode& code, uint8_t symbol) {
  code.single = true;
  code.longest = 0;
  code.symbols[0] = symbol;
}

void BuildPmarcCode(PmarcCode& code, const uint8_t* lengths, int n) {
  code.single = false;
  code.longest = 0;
  std::memset(code.count, 0, sizeof code.count);
  int k = 0;
  // `room` is how many codes of the current length are still free.
  uint32_t room = 1;
  for (int len = 1; len <= PmarcCode::kMaxLength; ++len) {
    room *= 2;
    for (int sym = 0; sym < n && sym < PmarcCode::kMaxSymbols; ++sym) {
      if (lengths[sym] != len || room == 0) continue;
      code.symbols[k++] = static_cast<uint8_t>(sym);
      ++code.count[len];
      --room;
      code.longest = static_cast<uint8_t>(len);
    }
  }
}

uint32_t DecodePmarc(const PmarcCode& code, BitReader& r) {
  if (code.single) return code.symbols[0];
  // Codes of each length follow those of the length before, numerically.
  uint32_t value = 0;
  uint32_t first = 0;
  uint32_t index = 0;
  for (int len = 1; len <= code.longest; ++len) {
    value |= GetBits(r, 1);
    const uint32_t n = code.count[len];
    if (value >= first && value - first < n) return code.symbols[index + value - first];
    index += n;
    first = (first + n) << 1;
    value <<= 1;
  }
  return 0;
}

namespace {

// A value sent as a base and a number of bits that follow.
struct Range {
  uint16_t base;
  uint8_t bits;
};

uint32_t ReadRange(BitReader& r, const Range& range) { return range.base + GetBits(r, range.bits); }

// What both PMarc coders share around the window loop: the output count,
// and the bytes of the last match, which reach the move-to-front list
// before the next literal is read (the window holds them by then).
class PmarcMethod {
 public:
  // Copies are 2 bytes long or more.
  static constexpr uint32_t kLengthBase = 254;

  PmarcMethod(LzhDecoderState& s, LzhWindow& window)
      : s_(s), r_(s.reader), h_(s.pmarc.history), window_(window) {
    StartHistory(h_);
  }

  uint32_t Distance(uint64_t, uint32_t position) {
    matchStart_ = position;
    return distance_;
  }

 protected:
  // A literal sent as its place in the list.
  uint32_t Literal(uint32_t place) {
    const uint8_t b = h_.order[place & 0xFF];
    MoveToFront(h_, b);
    ++produced_;
    return b;
  }
  // A match of `length` bytes whose copy starts distance + 1 bytes back.
  uint32_t Match(uint32_t length, uint32_t distance) {
    distance_ = distance;
    matchLength_ = length;
    produced_ += length;
    return kLengthBase + length;
  }
  void TakeMatchIntoHistory() {
    for (uint32_t i = 0; i < matchLength_; ++i) {
      MoveToFront(h_, window_.data[(matchStart_ + i) & (window_.size - 1)]);
    }
    matchLength_ = 0;
  }

  LzhDecoderState& s_;
  BitReader& r_;
  PmarcHistory& h_;
  LzhWindow& window_;
  uint64_t produced_ = 0;

 private:
  uint32_t distance_ = 0;
  uint32_t matchStart_ = 0;
  uint32_t matchLength_ = 0;
};

// -pm1-. A member starts with 5 bits choosing one of 32 codes for the
// literal ranges. Then each item is a bit: 0, a copy; 1, a run of literals
// (1..216), followed by a copy unless the run is the longest. Copies reach
// further back as the output grows, so early ones take fewer bits. Members
// may read a little past their packed data, which reads as zero bits.
class Pm1Decoder : public PmarcMethod {
 public:
  Pm1Decoder(LzhDecoderState& s, LzhWindow& window) : PmarcMethod(s, window) {}

  uint32_t Code() {
    TakeMatchIntoHistory();
    if (!started_) {
      Start();
      started_ = true;
    }
    if (literalsLeft_ > 0) {
      --literalsLeft_;
      const bool runEnds = literalsLeft_ == 0;
      const uint32_t b = Literal(LiteralPlace());
      if (runEnds) copyNext_ = runLength_ != kLongestRun;
      return b;
    }
    if (copyNext_ || GetBits(r_, 1) == 0) {
      copyNext_ = false;
      return Copy();
    }
    runLength_ = RunLength();
    literalsLeft_ = runLength_;
    return Code();
  }

  // Reading past the packed data is part of the format; only a member that
  // runs on well beyond it has ended early.
  bool Dry() const {
    return static_cast<uint64_t>(r_.padBytes) * 8 > static_cast<uint64_t>(r_.count) + kOverreadBits;
  }

 private:
  static constexpr uint32_t kLongestRun = 216;
  static constexpr uint64_t kOverreadBits = 64;

  void Start() {
    // The codes of the literal ranges a..f, one list of "bits symbol"
    // per choice; choice 31 has no code: every literal is in range a.
    static constexpr const char* kRangeCodes[32] = {
        "0000a 0001b 001c 01d 10e 11f", "000a 001b 010c 011f 10d 11e",
        "000a 001b 01c 10d 110e 111f",  "00a 010b 011c 10d 110e 111f",
        "00a 010b 011d 10c 110e 111f",  "00a 010b 0110e 0111f 10c 11d",
        "00a 01b 100c 101d 110e 111f",  "00a 01b 100c 1010e 1011f 11d",
        "00a 01b 10c 110d 1110e 1111f", "0a 1000b 1001f 101c 110d 111e",
        "0a 1000b 10010e 10011f 101c 11d", "0a 1000b 1001c 101d 110e 111f",
        "0a 100b 1010c 1011f 110d 111e", "0a 100b 101c 110d 1110e 1111f",
        "0a 100b 1010d 10110e 10111f 11c", "0a 10b 1100c 1101d 1110e 1111f",
        "0a 10b 110c 1110d 11110e 11111f", "000d 001e 01c 10d 11e",
        "00a 010b 011e 10c 11d",        "00a 01b 10c 110d 111e",
        "0a 1000b 1001e 101c 11d",      "0a 100b 101c 110d 111e",
        "0a 100b 1010d 1011e 11c",      "0a 10b 110c 1110d 1111e",
        "000a 001b 01c 1d",             "00a 010b 011d 1c",
        "00a 01b 10c 11d",              "0a 100b 101d 11c",
        "0a 10b 110c 111d",             "0a 10b 11c",
        "0a 1b",                        "",
    };
    uint8_t* table = s_.pmarc.rangeTable;
    std::memset(table, 0, sizeof s_.pmarc.rangeTable);
    const char* p = kRangeCodes[GetBits(r_, 5)];
    while (*p != '\0') {
      uint32_t value = 0;
      int length = 0;
      for (; *p == '0' || *p == '1'; ++p, ++length) value = value * 2 + static_cast<uint32_t>(*p - '0');
      const uint8_t entry = static_cast<uint8_t>(((*p - 'a') << 4) | length);
      for (uint32_t k = 0; k < (1u << (5 - length)); ++k) table[(value << (5 - length)) | k] = entry;
      ++p;
      if (*p == ' ') ++p;
    }
  }

  uint32_t LiteralPlace() {
    static constexpr Range kLiteralRanges[6] = {{0, 4}, {16, 4}, {32, 5}, {64, 6}, {128, 6}, {192, 6}};
    Refill(r_);
    const uint8_t entry = s_.pmarc.rangeTable[PeekBits(r_, 5)];
    DropBits(r_, entry & 0x0F);
    return ReadRange(r_, kLiteralRanges[entry >> 4]);
  }

  // 1..3, 4..10, 11..24, 25..88 or 89..216, each behind an escape of the
  // shorter forms.
  uint32_t RunLength() {
    uint32_t x = GetBits(r_, 2);
    if (x < 3) return x + 1;
    x = GetBits(r_, 3);
    if (x < 7) return x + 4;
    x = GetBits(r_, 4);
    if (x < 14) return x + 11;
    return x == 14 ? GetBits(r_, 6) + 25 : GetBits(r_, 7) + 89;
  }

  // 3..5, 6..10, 11..14, 15..22, 23..84, 85..116 or 117..244.
  uint32_t CopyLength() {
    uint32_t x = GetBits(r_, 2);
    if (x < 3) return x + 3;
    x = GetBits(r_, 3);
    if (x < 5) return x + 6;
    if (x == 5) return GetBits(r_, 2) + 11;
    if (x == 6) return GetBits(r_, 3) + 15;
    x = GetBits(r_, 6);
    if (x < 62) return x + 23;
    return x == 62 ? GetBits(r_, 5) + 85 : GetBits(r_, 7) + 117;
  }

  // A bit that is only sent once the output has reached `from` bytes;
  // before that it is `otherwise`.
  uint32_t BitFrom(uint64_t from, uint32_t otherwise) {
    return produced_ >= from ? GetBits(r_, 1) : otherwise;
  }

  uint32_t Copy() {
    // The kind of copy: 0 and 1 copy two bytes from up to 64 and 320 back;
    // 2 to 5 copy a sent length from up to 64, 576, 2624 and 10816 back.
    uint32_t kind;
    if (GetBits(r_, 1) == 0) {
      kind = BitFrom(576, 0) != 0 ? 4 : BitFrom(64, 0);
    } else if (BitFrom(64, 1) == 0) {
      kind = 3;
    } else {
      kind = BitFrom(2624, 1) != 0 ? 2 : 5;
    }
    const uint32_t length = kind < 2 ? 2 : CopyLength();
    static constexpr uint16_t kBases[6] = {0, 64, 0, 64, 576, 2624};
    static constexpr uint8_t kBits[6] = {6, 8, 6, 9, 11, 13};
    // While the output is short, the far kinds reach no further than it,
    // and take fewer bits.
    int bits = kBits[kind];
    if (kind == 3 && produced_ < 320) bits = 8;
    if (kind == 4) {
      static constexpr uint16_t kUntil[3] = {832, 1088, 1600};
      for (int i = 0; i < 3; ++i) {
        if (produced_ < kUntil[i]) {
          bits = 8 + i;
          break;
        }
      }
    }
    if (kind == 5) {
      static constexpr uint16_t kUntil[5] = {2880, 3136, 3648, 4672, 6720};
      for (int i = 0; i < 5; ++i) {
        if (produced_ < kUntil[i]) {
          bits = 8 + i;
          break;
        }
      }
    }
    return Match(length, kBases[kind] + GetBits(r_, bits));
  }

  bool started_ = false;
  bool copyNext_ = false;
  uint32_t literalsLeft_ = 0;
  uint32_t runLength_ = 0;
};

// -pm2-. A command code (sent) gives either a literal range (0..7) or a
// copy (8 up): copies of 2..16 bytes, or of a length sent in a range; their
// distance is 6 bits, or a sent number of bits (offset code), or 0 for the
// longest. The codes are sent at the start, and again (or kept) after 1, 2,
// 4 and 8 KiB of output and every 4 KiB after that; the offset code covers
// more bit counts as the window fills.
class Pm2Decoder : public PmarcMethod {
 public:
  Pm2Decoder(LzhDecoderState& s, LzhWindow& window) : PmarcMethod(s, window) {
    PmarcState& p = s.pmarc;
    p.stage = 0;
    p.nextChange = 0;
    p.offsetsSent = false;
    SinglePmarcCode(p.commands, 0);
    SinglePmarcCode(p.offsets, 0);
  }

  uint32_t Code() {
    TakeMatchIntoHistory();
    PmarcState& p = s_.pmarc;
    if (produced_ >= p.nextChange) ChangeCodes();
    const uint32_t command = DecodePmarc(p.commands, r_);
    if (command < 8) {
      static constexpr Range kLiteralRanges[8] = {{0, 3},  {8, 3},  {16, 4},  {32, 5},
                                                  {64, 5}, {96, 5}, {128, 6}, {192, 6}};
      return Literal(ReadRange(r_, kLiteralRanges[command]));
    }
    const uint32_t c = command - 8;
    uint32_t length;
    if (c < 15) {
      length = c + 2;
    } else {
      static constexpr Range kLengths[6] = {{17, 3}, {25, 3}, {33, 5}, {65, 6}, {129, 7}, {256, 0}};
      length = ReadRange(r_, kLengths[c - 15 < 5 ? c - 15 : 5]);
    }
    uint32_t distance = 0;
    if (c == 0) {
      distance = GetBits(r_, 6);
    } else if (c < 20) {
      const uint32_t v = DecodePmarc(p.offsets, r_);
      distance = v == 0 ? GetBits(r_, 6) : (1u << (v + 5)) + GetBits(r_, static_cast<int>(v) + 5);
    }
    return Match(length, distance);
  }

  bool Dry() const { return RanDry(r_); }

 private:
  static constexpr int kLastStage = 4;

  void ChangeCodes() {
    PmarcState& p = s_.pmarc;
    // Offset codes of 5, 6, 7, then 8 bit counts; the gaps before the next
    // change: 1, 1, 2, then 4 KiB.
    static constexpr int kOffsetSymbols[kLastStage + 1] = {5, 6, 7, 8, 8};
    static constexpr uint32_t kGap[kLastStage + 1] = {1024, 1024, 2048, 4096, 4096};
    const int stage = p.stage;
    if (stage == 0) {
      (void)GetBits(r_, 1);  // unused
      ReadCommands();
      ReadOffsets(kOffsetSymbols[stage]);
    } else if (stage < 3) {
      ReadOffsets(kOffsetSymbols[stage]);
    } else {
      // A bit says whether new codes follow; at 4 KiB the offset code
      // grows in any case.
      const bool sent = GetBits(r_, 1) != 0;
      if (sent) ReadCommands();
      if (sent || stage == 3) ReadOffsets(kOffsetSymbols[stage]);
    }
    p.nextChange += kGap[stage];
    if (stage < kLastStage) p.stage = stage + 1;
  }

  void ReadCommands() {
    PmarcState& p = s_.pmarc;
    const uint32_t n = GetBits(r_, 5);
    const uint32_t shortest = GetBits(r_, 3);
    p.offsetsSent = n >= 10 && !(n == 29 && shortest == 0);
    if (shortest == 0) {
      SinglePmarcCode(p.commands, static_cast<uint8_t>(n == 0 ? 0 : n - 1));
      return;
    }
    const int width = static_cast<int>(GetBits(r_, 3));
    uint8_t lengths[PmarcCode::kMaxSymbols];
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t v = GetBits(r_, width);
      lengths[i] = static_cast<uint8_t>(v == 0 ? 0 : shortest + v - 1);
    }
    BuildPmarcCode(p.commands, lengths, static_cast<int>(n));
  }

  void ReadOffsets(int n) {
    PmarcState& p = s_.pmarc;
    if (!p.offsetsSent) return;
    uint8_t lengths[8];
    int used = 0;
    int last = 0;
    for (int i = 0; i < n; ++i) {
      lengths[i] = static_cast<uint8_t>(GetBits(r_, 3));
      if (lengths[i] != 0) {
        ++used;
        last = i;
      }
    }
    if (used == 1) {
      SinglePmarcCode(p.offsets, static_cast<uint8_t>(last));
    } else {
      BuildPmarcCode(p.offsets, lengths, n);
    }
  }
};

}  // namespace

LzhDecodeResult DecodePm1(LzhDecoderState& s, const LzhMethodInfo&, LzhWindow& window,
                          uint64_t unpackedSize) {
  // Copies never reach before the first byte in sound members; the window
  // starts as zeros.
  std::memset(window.data, 0, window.size);
  Pm1Decoder decoder(s, window);
  return RunWindowLoop<true>(decoder, window, unpackedSize);
}

LzhDecodeResult DecodePm2(LzhDecoderState& s, const LzhMethodInfo&, LzhWindow& window,
                          uint64_t unpackedSize) {
  Pm2Decoder decoder(s, window);
  return RunWindowLoop<true>(decoder, window, unpackedSize);
}

}  // namespace lzh
