// The LZH method table: every method number with its header id, window
// size, position code and decoder, in one place: LHA's, LArc's, UNLHA32's
// -lhx-, LHARK's and PMarc's; ARJ's methods 1 to 3 are a row of their own.
#pragma once

#include <cstring>

#include "archive/lzh/lh1_decoder.h"
#include "archive/lzh/lh3_decoder.h"
#include "archive/lzh/lh5_decoder.h"
#include "archive/lzh/lz5_decoder.h"
#include "archive/lzh/lzh_decoder.h"
#include "archive/lzh/lzs_decoder.h"
#include "archive/lzh/pmarc_decoder.h"

namespace lzh {

// Row n describes LzhMethod n.
inline constexpr LzhMethodInfo kLzhMethods[] = {
    // method         id       stored window  np pbit decoder
    {LzhMethod::Lzs, "-lzs-", false, 2048, 0, 0, DecodeLzs},  // LArc, bit-coded
    {LzhMethod::Lz4, "-lz4-", true, 0, 0, 0, nullptr},
    {LzhMethod::Lz5, "-lz5-", false, 4096, 0, 0, DecodeLz5},  // LArc, byte-coded
    {LzhMethod::Lh0, "-lh0-", true, 0, 0, 0, nullptr},        // also ARJ method 0
    {LzhMethod::Lh1, "-lh1-", false, 4096, 0, 0, DecodeAdaptive},
    {LzhMethod::Lh2, "-lh2-", false, 8192, 0, 0, DecodeAdaptive},
    {LzhMethod::Lh3, "-lh3-", false, 8192, 0, 0, DecodeLh3},
    {LzhMethod::Lh4, "-lh4-", false, 4096, 14, 4, DecodeBlockMethod},
    {LzhMethod::Lh5, "-lh5-", false, 8192, 14, 4, DecodeBlockMethod},
    {LzhMethod::Lh6, "-lh6-", false, 32768, 16, 5, DecodeBlockMethod},
    {LzhMethod::Lh7, "-lh7-", false, 65536, 17, 5, DecodeBlockMethod},
    {LzhMethod::Arj, nullptr, false, 26624, 17, 5, DecodeBlockMethod},  // ARJ methods 1 to 3
    {LzhMethod::Lhx, "-lhx-", false, 524288, 20, 5, DecodeBlockMethod},  // UNLHA32's
    {LzhMethod::Lk7, "-lk7-", false, 65536, 32, 6, DecodeLharkMethod},   // LHARK's "-lh7-"
    {LzhMethod::Pm0, "-pm0-", true, 0, 0, 0, nullptr},                   // PMarc
    {LzhMethod::Pm1, "-pm1-", false, 16384, 0, 0, DecodePm1},
    {LzhMethod::Pm2, "-pm2-", false, 8192, 0, 0, DecodePm2},
    {LzhMethod::None, nullptr, false, 0, 0, 0, nullptr},  // folders, unknown ids
};

constexpr bool RowsFollowTheMethodNumbers() {
  for (size_t i = 0; i < sizeof kLzhMethods / sizeof kLzhMethods[0]; ++i) {
    if (static_cast<size_t>(kLzhMethods[i].method) != i) return false;
  }
  return true;
}
static_assert(RowsFollowTheMethodNumbers(), "row n describes method n");

// The row of a method number; numbers past the table are None.
constexpr const LzhMethodInfo& LzhMethodInfoOf(LzhMethod method) {
  constexpr size_t kRows = sizeof kLzhMethods / sizeof kLzhMethods[0];
  const size_t n = static_cast<size_t>(method);
  return kLzhMethods[n < kRows ? n : static_cast<size_t>(LzhMethod::None)];
}

// The method of a member header's five-byte id; None for "-lhd-" folders
// and unknown ids.
inline LzhMethod LzhMethodOfId(const char* id) {
  for (const LzhMethodInfo& m : kLzhMethods) {
    if (m.id != nullptr && std::memcmp(id, m.id, 5) == 0) return m.method;
  }
  return LzhMethod::None;
}

}  // namespace lzh
