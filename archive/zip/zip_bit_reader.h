// The member data as the legacy decoders see it, and the LSB-first bit
// reader they read it through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/lsb_bit_reader.h"
#include "codec/match_copy.h"

namespace zip {

// Where a member's bytes come from and where its output goes. For the ZIP
// handler (ZipMemberData), ReadMember is the decrypting read, which gives
// fewer bytes than asked only at the end of the member's compressed data or
// of the archive, and WriteMember hands the bytes to the member output.
class ZipMemberIo {
 public:
  virtual size_t ReadMember(uint8_t* buffer, size_t count) = 0;
  virtual void WriteMember(const uint8_t* data, size_t count) = 0;

 protected:
  ~ZipMemberIo() = default;
};

// How a decoder ended. Truncated: the input ran out before the uncompressed
// size was reached. BadData: the input is outside the format (an impossible
// code, table or string); what was decoded before stays written.
enum class ZipDecodeResult { kComplete, kTruncated, kBadData };

// The member data as a BitInput: pieces of up to 4 KiB through ReadMember,
// until it gives none.
class ZipMemberInput final : public codec::BitInput {
 public:
  explicit ZipMemberInput(ZipMemberIo& io) : io_(io) {}
  bool NextPiece(const uint8_t** next, const uint8_t** end) override;

 private:
  ZipMemberIo& io_;
  bool ended_ = false;  // ReadMember gave nothing: it is not asked again
  uint8_t buffer_[4096];
};

// The LSB-first bit reader over a member's data (codec/lsb_bit_reader.h).
// It fetches whole bytes in pieces, as many as the source gives (the source
// stops at the end of the member's compressed data). Past the end the bits
// read as zeros and Dry() holds for good; decoders check it after each
// token.
struct ZipBits {
  explicit ZipBits(ZipMemberIo& io) : input(io) { codec::StartBits(reader, nullptr, 0, &input); }
  ZipBits(const ZipBits&) = delete;
  ZipBits& operator=(const ZipBits&) = delete;

  bool Dry() const { return codec::RanDry(reader); }

  ZipMemberInput input;
  codec::BitReader reader;
};

// The next k bits (0 <= k <= 16).
inline uint32_t ReadBits(ZipBits& bits, int k) { return codec::GetLsb(bits.reader, k); }

// The 16 KiB circular window that expand and explode write into: every byte
// goes to the window, and each time it fills, its whole content goes out
// through WriteMember. It starts cleared, so a distance reaching before the
// first byte copies zeros.
struct ZipWindow {
  static constexpr uint32_t kSize = 16384;
  static constexpr uint32_t kMask = kSize - 1;

  uint8_t bytes[kSize];
  uint32_t pos;  // next byte to write; 0..kSize-1
};

inline void ClearWindow(ZipWindow& window) {
  for (uint8_t& b : window.bytes) b = 0;
  window.pos = 0;
}

inline void PutByte(ZipWindow& window, ZipMemberIo& io, uint8_t byte) {
  window.bytes[window.pos++] = byte;
  if (window.pos == ZipWindow::kSize) {
    io.WriteMember(window.bytes, ZipWindow::kSize);
    window.pos = 0;
  }
}

// Copies `length` (>= 2) bytes starting `distance` (1..kSize) bytes back; a
// copy may overlap its own output, as one byte at a time would.
inline void CopyMatch(ZipWindow& window, ZipMemberIo& io, uint32_t distance, uint32_t length) {
  if (window.pos + length < ZipWindow::kSize) {
    codec::CopyMatchInWindow(window.bytes, ZipWindow::kMask, window.pos, distance, length);
    window.pos += length;
    return;
  }
  // The copy fills the window: it goes out in the middle of the copy.
  uint32_t from = (window.pos - distance) & ZipWindow::kMask;
  for (uint32_t i = 0; i < length; ++i) {
    PutByte(window, io, window.bytes[from]);
    from = (from + 1) & ZipWindow::kMask;
  }
}

// Writes the filled part of the window at the end of a member.
inline void FlushWindow(ZipWindow& window, ZipMemberIo& io) {
  if (window.pos != 0) io.WriteMember(window.bytes, window.pos);
  window.pos = 0;
}

}  // namespace zip
