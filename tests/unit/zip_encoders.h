// Test-only encoders for the legacy ZIP methods (no tool at hand writes
// them), a memory-backed ZipMemberIo, and a ZIP local-header writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/zip/zip_bit_reader.h"

namespace zipenc {

using Bytes = std::vector<uint8_t>;

// Input from a byte vector (read as many times as asked; bytes past the
// end simply are not there), output appended to `out`.
class MemoryIo : public zip::ZipMemberIo {
 public:
  explicit MemoryIo(const Bytes& in, size_t chunk = SIZE_MAX) : in_(in), chunk_(chunk) {}
  size_t ReadMember(uint8_t* buffer, size_t count) override;
  void WriteMember(const uint8_t* data, size_t count) override;
  Bytes out;
  size_t writes = 0;

 private:
  const Bytes& in_;
  size_t pos_ = 0;
  size_t chunk_;  // at most this many bytes per ReadMember call
};

// Least significant bit first, as the decoders read.
struct BitWriter {
  Bytes bytes;
  uint32_t acc = 0;
  int count = 0;
  void Put(uint32_t value, int bits);
  Bytes Finish();  // pads the last byte with zeros
};

// Shrink: LZW with 9..13-bit codes, widening with 256,1 just when a code
// needs it. With clearEvery > 0, a partial clear (256,2) follows the first
// literal code after every clearEvery codes.
Bytes Shrink(const Bytes& data, int clearEvery = 0);

// Reduce with factor 1..4: greedy matches, 0x90 escapes, and follower sets
// of at most maxFollowers (0..63) of each byte's most frequent successors.
Bytes Reduce(const Bytes& data, int factor, int maxFollowers = 32);

// Implode with the given flags: bit lengths from the symbol counts (Huffman,
// at most 16 bits), described as the format's run-length tree descriptions.
Bytes Implode(const Bytes& data, bool window8k, bool literalTree);

// Mixed text, binary, long runs and 0x90 bytes; deterministic.
Bytes SampleData(size_t size, uint32_t seed);

struct ZipMember {
  std::string name;
  uint16_t method = 0;
  uint16_t flags = 0;
  uint16_t dosTime = 0x6000;  // 12:00:00
  uint16_t dosDate = 0x5A21;  // 2025-01-01
  uint32_t crc = 0;           // 0: computed from `plain`
  Bytes plain;                // the member's content (for size and CRC)
  Bytes data;                 // what follows the header (compressed, maybe encrypted)
  int32_t compressedSize = -1;  // -1: data.size()
  Bytes extra;                // the local extra field
};
// Local headers and data, one after another (no central directory).
Bytes LocalHeaders(const std::vector<ZipMember>& members);

// Encrypts `data` for `password`, with the 12-byte header whose last two
// bytes carry `check`.
Bytes Encrypt(const Bytes& data, const std::string& password, uint16_t check);

}  // namespace zipenc
