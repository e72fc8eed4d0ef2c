#include "archive/zip/zip_aes.h"

#include <nettle/hmac.h>
#include <nettle/nettle-meta.h>
#include <nettle/pbkdf2.h>

#include <cstring>
#include <new>

#include "archive/zip/zip_directory.h"
#include "core/byte_order.h"

namespace zip {

namespace {

constexpr uint16_t kAesFieldId = 0x9901;
constexpr unsigned kIterations = 1000;
constexpr size_t kBlock = 16;
constexpr size_t kBatchBlocks = 256;  // key stream made this many blocks at a time

const nettle_cipher* CipherFor(uint8_t strength) {
  switch (strength) {
    case 1: return &nettle_aes128;
    case 2: return &nettle_aes192;
    case 3: return &nettle_aes256;
  }
  return nullptr;
}

}  // namespace

// The field: vendor version (2 bytes), "AE", strength (1 byte), method (2).
bool FindAesField(const uint8_t* extra, size_t length, ZipAesField* field) {
  for (ExtraFields f(extra, length); f.Next();) {
    if (f.id != kAesFieldId) continue;
    if (f.size < 7 || f.data[2] != 'A' || f.data[3] != 'E') return false;
    field->version = LoadLe16(f.data);
    field->strength = f.data[4];
    field->method = LoadLe16(f.data + 5);
    return (field->version == 1 || field->version == 2) && CipherFor(field->strength) != nullptr;
  }
  return false;
}

size_t AesSaltSize(uint8_t strength) { return strength >= 1 && strength <= 3 ? 4 + 4 * size_t{strength} : 0; }

unsigned AesKeyBits(uint8_t strength) { return strength >= 1 && strength <= 3 ? 64 + 64 * unsigned{strength} : 0; }

struct ZipAesDecryptor::State {
  const nettle_cipher* cipher = nullptr;
  alignas(16) uint8_t context[512];  // the cipher's key schedule (nettle_cipher::context_size bytes)
  hmac_sha1_ctx mac;
  uint64_t counter = 1;
  uint8_t stream[kBatchBlocks * kBlock];
  size_t streamAt = sizeof stream;  // key stream bytes used

  void NextStream() {
    uint8_t blocks[kBatchBlocks * kBlock] = {};
    for (size_t b = 0; b < kBatchBlocks; ++b, ++counter) {
      for (int i = 0; i < 8; ++i) blocks[b * kBlock + i] = static_cast<uint8_t>(counter >> (8 * i));
    }
    cipher->encrypt(context, sizeof blocks, stream, blocks);
    streamAt = 0;
  }
};

ZipAesDecryptor::ZipAesDecryptor() : state_(new (std::nothrow) State) {}

ZipAesDecryptor::~ZipAesDecryptor() { delete state_; }

bool ZipAesDecryptor::Start(const char* password, uint8_t strength, const uint8_t* salt, const uint8_t* verifier) {
  const nettle_cipher* cipher = CipherFor(strength);
  if (state_ == nullptr || cipher == nullptr || cipher->context_size > sizeof state_->context) return false;
  // PBKDF2 gives the AES key, the HMAC key (each as long as the AES key)
  // and the 2-byte verifier, in that order.
  const size_t keySize = cipher->key_size;
  uint8_t derived[2 * 32 + kAesVerifierSize];
  pbkdf2_hmac_sha1(strlen(password), reinterpret_cast<const uint8_t*>(password), kIterations, AesSaltSize(strength),
                   salt, 2 * keySize + kAesVerifierSize, derived);
  if (memcmp(derived + 2 * keySize, verifier, kAesVerifierSize) != 0) return false;
  State& s = *state_;
  s.cipher = cipher;
  cipher->set_encrypt_key(s.context, derived);
  hmac_sha1_set_key(&s.mac, keySize, derived + keySize);
  s.counter = 1;
  s.streamAt = sizeof s.stream;
  return true;
}

void ZipAesDecryptor::Decrypt(uint8_t* data, size_t size) {
  State& s = *state_;
  hmac_sha1_update(&s.mac, size, data);
  for (size_t i = 0; i < size; ++i) {
    if (s.streamAt == sizeof s.stream) s.NextStream();
    data[i] ^= s.stream[s.streamAt++];
  }
}

bool ZipAesDecryptor::Authentic(const uint8_t* storedCode) {
  uint8_t digest[SHA1_DIGEST_SIZE];
  hmac_sha1_digest(&state_->mac, sizeof digest, digest);
  return memcmp(digest, storedCode, kAesCodeSize) == 0;
}

}  // namespace zip
