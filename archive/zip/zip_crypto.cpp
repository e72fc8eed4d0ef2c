#include "archive/zip/zip_crypto.h"

namespace zip {

ZipKeys KeysForPassword(const char* password) {
  ZipKeys keys{0x12345678u, 0x23456789u, 0x34567890u};
  for (const char* p = password; *p != '\0'; ++p) UpdateKeys(keys, static_cast<uint8_t>(*p));
  return keys;
}

void DecryptBytes(ZipKeys& keys, uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    data[i] ^= KeyStreamByte(keys);
    UpdateKeys(keys, data[i]);
  }
}

bool CheckEncryptionHeader(ZipKeys& keys, const uint8_t* header, uint16_t check) {
  uint8_t plain[kEncryptionHeaderSize];
  for (size_t i = 0; i < kEncryptionHeaderSize; ++i) plain[i] = header[i];
  DecryptBytes(keys, plain, kEncryptionHeaderSize);
  return plain[11] == check >> 8;
}

}  // namespace zip
