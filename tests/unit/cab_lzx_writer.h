// Test-only LZX encoder: writes the LZX streams that no packaged tool makes,
// one compressed chunk per 32 KiB frame (one cabinet data block each).
#pragma once

#include <cstdint>
#include <vector>

namespace cabtest {

struct LzxBlockPlan {
  int type;         // 1 verbatim, 2 aligned offset, 3 uncompressed
  uint32_t length;  // output bytes of this LZX block
};

struct LzxOptions {
  int windowBits = 16;
  int32_t e8FileSize = 0;  // non-zero: translate E8 calls with this size
  // Empty: verbatim blocks of up to 1 MiB over the whole input.
  std::vector<LzxBlockPlan> blocks;
};

struct LzxStats {
  unsigned repeats[3] = {};  // matches coded through R0, R1, R2
  unsigned matches = 0;      // matches with a new offset
  unsigned literals = 0;
};

// Compresses `data`; element i is the compressed data of frame i.
std::vector<std::vector<uint8_t>> LzxCompress(const std::vector<uint8_t>& data,
                                              const LzxOptions& options, LzxStats* stats = nullptr);

// The E8 translation the encoder applies before compressing (exposed so a
// test can check the decoder undoes exactly this).
void LzxTranslateE8(std::vector<uint8_t>& data, int32_t fileSize);

}  // namespace cabtest
