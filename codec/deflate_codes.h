// The Huffman codes of Deflate (RFC 1951) and of Deflate64, its variant
// with a 64 KiB window: the decode tables of the literal/length, distance
// and code-length alphabets, the fixed codes, and the dynamic code
// description at the start of a block. The MSZIP block decoder and the ZIP
// Deflate64 decoder both read their codes through these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/bit_reader.h"
#include "codec/lsb_bit_reader.h"

namespace codec {

// Deflate64 differs in its codes only where Deflate leaves room: length
// code 285 takes 16 extra bits on a base of 3 (Deflate: the length 258),
// and distance codes 30 and 31 reach 32,769 and 49,153 with 14 extra bits.
enum class DeflateVariant { kDeflate, kDeflate64 };

// A decode table entry, 32 bits:
//   bits 0-3   bits to consume for this entry
//   bits 4-6   kind (DeflateKind)
//   bits 8-15  extra bits of a length or distance, or the bits that index a
//              sub-table
//   bits 16-31 literal, base value, or sub-table start
enum DeflateKind : uint32_t {
  kDeflateLiteral = 0,
  kDeflateBase = 1,  // length or distance: base value plus extra bits
  kDeflateEnd = 2,   // end of the block
  kDeflateLink = 3,  // sub-table for codes longer than the direct bits
  kDeflateBad = 4,   // no code, or a symbol the variant does not define
};
inline unsigned EntryBits(uint32_t e) { return e & 15; }
inline uint32_t EntryKind(uint32_t e) { return (e >> 4) & 7; }
inline unsigned EntryExtra(uint32_t e) { return (e >> 8) & 0xFF; }
inline unsigned EntryValue(uint32_t e) { return e >> 16; }

constexpr unsigned kDeflateMaxCodeBits = 15;

// Storage of the tables. A sub-table serves one direct entry and holds
// 2^(longest code under it - direct bits) entries, at most 2^5 for 15-bit
// codes and 10 direct bits; each sub-table holds at least one symbol, so
// 288 symbols need at most 288 of them. Likewise 32 distance sub-tables of
// at most 2^7 entries under 8 direct bits.
constexpr unsigned kDeflateLitBits = 10;
constexpr unsigned kDeflateDistBits = 8;
constexpr unsigned kDeflateLenBits = 7;
constexpr size_t kDeflateLitTableSize = (1u << kDeflateLitBits) + 288 * 32;
constexpr size_t kDeflateDistTableSize = (1u << kDeflateDistBits) + 32 * 128;
constexpr size_t kDeflateLenTableSize = (1u << kDeflateLenBits);

struct DeflateTables {
  uint32_t lit[kDeflateLitTableSize];
  uint32_t dist[kDeflateDistTableSize];
  uint32_t len[kDeflateLenTableSize];  // code-length code: at most 7 bits
};

// Looks an entry up, following a sub-table link, and consumes its bits.
// Needs 15 loaded bits.
inline uint32_t LookupDeflate(const uint32_t* table, unsigned direct, BitCursor& bits) {
  uint32_t e = table[PeekLsb(bits, static_cast<int>(direct))];
  if (EntryKind(e) == kDeflateLink) {
    DropLsb(bits, static_cast<int>(direct));
    e = table[EntryValue(e) + PeekLsb(bits, static_cast<int>(EntryExtra(e)))];
  }
  DropLsb(bits, static_cast<int>(EntryBits(e)));
  return e;
}

// Reads the dynamic code description of a block (behind its 3 header
// bits) and builds the literal/length and distance tables; false for a
// description that is damaged or runs past the input.
[[nodiscard]] bool ReadDynamicDeflateTables(DeflateTables& tables, BitReader& bits, DeflateVariant variant);

// The fixed codes of block type 1; false only if they could not be built
// (never for the variants here).
[[nodiscard]] bool BuildFixedDeflateTables(DeflateTables& tables, DeflateVariant variant);

}  // namespace codec
