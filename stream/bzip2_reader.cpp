#include "stream/bzip2_reader.h"

#include <bzlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "core/output.h"
#include "platform/signal_mask.h"
#include "stream/bzip2_block.h"

namespace bzip2 {

namespace {

constexpr uint64_t kBlockMagic = 0x314159265359;
constexpr uint64_t kEndMagic = 0x177245385090;
constexpr uint64_t kMagicMask = (uint64_t{1} << 48) - 1;
constexpr size_t kFilePiece = 1 << 20;
// No block's bits come near this (900,000 symbols of at most 20 bits, plus
// tables); a magic that is not found within it is not there.
constexpr uint64_t kMaxBlockBytes = 4 << 20;
// Output of all blocks in flight together, by default.
constexpr size_t kOutputBudget = 32 << 20;
constexpr size_t kMinBlockOutput = 2 << 20;
constexpr size_t kReplayPiece = 64 * 1024;
constexpr size_t kSerialInput = 64 * 1024;

// For each value of the third byte of an eight-byte window, the bit shifts
// at which one of the two magics could start in the window's first byte.
struct MagicTable {
  uint8_t shifts[256] = {};
  constexpr MagicTable() {
    for (int s = 0; s < 8; ++s) {
      shifts[(kBlockMagic >> (24 + s)) & 0xFF] |= static_cast<uint8_t>(1 << s);
      shifts[(kEndMagic >> (24 + s)) & 0xFF] |= static_cast<uint8_t>(1 << s);
    }
  }
};
constexpr MagicTable kMagicTable;

uint64_t Load64(const uint8_t* p) {
  uint64_t w = 0;
  for (int i = 0; i < 8; ++i) w = w << 8 | p[i];
  return w;
}

// One block handed to the pool as a one-block stream, and what it gave.
struct Job {
  std::vector<uint8_t> input;  // "BZh", the level, the block, the end marker
  uint64_t blockBits = 0;      // the block's bits in `input`, from bit 32 on
  std::vector<uint8_t> output;
  size_t outputLimit = 0;
  size_t produced = 0;
  bool done = false;
  bool ok = false;
};

// Our own block decoder first; libbzip2 has the last word on every block it
// refuses, damaged or merely unusual.
void DecodeBlock(Job& job, BlockScratch& scratch) {
  const BlockBits bits{job.input.data(), job.input.size(), 32, 32 + job.blockBits, job.input[3] - '0'};
  job.ok = DecodeBlockBits(scratch, bits, job.outputLimit, job.output, job.produced);
  if (job.ok) return;
  job.produced = 0;
  bz_stream s{};
  if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return;
  const size_t first = std::min(kMinBlockOutput / 2, job.outputLimit);
  if (job.output.size() < first) job.output.resize(first);
  s.next_in = reinterpret_cast<char*>(job.input.data());
  s.avail_in = static_cast<unsigned>(job.input.size());
  for (;;) {
    s.next_out = reinterpret_cast<char*>(job.output.data() + job.produced);
    s.avail_out = static_cast<unsigned>(job.output.size() - job.produced);
    const int r = BZ2_bzDecompress(&s);
    job.produced = job.output.size() - s.avail_out;
    if (r == BZ_STREAM_END) {
      job.ok = s.avail_in == 0;
      break;
    }
    if (r != BZ_OK || s.avail_out != 0 || job.output.size() >= job.outputLimit) break;
    job.output.resize(std::min(job.output.size() * 2, job.outputLimit));
  }
  BZ2_bzDecompressEnd(&s);
}

class Pool {
 public:
  explicit Pool(int threads) {
    InterruptsBlocked blocked;  // the workers leave them to the main thread
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  }
  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
  }
  void Submit(Job* job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job->done = false;
      queue_.push_back(job);
    }
    wake_.notify_one();
  }
  void Wait(Job* job) {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [job] { return job->done; });
  }

 private:
  void Work() {
    BlockScratch scratch;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      Job* job = queue_.front();
      queue_.pop_front();
      lock.unlock();
      DecodeBlock(*job, scratch);
      lock.lock();
      job->done = true;
      finished_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<Job*> queue_;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

struct Item {
  enum class Kind { kBlock, kEnd, kBroken } kind;
  Job* job = nullptr;
  bool crcOk = false;        // kEnd: the stream CRC matches the blocks' CRCs
  bool last = false;         // kEnd: no stream follows
  int64_t trailingAt = -1;   // kEnd: where trailing data starts, if any
};

// The serial path: libbzip2's decompressor over the file, one stream after
// another, as `bzip2 -d` reads them. The bytes decoded before damage are
// delivered; the read after them gives -1.
struct SerialReader {
  FILE* file = nullptr;
  bz_stream strm{};
  bool active = false;            // strm holds a stream's state
  std::vector<char> input = std::vector<char>(kSerialInput);
  uint64_t fileRead = 0;          // bytes read from the file
  bool fileEnded = false;
  bool readError = false;
  int streams = 0;                // streams begun
  int64_t streamAt = 0;           // file offset of the current stream
  bool ended = false;
  bool failed = false;            // every later read gives -1
  bool truncated = false;
  int64_t trailingAt = -1;

  ~SerialReader() {
    EndStream();
    if (file != nullptr) fclose(file);
  }

  void EndStream() {
    if (active) BZ2_bzDecompressEnd(&strm);
    active = false;
  }

  // Starts a stream at the input libbzip2 has not taken yet, writing on
  // where the last one stopped.
  bool BeginStream() {
    const bz_stream at = strm;
    EndStream();
    strm = bz_stream{};
    if (BZ2_bzDecompressInit(&strm, 0, 0) != BZ_OK) return false;
    strm.next_in = at.next_in;
    strm.avail_in = at.avail_in;
    strm.next_out = at.next_out;
    strm.avail_out = at.avail_out;
    active = true;
    ++streams;
    streamAt = static_cast<int64_t>(fileRead - at.avail_in);
    return true;
  }

  bool Open(const char* path) {
    file = OpenFileStream(path, "rb");
    strm.next_in = input.data();
    return file != nullptr && BeginStream();
  }

  // Reads more of the file once libbzip2 took all it had.
  void Refill() {
    if (strm.avail_in > 0 || fileEnded) return;
    const size_t n = fread(input.data(), 1, input.size(), file);
    if (n == 0) {
      fileEnded = true;
      readError = ferror(file) != 0;
    }
    fileRead += n;
    strm.next_in = input.data();
    strm.avail_in = static_cast<unsigned>(n);
  }

  // Ends the reading: this read gives what it decoded, later ones -1.
  int32_t Fail(int32_t got, bool cut) {
    EndStream();
    failed = true;
    truncated = cut;
    return got > 0 ? got : -1;
  }

  int32_t Read(void* buffer, int32_t count) {
    if (failed) return -1;
    if (ended || count <= 0) return 0;
    strm.next_out = static_cast<char*>(buffer);
    strm.avail_out = static_cast<unsigned>(count);
    for (;;) {
      Refill();
      if (readError) return Fail(count - static_cast<int32_t>(strm.avail_out), false);
      const int r = BZ2_bzDecompress(&strm);
      const int32_t got = count - static_cast<int32_t>(strm.avail_out);
      if (r == BZ_STREAM_END) {
        Refill();
        if (strm.avail_in == 0 && fileEnded && !readError) {
          EndStream();
          ended = true;
          return got;
        }
        if (readError || !BeginStream()) return Fail(got, false);
        if (got > 0) return got;
        continue;  // an empty stream
      }
      if (r == BZ_DATA_ERROR_MAGIC && streams > 1) {
        EndStream();
        trailingAt = streamAt;
        ended = true;
        return got;
      }
      if (r != BZ_OK) return Fail(got, false);
      if (strm.avail_out == 0) return count;
      if (strm.avail_in == 0 && fileEnded) return Fail(got, true);
    }
  }
};

}  // namespace

struct Bzip2Reader {
  char path[kPathBufferSize] = {};
  FILE* file = nullptr;
  std::unique_ptr<SerialReader> serial;
  bool serialMode = false;

  // The parallel path.
  std::unique_ptr<Pool> pool;
  size_t inFlight = 0;
  size_t outputLimit = 0;
  std::vector<uint8_t> window;  // file bytes from windowByte on
  uint64_t windowByte = 0;
  bool fileEnded = false;
  bool started = false;
  bool scanDone = false;
  int level = 0;          // of the stream being scanned
  uint64_t magicBit = 0;  // where the next item's magic starts
  bool magicIsEnd = false;
  uint32_t combinedCrc = 0;  // of the blocks scanned in this stream
  std::deque<Item> items;
  std::vector<std::unique_ptr<Job>> jobs;  // every job, owned
  std::vector<Job*> spare;
  size_t frontOffset = 0;         // bytes of the front block already delivered
  uint64_t outputPos = 0;         // output offset of the front block
  std::vector<uint64_t> blockEnds;  // output offsets where delivered blocks end
  uint64_t delivered = 0;         // bytes given by reads so far
  bool ended = false;
  int64_t trailingAt = -1;

  ~Bzip2Reader() {
    pool.reset();
    serial.reset();
    if (file != nullptr) fclose(file);
  }

  uint64_t WindowEnd() const { return windowByte + window.size(); }

  // Reads more of the file; false at its end.
  bool ReadMore() {
    if (fileEnded) return false;
    const size_t old = window.size();
    window.resize(old + kFilePiece);
    const size_t n = fread(window.data() + old, 1, kFilePiece, file);
    window.resize(old + n);
    if (n == 0) fileEnded = true;
    return n > 0;
  }

  bool Have(uint64_t endByte) {
    while (WindowEnd() < endByte) {
      if (!ReadMore()) return false;
    }
    return true;
  }

  // Drops file bytes before `byte` once enough of them piled up.
  void Trim(uint64_t byte) {
    const uint64_t drop = byte - windowByte;
    if (drop < kFilePiece) return;
    window.erase(window.begin(), window.begin() + static_cast<ptrdiff_t>(drop));
    windowByte = byte;
  }

  // `bits` (at most 32) bits from bit position `pos`, whose bytes are in the
  // window (bytes past its end read as zeros).
  uint32_t Bits(uint64_t pos, int bits) const {
    uint8_t p[8] = {};
    const size_t at = static_cast<size_t>(pos / 8 - windowByte);
    memcpy(p, window.data() + at, std::min<size_t>(8, window.size() - at));
    const uint64_t w = Load64(p);
    return static_cast<uint32_t>((w >> (64 - bits - pos % 8)) & ((uint64_t{1} << bits) - 1));
  }

  // The next block or end-of-stream magic at or after bit `from`, looking
  // no further than kMaxBlockBytes. False when there is none.
  bool FindMagic(uint64_t from, uint64_t& at, bool& isEnd) {
    const uint64_t limit = from / 8 + kMaxBlockBytes;
    for (uint64_t i = from / 8; i < limit;) {
      if (i + 8 > WindowEnd()) {
        if (!ReadMore()) return false;
        continue;
      }
      const uint8_t* base = window.data();
      const uint64_t stop = std::min(WindowEnd() - 7, limit);
      for (; i < stop; ++i) {
        const uint8_t* p = base + (i - windowByte);
        const uint8_t shifts = kMagicTable.shifts[p[2]];
        if (shifts == 0) continue;
        const uint64_t w = Load64(p);
        for (int s = 0; s < 8; ++s) {
          if (!(shifts & (1 << s)) || i * 8 + s < from) continue;
          const uint64_t v = (w >> (16 - s)) & kMagicMask;
          if (v == kBlockMagic || v == kEndMagic) {
            at = i * 8 + s;
            isEnd = v == kEndMagic;
            return true;
          }
        }
      }
    }
    return false;
  }

  Job* NewJob() {
    if (!spare.empty()) {
      Job* job = spare.back();
      spare.pop_back();
      return job;
    }
    jobs.push_back(std::make_unique<Job>());
    jobs.back()->outputLimit = outputLimit;
    return jobs.back().get();
  }

  void BuildStream(Job& job, uint64_t start, uint64_t end, uint32_t blockCrc) {
    job.blockBits = end - start;
    const uint64_t from = windowByte * 8;
    OneBlockStream(window.data(), window.size(), start - from, end - from, level, blockCrc, job.input);
  }

  enum class Start { kStream, kNotBzip2, kBroken };

  // Reads the header of a stream at file byte `byte`: "BZh", the level
  // digit, then the first block's magic or (an empty stream) the end's.
  // kNotBzip2 where a byte differs from the header; kBroken for a header
  // that is cut short or not followed by a magic.
  Start StartStream(uint64_t byte) {
    for (uint64_t i = 0; i < 4; ++i) {
      if (!Have(byte + i + 1)) return Start::kBroken;
      const uint8_t c = window[byte + i - windowByte];
      if (i < 3 ? c != "BZh"[i] : c < '1' || c > '9') return Start::kNotBzip2;
    }
    level = window[byte + 3 - windowByte] - '0';
    combinedCrc = 0;
    const uint64_t first = (byte + 4) * 8;
    return FindMagic(first, magicBit, magicIsEnd) && magicBit == first ? Start::kStream : Start::kBroken;
  }

  // Appends the next item: a block handed to the pool, a stream's end, or
  // a break the parallel path cannot go past.
  void ScanNext() {
    const Item broken{Item::Kind::kBroken};
    scanDone = true;
    if (!started) {
      started = true;
      if (StartStream(0) != Start::kStream) {
        items.push_back(broken);
        return;
      }
    }
    const uint64_t start = magicBit;
    const uint64_t behind = (start + 48 + 32 + 7) / 8;  // the byte after the magic and its CRC
    if (!Have(behind)) {
      items.push_back(broken);
      return;
    }
    const uint32_t crc = Bits(start + 48, 32);
    if (magicIsEnd) {
      // The stream's end; what follows its padding is the file's end, the
      // next stream, or trailing data.
      Item end{Item::Kind::kEnd};
      end.crcOk = crc == combinedCrc;
      Start next = Start::kNotBzip2;
      if (!Have(behind + 1)) {
        end.last = true;
      } else if ((next = StartStream(behind)) == Start::kNotBzip2) {
        end.last = true;
        end.trailingAt = static_cast<int64_t>(behind);
      }
      items.push_back(end);
      if (next == Start::kBroken) items.push_back(broken);
      scanDone = next != Start::kStream;
      return;
    }
    if (!FindMagic(start + 48, magicBit, magicIsEnd)) {
      items.push_back(broken);
      return;
    }
    combinedCrc = (combinedCrc << 1 | combinedCrc >> 31) ^ crc;
    Item block{Item::Kind::kBlock};
    block.job = NewJob();
    BuildStream(*block.job, start, magicBit, crc);
    pool->Submit(block.job);
    Trim(magicBit / 8);
    scanDone = false;
    items.push_back(block);
  }

  // Gives up the parallel path: the serial path re-reads what was
  // delivered (in pieces that end inside blocks, where libbzip2 looks no
  // further ahead) and makes this read.
  int32_t GoSerial(void* buffer, int32_t count) {
    pool.reset();
    items.clear();
    serialMode = true;
    serial = std::make_unique<SerialReader>();
    if (!serial->Open(path)) {
      serial->failed = true;
      return -1;
    }
    std::vector<uint8_t> scratch(kReplayPiece + 64);
    for (uint64_t pos = 0; pos < delivered;) {
      uint64_t end = std::min<uint64_t>(delivered, pos + kReplayPiece);
      auto isBoundary = [this, &end] {
        return end != delivered && std::binary_search(blockEnds.begin(), blockEnds.end(), end);
      };
      while (isBoundary() && end > pos + 1) --end;
      while (isBoundary() && end < pos + scratch.size()) ++end;
      // Shorter only where a stream ends.
      const int32_t n = serial->Read(scratch.data(), static_cast<int32_t>(end - pos));
      if (n <= 0) {
        serial->failed = true;
        return -1;
      }
      pos += static_cast<uint64_t>(n);
    }
    return serial->Read(buffer, count);
  }

  int32_t Read(void* buffer, int32_t count) {
    if (serialMode) return serial->Read(buffer, count);
    if (count <= 0 || ended) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    for (;;) {
      while (!scanDone && items.size() < inFlight) ScanNext();
      const Item& front = items.front();
      if (front.kind == Item::Kind::kBroken) return GoSerial(buffer, count);
      if (front.kind == Item::Kind::kEnd) {
        if (!front.crcOk) return GoSerial(buffer, count);
        const bool last = front.last;
        trailingAt = front.trailingAt;
        items.pop_front();
        if (last) {
          ended = true;
          break;
        }
        // A read ends with its stream; an empty stream gives nothing.
        if (got > 0) break;
        continue;
      }
      Job* job = front.job;
      pool->Wait(job);
      if (!job->ok) return GoSerial(buffer, count);
      // A full read returns once the block behind its last byte checked out.
      if (got == static_cast<size_t>(count)) break;
      const size_t n = std::min(static_cast<size_t>(count) - got, job->produced - frontOffset);
      memcpy(out + got, job->output.data() + frontOffset, n);
      got += n;
      frontOffset += n;
      if (frontOffset < job->produced) break;
      outputPos += job->produced;
      blockEnds.push_back(outputPos);
      frontOffset = 0;
      spare.push_back(job);
      items.pop_front();
    }
    delivered += got;
    return static_cast<int32_t>(got);
  }
};

Bzip2Reader* Bzip2Open(const char* path, Bzip2Options options) {
  if (strlen(path) >= kPathBufferSize) return nullptr;
  auto reader = std::unique_ptr<Bzip2Reader>(new (std::nothrow) Bzip2Reader);
  if (reader == nullptr) return nullptr;
  strcpy(reader->path, path);
  int threads = options.threads;
  if (threads <= 0) threads = static_cast<int>(std::min(8u, std::max(1u, std::thread::hardware_concurrency())));
  if (threads == 1) {
    reader->serial = std::make_unique<SerialReader>();
    reader->serialMode = true;
    return reader->serial->Open(path) ? reader.release() : nullptr;
  }
  reader->file = OpenFileStream(path, "rb");
  if (reader->file == nullptr) return nullptr;
  reader->inFlight = static_cast<size_t>(threads) * 2;
  reader->outputLimit = options.blockOutputLimit != 0
                            ? options.blockOutputLimit
                            : std::max(kMinBlockOutput, kOutputBudget / reader->inFlight);
  reader->pool = std::make_unique<Pool>(threads);
  return reader.release();
}

int32_t Bzip2Read(Bzip2Reader* reader, void* buffer, int32_t count) {
  return reader != nullptr ? reader->Read(buffer, count) : -1;
}

bool Bzip2Truncated(const Bzip2Reader* reader) {
  // Only the serial path gives -1: the parallel path hands over first.
  return reader != nullptr && reader->serial != nullptr && reader->serial->truncated;
}

int64_t Bzip2TrailingAt(const Bzip2Reader* reader) {
  if (reader == nullptr) return -1;
  return reader->serial != nullptr ? reader->serial->trailingAt : reader->trailingAt;
}

bool Bzip2WentSerial(const Bzip2Reader* reader) { return reader != nullptr && reader->serialMode; }

void Bzip2Close(Bzip2Reader* reader) { delete reader; }

}  // namespace bzip2
