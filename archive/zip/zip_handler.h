// ZIP archives, read from their local headers alone: stored, deflated
// (raw inflate through stream/inflate.h) and the legacy methods, with traditional encryption.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/zip/zip_bit_reader.h"
#include "archive/zip/zip_crypto.h"
#include "core/handler.h"
#include "core/output.h"

// One local file header as read (the fields after the 4-byte signature).
struct ZipLocalHeader {
  uint16_t flags;             // bit 0 encrypted, 1 8 KiB window, 2 three trees, 3 sizes follow the data
  uint16_t method;            // 0..8 except 7
  uint16_t dosTime;
  uint16_t dosDate;
  uint32_t crc;
  uint32_t compressedSize;
  uint32_t uncompressedSize;
  bool nameFits;              // false: the name is longer than a path buffer holds
  char name[kPathBufferSize]; // NUL-terminated, never containing a NUL itself
};

// Reads the header that follows a signature and skips its extra field.
// False for a short read, a NUL in the name or a method this reader does
// not know; the stream is then somewhere inside the header.
[[nodiscard]] bool ReadZipLocalHeader(FILE* stream, ZipLocalHeader& header);

class ZipHandler : public FormatHandler, private ZipMemberIo {
 public:
  ZipHandler() : FormatHandler("Zip" EXTRACT_SUFFIX) {}
  bool MatchesExtension(const char* extension) override;
  bool Probe(const char* path, int32_t fileSize) override;
  bool Extract(const char* path, const char* outputFolder) override;

 private:
  enum class MemberEnd { kNext, kEndArchive };

  // The decrypting read: reads from the archive and decrypts when the member
  // is encrypted. The CRC write: adds to the running CRC and writes.
  size_t ReadMember(uint8_t* buffer, size_t count) override;
  void WriteMember(const uint8_t* data, size_t count) override;

  [[nodiscard]] bool FindNextMember(ZipLocalHeader& header);
  MemberEnd ExtractMember(const ZipLocalHeader& header, const char* outputFolder, long long& dataEnd);
  [[nodiscard]] bool TryPassword(const char* password, const ZipLocalHeader& header);
  void CopyStored(uint32_t compressedSize);
  // Inflates at most compressedSize bytes of input, or, with `toStreamEnd`,
  // as much as the deflate stream takes. Returns the input bytes read but
  // not used.
  size_t Inflate(uint32_t compressedSize, bool toStreamEnd);

  ZipKeys keys_{};
  FILE* archive_ = nullptr;
  FILE* output_ = nullptr;
  uint32_t runningCrc_ = 0;   // CRC-32 of the bytes written for the member
  bool encrypted_ = false;    // the member's data pass through decryption
  bool writeFailed_ = false;  // an output write came up short
  // The password that opened the last encrypted member; lasts one Extract.
  char rememberedPassword_[128] = {};
};
