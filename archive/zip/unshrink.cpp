#include "archive/zip/unshrink.h"

namespace zip {

namespace {

constexpr int32_t kControl = 256;     // escape code; the subcode follows
constexpr int32_t kFirstFree = 257;   // first code a string can be given
constexpr uint32_t kWiden = 1;        // subcode: code width + 1
constexpr uint32_t kPartialClear = 2; // subcode: free every leaf code

struct Output {
  ZipMemberIo& io;
  uint8_t* buffer;
  size_t fill;

  void Put(const uint8_t* data, size_t count) {
    if (fill + count > sizeof UnshrinkWork::out) Flush();
    for (size_t i = 0; i < count; ++i) buffer[fill++] = data[i];
  }
  void Flush() {
    if (fill != 0) io.WriteMember(buffer, fill);
    fill = 0;
  }
};

int32_t LowestFree(const UnshrinkWork& w, int32_t from) {
  while (from < UnshrinkWork::kCodeCount && w.prefix[from] != UnshrinkWork::kFree) ++from;
  return from;
}

// Frees every defined code that is no other defined code's prefix. The whole
// code range is looked at, not only the codes below the next free one: after
// an earlier clear, codes above it can be defined, and a leaf among them
// kept while its prefix went would leave a dangling prefix.
void PartialClear(UnshrinkWork& w) {
  uint8_t* leaf = w.stack;  // the stack is idle between strings
  for (int32_t c = kFirstFree; c < UnshrinkWork::kCodeCount; ++c)
    leaf[c] = w.prefix[c] != UnshrinkWork::kFree;
  for (int32_t c = kFirstFree; c < UnshrinkWork::kCodeCount; ++c)
    if (w.prefix[c] >= kFirstFree) leaf[w.prefix[c]] = 0;
  for (int32_t c = kFirstFree; c < UnshrinkWork::kCodeCount; ++c)
    if (leaf[c]) w.prefix[c] = UnshrinkWork::kFree;
}

}  // namespace

ZipDecodeResult Unshrink(ZipMemberIo& io, uint32_t size, void* work) {
  UnshrinkWork& w = *static_cast<UnshrinkWork*>(work);
  for (int32_t c = 0; c < 256; ++c) {
    w.prefix[c] = 0;
    w.suffix[c] = static_cast<uint8_t>(c);
  }
  w.prefix[kControl] = 0;
  w.suffix[kControl] = 0;
  for (int32_t c = kFirstFree; c <= UnshrinkWork::kCodeCount; ++c) w.prefix[c] = UnshrinkWork::kFree;
  if (size == 0) return ZipDecodeResult::kComplete;

  ZipBits bits(io);
  Output out{io, w.out, 0};
  int codeBits = 9;
  int32_t nextFree = kFirstFree;

  // The first code is a plain byte.
  int32_t previous = static_cast<int32_t>(ReadBits(bits, codeBits));
  if (bits.Dry()) return ZipDecodeResult::kTruncated;
  if (previous > 255) return ZipDecodeResult::kBadData;
  uint8_t firstChar = static_cast<uint8_t>(previous);
  out.Put(&firstChar, 1);
  int64_t remaining = static_cast<int64_t>(size) - 1;

  ZipDecodeResult result = ZipDecodeResult::kComplete;
  uint8_t* const stackEnd = w.stack + sizeof w.stack;
  while (remaining >= 1) {
    int32_t code = static_cast<int32_t>(ReadBits(bits, codeBits));
    while (code == kControl && !bits.Dry()) {
      uint32_t subcode = ReadBits(bits, codeBits);
      if (subcode == kWiden) {
        if (++codeBits > UnshrinkWork::kMaxCodeBits) {
          out.Flush();
          return ZipDecodeResult::kBadData;
        }
      } else if (subcode == kPartialClear) {
        PartialClear(w);
        nextFree = LowestFree(w, kFirstFree);
      }
      code = static_cast<int32_t>(ReadBits(bits, codeBits));
    }
    if (bits.Dry()) {
      result = ZipDecodeResult::kTruncated;
      break;
    }

    // Build the string backwards. A code not yet defined stands for the
    // previous string followed by that string's own first byte.
    uint8_t* sp = stackEnd;
    int32_t c = code;
    if (w.prefix[code] == UnshrinkWork::kFree) {
      *--sp = firstChar;
      c = previous;
    }
    while (c >= kFirstFree && sp != w.stack) {
      if (w.prefix[c] == UnshrinkWork::kFree) break;
      *--sp = w.suffix[c];
      c = w.prefix[c];
    }
    if (c >= kFirstFree || sp == w.stack) {
      // A chain through a freed code, or longer than any real string.
      result = ZipDecodeResult::kBadData;
      break;
    }
    *--sp = w.suffix[c];

    size_t length = static_cast<size_t>(stackEnd - sp);
    firstChar = *sp;
    remaining -= static_cast<int64_t>(length);
    out.Put(sp, length);

    if (nextFree < UnshrinkWork::kCodeCount) {
      w.prefix[nextFree] = previous;
      w.suffix[nextFree] = firstChar;
      nextFree = LowestFree(w, nextFree + 1);
    }
    previous = code;
  }
  out.Flush();
  return result;
}

}  // namespace zip
