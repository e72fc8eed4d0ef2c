#include "stream/bzip2_block.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec/msb_bit_reader.h"

namespace bzip2 {

using namespace codec;

namespace {

// A block, after its magic:
//   32  stored CRC of the block's output
//    1  randomised (obsolete; refused here)
//   24  origPtr: the row of the sorted rotations that is the block itself
//   16  which of 16 ranges of 16 byte values occur, then 16 bits for each
//       range that does: which of its values occur (nInUse in all)
//    3  number of Huffman tables, 2..6
//   15  number of selectors, then each in unary (a 1 per step, then a 0):
//       its table's position in a move-to-front list of the tables
//       for each table: a 5-bit starting length, then for each symbol
//       steps of "10" (one longer) or "11" (one shorter) ended by a 0
//  ...  the symbols, each group of 50 in the table its selector names:
//       RUNA/RUNB spell runs of the list's front byte in bijective base 2,
//       symbol k + 1 is move-to-front position k, the last symbol ends it
constexpr uint64_t kBlockMagic = 0x314159265359;
constexpr int kMinTables = 2;
constexpr int kMaxTables = 6;
// Selectors past this many are read and ignored, as libbzip2 does: some
// compressors round their count up beyond what a block can use.
constexpr int kMaxSelectors = 18002;
constexpr int kGroupSize = 50;
constexpr int kMaxCodeLength = 20;
// 256 byte values in the move-to-front list, RUNA, RUNB and the end.
constexpr int kMaxSymbols = 258;
constexpr int kLookupBits = 10;
constexpr uint32_t kLengthMask = 31;  // a lookup entry: symbol << 5 | length
constexpr uint32_t kRunB = 1;
constexpr uint32_t kBlockUnit = 100000;  // a block holds at most level * kBlockUnit bytes
constexpr size_t kFirstOutput = 1 << 20;
// Most bytes one step of the inverse BWT writes (a count byte's run).
constexpr size_t kStepOutput = 256;

// kCrc.t[k][b]: the CRC register change of byte b followed by k zero bytes.
struct CrcTables {
  uint32_t t[8][256] = {};
  constexpr CrcTables() {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t c = b << 24;
      for (int i = 0; i < 8; ++i) c = (c & 0x80000000u) != 0 ? (c << 1) ^ 0x04C11DB7u : c << 1;
      t[0][b] = c;
    }
    for (int k = 1; k < 8; ++k) {
      for (int b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 24];
    }
  }
};
constexpr CrcTables kCrc;

// One Huffman table: codes of up to kLookupBits bits resolve in one lookup,
// longer ones (canonical: ordered by length, then symbol) by length.
struct Code {
  // symbol << 5 | length; 0 where a longer code, or no code, starts.
  uint16_t lookup[1 << kLookupBits];
  uint32_t first[kMaxCodeLength + 1];   // first code of each length
  uint32_t count[kMaxCodeLength + 1];   // codes of each length
  uint32_t offset[kMaxCodeLength + 1];  // index in `sorted` of each length's first symbol
  uint16_t sorted[kMaxSymbols];
  int maxLength;
};

// Builds the table for lengths 1..20; false when they over-fill the code
// space (lengths that under-fill it leave codes that decode to nothing).
bool BuildCode(const uint8_t* lengths, int symbols, Code& c) {
  std::fill(std::begin(c.count), std::end(c.count), 0u);
  c.maxLength = 0;
  for (int s = 0; s < symbols; ++s) {
    ++c.count[lengths[s]];
    c.maxLength = std::max(c.maxLength, static_cast<int>(lengths[s]));
  }
  int64_t left = 1;
  uint32_t code = 0;
  uint32_t next[kMaxCodeLength + 2];
  c.offset[0] = 0;
  for (int len = 1; len <= kMaxCodeLength; ++len) {
    left = left * 2 - c.count[len];
    if (left < 0) return false;
    c.first[len] = code;
    next[len] = code;
    code = (code + c.count[len]) << 1;
    c.offset[len] = len == 1 ? 0 : c.offset[len - 1] + c.count[len - 1];
  }
  std::fill(std::begin(c.lookup), std::end(c.lookup), uint16_t{0});
  uint32_t slot[kMaxCodeLength + 1];
  std::copy(std::begin(c.offset), std::end(c.offset), slot);
  for (int s = 0; s < symbols; ++s) {
    const int len = lengths[s];
    c.sorted[slot[len]++] = static_cast<uint16_t>(s);
    const uint32_t v = next[len]++;
    if (len > kLookupBits) continue;
    const uint32_t from = v << (kLookupBits - len);
    const uint32_t span = 1u << (kLookupBits - len);
    std::fill(c.lookup + from, c.lookup + from + span, static_cast<uint16_t>(s << 5 | len));
  }
  return true;
}

// A code longer than the lookup; -1 for bits that start no code.
int LongSymbol(const Code& c, BitCursor& r) {
  for (int len = kLookupBits + 1; len <= c.maxLength; ++len) {
    const uint32_t k = PeekBits(r, len) - c.first[len];
    if (k < c.count[len]) {
      DropBits(r, len);
      return c.sorted[c.offset[len] + k];
    }
  }
  return -1;
}

// Bits taken from `base` on (zero bytes past the end count as taken).
uint64_t BitsTaken(const BitCursor& r, uint32_t padBytes, const uint8_t* base) {
  return (static_cast<uint64_t>(r.next - base) + padBytes) * 8 - static_cast<uint64_t>(r.count);
}

// Moves byte i of the list to its front.
inline uint8_t MoveToFront(uint8_t* list, uint32_t i) {
  const uint8_t v = list[i];
  if (i < 16) {
    for (; i > 0; --i) list[i] = list[i - 1];
  } else {
    memmove(list + 1, list, i);
  }
  list[0] = v;
  return v;
}

// The inverse BWT walk follows the links from position to position, each
// step a load that depends on the one before and mostly misses the cache.
// To have several loads in flight, the cycle is cut at kSegments marked
// positions (the first byte's among them) and kLanes walks run side by
// side, each taking the next unwalked segment when its own reaches a mark;
// each lane writes its bytes to a region of its own. Which segment follows
// which is learned on the way (a segment ends at the next one's start).
constexpr uint32_t kSegments = 64;
constexpr int kLanes = 6;
constexpr uint32_t kMark = 1u << 31;         // above the 8 + 20 bits of an entry
constexpr uint32_t kLinkMask = (1u << 20) - 1;  // positions stay below 900,000

struct Walk {
  struct Segment {
    const uint8_t* bytes;
    uint32_t length;
    uint32_t next;  // the segment whose bytes follow
  };
  Segment segments[kSegments];
  uint32_t first = 0;  // the segment of the block's first byte
};

// Walks the `size` links of `tt` (setting marks and clearing them again);
// `regions` holds kLanes regions of `size` bytes. The links make one
// cycle through every position, or (a block that repeats one piece over
// and over) several: the segments of other cycles are walked for nothing,
// and the block is the cycle through `start` taken round and round.
// False only for a walk that overran (links that are no permutation).
bool WalkLinks(uint32_t* tt, uint32_t size, uint32_t start, uint8_t* regions, Walk& walk) {
  const uint32_t count = std::min(kSegments, size);
  uint32_t starts[kSegments];
  bool haveStart = false;
  for (uint32_t i = 0; i < count; ++i) {
    starts[i] = static_cast<uint32_t>(uint64_t{i} * size / count);
    haveStart |= starts[i] == start;
  }
  if (!haveStart) starts[0] = start;  // still all different
  std::sort(starts, starts + count);
  for (uint32_t i = 0; i < count; ++i) tt[starts[i]] |= kMark;
  auto segmentAt = [&](uint32_t pos) {
    return static_cast<uint32_t>(std::lower_bound(starts, starts + count, pos) - starts);
  };

  uint32_t pos[kLanes];
  uint32_t seg[kLanes];
  uint8_t* out[kLanes];
  uint8_t* from[kLanes];
  bool busy[kLanes] = {};
  uint32_t begun = 0;
  int lanes = 0;
  // A lane's first step takes its start's byte, mark and all.
  auto begin = [&](int l) {
    seg[l] = begun;
    from[l] = out[l];
    const uint32_t e = tt[starts[begun++]];
    *out[l]++ = static_cast<uint8_t>(e);
    pos[l] = e >> 8 & kLinkMask;
  };
  for (int l = 0; l < kLanes; ++l) {
    out[l] = regions + static_cast<size_t>(l) * size;
    if (begun < count) {
      begin(l);
      busy[l] = true;
      ++lanes;
    }
  }
  // Each round moves every busy lane one byte on, so a lane never writes
  // more than `size` bytes; more rounds than that means a cycle without a
  // mark, which one cycle through every position cannot have.
  bool broken = false;
  for (uint32_t rounds = 0; lanes > 0 && !broken; ++rounds) {
    if (rounds >= size) {
      broken = true;
      break;
    }
    for (int l = 0; l < kLanes; ++l) {
      if (!busy[l]) continue;
      const uint32_t e = tt[pos[l]];
      if ((e & kMark) == 0) {
        *out[l]++ = static_cast<uint8_t>(e);
        pos[l] = e >> 8 & kLinkMask;
        continue;
      }
      Walk::Segment& done = walk.segments[seg[l]];
      done.bytes = from[l];
      done.length = static_cast<uint32_t>(out[l] - from[l]);
      done.next = segmentAt(pos[l]);
      if (begun < count) {
        begin(l);
      } else {
        busy[l] = false;
        --lanes;
      }
    }
  }
  for (uint32_t i = 0; i < count; ++i) tt[starts[i]] &= ~kMark;
  if (broken) return false;
  walk.first = segmentAt(start);
  return true;
}

constexpr size_t kHugePage = 2 << 20;

bool Reserve(BlockScratch& s, uint32_t blockMax) {
  if (s.capacity >= blockMax) return true;
  free(s.memory);
  s.capacity = 0;
  const size_t size = (size_t{blockMax} * (4 + kLanes) + kHugePage - 1) / kHugePage * kHugePage;
  s.memory = aligned_alloc(kHugePage, size);
  if (s.memory == nullptr) return false;
#ifdef MADV_HUGEPAGE
  madvise(s.memory, size, MADV_HUGEPAGE);  // only advice: small pages work too
#endif
  s.capacity = blockMax;
  s.tt = static_cast<uint32_t*>(s.memory);
  s.regions = reinterpret_cast<uint8_t*>(s.tt + blockMax);
  return true;
}

// Appends bits, most significant first, to a byte vector.
struct BitWriter {
  std::vector<uint8_t>& out;
  uint64_t acc = 0;
  int count = 0;
  void Put(uint64_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      acc = acc << 1 | ((value >> i) & 1);
      if (++count == 8) {
        out.push_back(static_cast<uint8_t>(acc));
        acc = 0;
        count = 0;
      }
    }
  }
  void Flush() {
    if (count > 0) out.push_back(static_cast<uint8_t>(acc << (8 - count)));
    count = 0;
  }
};

constexpr uint64_t kEndMagic = 0x177245385090;

}  // namespace

void OneBlockStream(const uint8_t* data, size_t size, uint64_t startBit, uint64_t endBit, int level,
                    uint32_t blockCrc, std::vector<uint8_t>& out) {
  out.assign({'B', 'Z', 'h', static_cast<uint8_t>('0' + level)});
  const uint64_t bits = endBit - startBit;
  const size_t whole = static_cast<size_t>(bits / 8);
  const uint8_t* p = data + startBit / 8;
  const int r = static_cast<int>(startBit % 8);
  out.resize(4 + whole);
  if (r == 0) {
    memcpy(out.data() + 4, p, whole);
  } else {
    for (size_t j = 0; j < whole; ++j) out[4 + j] = static_cast<uint8_t>(p[j] << r | p[j + 1] >> (8 - r));
  }
  BitWriter w{out};
  for (uint64_t i = startBit + whole * 8; i < endBit; ++i) {
    w.Put(i / 8 < size ? data[i / 8] >> (7 - i % 8) & 1 : 0, 1);  // bits past the data read as zeros
  }
  w.Put(kEndMagic, 48);
  w.Put(blockCrc, 32);
  w.Flush();
}

BlockScratch::~BlockScratch() { free(memory); }

uint32_t BlockCrcUpdate(uint32_t crc, const uint8_t* p, size_t size) {
  const auto& t = kCrc.t;
  for (; size >= 8; p += 8, size -= 8) {
    const uint32_t w = crc ^ (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]);
    crc = t[7][w >> 24] ^ t[6][(w >> 16) & 0xFF] ^ t[5][(w >> 8) & 0xFF] ^ t[4][w & 0xFF] ^ t[3][p[4]] ^
          t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; size > 0; ++p, --size) crc = (crc << 8) ^ t[0][(crc >> 24) ^ *p];
  return crc;
}

bool DecodeBlockBits(BlockScratch& scratch, const BlockBits& block, size_t outputLimit,
                     std::vector<uint8_t>& output, size_t& produced) {
  produced = 0;
  if (block.level < 1 || block.level > 9 || block.startBit > block.endBit || block.endBit > block.size * 8) {
    return false;
  }
  const uint8_t* base = block.data + block.startBit / 8;
  const uint64_t endBit = block.endBit - block.startBit / 8 * 8;  // from `base`
  BitReader r;
  StartBits(r, base, block.size - block.startBit / 8, nullptr);
  if (block.startBit % 8 != 0) (void)GetBits(r, static_cast<int>(block.startBit % 8));
  auto overrun = [&] { return BitsTaken(r, r.padBytes, base) > endBit; };

  // The header and tables.
  const uint64_t magic = uint64_t{GetBits(r, 24)} << 24 | GetBits(r, 24);
  const uint32_t storedCrc = GetBits(r, 32);
  if (magic != kBlockMagic || GetBits(r, 1) != 0) return false;
  const uint32_t origPtr = GetBits(r, 24);
  const uint32_t blockMax = static_cast<uint32_t>(block.level) * kBlockUnit;
  if (origPtr >= blockMax) return false;

  uint8_t list[256];  // the move-to-front list of byte values
  int inUse = 0;
  const uint32_t ranges = GetBits(r, 16);
  for (int i = 0; i < 16; ++i) {
    if ((ranges >> (15 - i) & 1) == 0) continue;
    const uint32_t values = GetBits(r, 16);
    for (int j = 0; j < 16; ++j) {
      if (values >> (15 - j) & 1) list[inUse++] = static_cast<uint8_t>(i * 16 + j);
    }
  }
  if (inUse == 0) return false;
  const int symbols = inUse + 2;
  const uint32_t endSymbol = static_cast<uint32_t>(inUse) + 1;

  const int tables = static_cast<int>(GetBits(r, 3));
  const int selectorCount = static_cast<int>(GetBits(r, 15));
  if (tables < kMinTables || tables > kMaxTables || selectorCount < 1) return false;
  uint8_t selectors[kMaxSelectors];
  uint8_t order[kMaxTables] = {0, 1, 2, 3, 4, 5};
  for (int i = 0; i < selectorCount; ++i) {
    int j = 0;
    while (GetBits(r, 1) != 0) {
      if (++j >= tables) return false;
    }
    const uint8_t t = order[j];
    std::memmove(order + 1, order, static_cast<size_t>(j));
    order[0] = t;
    if (i < kMaxSelectors) selectors[i] = t;
  }
  const int selectorsKept = std::min(selectorCount, kMaxSelectors);
  Code codes[kMaxTables];
  for (int t = 0; t < tables; ++t) {
    uint8_t lengths[kMaxSymbols];
    int len = static_cast<int>(GetBits(r, 5));
    for (int s = 0; s < symbols; ++s) {
      for (;;) {
        if (len < 1 || len > kMaxCodeLength || overrun()) return false;
        if (GetBits(r, 1) == 0) break;
        len += GetBits(r, 1) != 0 ? -1 : 1;
      }
      lengths[s] = static_cast<uint8_t>(len);
    }
    if (!BuildCode(lengths, symbols, codes[t])) return false;
  }

  // The symbols: the block's bytes into tt, counted per value.
  if (!Reserve(scratch, blockMax)) return false;
  uint32_t* tt = scratch.tt;
  uint32_t counts[256] = {};
  uint32_t size = 0;
  uint32_t run = 0;     // run of the list's front byte spelled so far
  uint32_t runBit = 1;  // what the next RUNA adds (RUNB twice that)
  int group = -1;
  int groupLeft = 0;
  const Code* code = nullptr;
  LocalBits b;
  b.Load(r);
  for (;;) {
    if (groupLeft == 0) {
      if (++group >= selectorsKept || BitsTaken(b.c, b.padBytes, base) > endBit) return false;
      code = &codes[selectors[group]];
      groupLeft = kGroupSize;
    }
    --groupLeft;
    RefillLocal(b, r);
    const uint32_t entry = code->lookup[PeekBits(b.c, kLookupBits)];
    uint32_t symbol;
    if (entry != 0) {
      DropBits(b.c, static_cast<int>(entry & kLengthMask));
      symbol = entry >> 5;
    } else {
      const int s = LongSymbol(*code, b.c);
      if (s < 0) return false;
      symbol = static_cast<uint32_t>(s);
    }
    if (symbol <= kRunB) {
      run += runBit << symbol;
      runBit <<= 1;
      if (run > blockMax) return false;
      continue;
    }
    if (run != 0) {
      if (run > blockMax - size) return false;
      const uint8_t v = list[0];
      counts[v] += run;
      std::fill(tt + size, tt + size + run, uint32_t{v});
      size += run;
      run = 0;
      runBit = 1;
    }
    if (symbol == endSymbol) break;
    if (size >= blockMax) return false;
    const uint8_t v = MoveToFront(list, symbol - 1);
    ++counts[v];
    tt[size++] = v;
  }
  b.Store(r);
  if (origPtr >= size || BitsTaken(r, r.padBytes, base) != endBit) return false;

  // Links of the inverse BWT: entry j keeps its byte in the low 8 bits
  // and gains, above them, the position whose byte follows j's.
  uint32_t next[256];
  for (uint32_t v = 0, sum = 0; v < 256; ++v) {
    next[v] = sum;
    sum += counts[v];
  }
  for (uint32_t i = 0; i < size; ++i) tt[next[tt[i] & 0xFF]++] |= i << 8;
  Walk walk;
  if (!WalkLinks(tt, size, tt[origPtr] >> 8 & kLinkMask, scratch.regions, walk)) return false;

  // The first run-length stage undone: after four equal bytes the next one
  // is a count of further copies.
  if (output.size() < kFirstOutput) output.resize(std::min(kFirstOutput, outputLimit + kStepOutput));
  uint8_t* out = output.data();
  size_t capacity = output.size();
  size_t n = 0;
  uint32_t last = 256;  // no byte
  int same = 0;         // bytes equal to `last` in a row, up to 4
  for (uint32_t s = walk.first, left = size; left > 0; s = walk.segments[s].next) {
    const uint8_t* bytes = walk.segments[s].bytes;
    const uint32_t length = std::min(walk.segments[s].length, left);
    left -= length;
    for (uint32_t k = 0; k < length; ++k) {
      const uint32_t v = bytes[k];
      if (n + kStepOutput > capacity) {
        if (n >= outputLimit) return false;
        output.resize(std::min(capacity * 2, outputLimit + kStepOutput));
        out = output.data();
        capacity = output.size();
      }
      if (same == 4) {
        memset(out + n, static_cast<int>(last), v);
        n += v;
        same = 0;
        continue;
      }
      same = v == last ? same + 1 : 1;
      last = v;
      out[n++] = static_cast<uint8_t>(v);
    }
  }
  // Four equal bytes at the very end want a count byte the block lacks:
  // libbzip2 reads past the block there, so the block is left to it.
  if (same == 4 || n >= outputLimit) return false;
  if (~BlockCrcUpdate(0xFFFFFFFFu, out, n) != storedCrc) return false;
  produced = n;
  return true;
}

}  // namespace bzip2
