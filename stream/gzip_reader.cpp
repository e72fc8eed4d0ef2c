#include "stream/gzip_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <vector>

#include "core/byte_order.h"
#include "core/checksum.h"
#include "core/output.h"

namespace gzip {

namespace {

constexpr size_t kInputSize = 256 * 1024;
// Room in front of the file input for bytes the inflater hands back at the
// end of a member: ISA-L's bit buffer holds at most 8 whole bytes. More
// than that (zlib took over a stream from ISA-L and hands back the unused
// end of everything it was given) goes in front through `spare`.
constexpr size_t kHeadroom = 8;

constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;
constexpr uint8_t kFlagReserved = 0xE0;

enum class Mode { kStart, kHeader, kBody, kTrailer, kLook, kCopy, kDone, kFailed };
enum class Stop { kFull, kEnd, kError };

}  // namespace

struct GzipReader {
  GzipReader(flate::InflateBackend backend) : inflater(backend) {}

  FILE* file = nullptr;
  const uint8_t* memory = nullptr;
  size_t memorySize = 0;
  uint8_t* buffer = nullptr;  // file input, kHeadroom bytes into its allocation
  size_t inputSize = kInputSize;  // the buffer's size behind the headroom
  const uint8_t* next = nullptr;
  size_t avail = 0;
  std::vector<uint8_t> spare;  // handed-back input that did not fit in front
  bool inSpare = false;        // `next` points into `spare`

  flate::Inflater inflater;
  Mode mode = Mode::kStart;
  uint32_t crc = 0;        // of the member's output so far
  uint32_t size = 0;       // the same, modulo 2^32
  uint32_t headerCrc = 0;  // of the member's header bytes so far
  bool truncated = false;  // the data ended inside a member
  uint64_t fed = 0;        // input bytes taken in so far
  int64_t trailingAt = -1; // where data that is not a member starts, if not only zeros

  // At least `n` input bytes in `next`/`avail`; false when the data ends
  // first (what there is stays available).
  bool Ensure(size_t n) {
    if (avail >= n) return true;
    if (memory != nullptr) {
      next = memory;
      avail = memorySize;
      fed += memorySize;
      memory = nullptr;
      return avail >= n;
    }
    if (file == nullptr) return false;
    // Asked only for a few bytes (a header field, the trailer): what is
    // left fits in the buffer, also when it comes from `spare`.
    if (avail > 0 && next != buffer) memmove(buffer, next, avail);
    next = buffer;
    inSpare = false;
    while (avail < n) {
      const size_t got = fread(buffer + avail, 1, inputSize - avail, file);
      if (got == 0) break;
      avail += got;
      fed += got;
    }
    return avail >= n;
  }

  // Puts `n` bytes the inflater took but did not use back in front of the
  // input. In memory they are there already; from a file they are the last
  // bytes taken, copied in front of `next` while the headroom and the
  // bytes already passed in this buffer hold them. A longer tail may reach
  // back past the buffer's present fill: it is joined with the rest in
  // `spare`.
  void PutBack(const uint8_t* back, size_t n) {
    if (n == 0) return;  // `back` may be null then
    if (file == nullptr) {
      next -= n;
      avail += n;
      return;
    }
    if (!inSpare && static_cast<size_t>(next - buffer) + kHeadroom >= n) {
      memcpy(const_cast<uint8_t*>(next) - n, back, n);
      next -= n;
      avail += n;
      return;
    }
    std::vector<uint8_t> joined(back, back + n);
    joined.insert(joined.end(), next, next + avail);
    spare.swap(joined);
    next = spare.data();
    avail = spare.size();
    inSpare = true;
  }

  // The next input byte (counted into the header check), or -1 at the end.
  int HeaderByte() {
    if (!Ensure(1)) return -1;
    const uint8_t b = *next++;
    --avail;
    headerCrc = Crc32Update(headerCrc, &b, 1);
    return b;
  }

  // Reads a member header behind its two magic bytes (already counted).
  // kFull when it is sound, kEnd when the data ends inside it.
  Stop ReadHeader() {
    int fixed[8];
    for (int& b : fixed) {
      if ((b = HeaderByte()) < 0) return Stop::kEnd;
    }
    const int flags = fixed[1];
    if (fixed[0] != 8 || (flags & kFlagReserved)) return Stop::kError;
    if (flags & kFlagExtra) {
      const int lo = HeaderByte();
      const int hi = HeaderByte();
      if (lo < 0 || hi < 0) return Stop::kEnd;
      for (int n = lo | hi << 8; n > 0; --n) {
        if (HeaderByte() < 0) return Stop::kEnd;
      }
    }
    for (uint8_t field : {kFlagName, kFlagComment}) {
      if (!(flags & field)) continue;
      for (int b; (b = HeaderByte()) != 0;) {
        if (b < 0) return Stop::kEnd;
      }
    }
    if (flags & kFlagHeaderCrc) {
      const uint16_t expected = static_cast<uint16_t>(headerCrc);
      const int lo = HeaderByte();
      const int hi = HeaderByte();
      if (lo < 0 || hi < 0) return Stop::kEnd;
      if ((lo | hi << 8) != expected) return Stop::kError;
    }
    return Stop::kFull;
  }

  // Checks the trailer: CRC-32 and length of the member's output.
  Stop ReadTrailer() {
    uint8_t t[8];
    for (uint8_t& b : t) {
      const int c = HeaderByte();
      if (c < 0) return Stop::kEnd;
      b = static_cast<uint8_t>(c);
    }
    return LoadLe32(t) == crc && LoadLe32(t + 4) == size ? Stop::kFull : Stop::kError;
  }

  // Whether two magic bytes come next (taken when they do). At the start a
  // missing magic means a plain file, after a member trailing garbage.
  bool TakeMagic() {
    if (!Ensure(2) || next[0] != 0x1F || next[1] != 0x8B) return false;
    next += 2;
    avail -= 2;
    headerCrc = Crc32Update(0, "\x1F\x8B", 2);
    return true;
  }

  // Decodes into out[0, room); `produced` counts what was given.
  Stop Decode(uint8_t* out, size_t room, size_t& produced) {
    produced = 0;
    for (;;) {
      switch (mode) {
        case Mode::kStart:
          mode = TakeMagic() ? Mode::kHeader : Mode::kCopy;
          break;
        case Mode::kLook:
          if (TakeMagic()) {
            mode = Mode::kHeader;
          } else {
            mode = Mode::kDone;
            FindTrailingData();
          }
          break;
        case Mode::kHeader: {
          const Stop s = ReadHeader();
          if (s != Stop::kFull) return Finish(s);
          inflater.Reset();
          crc = 0;
          size = 0;
          mode = Mode::kBody;
          break;
        }
        case Mode::kBody: {
          if (room == 0) return Stop::kFull;
          // At the end of the input the decoder may still hold output.
          const bool inputLeft = Ensure(1);
          uint8_t* const start = out;
          const size_t before = avail;
          const flate::InflateResult r = inflater.Run(next, avail, out, room);
          const size_t made = static_cast<size_t>(out - start);
          crc = Crc32Update(crc, start, made);
          size += static_cast<uint32_t>(made);
          produced += made;
          if (r == flate::InflateResult::kError) return Finish(Stop::kError);
          if (r == flate::InflateResult::kEnd) {
            // Input the inflater took but the member did not use goes back
            // in front of the rest: in memory it is there already.
            const uint8_t* back;
            const size_t n = inflater.Leftover(&back);
            PutBack(back, n);
            mode = Mode::kTrailer;
          } else if (made == 0 && avail == before && room > 0) {
            // No progress: the data ended early, or the decoder is stuck
            // with input and room at hand.
            return Finish(inputLeft ? Stop::kError : Stop::kEnd);
          }
          break;
        }
        case Mode::kTrailer: {
          const Stop s = ReadTrailer();
          if (s != Stop::kFull) return Finish(s);
          mode = Mode::kLook;
          break;
        }
        case Mode::kCopy: {
          while (room > 0) {
            if (!Ensure(1)) {
              mode = Mode::kDone;
              return Stop::kEnd;
            }
            const size_t n = avail < room ? avail : room;
            memcpy(out, next, n);
            out += n;
            next += n;
            avail -= n;
            room -= n;
            produced += n;
          }
          return Stop::kFull;
        }
        case Mode::kDone:
          return Stop::kEnd;
        case Mode::kFailed:
          return Stop::kError;
      }
    }
  }

  // After the last member: notes where other data than zero bytes (which
  // tape blocking leaves) starts.
  void FindTrailingData() {
    const uint64_t start = fed - avail;
    while (Ensure(1)) {
      for (size_t i = 0; i < avail; ++i) {
        if (next[i] != 0) {
          trailingAt = static_cast<int64_t>(start);
          avail = 0;
          return;
        }
      }
      next += avail;
      avail = 0;
    }
  }

  // Ends the data: damaged, or (kEnd) cut inside a member.
  Stop Finish(Stop s) {
    mode = s == Stop::kError ? Mode::kFailed : Mode::kDone;
    truncated = s == Stop::kEnd;
    return s;
  }
};

namespace {

GzipReader* NewReader(flate::InflateBackend backend) {
  auto* reader = new (std::nothrow) GzipReader(backend);
  if (reader != nullptr && !reader->inflater.ok()) {
    delete reader;
    return nullptr;
  }
  return reader;
}

}  // namespace

GzipReader* GzipOpen(const char* path, flate::InflateBackend backend) {
  FILE* file = OpenFileStream(path, "rb");
  if (file == nullptr) return nullptr;
  return GzipOpenStream(file, backend, kInputSize);
}

GzipReader* GzipOpenStream(FILE* file, flate::InflateBackend backend, size_t inputSize) {
  inputSize = std::max(inputSize, kHeadroom);
  GzipReader* reader = NewReader(backend);
  uint8_t* buffer = reader != nullptr ? new (std::nothrow) uint8_t[kHeadroom + inputSize] : nullptr;
  if (buffer == nullptr) {
    delete reader;
    fclose(file);
    return nullptr;
  }
  reader->file = file;
  reader->buffer = buffer + kHeadroom;
  reader->inputSize = inputSize;
  return reader;
}

GzipReader* GzipOpenMemory(const uint8_t* data, size_t size, flate::InflateBackend backend) {
  GzipReader* reader = NewReader(backend);
  if (reader == nullptr) return nullptr;
  reader->memory = data;
  reader->memorySize = size;
  return reader;
}

int32_t GzipRead(GzipReader* reader, void* buffer, int32_t count) {
  if (reader == nullptr || reader->mode == Mode::kFailed) return -1;
  if (count <= 0) return 0;
  size_t produced;
  const Stop s = reader->Decode(static_cast<uint8_t*>(buffer), static_cast<size_t>(count), produced);
  // The bytes before damage go out first; the next read reports it.
  if (s == Stop::kError && produced == 0) return -1;
  return static_cast<int32_t>(produced);
}

bool GzipTruncated(const GzipReader* reader) { return reader != nullptr && reader->truncated; }

int64_t GzipTrailingAt(const GzipReader* reader) { return reader != nullptr ? reader->trailingAt : -1; }

void GzipClose(GzipReader* reader) {
  if (reader == nullptr) return;
  if (reader->file != nullptr) fclose(reader->file);
  if (reader->buffer != nullptr) delete[] (reader->buffer - kHeadroom);
  delete reader;
}

}  // namespace gzip
