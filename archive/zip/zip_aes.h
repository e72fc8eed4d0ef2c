// WinZip AES encryption (AE-1 and AE-2) of ZIP members, through nettle's
// PBKDF2-HMAC-SHA1, AES and HMAC-SHA1. A member of method 99 carries the
// extra field 0x9901 naming the key size and the method the data was
// compressed with; its data is a salt, a 2-byte password verifier, the
// encrypted compressed data, and a 10-byte authentication code (HMAC-SHA1
// of the encrypted data) that must match before the member counts as whole.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zip {

constexpr uint16_t kAesMethod = 99;
constexpr size_t kAesVerifierSize = 2;
constexpr size_t kAesCodeSize = 10;

struct ZipAesField {
  uint16_t version = 0;  // 1: AE-1 (CRC-32 stored), 2: AE-2 (no CRC-32)
  uint8_t strength = 0;  // 1, 2, 3: 128, 192, 256-bit keys
  uint16_t method = 0;   // how the data was compressed before encryption
};

// Finds the AES extra field; false when there is none or it is malformed.
bool FindAesField(const uint8_t* extra, size_t length, ZipAesField* field);

// Bytes of salt for a key strength (8, 12, 16); 0 for an unknown one.
size_t AesSaltSize(uint8_t strength);

// Key bits for the listing's method name ("aes256").
unsigned AesKeyBits(uint8_t strength);

// Decrypts one member's data as it is read: CTR mode with a little-endian
// block counter from 1, and the HMAC-SHA1 of the encrypted bytes.
class ZipAesDecryptor {
 public:
  ZipAesDecryptor();
  ~ZipAesDecryptor();
  ZipAesDecryptor(const ZipAesDecryptor&) = delete;
  ZipAesDecryptor& operator=(const ZipAesDecryptor&) = delete;

  // Derives the keys from the password and the salt; false when the
  // verifier they give differs from the stored one (a wrong password).
  [[nodiscard]] bool Start(const char* password, uint8_t strength, const uint8_t* salt,
                           const uint8_t* verifier);
  // Decrypts `size` bytes in place, taking the encrypted ones into the
  // authentication code first.
  void Decrypt(uint8_t* data, size_t size);
  // Whether the stored code matches the data decrypted so far.
  [[nodiscard]] bool Authentic(const uint8_t* storedCode);

 private:
  struct State;
  State* state_;
};

}  // namespace zip
