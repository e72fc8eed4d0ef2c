// Test-only cabinet writer: headers field by field, data blocks from the
// stored, MSZIP (zlib) and LZX (test encoder) methods, and sets made by
// splitting a folder's blocks over cabinets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cab_lzx_writer.h"

namespace cabtest {

struct CabBlock {
  std::vector<uint8_t> data;
  uint16_t uncompressed = 0;  // 0: the block continues in the next cabinet
  bool checksum = true;       // false: stored checksum 0
  uint32_t badChecksum = 0;   // non-zero: stored instead of the right one
};

struct CabFolder {
  uint16_t type = 0;  // method | window exponent << 8
  std::vector<CabBlock> blocks;
};

struct CabFile {
  std::string name;
  uint32_t size = 0;
  uint32_t offset = 0;  // in the uncompressed folder
  uint16_t folder = 0;  // index or 0xFFFD..0xFFFF
  uint16_t attributes = 0x20;
};

struct Cabinet {
  uint16_t flags = 0;  // 1 previous, 2 next (4 is set when reserves are given)
  std::string previousName, nextName;
  bool reserve = false;
  uint16_t headerReserve = 0;
  uint8_t folderReserve = 0, dataReserve = 0;
  uint8_t major = 1, minor = 3;
  std::vector<CabFolder> folders;
  std::vector<CabFile> files;
};

std::vector<uint8_t> Build(const Cabinet& cabinet);

// The data blocks of `content` in a method: 0 stored, 1 MSZIP, 3 LZX.
std::vector<CabBlock> MakeBlocks(int method, const std::vector<uint8_t>& content,
                                 const LzxOptions& lzx = {});

// Splits block `index` after `at` bytes of its data: the blocks before it and
// the first piece, then the second piece and the blocks after it.
void SplitBlocks(const std::vector<CabBlock>& blocks, size_t index, size_t at,
                 std::vector<CabBlock>* first, std::vector<CabBlock>* rest);

}  // namespace cabtest
