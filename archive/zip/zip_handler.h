// ZIP archives, read from their local headers alone: stored, deflated
// (raw inflate through stream/inflate.h) and the legacy methods, with traditional encryption.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/zip/zip_bit_reader.h"
#include "archive/zip/zip_aes.h"
#include "archive/zip/zip_crypto.h"
#include "archive/zip/zip_directory.h"
#include "core/handler.h"
#include "core/member_output.h"
#include "core/names.h"
#include "core/output.h"

#include <vector>

namespace zip {

// One local file header as read (the fields after the 4-byte signature).
struct ZipLocalHeader {
  uint16_t flags;             // bit 0 encrypted, 1 8 KiB window, 2 three trees, 3 sizes follow the data
  uint16_t method;            // one IsKnownMethod knows
  uint16_t dosTime;
  uint16_t dosDate;
  uint32_t crc;
  // Sizes as the header gives them: a field of 0xFFFFFFFF is replaced by
  // its value from the Zip64 extra field (ID 0x0001).
  uint64_t compressedSize;
  uint64_t uncompressedSize;
  bool zip64;                 // a Zip64 extra field came with it: a data descriptor has 8-byte sizes
  bool sizesFromDirectory = false;  // CRC-32 and sizes are the central directory's
  bool hasAes = false;        // method 99 with its AES extra field (`aes`)
  ZipAesField aes;
  bool hasAttributes = false; // `host` and `external` from the central directory
  uint8_t host = 0;
  uint32_t external = 0;
  bool hasUtcTime = false;    // an exact time from an extended-timestamp (0x5455) or NTFS (0x000a) field
  FILETIME utcTime{};
  bool nameFits;              // false: the decoded name is longer than an output path holds
                              // (`name` then holds what fits of it, only to name the member)
  char name[kOutputPathSize]; // program text, NUL-terminated, never containing a NUL itself
};

// Reads the header that follows a signature and its extra field, and
// decodes the name: UTF-8 when flag bit 11 says so, the UTF-8 name of a
// Unicode Path extra field (0x7075, version 1) in its place when the CRC-32
// it carries matches the stored name, else as `unmarked` says (legacy text
// for archives made on MS-DOS or Windows, see ZipDirectory::MarkingAt). Of the
// other extra fields only the Zip64 sizes are taken. False for a short
// read, a NUL in the name or a method number no archiver writes; the
// stream is then somewhere inside the header.
[[nodiscard]] bool ReadZipLocalHeader(FILE* stream, ZipLocalHeader& header,
                                      NameMarking unmarked = NameMarking::kUnmarked);

// One member's data as the decoders read it: at most `limit` bytes of the
// archive from its position on (the member's compressed size, so no decoder
// reads into the next member), decrypted when the member is encrypted, and
// nothing once the member's output has failed, so every decoder stops. The
// writes go to the member output.
class ZipMemberData final : public ZipMemberIo {
 public:
  // Traditional encryption with `keys`, or AES through `aes` (either may be
  // null).
  ZipMemberData(FILE* archive, MemberOutput& out, uint64_t limit, const ZipKeys* keys,
                ZipAesDecryptor* aes = nullptr);
  size_t ReadMember(uint8_t* buffer, size_t count) override;
  void WriteMember(const uint8_t* data, size_t count) override;
  // A read met the end of the archive before the limit.
  bool ReadShort() const { return readShort_; }
  // Reads what is left up to the limit without handing it on (the AES
  // authentication code covers all of the data); false when it is not all
  // there.
  bool Drain();

 private:
  FILE* archive_;
  MemberOutput& out_;
  uint64_t remaining_;  // bytes left to the limit
  ZipKeys keys_{};
  bool encrypted_;
  ZipAesDecryptor* aes_;
  bool readShort_ = false;
};

}  // namespace zip

class ZipHandler : public FormatHandler {
 public:
  ZipHandler() : FormatHandler("Zip" EXTRACT_SUFFIX) {}
  bool MatchesExtension(const char* extension) override;
  bool Probe(const char* path, int32_t fileSize) override;
  bool Extract(const char* path, const char* outputFolder) override;

 private:
  using ZipKeys = zip::ZipKeys;
  using ZipLocalHeader = zip::ZipLocalHeader;
  using ZipMemberData = zip::ZipMemberData;
  enum class Next { kMember, kEndArchive };

  // The members in the central directory's order, each from its local
  // header with the directory's sizes.
  void WalkDirectory(MemberOutput& out);
  // Without a directory: local header after local header.
  void WalkLocalHeaders(MemberOutput& out);
  [[nodiscard]] bool FindNextMember(ZipLocalHeader& header);
  Next ExtractMember(const ZipLocalHeader& header, MemberOutput& out, long long& dataEnd);
  // Reads the encryption header with each password tried (the last one
  // that opened a member, then up to three answers to the prompt, which
  // names the member and the archive); the keys that open the member, or
  // false.
  // `opens` says whether a password opens the member.
  template <typename Opens>
  [[nodiscard]] bool OpenEncrypted(const ZipLocalHeader& header, Opens opens);
  [[nodiscard]] bool TryPassword(const char* password, const ZipLocalHeader& header, ZipKeys* keys);
  MemberEnd CopyStored(ZipMemberData& data, uint64_t compressedSize);
  // Stored data whose size comes only behind it (flag bit 3, no central
  // directory): it ends at the first data descriptor whose signature,
  // CRC-32 and sizes fit the bytes in front of it. *dataEnd: where that
  // descriptor starts.
  MemberEnd CopyStoredToDescriptor(ZipMemberData& data, long long dataStart, long long* dataEnd);
  // Inflates at most compressedSize bytes of input, or, with `toStreamEnd`,
  // as much as the deflate stream takes. *unused: the input bytes read but
  // not used.
  MemberEnd Inflate(ZipMemberData& data, uint64_t compressedSize, bool toStreamEnd, size_t* unused);
  // Reads the data descriptor at the stream position (behind the data of a
  // member with flag bit 3) and hands its CRC-32 to the output; false when
  // none is there whose sizes match what the member took and gave.
  bool ReadDataDescriptor(const ZipLocalHeader& header, uint64_t packed, MemberOutput& out, long long* end);

  zip::ZipDirectory directory_;
  FILE* archive_ = nullptr;
  // The password that opened the last encrypted member; lasts one Extract.
  char rememberedPassword_[128] = {};
  // No answer opened a member: nobody is asked again in this Extract.
  bool passwordRefused_ = false;
  const char* archiveName_ = "";  // the archive's name without its folder, for the prompt
};
