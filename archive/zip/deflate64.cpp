#include "archive/zip/deflate64.h"

namespace zip {

using namespace codec;

namespace {

class Ring {
 public:
  Ring(Deflate64Work& w, ZipMemberIo& io) : w_(w), io_(io) {}

  void Put(uint8_t byte) {
    w_.ring[pos_++] = byte;
    ++produced_;
    if (pos_ == Deflate64Work::kRingSize) Flush();
  }

  // False for a distance before the first byte of the member.
  bool Copy(uint32_t distance, uint32_t length) {
    if (distance > produced_) return false;
    constexpr uint32_t kMask = Deflate64Work::kRingSize - 1;
    if (pos_ + length < Deflate64Work::kRingSize) {
      CopyMatchInWindow(w_.ring, kMask, pos_, distance, length);
      pos_ += length;
      produced_ += length;
      return true;
    }
    // The copy fills the ring: it goes out in the middle of the copy.
    for (uint32_t from = (pos_ - distance) & kMask; length > 0; --length, from = (from + 1) & kMask) Put(w_.ring[from]);
    return true;
  }

  void Flush() {
    if (pos_ > flushed_) io_.WriteMember(w_.ring + flushed_, pos_ - flushed_);
    flushed_ = pos_ == Deflate64Work::kRingSize ? 0 : pos_;
    if (pos_ == Deflate64Work::kRingSize) pos_ = 0;
  }

 private:
  Deflate64Work& w_;
  ZipMemberIo& io_;
  uint32_t pos_ = 0;      // next byte to write
  uint32_t flushed_ = 0;  // bytes before it already written out
  uint64_t produced_ = 0;
};

ZipDecodeResult Ending(const BitReader& r) { return RanDry(r) ? ZipDecodeResult::kTruncated : ZipDecodeResult::kBadData; }

// Codes up to the end of the block: false on a code the block cannot hold
// or a distance before the first byte.
bool DecodeCodes(const DeflateTables& t, BitReader& r, Ring& ring) {
  for (;;) {
    EnsureLsb(r, kDeflateMaxCodeBits);
    uint32_t e = LookupDeflate(t.lit, kDeflateLitBits, r);
    if (EntryKind(e) == kDeflateLiteral) {
      ring.Put(static_cast<uint8_t>(EntryValue(e)));
    } else if (EntryKind(e) == kDeflateEnd) {
      return true;
    } else if (EntryKind(e) == kDeflateBase) {
      EnsureLsb(r, 16);
      const uint32_t length = EntryValue(e) + TakeLsb(r, static_cast<int>(EntryExtra(e)));
      EnsureLsb(r, kDeflateMaxCodeBits);
      e = LookupDeflate(t.dist, kDeflateDistBits, r);
      if (EntryKind(e) != kDeflateBase) return false;
      EnsureLsb(r, 14);
      const uint32_t distance = EntryValue(e) + TakeLsb(r, static_cast<int>(EntryExtra(e)));
      if (!ring.Copy(distance, length)) return false;
    } else {
      return false;
    }
    if (RanDry(r)) return false;
  }
}

}  // namespace

ZipDecodeResult Deflate64(ZipMemberIo& io, void* work) {
  auto& w = *static_cast<Deflate64Work*>(work);
  ZipBits bits(io);
  BitReader& r = bits.reader;
  Ring ring(w, io);
  bool fixedBuilt = false;
  for (bool final = false; !final;) {
    EnsureLsb(r, 3);
    final = TakeLsb(r, 1) != 0;
    const uint32_t type = TakeLsb(r, 2);
    if (RanDry(r)) return ZipDecodeResult::kTruncated;
    if (type == 0) {
      // Stored: from the next byte boundary, a length, its complement and
      // that many bytes.
      DropLsb(r, r.count & 7);
      EnsureLsb(r, 32);
      const uint32_t length = TakeLsb(r, 16);
      if (length != (~TakeLsb(r, 16) & 0xFFFF)) return Ending(r);
      for (uint32_t i = 0; i < length; ++i) ring.Put(static_cast<uint8_t>(GetLsb(r, 8)));
      if (RanDry(r)) return ZipDecodeResult::kTruncated;
      continue;
    }
    const DeflateTables* tables = &w.dynamic;
    if (type == 1) {
      if (!fixedBuilt) fixedBuilt = BuildFixedDeflateTables(w.fixed, DeflateVariant::kDeflate64);
      if (!fixedBuilt) return ZipDecodeResult::kBadData;
      tables = &w.fixed;
    } else if (type != 2 || !ReadDynamicDeflateTables(w.dynamic, r, DeflateVariant::kDeflate64)) {
      return Ending(r);
    }
    if (!DecodeCodes(*tables, r, ring)) {
      ring.Flush();
      return Ending(r);
    }
  }
  ring.Flush();
  return ZipDecodeResult::kComplete;
}

}  // namespace zip
