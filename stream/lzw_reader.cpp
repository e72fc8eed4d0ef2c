#include "stream/lzw_reader.h"

#include <cstring>
#include <new>

#include "core/byte_order.h"
#include "core/output.h"

namespace {

constexpr uint8_t kMagic0 = 0x1F;
constexpr uint8_t kMagic1 = 0x9D;
constexpr uint8_t kMaxBitsMask = 0x1F;
constexpr uint8_t kBlockModeFlag = 0x80;
constexpr int kLargestWidth = 16;
constexpr int kInitialWidth = 9;
constexpr uint32_t kClearCode = 256;

// Input is read 30,000 bytes at a time after the unread rest (fewer than 64
// bytes when a read is made). The eight bytes after the data let the code
// fetch load four bytes at the last data byte without leaving the buffer.
constexpr size_t kInputChunk = 30000;
constexpr size_t kRefillBelow = 64;
constexpr size_t kInputSize = kInputChunk + kRefillBelow + 8;

// The table has 2^16 entries whatever the stream's largest width is.
constexpr uint32_t kTableSize = 1u << kLargestWidth;
// Every entry above 255 adds one byte to an entry below it, so no string is
// longer than the table; the code equal to the next free entry adds one more.
constexpr uint32_t kLongestString = kTableSize;

// Decoded bytes wait in a fixed queue. Decoding pauses while less than one
// longest string fits, so memory stays bounded however well the input
// compresses, and resumes where it stopped on the next read.
constexpr size_t kQueueSize = (256u << 10) + kLongestString;

enum class LoopEnd { kInputUsed, kRealign, kQueueFull, kCorrupt };

}  // namespace

struct LzwReader {
  // Where the compressed bytes come from: a file, or bytes in memory.
  FILE* file = nullptr;
  const uint8_t* memory = nullptr;
  size_t memorySize = 0;
  size_t memoryPos = 0;

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

  uint8_t input[kInputSize];
  size_t inBytes = 0;     // bytes held in `input`
  size_t bitPos = 0;      // bit of the next code in `input`
  size_t usableBits = 0;  // codes are decoded while bitPos is below this
  size_t lastRead = 1;    // byte count of the last input read
  bool refillPending = true;
  bool endFlag = false;   // input used up
  bool failed = false;    // corrupt codes met

  uint8_t* queue = nullptr;
  size_t queueStart = 0;
  size_t queueEnd = 0;
};

namespace {

size_t ReadInput(LzwReader* r, uint8_t* to, size_t count) {
  if (r->file != nullptr) return fread(to, 1, count, r->file);
  size_t n = r->memorySize - r->memoryPos;
  if (n > count) n = count;
  if (n == 0) return 0;
  memcpy(to, r->memory + r->memoryPos, n);
  r->memoryPos += n;
  return n;
}

// Moves the unread bytes to the front, tops the buffer up when it runs low,
// and sets how many bits may be decoded. While more input may come only
// whole groups of eight codes (nBits bytes) are decoded, so a group never
// straddles a refill; at the end every complete code is.
void Refill(LzwReader* r) {
  size_t from = r->bitPos >> 3;
  if (from > r->inBytes) from = r->inBytes;  // a group alignment past the end
  memmove(r->input, r->input + from, r->inBytes - from);
  r->inBytes -= from;
  r->bitPos = 0;
  if (r->inBytes < kRefillBelow) {
    r->lastRead = ReadInput(r, r->input + r->inBytes, kInputChunk);
    r->inBytes += r->lastRead;
  }
  memset(r->input + r->inBytes, 0, kInputSize - r->inBytes);
  size_t bytes = r->inBytes;
  if (r->lastRead > 0) {
    r->usableBits = (bytes - bytes % static_cast<size_t>(r->nBits)) * 8;
  } else {
    size_t tail = static_cast<size_t>(r->nBits - 1);
    r->usableBits = bytes * 8 > tail ? bytes * 8 - tail : 0;
  }
}

// Codes are written in groups of eight; a width change or a CLEAR skips the
// rest of the current group, measured in the width in force before it.
inline size_t AlignToGroup(size_t bitPos, int nBits) {
  size_t group = static_cast<size_t>(nBits) * 8;
  return (bitPos + group - 1) / group * group;
}

// The decoding loop, with the state in locals. Strings are written straight
// into the queue: the table's length gives where a string ends, and the
// prefix chain fills it back to front.
LoopEnd DecodeLoop(LzwReader* r) {
  const uint8_t* in = r->input;
  uint16_t* prefix = r->prefix;
  uint8_t* suffix = r->suffix;
  uint32_t* length = r->length;
  size_t bitPos = r->bitPos;
  const size_t usable = r->usableBits;
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

  while (bitPos < usable) {
    if (freeEnt > maxcode) {
      bitPos = AlignToGroup(bitPos, nBits);
      ++nBits;
      maxcode = nBits == r->maxbits ? maxmaxcode : (1u << nBits) - 1;
      end = LoopEnd::kRealign;
      break;
    }
    if (out > outLimit) {
      end = LoopEnd::kQueueFull;
      break;
    }
    uint32_t word = LoadLe32(in + (bitPos >> 3));
    uint32_t code = (word >> (bitPos & 7)) & mask;
    bitPos += static_cast<size_t>(nBits);

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
      bitPos = AlignToGroup(bitPos, nBits);
      nBits = kInitialWidth;
      maxcode = (1u << kInitialWidth) - 1;
      end = LoopEnd::kRealign;
      break;
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
    }
    oldcode = static_cast<int32_t>(incode);
  }

  r->bitPos = bitPos;
  r->nBits = nBits;
  r->maxcode = maxcode;
  r->freeEnt = freeEnt;
  r->oldcode = oldcode;
  r->finchar = static_cast<uint8_t>(finchar);
  r->queueEnd = static_cast<size_t>(out - r->queue);
  return end;
}

// Decodes until the queue holds something, the input ends or a code is
// corrupt. False on corrupt input.
bool DecodeStep(LzwReader* r) {
  for (;;) {
    if (r->refillPending) {
      Refill(r);
      r->refillPending = false;
    }
    switch (DecodeLoop(r)) {
      case LoopEnd::kCorrupt:
        return false;
      case LoopEnd::kQueueFull:
        return true;
      case LoopEnd::kRealign:
        r->refillPending = true;
        break;
      case LoopEnd::kInputUsed:
        if (r->lastRead == 0) {
          r->endFlag = true;
          return true;
        }
        r->refillPending = true;
        if (r->queueEnd > r->queueStart) return true;
        break;
    }
  }
}

LzwReader* Start(LzwReader* r) {
  uint8_t header[3];
  if (ReadInput(r, header, 3) != 3 || header[0] != kMagic0 || header[1] != kMagic1 ||
      (header[2] & kMaxBitsMask) > kLargestWidth) {
    LzwClose(r);
    return nullptr;
  }
  r->queue = new (std::nothrow) uint8_t[kQueueSize];
  if (r->queue == nullptr) {
    LzwClose(r);
    return nullptr;
  }
  r->maxbits = header[2] & kMaxBitsMask;
  r->blockMode = (header[2] & kBlockModeFlag) != 0;
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
  return Start(r);
}

LzwReader* LzwOpenMemory(const uint8_t* data, size_t size) {
  LzwReader* r = new (std::nothrow) LzwReader;
  if (r == nullptr) return nullptr;
  r->memory = data;
  r->memorySize = data != nullptr ? size : 0;
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
