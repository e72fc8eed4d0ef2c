#include "stream/lzw_reader.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "codec/bit_input.h"
#include "codec/lsb_bit_reader.h"
#include "core/output.h"

namespace lzw {

namespace {

constexpr uint8_t kMagic0 = 0x1F;
constexpr uint8_t kMagic1 = 0x9D;
constexpr uint8_t kMaxBitsMask = 0x1F;
constexpr uint8_t kBlockModeFlag = 0x80;
constexpr int kLargestWidth = 16;
constexpr int kInitialWidth = 9;
constexpr uint32_t kClearCode = 256;
static_assert(kLargestWidth <= static_cast<int>(codec::kLsbGroupMax), "a group of codes fits a block");

// The table has 2^16 entries whatever the stream's largest width is.
constexpr uint32_t kTableSize = 1u << kLargestWidth;
// Every entry above 255 adds one byte to an entry below it, so no string is
// longer than the table; the code equal to the next free entry adds one more.
constexpr uint32_t kLongestString = kTableSize;

// Decoded bytes wait in a fixed queue. Decoding pauses while less than one
// longest string fits, so memory stays bounded however well the input
// compresses, and resumes where it stopped on the next read.
constexpr size_t kQueueSize = (256u << 10) + kLongestString;

enum class LoopEnd { kInputUsed, kQueueFull, kCorrupt };

}  // namespace

struct LzwReader {
  // Compressed bytes: a file read in pieces, or bytes in memory.
  FILE* file = nullptr;
  codec::FileBitInput fileInput;
  codec::BitReader bits;

  int maxbits = 0;          // largest code width of the stream
  bool blockMode = false;   // code 256 is CLEAR
  int nBits = kInitialWidth;
  uint32_t maxcode = (1u << kInitialWidth) - 1;  // largest entry for nBits
  uint32_t maxmaxcode = 0;  // 2^maxbits: no entry is made at or above it
  uint32_t freeEnt = 0;     // next entry to fill
  int32_t oldcode = -1;     // previous code; -1 before the first
  uint8_t finchar = 0;      // first byte of the previous code's string

  // The string table: entry = string(prefix) + suffix; entries below 256
  // are single bytes. `length` lets a string be written straight into the
  // queue back to front.
  uint16_t prefix[kTableSize];
  uint8_t suffix[kTableSize];
  uint32_t length[kTableSize];

  // Codes come in groups of eight (nBits bytes); a width change or a CLEAR
  // skips the rest of the current group. They are read from a block of
  // whole groups.
  codec::LsbBlock block{};
  uint32_t blockPos = 0;    // bit of the next code in the block
  uint32_t blockLimit = 0;  // codes start below this bit; 0 when used up

  bool endFlag = false;   // input used up
  bool failed = false;    // corrupt codes met

  uint8_t* queue = nullptr;
  size_t queueStart = 0;
  size_t queueEnd = 0;
};

namespace {

// A width change or a CLEAR skips the rest of the current group of codes
// (`pos` is a bit of the current block, which starts on a group); the next
// block starts after it.
void SkipRestOfGroup(LzwReader* r, uint32_t pos, int nBits) {
  const uint32_t groupBits = static_cast<uint32_t>(nBits) * 8;
  const uint32_t groups = (pos + groupBits - 1) / groupBits;
  ReturnLsbBlockRest(r->bits, r->block, static_cast<size_t>(groups) * static_cast<uint32_t>(nBits));
}

// The decoding loop, with the state in locals. Codes are read from the
// current block with no per-code refill; the next block is taken when this
// one is used up. Strings are written straight into the queue: the table's
// length gives where a string ends, and the prefix chain fills it back to
// front.
LoopEnd DecodeLoop(LzwReader* r) {
  const uint8_t* data = r->block.data;
  uint32_t pos = r->blockPos;
  uint32_t limit = r->blockLimit;
  uint16_t* prefix = r->prefix;
  uint8_t* suffix = r->suffix;
  uint32_t* length = r->length;
  int nBits = r->nBits;
  uint32_t mask = (1u << nBits) - 1;
  uint32_t maxcode = r->maxcode;
  const uint32_t maxmaxcode = r->maxmaxcode;
  uint32_t freeEnt = r->freeEnt;
  int32_t oldcode = r->oldcode;
  uint32_t finchar = r->finchar;
  uint8_t* out = r->queue + r->queueEnd;
  uint8_t* const outLimit = r->queue + (kQueueSize - kLongestString);
  LoopEnd end = LoopEnd::kInputUsed;

  for (;;) {
    if (out > outLimit) {
      end = LoopEnd::kQueueFull;
      break;
    }
    if (pos >= limit) {
      const uint32_t width = static_cast<uint32_t>(nBits);
      TakeLsbGroups(r->bits, r->block, width);
      data = r->block.data;
      // Only whole codes are decoded: a partial one at the end is dropped.
      const uint32_t bits = static_cast<uint32_t>(LsbBlockBits(r->bits, r->block));
      if (bits < width) {
        limit = 0;
        break;
      }
      pos = 0;
      limit = bits - width + 1;
    }
    uint32_t code = codec::PeekLsbBlock(data, pos, mask);
    pos += static_cast<uint32_t>(nBits);

    if (oldcode < 0) {
      if (code >= 256) {
        end = LoopEnd::kCorrupt;
        break;
      }
      *out++ = static_cast<uint8_t>(code);
      finchar = code;
      oldcode = static_cast<int32_t>(code);
      continue;
    }
    if (code == kClearCode && r->blockMode) {
      // The previous code stays: the entry made by the next code is 256,
      // which no later code refers to.
      freeEnt = 256;
      SkipRestOfGroup(r, pos, nBits);
      limit = 0;
      nBits = kInitialWidth;
      mask = (1u << kInitialWidth) - 1;
      maxcode = mask;
      continue;
    }
    if (code > freeEnt) {
      end = LoopEnd::kCorrupt;
      break;
    }

    const uint32_t incode = code;
    if (code < 256) {
      *out++ = static_cast<uint8_t>(code);
      finchar = code;
    } else {
      uint32_t len;
      uint8_t* last;
      if (code == freeEnt) {
        // The string being defined: the previous string and its own first
        // byte.
        len = length[oldcode] + 1;
        if (len > kLongestString) {
          end = LoopEnd::kCorrupt;
          break;
        }
        out[len - 1] = static_cast<uint8_t>(finchar);
        last = out + len - 2;
        code = static_cast<uint32_t>(oldcode);
      } else {
        len = length[code];
        if (len > kLongestString) {
          end = LoopEnd::kCorrupt;
          break;
        }
        last = out + len - 1;
      }
      // Exactly len bytes are written, whatever the table holds.
      while (last > out) {
        *last-- = suffix[code];
        code = prefix[code];
      }
      finchar = code & 0xFF;
      *out = static_cast<uint8_t>(finchar);
      out += len;
    }

    if (freeEnt < maxmaxcode) {
      prefix[freeEnt] = static_cast<uint16_t>(oldcode);
      suffix[freeEnt] = static_cast<uint8_t>(finchar);
      length[freeEnt] = length[oldcode] + 1;
      ++freeEnt;
      if (freeEnt > maxcode) {
        // The next code is one bit wider.
        SkipRestOfGroup(r, pos, nBits);
        limit = 0;
        ++nBits;
        mask = (1u << nBits) - 1;
        maxcode = nBits == r->maxbits ? maxmaxcode : mask;
      }
    }
    oldcode = static_cast<int32_t>(incode);
  }

  r->blockPos = pos;
  r->blockLimit = limit;
  r->nBits = nBits;
  r->maxcode = maxcode;
  r->freeEnt = freeEnt;
  r->oldcode = oldcode;
  r->finchar = static_cast<uint8_t>(finchar);
  r->queueEnd = static_cast<size_t>(out - r->queue);
  return end;
}

// Decodes until the queue is full, the input ends or a code is corrupt.
// False on corrupt input.
bool DecodeStep(LzwReader* r) {
  switch (DecodeLoop(r)) {
    case LoopEnd::kCorrupt:
      return false;
    case LoopEnd::kInputUsed:
      r->endFlag = true;
      return true;
    case LoopEnd::kQueueFull:
      break;
  }
  return true;
}

LzwReader* Start(LzwReader* r) {
  const int magic0 = NextByte(r->bits);
  const int magic1 = NextByte(r->bits);
  const int flags = NextByte(r->bits);
  if (magic0 != kMagic0 || magic1 != kMagic1 || flags < 0 || (flags & kMaxBitsMask) > kLargestWidth) {
    LzwClose(r);
    return nullptr;
  }
  r->queue = new (std::nothrow) uint8_t[kQueueSize];
  if (r->queue == nullptr) {
    LzwClose(r);
    return nullptr;
  }
  r->maxbits = flags & kMaxBitsMask;
  r->blockMode = (flags & kBlockModeFlag) != 0;
  r->maxmaxcode = 1u << r->maxbits;
  r->freeEnt = r->blockMode ? 257 : 256;
  for (uint32_t i = 0; i < 256; ++i) {
    r->prefix[i] = 0;
    r->suffix[i] = static_cast<uint8_t>(i);
    r->length[i] = 1;
  }
  // Entries above 255 are always written before a valid code reads them;
  // zeros keep a corrupt stream's reads defined.
  memset(r->prefix + 256, 0, sizeof(r->prefix) - 256 * sizeof(r->prefix[0]));
  memset(r->suffix + 256, 0, sizeof(r->suffix) - 256);
  for (uint32_t i = 256; i < kTableSize; ++i) r->length[i] = 1;
  return r;
}

}  // namespace

LzwReader* LzwOpen(const char* path) {
  FILE* file = OpenFileStream(path, "rb");
  if (file == nullptr) return nullptr;
  LzwReader* r = new (std::nothrow) LzwReader;
  if (r == nullptr) {
    fclose(file);
    return nullptr;
  }
  r->file = file;
  r->fileInput.Start(file, UINT64_MAX);
  StartBits(r->bits, nullptr, 0, &r->fileInput);
  return Start(r);
}

LzwReader* LzwOpenMemory(const uint8_t* data, size_t size) {
  LzwReader* r = new (std::nothrow) LzwReader;
  if (r == nullptr) return nullptr;
  StartBits(r->bits, data, data != nullptr ? size : 0, nullptr);
  return Start(r);
}

int32_t LzwRead(LzwReader* r, void* buffer, int32_t count) {
  if (r == nullptr || buffer == nullptr || count <= 0) return 0;
  uint8_t* to = static_cast<uint8_t*>(buffer);
  size_t wanted = static_cast<size_t>(count);
  size_t done = 0;
  while (done < wanted) {
    if (r->queueStart == r->queueEnd) {
      r->queueStart = r->queueEnd = 0;
      if (r->endFlag || r->failed) break;
      if (!DecodeStep(r)) r->failed = true;
      if (r->queueStart == r->queueEnd) break;
    }
    size_t n = r->queueEnd - r->queueStart;
    if (n > wanted - done) n = wanted - done;
    memcpy(to + done, r->queue + r->queueStart, n);
    r->queueStart += n;
    done += n;
  }
  return static_cast<int32_t>(done);
}

bool LzwFailed(const LzwReader* r) { return r != nullptr && r->failed; }

int LzwClose(LzwReader* r) {
  if (r == nullptr) return 0;
  if (r->file != nullptr) fclose(r->file);
  delete[] r->queue;
  delete r;
  return 0;
}

}  // namespace lzw
