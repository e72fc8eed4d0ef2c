// Traditional ZIP encryption: three 32-bit keys stirred by the password and
// by every plain byte, and a key stream byte taken from the third key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zip {

// Every encrypted member starts with this many encrypted bytes; the last two
// of them, once decrypted, check the password.
constexpr size_t kEncryptionHeaderSize = 12;

struct ZipKeys {
  uint32_t key0;
  uint32_t key1;
  uint32_t key2;
};

// The reflected CRC-32 table (polynomial 0xEDB88320) the keys are stirred with.
constexpr std::array<uint32_t, 256> MakeZipCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
inline constexpr std::array<uint32_t, 256> kZipCrcTable = MakeZipCrcTable();
static_assert(kZipCrcTable[1] == 0x77073096u && kZipCrcTable[255] == 0x2D02EF8Du);

inline uint32_t ZipCrcStep(uint32_t crc, uint8_t byte) {
  return kZipCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

inline void UpdateKeys(ZipKeys& keys, uint8_t plain) {
  keys.key0 = ZipCrcStep(keys.key0, plain);
  keys.key1 = (keys.key1 + (keys.key0 & 0xFF)) * 134775813u + 1;
  keys.key2 = ZipCrcStep(keys.key2, static_cast<uint8_t>(keys.key1 >> 24));
}

inline uint8_t KeyStreamByte(const ZipKeys& keys) {
  uint32_t t = (keys.key2 & 0xFFFF) | 2;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

// The keys after stirring in every byte of the password (narrow text).
ZipKeys KeysForPassword(const char* password);

// Decrypts in place, in stream order.
void DecryptBytes(ZipKeys& keys, uint8_t* data, size_t count);

// Decrypts the 12-byte encryption header with the keys (which go on into the
// member data) and checks the password against `check`: the header's MS-DOS
// time when the sizes follow the data (flag bit 3), otherwise the high 16
// bits of the header's CRC-32. Only the last header byte, the high byte of
// `check`, is compared: writers from version 2.0 of the format on (7-Zip
// among them) put a random byte before it, so comparing two bytes would
// refuse the right password for their archives.
[[nodiscard]] bool CheckEncryptionHeader(ZipKeys& keys, const uint8_t* header, uint16_t check);

}  // namespace zip
