#include "stream/library_source.h"

#include <lz4.h>
#include <lz4frame.h>
#include <lzma.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "core/byte_order.h"
#include "core/output.h"
#include "platform/signal_mask.h"

namespace {

constexpr LibraryFormatInfo kFormats[] = {
    {LibraryFormat::kXz, "xz", "xz", "txz", "unxz"},
    {LibraryFormat::kLzma, "lzma", "lzma", "tlz", "unlzma"},
    {LibraryFormat::kLzip, "lzip", "lz", "tlz", "unlzip"},
    {LibraryFormat::kZstd, "zstd", "zst", "tzst", "unzstd"},
    {LibraryFormat::kLz4, "lz4", "lz4", "tlz4", "unlz4"},
};

constexpr size_t kInputSize = 1 << 20;

constexpr uint32_t kZstdMagic = 0xFD2FB528;
constexpr uint32_t kLz4Magic = 0x184D2204;
// The lz4 tool's older stream (lz4 -l, and Linux's compressed kernels and
// initramfs): this magic, then blocks of a 4-byte size and LZ4 block data,
// each decoding alone to at most 8 MiB, up to the end of the file or the
// next stream's magic. It carries no checksum.
constexpr uint32_t kLz4LegacyMagic = 0x184C2102;
constexpr int kLz4LegacyBlock = 8 << 20;
// Both formats skip frames whose magic is one of these sixteen.
bool IsSkippableMagic(uint32_t magic) { return (magic & 0xFFFFFFF0) == 0x184D2A50; }

// The lzma header: properties byte, dictionary size, uncompressed size
// (all ones: unknown, an end marker closes the data). Without a magic
// number only sane fields tell it from other data: a properties byte
// below 9 * 5 * 5, a dictionary of 2^n or 2^n + 2^(n-1) bytes up to the
// 1.5 GiB the encoders go to, a size below 256 GiB.
bool LooksLikeLzmaHeader(const uint8_t* head, size_t size) {
  if (size < 13 || head[0] >= 9 * 5 * 5) return false;
  const uint32_t dictionary = LoadLe32(head + 1);
  bool sane = false;
  for (int n = 12; n <= 30 && !sane; ++n) {
    sane = dictionary == (1u << n) || dictionary == (1u << n) + (1u << (n - 1));
  }
  const uint64_t length = LoadLe64(head + 5);
  return sane && (length == UINT64_MAX || length < (uint64_t{1} << 38));
}

enum class Step { kMore, kEnd, kDamaged, kTruncated };

}  // namespace

const LibraryFormatInfo& InfoOf(LibraryFormat format) { return kFormats[static_cast<int>(format)]; }

bool StartsLibraryStream(LibraryFormat format, const uint8_t* head, size_t size) {
  switch (format) {
    case LibraryFormat::kXz:
      return size >= 6 && memcmp(head, "\xFD" "7zXZ\0", 6) == 0;
    case LibraryFormat::kLzip:
      return size >= 5 && memcmp(head, "LZIP\x01", 5) == 0;
    case LibraryFormat::kLzma:
      return LooksLikeLzmaHeader(head, size);
    case LibraryFormat::kZstd:
    case LibraryFormat::kLz4: {
      const uint32_t wanted = format == LibraryFormat::kZstd ? kZstdMagic : kLz4Magic;
      // Skippable frames first, then the format's own frame; a file whose
      // skippable frames fill what is at hand is left to the library.
      for (size_t at = 0;;) {
        if (at + 4 > size) return at > 0;
        const uint32_t magic = LoadLe32(head + at);
        if (magic == wanted || (format == LibraryFormat::kLz4 && magic == kLz4LegacyMagic)) return true;
        if (!IsSkippableMagic(magic) || at + 8 > size) return false;
        at += 8 + static_cast<size_t>(LoadLe32(head + at + 4));
      }
    }
  }
  return false;
}

struct LibrarySource::State {
  explicit State(LibraryFormat format) : format(format) {}
  ~State() {
    if (file != nullptr) fclose(file);
    lzma_end(&lzma);
    ZSTD_freeDStream(zstd);
    if (lz4 != nullptr) LZ4F_freeDecompressionContext(lz4);
  }

  LibraryFormat format;
  FILE* file = nullptr;
  // Buffers are left uninitialised: they are filled before they are read.
  std::unique_ptr<uint8_t[]> input;
  size_t inputSize = 0;
  size_t inPos = 0, inLength = 0;
  bool inputEnded = false;  // the file has no more bytes
  bool ended = false;       // the data ended: `final` says how
  int32_t final = 0;        // 0 (a clean end), kSourceDamaged or kSourceTruncated
  lzma_stream lzma = LZMA_STREAM_INIT;
  ZSTD_DStream* zstd = nullptr;
  LZ4F_dctx* lz4 = nullptr;
  bool frameOpen = false;   // zstd, lz4: inside a frame
  bool legacy = false;      // lz4: inside a legacy stream, between its blocks
  std::unique_ptr<uint8_t[]> decoded;  // lz4: a legacy block's room
  size_t decodedPos = 0, decodedEnd = 0;  // what of it is still to hand out

  bool Start() {
    switch (format) {
      case LibraryFormat::kXz: {
        // Files of several blocks are decoded on every core, as xz -T0 does;
        // one block runs on one thread.
        lzma_mt mt{};
        mt.flags = LZMA_CONCATENATED;
        mt.threads = std::max(1u, std::thread::hardware_concurrency());
        mt.memlimit_threading = std::min<uint64_t>(lzma_physmem() / 4, kLzmaMemoryLimit);
        mt.memlimit_stop = kLzmaMemoryLimit;
        return lzma_stream_decoder_mt(&lzma, &mt) == LZMA_OK;
      }
      case LibraryFormat::kLzma:
        return lzma_alone_decoder(&lzma, kLzmaMemoryLimit) == LZMA_OK;
      case LibraryFormat::kLzip:
        return lzma_lzip_decoder(&lzma, kLzmaMemoryLimit, LZMA_CONCATENATED) == LZMA_OK;
      case LibraryFormat::kZstd:
        zstd = ZSTD_createDStream();
        return zstd != nullptr && !ZSTD_isError(ZSTD_initDStream(zstd));
      case LibraryFormat::kLz4:
        return !LZ4F_isError(LZ4F_createDecompressionContext(&lz4, LZ4F_VERSION));
    }
    return false;
  }

  // One library call from the input at hand into out[0, room): `made`
  // bytes given.
  Step Decode(uint8_t* out, size_t room, size_t& made) {
    // Between lz4 frames a legacy stream may stand; where none does, the
    // frame decoder goes on.
    if (format == LibraryFormat::kLz4 && (legacy || decodedPos < decodedEnd || !frameOpen)) {
      const Step step = DecodeLegacy(out, room, made);
      if (step != Step::kEnd) return step;
    }
    const uint8_t* in = input.get() + inPos;
    const size_t available = inLength - inPos;
    const bool last = inputEnded && available == 0;
    if (format == LibraryFormat::kZstd || format == LibraryFormat::kLz4) {
      size_t taken = 0;
      bool failed;
      if (format == LibraryFormat::kZstd) {
        ZSTD_inBuffer ib{in, available, 0};
        ZSTD_outBuffer ob{out, room, 0};
        const size_t r = ZSTD_decompressStream(zstd, &ob, &ib);
        failed = ZSTD_isError(r);
        taken = ib.pos;
        made = ob.pos;
        // A call that moved nothing leaves the frame as it was (after a
        // frame's end it asks for the next frame's header).
        if (!failed && (taken > 0 || made > 0)) frameOpen = r != 0;
      } else {
        size_t given = room;
        taken = available;
        const size_t r = LZ4F_decompress(lz4, out, &given, in, &taken, nullptr);
        failed = LZ4F_isError(r);
        made = given;
        if (!failed && (taken > 0 || made > 0)) frameOpen = r != 0;
      }
      inPos += taken;
      if (failed) return Step::kDamaged;
      if (last && taken == 0 && made == 0) return frameOpen ? Step::kTruncated : Step::kEnd;
      return Step::kMore;
    }
    lzma.next_in = in;
    lzma.avail_in = available;
    lzma.next_out = out;
    lzma.avail_out = room;
    // liblzma makes its decoder threads inside this call.
    lzma_ret r;
    {
      InterruptsBlocked blocked;
      r = lzma_code(&lzma, last ? LZMA_FINISH : LZMA_RUN);
    }
    inPos += available - lzma.avail_in;
    made = room - lzma.avail_out;
    switch (r) {
      case LZMA_OK:
        return Step::kMore;
      case LZMA_STREAM_END:
        return Step::kEnd;
      case LZMA_BUF_ERROR:  // no progress with all input given: cut short
        return last ? Step::kTruncated : Step::kMore;
      default:
        return Step::kDamaged;
    }
  }

  // lz4 legacy streams. kEnd: none is at hand (the frame decoder goes on
  // from inPos); otherwise one step of one: a magic or a block taken, or
  // decoded bytes handed out.
  Step DecodeLegacy(uint8_t* out, size_t room, size_t& made) {
    made = 0;
    if (decodedPos < decodedEnd) {
      made = std::min(room, decodedEnd - decodedPos);
      memcpy(out, decoded.get() + decodedPos, made);
      decodedPos += made;
      return Step::kMore;
    }
    const size_t atHand = Gather(4);
    if (atHand < 4) {
      // The file ends between blocks (a clean end) or inside a size.
      return legacy && atHand > 0 ? Step::kTruncated : Step::kEnd;
    }
    const uint32_t word = LoadLe32(input.get() + inPos);
    if (word == kLz4LegacyMagic) {
      inPos += 4;
      legacy = true;
      return Step::kMore;
    }
    // Anything larger than a block can be is the next frame's magic (or not
    // lz4 data, which the frame decoder names).
    if (!legacy || word > static_cast<uint32_t>(LZ4_COMPRESSBOUND(kLz4LegacyBlock))) {
      legacy = false;
      return Step::kEnd;
    }
    if (Gather(4 + size_t{word}) < 4 + size_t{word}) return Step::kTruncated;
    if (decoded == nullptr) decoded.reset(new (std::nothrow) uint8_t[kLz4LegacyBlock]);
    if (decoded == nullptr) return Step::kDamaged;  // no memory for a block
    const int length = LZ4_decompress_safe(reinterpret_cast<const char*>(input.get() + inPos + 4),
                                           reinterpret_cast<char*>(decoded.get()), static_cast<int>(word),
                                           kLz4LegacyBlock);
    if (length <= 0) return Step::kDamaged;
    inPos += 4 + size_t{word};
    decodedPos = 0;
    decodedEnd = static_cast<size_t>(length);
    return Step::kMore;
  }

  // Makes at least `want` bytes of input stand at inPos when the file holds
  // them (growing the buffer for a large block); what is at hand.
  size_t Gather(size_t want) {
    if (inLength - inPos >= want || inputEnded) return inLength - inPos;
    if (inputSize < want) {
      // Grown once, to the largest block a legacy stream can hold.
      const size_t size = std::max(want, static_cast<size_t>(LZ4_COMPRESSBOUND(kLz4LegacyBlock)) + 4);
      std::unique_ptr<uint8_t[]> larger(new (std::nothrow) uint8_t[size]);
      if (larger == nullptr) return inLength - inPos;  // read as cut short
      memcpy(larger.get(), input.get() + inPos, inLength - inPos);
      input = std::move(larger);
      inputSize = size;
    } else {
      memmove(input.get(), input.get() + inPos, inLength - inPos);
    }
    inLength -= inPos;
    inPos = 0;
    while (inLength < want) {
      const size_t got = fread(input.get() + inLength, 1, inputSize - inLength, file);
      if (got == 0) {
        inputEnded = true;
        break;
      }
      inLength += got;
    }
    return inLength - inPos;
  }
};

bool LibrarySource::Open(const char* path) {
  Close();
  FILE* file = OpenFileStream(path, "rb");
  if (file == nullptr) return false;
  uint8_t head[64];
  const size_t got = fread(head, 1, sizeof head, file);
  if (!StartsLibraryStream(format_, head, got) || fseek(file, 0, SEEK_SET) != 0) {
    fclose(file);
    return false;
  }
  state_ = new (std::nothrow) State(format_);
  if (state_ == nullptr) {
    fclose(file);
    return false;
  }
  state_->file = file;
  state_->input.reset(new (std::nothrow) uint8_t[kInputSize]);
  state_->inputSize = kInputSize;
  if (state_->input == nullptr) {
    Close();
    return false;
  }
  if (!state_->Start()) {
    Close();
    return false;
  }
  return true;
}

int32_t LibrarySource::Read(void* buffer, int32_t count) {
  if (state_ == nullptr || count <= 0) return 0;
  State& s = *state_;
  if (s.ended) return s.final;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t made = 0;
  while (made == 0) {
    s.Gather(1);  // more input once all at hand is taken
    size_t piece = 0;
    const Step step = s.Decode(out, static_cast<size_t>(count), piece);
    made += piece;
    if (step == Step::kMore) continue;
    s.ended = true;
    s.final = step == Step::kEnd ? 0 : step == Step::kDamaged ? kSourceDamaged : kSourceTruncated;
    break;
  }
  // The bytes before the end or the damage go out first; the next read
  // reports how it ended.
  return made > 0 ? static_cast<int32_t>(made) : s.final;
}

void LibrarySource::Close() {
  delete state_;
  state_ = nullptr;
}
