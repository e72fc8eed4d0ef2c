// Our own decoder of one bzip2 block, for the block-parallel reader
// (stream/bzip2_reader.cpp), faster than libbzip2's: table-driven Huffman
// codes, byte moves for the move-to-front list, one load per step of the
// inverse Burrows-Wheeler walk and a sliced CRC.
//
// It takes only what it is sure of: a block it accepts decodes to exactly
// the bytes libbzip2 gives for it, and its stored CRC matched them. Anything
// unusual (a field out of its range, a code set that over- or under-fills
// its code space and uses a missing code, bits left over or missing at the
// block's end, the obsolete randomised blocks, output above the cap, a CRC
// mismatch) is refused, and the caller hands the block to libbzip2, whose
// verdict stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bzip2 {

// Working storage of one decoding thread, reused block after block: eight
// bytes per byte of the largest block seen so far (7.2 MB at level 9), in
// huge pages where the system gives them, since the inverse BWT walk
// touches it all at random.
struct BlockScratch {
  BlockScratch() = default;
  BlockScratch(const BlockScratch&) = delete;
  BlockScratch& operator=(const BlockScratch&) = delete;
  ~BlockScratch();

  void* memory = nullptr;
  uint32_t capacity = 0;     // bytes of block it has room for
  uint32_t* tt = nullptr;       // the block's bytes, then their links
  uint8_t* regions = nullptr;   // where the walk's lanes put the bytes
};

// Where a block's bits are: `data[0..size)` holds them from bit `startBit`
// (the first bit of its 48-bit block magic) up to, not including, bit
// `endBit` (where the next magic starts). `level` is its stream's level
// digit (1-9), which caps the block at level * 100,000 bytes.
struct BlockBits {
  const uint8_t* data;
  size_t size;
  uint64_t startBit;
  uint64_t endBit;
  int level;
};

// Decodes the block into output[0..produced), growing `output` as needed
// but never to `outputLimit` bytes or more. True when the block decoded,
// used exactly its bits and matched its stored CRC; false for anything else
// (see above), with `output` and `produced` then of no meaning.
[[nodiscard]] bool DecodeBlockBits(BlockScratch& scratch, const BlockBits& block, size_t outputLimit,
                                   std::vector<uint8_t>& output, size_t& produced);

// The block whose bits are [startBit, endBit) of data[0..size) as a stream
// of its own, as libbzip2 takes it: the header of a stream of `level`, the
// block, and the end marker carrying `blockCrc` as the stream's CRC. Into
// `out` (replacing what it held); the block starts at bit 32 of it.
void OneBlockStream(const uint8_t* data, size_t size, uint64_t startBit, uint64_t endBit, int level,
                    uint32_t blockCrc, std::vector<uint8_t>& out);

// The bzip2 CRC (CRC-32 of polynomial 0x04C11DB7, most significant bit
// first) carried over `size` more bytes: start from 0xFFFFFFFF and invert
// the final value.
[[nodiscard]] uint32_t BlockCrcUpdate(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace bzip2
