// MSZIP block decoder: the program's own Deflate decoder (its codes from
// codec/deflate_codes.h), writing straight into the cabinet reader's output
// buffer, which doubles as the history.
#include "archive/cab/mszip_decoder.h"

#include <cstring>

#include "codec/lsb_bit_reader.h"
#include "codec/match_copy.h"

namespace cab {

// This decoder is written on the codec kit.
using namespace codec;

namespace {

// Decodes codes until the end-of-block symbol. `pos` is the output position.
// The bit cursor lives in a local copy here: the byte stores into `out`
// could alias the reader and would force it through memory on every symbol.
bool DecodeCodes(const uint32_t* lit, const uint32_t* dist, BitReader& reader, uint8_t* out,
                 size_t& pos) {
  constexpr size_t kMask = kCabOutputSize - 1;
  LocalBits local;
  local.Load(reader);
  BitCursor& bits = local.c;
  size_t o = pos;
  bool ok = false;
  for (;;) {
    TopUpLocalLsb(local, reader);
    uint32_t e = LookupDeflate(lit, kDeflateLitBits, bits);
    // Runs of literals: each takes at most 15 bits.
    while (EntryKind(e) == kDeflateLiteral) {
      if (o >= kCabOutputSize) goto done;
      out[o++] = static_cast<uint8_t>(EntryValue(e));
      EnsureLocalLsb(local, reader, kDeflateMaxCodeBits);
      e = LookupDeflate(lit, kDeflateLitBits, bits);
    }
    if (EntryKind(e) == kDeflateEnd) {
      ok = true;
      goto done;
    }
    if (EntryKind(e) != kDeflateBase) goto done;
    EnsureLocalLsb(local, reader, 5 + 15 + 13);
    size_t length = EntryValue(e) + TakeLsb(bits, static_cast<int>(EntryExtra(e)));
    e = LookupDeflate(dist, kDeflateDistBits, bits);
    if (EntryKind(e) != kDeflateBase) goto done;
    size_t distance = EntryValue(e) + TakeLsb(bits, static_cast<int>(EntryExtra(e)));
    if (o + length > kCabOutputSize) goto done;
    // A distance beyond the output so far reaches into what the previous
    // block left at the end of the buffer.
    CopyMatchInWindow(out, kMask, static_cast<uint32_t>(o), static_cast<uint32_t>(distance),
                      static_cast<uint32_t>(length));
    o += length;
  }
done:
  local.Store(reader);
  pos = o;
  return ok;
}

}  // namespace

CabResult MszipDecodeBlock(MszipState& s, const uint8_t* in, size_t inLength, uint8_t* out,
                           size_t outLength) {
  if (outLength > kCabOutputSize) return CabResult::Unsupported;
  if (inLength < 2 || in[0] != 'C' || in[1] != 'K') return CabResult::Corrupt;
  const uint8_t* const data = in + 2;
  const size_t length = inLength - 2;
  BitReader bits;
  StartBits(bits, data, length, nullptr);
  size_t pos = 0;
  bool final = false;
  while (!final) {
    EnsureLsb(bits, kLsbRefillBits);
    final = TakeLsb(bits, 1) != 0;
    unsigned type = TakeLsb(bits, 2);
    if (type == 0) {
      // Stored: the buffered bits past the byte boundary are whole bytes of
      // the input; step back over them and copy straight from the input.
      DropLsb(bits, bits.count & 7);
      unsigned len = TakeLsb(bits, 16);
      unsigned nlen = TakeLsb(bits, 16);
      if (len != (~nlen & 0xFFFF)) return CabResult::Corrupt;
      const size_t at = static_cast<size_t>(bits.next - data) + bits.padBytes -
                        static_cast<size_t>(bits.count / 8);
      if (at + len > length || pos + len > kCabOutputSize) return CabResult::Corrupt;
      std::memcpy(out + pos, data + at, len);
      pos += len;
      StartBits(bits, data + at + len, length - at - len, nullptr);
      continue;
    }
    bool ok;
    if (type == 1) {
      if (!s.fixedBuilt) s.fixedBuilt = BuildFixedDeflateTables(s.fixed, DeflateVariant::kDeflate);
      if (!s.fixedBuilt) return CabResult::Corrupt;
      ok = DecodeCodes(s.fixed.lit, s.fixed.dist, bits, out, pos);
    } else if (type == 2) {
      ok = ReadDynamicDeflateTables(s.dynamic, bits, DeflateVariant::kDeflate) &&
           DecodeCodes(s.dynamic.lit, s.dynamic.dist, bits, out, pos);
    } else {
      return CabResult::Corrupt;
    }
    if (!ok || RanDry(bits)) return CabResult::Corrupt;
  }
  if (RanDry(bits) || pos != outLength) return CabResult::Corrupt;
  return CabResult::Ok;
}

}  // namespace cab
