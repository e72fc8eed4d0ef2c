#include "codec/deflate_codes.h"

#include <cstring>

namespace codec {

namespace {

// RFC 1951 length codes 257..285 and distance codes 0..29; Deflate64 adds
// distance codes 30 and 31 and gives code 285 extra bits (see the header).
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,    33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025,  1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// Order in which the code-length code lengths are stored.
constexpr uint8_t kLenOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

inline uint32_t MakeEntry(uint32_t kind, uint32_t consume, uint32_t extra, uint32_t value) {
  return consume | (kind << 4) | (extra << 8) | (value << 16);
}

// What a symbol of each alphabet decodes to (kind, extra bits, value).
enum class Alphabet { LitLen, Dist, CodeLen };

uint32_t SymbolEntry(Alphabet alphabet, DeflateVariant variant, unsigned symbol, unsigned consume) {
  const bool wide = variant == DeflateVariant::kDeflate64;
  switch (alphabet) {
    case Alphabet::LitLen:
      if (symbol < 256) return MakeEntry(kDeflateLiteral, consume, 0, symbol);
      if (symbol == 256) return MakeEntry(kDeflateEnd, consume, 0, 0);
      if (symbol == 285 && wide) return MakeEntry(kDeflateBase, consume, 16, 3);
      if (symbol <= 285)
        return MakeEntry(kDeflateBase, consume, kLengthExtra[symbol - 257], kLengthBase[symbol - 257]);
      return MakeEntry(kDeflateBad, consume, 0, 0);
    case Alphabet::Dist:
      if (symbol < (wide ? 32u : 30u)) return MakeEntry(kDeflateBase, consume, kDistExtra[symbol], kDistBase[symbol]);
      return MakeEntry(kDeflateBad, consume, 0, 0);
    case Alphabet::CodeLen:
      return MakeEntry(kDeflateLiteral, consume, 0, symbol);
  }
  return MakeEntry(kDeflateBad, consume, 0, 0);
}

// Bit order reversal of bytes, for the codes Deflate sends low bit first.
struct ReverseTable {
  uint8_t v[256];
};
constexpr ReverseTable MakeReverseTable() {
  ReverseTable t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = 0;
    for (unsigned b = 0; b < 8; ++b) r |= ((i >> b) & 1) << (7 - b);
    t.v[i] = static_cast<uint8_t>(r);
  }
  return t;
}
constexpr ReverseTable kReverse = MakeReverseTable();

inline unsigned Reverse(unsigned code, unsigned bits) {  // bits <= 16
  unsigned r = (unsigned{kReverse.v[code & 0xFF]} << 8) | kReverse.v[(code >> 8) & 0xFF];
  return r >> (16 - bits);
}

// Builds a canonical decode table for `count` code lengths: `direct` bits are
// looked up at once, longer codes go through one sub-table per direct entry.
// Fails on an over-subscribed set, on an incomplete one unless allowed, and
// (never for valid lengths, see the sizes in the header) on lack of room.
bool BuildTable(const uint8_t* lengths, unsigned count, Alphabet alphabet, DeflateVariant variant, unsigned direct,
                bool allowIncomplete, uint32_t* table, size_t capacity) {
  unsigned lengthCount[kDeflateMaxCodeBits + 1] = {};
  for (unsigned s = 0; s < count; ++s) lengthCount[lengths[s]]++;
  lengthCount[0] = 0;
  int left = 1;
  for (unsigned len = 1; len <= kDeflateMaxCodeBits; ++len) {
    left = (left << 1) - static_cast<int>(lengthCount[len]);
    if (left < 0) return false;  // over-subscribed
  }
  if (left > 0 && !allowIncomplete) return false;

  unsigned nextCode[kDeflateMaxCodeBits + 2] = {};
  for (unsigned len = 1, code = 0; len <= kDeflateMaxCodeBits; ++len) {
    code = (code + lengthCount[len - 1]) << 1;
    nextCode[len] = code;
  }
  nextCode[1] = 0;
  // Longest code under each direct entry, to size its sub-table; the
  // entries that get one, in order of first use.
  uint8_t longest[1u << kDeflateLitBits] = {};
  uint16_t prefixes[320];
  unsigned prefixCount = 0;
  unsigned codes[320];
  const uint32_t directMask = (1u << direct) - 1;
  for (unsigned s = 0; s < count; ++s) {
    unsigned len = lengths[s];
    if (len == 0) continue;
    codes[s] = Reverse(nextCode[len]++, len);
    if (len > direct) {
      unsigned prefix = codes[s] & directMask;
      if (longest[prefix] == 0) prefixes[prefixCount++] = static_cast<uint16_t>(prefix);
      if (longest[prefix] < len) longest[prefix] = static_cast<uint8_t>(len);
    }
  }
  // A complete code covers every entry; only an incomplete one leaves gaps.
  const uint32_t bad = MakeEntry(kDeflateBad, 1, 0, 0);
  const bool gaps = left > 0;
  if (gaps)
    for (uint32_t i = 0; i <= directMask; ++i) table[i] = bad;
  size_t used = size_t{1} << direct;
  for (unsigned k = 0; k < prefixCount; ++k) {
    unsigned prefix = prefixes[k];
    unsigned subBits = longest[prefix] - direct;
    if (used + (size_t{1} << subBits) > capacity) return false;
    table[prefix] = MakeEntry(kDeflateLink, direct, subBits, static_cast<uint32_t>(used));
    if (gaps)
      for (size_t i = 0; i < (size_t{1} << subBits); ++i) table[used + i] = bad;
    used += size_t{1} << subBits;
  }
  // The code is prefix-free (not over-subscribed), so no two symbols share
  // an entry and the order of writing does not matter.
  for (unsigned s = 0; s < count; ++s) {
    unsigned len = lengths[s];
    if (len == 0) continue;
    unsigned code = codes[s];
    if (len <= direct) {
      uint32_t e = SymbolEntry(alphabet, variant, s, len);
      for (uint32_t i = code; i <= directMask; i += 1u << len) table[i] = e;
      continue;
    }
    uint32_t link = table[code & directMask];
    uint32_t* sub = table + EntryValue(link);
    unsigned subBits = EntryExtra(link);
    uint32_t e = SymbolEntry(alphabet, variant, s, len - direct);
    for (uint32_t i = code >> direct; i < (1u << subBits); i += 1u << (len - direct)) sub[i] = e;
  }
  return true;
}

}  // namespace

bool ReadDynamicDeflateTables(DeflateTables& t, BitReader& bits, DeflateVariant variant) {
  EnsureLsb(bits, kLsbRefillBits);
  unsigned nlit = TakeLsb(bits, 5) + 257;
  unsigned ndist = TakeLsb(bits, 5) + 1;
  unsigned nlen = TakeLsb(bits, 4) + 4;
  uint8_t lengths[320] = {};
  for (unsigned i = 0; i < nlen; ++i) {
    EnsureLsb(bits, kLsbRefillBits);
    lengths[kLenOrder[i]] = static_cast<uint8_t>(TakeLsb(bits, 3));
  }
  if (!BuildTable(lengths, 19, Alphabet::CodeLen, variant, kDeflateLenBits, false, t.len, kDeflateLenTableSize))
    return false;
  std::memset(lengths, 0, sizeof lengths);
  unsigned total = nlit + ndist;
  for (unsigned i = 0; i < total;) {
    EnsureLsb(bits, kLsbRefillBits);
    uint32_t e = LookupDeflate(t.len, kDeflateLenBits, bits);
    if (EntryKind(e) != kDeflateLiteral) return false;
    unsigned symbol = EntryValue(e);
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    unsigned repeat;
    uint8_t value = 0;
    if (symbol == 16) {
      if (i == 0) return false;
      value = lengths[i - 1];
      repeat = 3 + TakeLsb(bits, 2);
    } else if (symbol == 17) {
      repeat = 3 + TakeLsb(bits, 3);
    } else {
      repeat = 11 + TakeLsb(bits, 7);
    }
    if (i + repeat > total) return false;
    while (repeat--) lengths[i++] = value;
  }
  if (RanDry(bits)) return false;
  if (!BuildTable(lengths, nlit, Alphabet::LitLen, variant, kDeflateLitBits, false, t.lit, kDeflateLitTableSize))
    return false;
  return BuildTable(lengths + nlit, ndist, Alphabet::Dist, variant, kDeflateDistBits, true, t.dist,
                    kDeflateDistTableSize);
}

bool BuildFixedDeflateTables(DeflateTables& t, DeflateVariant variant) {
  uint8_t lengths[288];
  for (unsigned i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  bool ok = BuildTable(lengths, 288, Alphabet::LitLen, variant, kDeflateLitBits, false, t.lit, kDeflateLitTableSize);
  // Thirty distance codes in Deflate (30 and 31 decode to nothing),
  // thirty-two in Deflate64.
  std::memset(lengths, 5, 32);
  ok = BuildTable(lengths, variant == DeflateVariant::kDeflate64 ? 32 : 30, Alphabet::Dist, variant,
                  kDeflateDistBits, true, t.dist, kDeflateDistTableSize) &&
       ok;
  return ok;
}

}  // namespace codec
