#include "codec/ppmd_i.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

// The units of the block are read as contexts, symbol states and free-list
// nodes in turn: this file is built with -fno-strict-aliasing (see
// CMakeLists.txt).

namespace codec {

// A symbol of a context with its frequency and where the model goes after
// it: a context (an offset at or above unitsStart) or, while no context has
// been made for it yet, the place in the text that follows it.
struct PpmdIState {
  uint8_t symbol;
  uint8_t freq;
  uint16_t successorLow;  // two halves: a state sits at any even offset
  uint16_t successorHigh;
};

// numStats is the number of symbols less one. A context of one symbol
// keeps its state in place of summFreq and stats.
struct PpmdIContext {
  uint8_t numStats;
  uint8_t flags;  // 0x04 rescaled, 0x08 a symbol >= 0x40, 0x10 the symbol before it >= 0x40
  uint16_t summFreq;
  uint32_t stats;
  uint32_t suffix;
};

namespace {

using State = PpmdIState;
using Context = PpmdIContext;

// A free block; stamp marks it free while blocks are being joined.
struct Node {
  uint32_t stamp;
  uint32_t next;
  uint32_t nu;
};

static_assert(sizeof(State) == 6 && sizeof(Context) == 12 && sizeof(Node) == 12, "units are 12 bytes");

constexpr uint32_t kUnitSize = 12;
constexpr uint32_t kEmptyNode = 0xFFFFFFFF;
constexpr unsigned kMaxFreq = 124;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
constexpr unsigned kBinScale = 1u << (kIntBits + kPeriodBits);
constexpr uint32_t kTop = 1u << 24;
constexpr uint32_t kBot = 1u << 15;
constexpr size_t kHugePage = 2 << 20;

struct Tables {
  uint8_t indexToUnits[kPpmdIIndexes];
  uint8_t unitsToIndex[128];
  uint8_t statsToBinIndex[256];  // a suffix's numStats -> column of binSumm
  uint8_t statsToIndex[260];     // numStats (or freq) -> row of binSumm / see
  uint8_t freqToBinRow[256];     // a binary context's freq -> row of binSumm
};

constexpr Tables MakeTables() {
  Tables t{};
  unsigned k = 0;
  for (unsigned i = 0; i < kPpmdIIndexes; ++i) {
    unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
    for (; step > 0; --step) t.unitsToIndex[k++] = static_cast<uint8_t>(i);
    t.indexToUnits[i] = static_cast<uint8_t>(k);
  }
  t.statsToBinIndex[0] = 0;
  t.statsToBinIndex[1] = 2;
  for (unsigned i = 2; i < 11; ++i) t.statsToBinIndex[i] = 4;
  for (unsigned i = 11; i < 256; ++i) t.statsToBinIndex[i] = 6;
  unsigned i = 0;
  for (; i < 5; ++i) t.statsToIndex[i] = static_cast<uint8_t>(i);
  for (unsigned m = i, left = 1; i < 260; ++i) {
    t.statsToIndex[i] = static_cast<uint8_t>(m);
    if (--left == 0) left = ++m - 4;
  }
  // Frequencies the model never gives a binary context (0, above 196)
  // still land inside the table.
  for (unsigned f = 0; f < 256; ++f) {
    const unsigned row = t.statsToIndex[(f + 255) & 0xFF];
    t.freqToBinRow[f] = static_cast<uint8_t>(row < 24 ? row : 24);
  }
  return t;
}

constexpr Tables kTables = MakeTables();
static_assert(kTables.indexToUnits[kPpmdIIndexes - 1] == 128, "the largest block is 128 units");
// MakeEscFreq looks up numStats + 2 for contexts of 2 to 255 symbols.
static_assert(kTables.statsToIndex[256] - 3 < 24, "see rows cover every count of symbols");
// A binary context's frequency stays at or below 196.
static_assert(kTables.statsToIndex[195] < 25, "binSumm rows cover every binary frequency");

constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};
constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};

inline unsigned I2U(unsigned index) { return kTables.indexToUnits[index]; }
inline unsigned U2I(unsigned units) { return kTables.unitsToIndex[units - 1]; }
inline uint32_t U2B(unsigned units) { return units * kUnitSize; }

// ---- offsets and the fields behind them ----

inline uint32_t Ref(const PpmdI& p, const void* ptr) {
  return static_cast<uint32_t>(static_cast<const uint8_t*>(ptr) - p.base);
}
inline uint8_t* Ptr(const PpmdI& p, uint32_t ref) { return p.base + ref; }
inline Context* Ctx(const PpmdI& p, uint32_t ref) { return reinterpret_cast<Context*>(p.base + ref); }
inline Node* NodeAt(const PpmdI& p, uint32_t ref) { return reinterpret_cast<Node*>(p.base + ref); }
inline State* Stats(const PpmdI& p, const Context* c) { return reinterpret_cast<State*>(p.base + c->stats); }
inline Context* Suffix(const PpmdI& p, const Context* c) { return Ctx(p, c->suffix); }
inline State* OneState(Context* c) { return reinterpret_cast<State*>(&c->summFreq); }

inline uint32_t Successor(const State* s) { return s->successorLow | static_cast<uint32_t>(s->successorHigh) << 16; }
inline void SetSuccessor(State* s, uint32_t v) {
  s->successorLow = static_cast<uint16_t>(v);
  s->successorHigh = static_cast<uint16_t>(v >> 16);
}

inline void SwapStates(State* a, State* b) {
  const State t = *a;
  *a = *b;
  *b = t;
}

inline void CopyUnits(void* to, const void* from, unsigned units) { memmove(to, from, U2B(units)); }

// The state of `symbol` in a context of several symbols; null when the
// context lacks it, which the model's own growth never leads to.
State* FindState(PpmdI& p, Context* c, uint8_t symbol) {
  State* s = Stats(p, c);
  for (unsigned i = 0; i <= c->numStats; ++i, ++s)
    if (s->symbol == symbol) return s;
  p.broken = true;
  return nullptr;
}

// ---- the unit allocator ----

void InsertNode(PpmdI& p, void* node, unsigned index) {
  Node* n = static_cast<Node*>(node);
  n->stamp = kEmptyNode;
  n->next = p.freeList[index];
  n->nu = I2U(index);
  p.freeList[index] = Ref(p, node);
  ++p.stamps[index];
}

void* RemoveNode(PpmdI& p, unsigned index) {
  Node* n = NodeAt(p, p.freeList[index]);
  p.freeList[index] = n->next;
  --p.stamps[index];
  return n;
}

// Puts `units` units at `at` into the free lists: one block, or two when
// no list holds that size (the sizes step by at most four).
void FreeRun(PpmdI& p, uint8_t* at, unsigned units) {
  unsigned index = U2I(units);
  if (I2U(index) != units) {
    const unsigned lower = I2U(--index);
    InsertNode(p, at + U2B(lower), U2I(units - lower));
  }
  InsertNode(p, at, index);
}

// Frees the tail of a block of size index `oldIndex` beyond `newIndex`.
void SplitBlock(PpmdI& p, void* block, unsigned oldIndex, unsigned newIndex) {
  FreeRun(p, static_cast<uint8_t*>(block) + U2B(I2U(newIndex)), I2U(oldIndex) - I2U(newIndex));
}

// Joins neighbouring free blocks and sorts them into the lists again.
void GlueFreeBlocks(PpmdI& p) {
  uint32_t head = 0;
  uint32_t* prev = &head;
  p.glueCount = 1u << 13;
  memset(p.stamps, 0, sizeof p.stamps);
  // Free blocks reach up to loUnit: a zero stamp there stops a join. The
  // top unit is the order-0 context, which is never free.
  if (p.loUnit != p.hiUnit) reinterpret_cast<Node*>(p.loUnit)->stamp = 0;
  for (unsigned i = 0; i < kPpmdIIndexes; ++i) {
    uint32_t next = p.freeList[i];
    p.freeList[i] = 0;
    while (next != 0) {
      Node* node = NodeAt(p, next);
      if (node->nu != 0) {
        *prev = next;
        prev = &node->next;
        for (Node* after; (after = node + node->nu)->stamp == kEmptyNode;) {
          node->nu += after->nu;
          after->nu = 0;
        }
      }
      next = node->next;
    }
  }
  *prev = 0;
  while (head != 0) {
    Node* node = NodeAt(p, head);
    head = node->next;
    unsigned nu = node->nu;
    if (nu == 0) continue;
    for (; nu > 128; nu -= 128, node += 128) InsertNode(p, node, kPpmdIIndexes - 1);
    FreeRun(p, reinterpret_cast<uint8_t*>(node), nu);
  }
}

void* AllocUnitsRare(PpmdI& p, unsigned index) {
  if (p.glueCount == 0) {
    GlueFreeBlocks(p);
    if (p.freeList[index] != 0) return RemoveNode(p, index);
  }
  unsigned i = index;
  do {
    if (++i == kPpmdIIndexes) {
      // No free block is large enough: take units from the top of the text
      // area while it has room.
      const uint32_t bytes = U2B(I2U(index));
      --p.glueCount;
      if (static_cast<uint32_t>(p.unitsStart - p.text) <= bytes) return nullptr;
      p.unitsStart -= bytes;
      return p.unitsStart;
    }
  } while (p.freeList[i] == 0);
  void* block = RemoveNode(p, i);
  SplitBlock(p, block, i, index);
  return block;
}

inline void* AllocUnits(PpmdI& p, unsigned index) {
  if (p.freeList[index] != 0) return RemoveNode(p, index);
  const uint32_t bytes = U2B(I2U(index));
  if (bytes <= static_cast<uint32_t>(p.hiUnit - p.loUnit)) {
    void* block = p.loUnit;
    p.loUnit += bytes;
    return block;
  }
  return AllocUnitsRare(p, index);
}

void* ShrinkUnits(PpmdI& p, void* old, unsigned oldUnits, unsigned newUnits) {
  const unsigned i0 = U2I(oldUnits), i1 = U2I(newUnits);
  if (i0 == i1) return old;
  if (p.freeList[i1] != 0) {
    void* block = RemoveNode(p, i1);
    CopyUnits(block, old, newUnits);
    InsertNode(p, old, i0);
    return block;
  }
  SplitBlock(p, old, i0, i1);
  return old;
}

void FreeUnits(PpmdI& p, void* block, unsigned units) { InsertNode(p, block, U2I(units)); }

// Frees one unit; the lowest unit goes back to the text area instead.
void SpecialFreeUnit(PpmdI& p, void* unit) {
  if (static_cast<uint8_t*>(unit) != p.unitsStart) {
    InsertNode(p, unit, 0);
  } else {
    p.unitsStart += kUnitSize;
  }
}

// Moves a block low in the unit area to a higher free block, so that the
// text area can grow into its place.
void* MoveUnitsUp(PpmdI& p, void* old, unsigned units) {
  const unsigned index = U2I(units);
  if (static_cast<uint8_t*>(old) > p.unitsStart + 16 * 1024 || Ref(p, old) > p.freeList[index]) return old;
  void* block = RemoveNode(p, index);
  CopyUnits(block, old, units);
  if (static_cast<uint8_t*>(old) != p.unitsStart) {
    InsertNode(p, old, index);
  } else {
    p.unitsStart += U2B(I2U(index));
  }
  return block;
}

// Gives the free blocks at the bottom of the unit area to the text area.
void ExpandTextArea(PpmdI& p) {
  uint32_t count[kPpmdIIndexes] = {};
  if (p.loUnit != p.hiUnit) reinterpret_cast<Node*>(p.loUnit)->stamp = 0;
  Node* node = reinterpret_cast<Node*>(p.unitsStart);
  for (; node->stamp == kEmptyNode; node += node->nu) {
    node->stamp = 0;
    ++count[U2I(node->nu)];
  }
  p.unitsStart = reinterpret_cast<uint8_t*>(node);
  // Those blocks, now stamped 0, leave their lists.
  for (unsigned i = 0; i < kPpmdIIndexes; ++i) {
    for (uint32_t* link = &p.freeList[i]; count[i] != 0;) {
      if (*link == 0) break;  // the counts above came from these lists
      Node* n = NodeAt(p, *link);
      while (n->stamp == 0) {
        *link = n->next;
        --p.stamps[i];
        if (--count[i] == 0 || *link == 0) break;
        n = NodeAt(p, *link);
      }
      link = &n->next;
    }
  }
}

// ---- the model ----

void RestartModel(PpmdI& p) {
  memset(p.freeList, 0, sizeof p.freeList);
  memset(p.stamps, 0, sizeof p.stamps);
  p.text = p.base + p.align;
  p.hiUnit = p.text + p.size;
  p.loUnit = p.unitsStart = p.hiUnit - p.size / 8 / kUnitSize * 7 * kUnitSize;
  p.glueCount = 0;

  p.orderFall = p.maxOrder;
  p.runLength = p.initRunLength = static_cast<uint32_t>(-static_cast<int32_t>(p.maxOrder < 12 ? p.maxOrder : 12) - 1);
  p.prevSuccess = 0;

  p.hiUnit -= kUnitSize;
  Context* root = reinterpret_cast<Context*>(p.hiUnit);
  p.minContext = p.maxContext = root;
  root->suffix = 0;
  root->numStats = 255;
  root->flags = 0;
  root->summFreq = 256 + 1;
  State* s = reinterpret_cast<State*>(p.loUnit);
  p.foundState = s;
  p.loUnit += U2B(256 / 2);
  root->stats = Ref(p, s);
  for (unsigned i = 0; i < 256; ++i) {
    s[i].symbol = static_cast<uint8_t>(i);
    s[i].freq = 1;
    SetSuccessor(&s[i], 0);
  }

  for (unsigned i = 0, m = 0; m < 25; ++m) {
    while (kTables.statsToIndex[i] == m) ++i;
    for (unsigned k = 0; k < 8; ++k) {
      const uint16_t value = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (i + 1));
      for (unsigned r = 0; r < 64; r += 8) p.binSumm[m][k + r] = value;
    }
  }
  for (unsigned i = 0, m = 0; m < 24; ++m) {
    while (kTables.statsToIndex[i + 3] == m + 3) ++i;
    for (PpmdISee& see : p.see[m]) {
      see.shift = kPeriodBits - 4;
      see.summ = static_cast<uint16_t>((2 * i + 5) << see.shift);
      see.count = 7;
    }
  }
}

// Halves (scale 1) or keeps the frequencies of a context after some of its
// states went, shrinking their block from `oldUnits`.
void Refresh(PpmdI& p, Context* c, unsigned oldUnits, unsigned scale) {
  unsigned i = c->numStats;
  State* s = static_cast<State*>(ShrinkUnits(p, Stats(p, c), oldUnits, (i + 2) >> 1));
  c->stats = Ref(p, s);
  unsigned flags = (c->flags & (0x10 + 0x04 * scale)) + 0x08 * (s->symbol >= 0x40);
  unsigned escFreq = c->summFreq - s->freq;
  s->freq = static_cast<uint8_t>((s->freq + scale) >> scale);
  unsigned sumFreq = s->freq;
  do {
    ++s;
    escFreq -= s->freq;
    s->freq = static_cast<uint8_t>((s->freq + scale) >> scale);
    sumFreq += s->freq;
    flags |= 0x08 * (s->symbol >= 0x40);
  } while (--i);
  c->summFreq = static_cast<uint16_t>(sumFreq + ((escFreq + scale) >> scale));
  c->flags = static_cast<uint8_t>(flags);
}

// Drops from the tree every successor that is still a text position, and
// below order 10 the contexts left with nothing; gives the offset of what
// stays of `c` (0 when it went).
uint32_t CutOff(PpmdI& p, Context* c, unsigned order) {
  if (c->numStats == 0) {
    State* s = OneState(c);
    if (Ptr(p, Successor(s)) >= p.unitsStart) {
      SetSuccessor(s, order < p.maxOrder ? CutOff(p, Ctx(p, Successor(s)), order + 1) : 0);
      if (Successor(s) != 0 || order <= 9) return Ref(p, c);
    }
    SpecialFreeUnit(p, c);
    return 0;
  }
  const unsigned units = (static_cast<unsigned>(c->numStats) + 2) >> 1;
  c->stats = Ref(p, MoveUnitsUp(p, Stats(p, c), units));
  int last = c->numStats;  // states after `last` have been dropped
  for (int k = c->numStats; k >= 0; --k) {
    State* s = Stats(p, c) + k;
    if (Ptr(p, Successor(s)) < p.unitsStart) {
      SetSuccessor(s, 0);
      SwapStates(s, Stats(p, c) + last--);
    } else {
      SetSuccessor(s, order < p.maxOrder ? CutOff(p, Ctx(p, Successor(s)), order + 1) : 0);
    }
  }
  if (last != c->numStats && order != 0) {
    c->numStats = static_cast<uint8_t>(last);
    State* s = Stats(p, c);
    if (last < 0) {
      FreeUnits(p, s, units);
      SpecialFreeUnit(p, c);
      return 0;
    }
    if (last == 0) {
      c->flags = static_cast<uint8_t>((c->flags & 0x10) + 0x08 * (s->symbol >= 0x40));
      *OneState(c) = *s;
      FreeUnits(p, s, units);
      OneState(c)->freq = static_cast<uint8_t>((OneState(c)->freq + 11u) >> 3);
    } else {
      Refresh(p, c, units, c->summFreq > 16u * static_cast<unsigned>(last));
    }
  }
  return Ref(p, c);
}

uint32_t UsedMemory(const PpmdI& p) {
  uint32_t units = 0;
  for (unsigned i = 0; i < kPpmdIIndexes; ++i) units += p.stamps[i] * I2U(i);
  return p.size - static_cast<uint32_t>(p.hiUnit - p.loUnit) - static_cast<uint32_t>(p.unitsStart - p.text) -
         U2B(units);
}

// The memory ran out while the symbol was being added from maxContext down
// to c1: those contexts lose it again, then the model starts over or is cut.
void RestoreModel(PpmdI& p, Context* c1) {
  p.text = p.base + p.align;
  Context* c = p.maxContext;
  for (; c != c1 && c->suffix != 0; c = Suffix(p, c)) {
    if (--c->numStats == 0) {
      State* s = Stats(p, c);
      c->flags = static_cast<uint8_t>((c->flags & 0x10) + 0x08 * (s->symbol >= 0x40));
      *OneState(c) = *s;
      SpecialFreeUnit(p, s);
      OneState(c)->freq = static_cast<uint8_t>((OneState(c)->freq + 11u) >> 3);
    } else {
      Refresh(p, c, (c->numStats + 3u) >> 1, 0);
    }
  }
  for (; c != p.minContext && c->suffix != 0; c = Suffix(p, c)) {
    if (c->numStats == 0) {
      OneState(c)->freq = static_cast<uint8_t>(OneState(c)->freq - (OneState(c)->freq >> 1));
    } else if ((c->summFreq = static_cast<uint16_t>(c->summFreq + 4)) > 128u + 4u * c->numStats) {
      Refresh(p, c, (c->numStats + 2u) >> 1, 1);
    }
  }
  if (p.restoreMethod == kPpmdIRestart || UsedMemory(p) < (p.size >> 1)) {
    RestartModel(p);
    return;
  }
  while (p.maxContext->suffix != 0) p.maxContext = Suffix(p, p.maxContext);
  do {
    CutOff(p, p.maxContext, 0);
    ExpandTextArea(p);
  } while (UsedMemory(p) > 3 * (p.size >> 2));
  p.glueCount = 0;
  p.orderFall = p.maxOrder;
}

// Makes the contexts of the orders between c and the found state's text
// position, each of one symbol: the one that followed in the text. Null
// when the memory runs out.
Context* CreateSuccessors(PpmdI& p, bool skip, State* s1, Context* c) {
  const uint32_t upBranch = Successor(p.foundState);
  State* ps[kPpmdIMaxOrder + 1];
  unsigned numPs = 0;
  if (!skip) ps[numPs++] = p.foundState;
  const uint8_t symbol = p.foundState->symbol;
  while (c->suffix != 0) {
    c = Suffix(p, c);
    State* s;
    if (s1 != nullptr) {
      s = s1;
      s1 = nullptr;
    } else if (c->numStats != 0) {
      s = FindState(p, c, symbol);
      if (s == nullptr) return nullptr;
      if (s->freq < kMaxFreq - 9) {
        ++s->freq;
        ++c->summFreq;
      }
    } else {
      s = OneState(c);
      s->freq = static_cast<uint8_t>(s->freq + ((Suffix(p, c)->numStats == 0) & (s->freq < 24)));
    }
    const uint32_t successor = Successor(s);
    if (successor != upBranch) {
      c = Ctx(p, successor);
      if (numPs == 0) return c;
      break;
    }
    if (numPs == kPpmdIMaxOrder + 1) {
      p.broken = true;
      return nullptr;
    }
    ps[numPs++] = s;
  }

  State up;
  up.symbol = *Ptr(p, upBranch);
  SetSuccessor(&up, upBranch + 1);
  const uint8_t flags = static_cast<uint8_t>(0x10 * (symbol >= 0x40) + 0x08 * (up.symbol >= 0x40));
  if (c->numStats == 0) {
    up.freq = OneState(c)->freq;
  } else {
    const State* s = FindState(p, c, up.symbol);
    if (s == nullptr) return nullptr;
    const uint32_t cf = s->freq - 1u;
    const uint32_t s0 = c->summFreq - c->numStats - cf;
    if (s0 == 0) {
      p.broken = true;
      return nullptr;
    }
    up.freq = static_cast<uint8_t>(1 + (2 * cf <= s0 ? (5 * cf > s0) : (cf + 2 * s0 - 3) / s0));
  }
  while (numPs != 0) {
    Context* made;
    if (p.hiUnit != p.loUnit) {
      made = reinterpret_cast<Context*>(p.hiUnit -= kUnitSize);
    } else if (p.freeList[0] != 0) {
      made = static_cast<Context*>(RemoveNode(p, 0));
    } else {
      made = static_cast<Context*>(AllocUnitsRare(p, 0));
      if (made == nullptr) return nullptr;
    }
    made->numStats = 0;
    made->flags = flags;
    *OneState(made) = up;
    made->suffix = Ref(p, c);
    SetSuccessor(ps[--numPs], Ref(p, made));
    c = made;
  }
  return c;
}

// The found state has no successor: it and its suffixes' states of the
// same symbol that lack one point at the text, and the model falls an
// order for each.
Context* ReduceOrder(PpmdI& p, State* s1, Context* c) {
  State* s = nullptr;
  Context* const start = c;
  const uint32_t upBranch = Ref(p, p.text);
  const uint8_t symbol = p.foundState->symbol;
  SetSuccessor(p.foundState, upBranch);
  ++p.orderFall;
  for (;;) {
    if (s1 != nullptr) {
      c = Suffix(p, c);
      s = s1;
      s1 = nullptr;
    } else {
      if (c->suffix == 0) return c;
      c = Suffix(p, c);
      if (c->numStats != 0) {
        s = FindState(p, c, symbol);
        if (s == nullptr) return nullptr;
        if (s->freq < kMaxFreq - 9) {
          s->freq += 2;
          c->summFreq += 2;
        }
      } else {
        s = OneState(c);
        s->freq = static_cast<uint8_t>(s->freq + (s->freq < 32));
      }
    }
    if (Successor(s) != 0) break;
    SetSuccessor(s, upBranch);
    ++p.orderFall;
  }
  if (Successor(s) <= upBranch) {
    State* const found = p.foundState;
    p.foundState = s;
    Context* successor = CreateSuccessors(p, false, nullptr, c);
    SetSuccessor(s, successor != nullptr ? Ref(p, successor) : 0);
    p.foundState = found;
  }
  if (p.orderFall == 1 && start == p.maxContext) {
    SetSuccessor(p.foundState, Successor(s));
    --p.text;
  }
  return Successor(s) != 0 ? Ctx(p, Successor(s)) : nullptr;
}

// Adds the found symbol to every context from maxContext down to the one
// it was found in, and moves to the context that follows it.
void UpdateModel(PpmdI& p) {
  uint32_t fSuccessor = Successor(p.foundState);
  const unsigned fFreq = p.foundState->freq;
  const uint8_t fSymbol = p.foundState->symbol;
  State* s = nullptr;

  if (fFreq < kMaxFreq / 4 && p.minContext->suffix != 0) {
    Context* c = Suffix(p, p.minContext);
    if (c->numStats == 0) {
      s = OneState(c);
      if (s->freq < 32) ++s->freq;
    } else {
      s = Stats(p, c);
      if (s->symbol != fSymbol) {
        s = FindState(p, c, fSymbol);
        if (s == nullptr) return;
        if (s[0].freq >= s[-1].freq) {
          SwapStates(&s[0], &s[-1]);
          --s;
        }
      }
      if (s->freq < kMaxFreq - 9) {
        s->freq += 2;
        c->summFreq += 2;
      }
    }
  }

  Context* c = p.maxContext;
  if (p.orderFall == 0 && fSuccessor != 0) {
    Context* cs = CreateSuccessors(p, true, s, p.minContext);
    if (p.broken) return;
    if (cs == nullptr) {
      SetSuccessor(p.foundState, 0);
      RestoreModel(p, c);
    } else {
      SetSuccessor(p.foundState, Ref(p, cs));
      p.maxContext = cs;
    }
    return;
  }

  *p.text++ = fSymbol;
  uint32_t successor = Ref(p, p.text);
  if (p.text >= p.unitsStart) {
    RestoreModel(p, c);
    return;
  }
  if (fSuccessor == 0) {
    Context* cs = ReduceOrder(p, s, p.minContext);
    if (p.broken) return;
    if (cs == nullptr) {
      RestoreModel(p, c);
      return;
    }
    fSuccessor = Ref(p, cs);
  } else if (Ptr(p, fSuccessor) < p.unitsStart) {
    Context* cs = CreateSuccessors(p, false, s, p.minContext);
    if (p.broken) return;
    if (cs == nullptr) {
      RestoreModel(p, c);
      return;
    }
    fSuccessor = Ref(p, cs);
  }
  if (--p.orderFall == 0) {
    successor = fSuccessor;
    p.text -= (p.maxContext != p.minContext);
  }

  const unsigned ns = p.minContext->numStats;
  const uint32_t s0 = p.minContext->summFreq - ns - fFreq;
  const uint8_t flag = static_cast<uint8_t>(0x08 * (fSymbol >= 0x40));
  for (; c != p.minContext; c = Suffix(p, c)) {
    const unsigned ns1 = c->numStats;
    if (ns1 != 0) {
      if ((ns1 & 1) != 0) {
        // The list grows by one state into a second half unit.
        const unsigned oldUnits = (ns1 + 1) >> 1;
        const unsigned i = U2I(oldUnits);
        if (i != U2I(oldUnits + 1)) {
          void* block = AllocUnits(p, i + 1);
          if (block == nullptr) {
            RestoreModel(p, c);
            return;
          }
          void* old = Stats(p, c);
          CopyUnits(block, old, oldUnits);
          InsertNode(p, old, i);
          c->stats = Ref(p, block);
        }
      }
      c->summFreq = static_cast<uint16_t>(c->summFreq + (3 * ns1 + 1 < ns));
    } else {
      State* s2 = static_cast<State*>(AllocUnits(p, 0));
      if (s2 == nullptr) {
        RestoreModel(p, c);
        return;
      }
      *s2 = *OneState(c);
      c->stats = Ref(p, s2);
      s2->freq = s2->freq < kMaxFreq / 4 - 1 ? static_cast<uint8_t>(s2->freq << 1) : kMaxFreq - 4;
      c->summFreq = static_cast<uint16_t>(s2->freq + p.initEsc + (ns > 2));
    }
    uint32_t cf = 2 * fFreq * (c->summFreq + 6u);
    const uint32_t sf = s0 + c->summFreq;
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      c->summFreq += 4;
    } else {
      cf = 4 + (cf > 9 * sf) + (cf > 12 * sf) + (cf > 15 * sf);
      c->summFreq = static_cast<uint16_t>(c->summFreq + cf);
    }
    State* added = Stats(p, c) + ns1 + 1;
    SetSuccessor(added, successor);
    added->symbol = fSymbol;
    added->freq = static_cast<uint8_t>(cf);
    c->flags |= flag;
    c->numStats = static_cast<uint8_t>(ns1 + 1);
    if (c->suffix == 0) {  // minContext is not below maxContext
      p.broken = true;
      return;
    }
  }
  p.maxContext = p.minContext = Ctx(p, fSuccessor);
}

// Halves the frequencies of minContext, the found state first, and drops
// the states that reach 0.
void Rescale(PpmdI& p) {
  Context* mc = p.minContext;
  State* stats = Stats(p, mc);
  State* s = p.foundState;
  {
    const State found = *s;
    for (; s != stats; --s) s[0] = s[-1];
    *s = found;
  }
  unsigned escFreq = mc->summFreq - s->freq;
  s->freq = static_cast<uint8_t>(s->freq + 4);
  const unsigned adder = p.orderFall != 0;
  s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
  unsigned sumFreq = s->freq;
  unsigned i = mc->numStats;
  do {
    ++s;
    escFreq -= s->freq;
    s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
    sumFreq += s->freq;
    if (s[0].freq > s[-1].freq) {
      // Kept in falling order of frequency.
      State* to = s;
      const State moved = *to;
      do to[0] = to[-1];
      while (--to != stats && moved.freq > to[-1].freq);
      *to = moved;
    }
  } while (--i);

  if (s->freq == 0) {
    const unsigned numStats = mc->numStats;
    do ++i;
    while ((--s)->freq == 0);
    escFreq += i;
    mc->numStats = static_cast<uint8_t>(mc->numStats - i);
    if (mc->numStats == 0) {
      State first = *stats;
      if (escFreq == 0) {
        p.broken = true;
        return;
      }
      first.freq = static_cast<uint8_t>((2u * first.freq + escFreq - 1) / escFreq);
      if (first.freq > kMaxFreq / 3) first.freq = kMaxFreq / 3;
      InsertNode(p, stats, U2I((numStats + 2) >> 1));
      mc->flags = static_cast<uint8_t>((mc->flags & 0x10) + 0x08 * (first.symbol >= 0x40));
      p.foundState = OneState(mc);
      *p.foundState = first;
      return;
    }
    const unsigned n0 = (numStats + 2) >> 1, n1 = (mc->numStats + 2u) >> 1;
    if (n0 != n1) mc->stats = Ref(p, ShrinkUnits(p, stats, n0, n1));
    mc->flags &= ~0x08;
    State* t = Stats(p, mc);
    for (unsigned k = 0; k <= mc->numStats; ++k) mc->flags |= 0x08 * (t[k].symbol >= 0x40);
  }
  mc->summFreq = static_cast<uint16_t>(sumFreq + escFreq - (escFreq >> 1));
  mc->flags |= 0x04;
  p.foundState = Stats(p, mc);
}

PpmdISee* MakeEscFreq(PpmdI& p, unsigned numMasked, uint32_t* escFreq) {
  Context* mc = p.minContext;
  const unsigned ns = mc->numStats;
  if (ns == 0xFF) {
    *escFreq = 1;
    return &p.dummySee;
  }
  PpmdISee* see = p.see[kTables.statsToIndex[ns + 2] - 3] + (mc->summFreq > 11 * (ns + 1)) +
                  2 * (2 * ns < Suffix(p, mc)->numStats + numMasked) + (mc->flags & 0x1C);
  const unsigned r = see->summ >> see->shift;
  see->summ = static_cast<uint16_t>(see->summ - r);
  *escFreq = r + (r == 0);
  return see;
}

inline void UpdateSee(PpmdISee* see) {
  if (see->shift < kPeriodBits && --see->count == 0) {
    see->summ = static_cast<uint16_t>(see->summ << 1);
    see->count = static_cast<uint8_t>(3 << see->shift++);
  }
}

inline void NextContext(PpmdI& p) {
  Context* c = Ctx(p, Successor(p.foundState));
  if (p.orderFall == 0 && reinterpret_cast<uint8_t*>(c) >= p.unitsStart) {
    p.minContext = p.maxContext = c;
  } else {
    UpdateModel(p);
    p.minContext = p.maxContext;
  }
}

// After the first symbol of a context of several.
inline void UpdateFirst(PpmdI& p) {
  p.prevSuccess = 2u * p.foundState->freq >= p.minContext->summFreq;
  p.runLength += p.prevSuccess;
  p.minContext->summFreq += 4;
  if ((p.foundState->freq = static_cast<uint8_t>(p.foundState->freq + 4)) > kMaxFreq) Rescale(p);
  NextContext(p);
}

// After a later symbol of a context of several.
inline void UpdateLater(PpmdI& p) {
  State* s = p.foundState;
  s->freq = static_cast<uint8_t>(s->freq + 4);
  p.minContext->summFreq += 4;
  if (s[0].freq > s[-1].freq) {
    SwapStates(&s[0], &s[-1]);
    p.foundState = --s;
    if (s->freq > kMaxFreq) Rescale(p);
  }
  NextContext(p);
}

inline void UpdateBinary(PpmdI& p) {
  p.foundState->freq = static_cast<uint8_t>(p.foundState->freq + (p.foundState->freq < 196));
  p.prevSuccess = 1;
  ++p.runLength;
  NextContext(p);
}

// After a symbol found past an escape.
inline void UpdateEscaped(PpmdI& p) {
  p.minContext->summFreq += 4;
  if ((p.foundState->freq = static_cast<uint8_t>(p.foundState->freq + 4)) > kMaxFreq) Rescale(p);
  p.runLength = p.initRunLength;
  UpdateModel(p);
  p.minContext = p.maxContext;
}

// ---- the range decoder ----

uint8_t RefillByte(PpmdI& p) {
  if (!p.dry && p.input != nullptr && p.input->NextPiece(&p.next, &p.end)) return *p.next++;
  p.dry = true;
  return 0;
}

inline uint8_t NextByte(PpmdI& p) { return p.next != p.end ? *p.next++ : RefillByte(p); }

// The count of the next symbol among `total`; false when the range is
// narrower than the total, which only a damaged stream leads to.
inline bool Threshold(PpmdI& p, uint32_t total, uint32_t* count) {
  if (total - 1 >= p.range) return false;  // a total of 0 included
  p.range /= total;
  *count = p.code / p.range;
  return true;
}

inline void Decode(PpmdI& p, uint32_t start, uint32_t size) {
  start *= p.range;
  p.low += start;
  p.code -= start;
  p.range *= size;
  for (;;) {
    if ((p.low ^ (p.low + p.range)) >= kTop) {
      if (p.range >= kBot) break;
      p.range = (0 - p.low) & (kBot - 1);
    } else if (p.range == 0) {
      // An empty interval, which only a damaged model gives: shifting
      // would never end.
      p.broken = true;
      p.range = kBot;
      break;
    }
    p.code = p.code << 8 | NextByte(p);
    p.range <<= 8;
    p.low <<= 8;
  }
}

// The context that follows the symbol just found is wanted as soon as the
// model is updated: its load starts now.
inline void Prefetch(const PpmdI& p, const State* s) { __builtin_prefetch(p.base + Successor(s)); }

constexpr int kEndMark = -1;
constexpr int kBadSymbol = -2;

// Starts a new round of masked symbols.
inline uint8_t NewMask(PpmdI& p) {
  if (++p.escCount == 0) {
    memset(p.charMask, 0, sizeof p.charMask);
    p.escCount = 1;
  }
  return p.escCount;
}

int DecodeSymbol(PpmdI& p) {
  uint8_t* const mask = p.charMask;
  uint8_t round;
  Context* mc = p.minContext;
  if (mc->numStats != 0) {
    State* s = Stats(p, mc);
    uint32_t count;
    if (!Threshold(p, mc->summFreq, &count)) return kBadSymbol;
    uint32_t hiCnt = s->freq;
    if (count < hiCnt) {
      Decode(p, 0, s->freq);
      p.foundState = s;
      Prefetch(p, s);
      const uint8_t symbol = s->symbol;
      UpdateFirst(p);
      return symbol;
    }
    p.prevSuccess = 0;
    for (unsigned i = mc->numStats; i > 0; --i) {
      ++s;
      if ((hiCnt += s->freq) > count) {
        Decode(p, hiCnt - s->freq, s->freq);
        p.foundState = s;
        Prefetch(p, s);
        const uint8_t symbol = s->symbol;
        UpdateLater(p);
        return symbol;
      }
    }
    if (count >= mc->summFreq) return kBadSymbol;
    Decode(p, hiCnt, mc->summFreq - hiCnt);
    round = NewMask(p);
    const State* t = Stats(p, mc);
    for (unsigned k = 0; k <= mc->numStats; ++k) mask[t[k].symbol] = round;
  } else {
    State* one = OneState(mc);
    const unsigned column = kTables.statsToBinIndex[Suffix(p, mc)->numStats] + p.prevSuccess + mc->flags +
                            ((p.runLength >> 26) & 0x20);
    uint16_t* prob = &p.binSumm[kTables.freqToBinRow[one->freq]][column & 63];
    p.range >>= 14;
    if (p.code / p.range < *prob) {
      Decode(p, 0, *prob);
      *prob = static_cast<uint16_t>(*prob + (1 << kIntBits) - ((*prob + (1 << (kPeriodBits - 2))) >> kPeriodBits));
      p.foundState = one;
      Prefetch(p, one);
      const uint8_t symbol = one->symbol;
      UpdateBinary(p);
      return symbol;
    }
    Decode(p, *prob, (1u << 14) - *prob);
    *prob = static_cast<uint16_t>(*prob - ((*prob + (1 << (kPeriodBits - 2))) >> kPeriodBits));
    p.initEsc = kExpEscape[*prob >> 10];
    round = NewMask(p);
    mask[one->symbol] = round;
    p.prevSuccess = 0;
  }
  for (;;) {
    State* ps[256];
    const unsigned numMasked = mc->numStats;
    do {
      ++p.orderFall;
      if (mc->suffix == 0) return kEndMark;
      mc = Suffix(p, mc);
    } while (mc->numStats == numMasked);
    p.minContext = mc;
    // The symbols not yet masked: a suffix holds every symbol of the
    // contexts above it, so the search ends once the rest are found, and
    // at the end of the list in any case.
    uint32_t hiCnt = 0;
    unsigned n = 0;
    const unsigned unmasked = mc->numStats > numMasked ? mc->numStats - numMasked : 256;
    State* s = Stats(p, mc);
    for (unsigned k = 0; k <= mc->numStats && n != unmasked; ++k, ++s) {
      const unsigned open = mask[s->symbol] != round;  // without a branch: which is open is anyone's guess
      ps[n] = s;
      n += open;
      hiCnt += s->freq & (0u - open);
    }
    uint32_t freqSum;
    PpmdISee* see = MakeEscFreq(p, numMasked, &freqSum);
    freqSum += hiCnt;
    uint32_t count;
    if (!Threshold(p, freqSum, &count)) return kBadSymbol;
    if (count < hiCnt) {
      State** pick = ps;
      hiCnt = 0;
      while ((hiCnt += (*pick)->freq) <= count) ++pick;
      s = *pick;
      Decode(p, hiCnt - s->freq, s->freq);
      UpdateSee(see);
      p.foundState = s;
      Prefetch(p, s);
      const uint8_t symbol = s->symbol;
      UpdateEscaped(p);
      return symbol;
    }
    if (count >= freqSum) return kBadSymbol;
    Decode(p, hiCnt, freqSum - hiCnt);
    see->summ = static_cast<uint16_t>(see->summ + freqSum);
    for (unsigned k = 0; k < n; ++k) mask[ps[k]->symbol] = round;
  }
}

}  // namespace

void ClearPpmdI(PpmdI& p) {
  memset(&p, 0, sizeof p);
}

bool StartPpmdI(PpmdI& p, unsigned order, uint32_t memoryBytes, unsigned restoreMethod, BitInput* input) {
  FreePpmdI(p);
  if (order < kPpmdIMinOrder || order > kPpmdIMaxOrder || memoryBytes < kPpmdIMinMemory ||
      memoryBytes > kPpmdIMaxMemory || restoreMethod > kPpmdICutOff)
    return false;
  // The block starts at offset `align` (at least 1, so that no unit or
  // text position has offset 0) and ends on a 4-byte boundary, where the
  // units, counted down from its end, line up.
  p.align = 4 - (memoryBytes & 3);
  // The model is read all over: a block of 2 MiB pages spares most of the
  // address translation misses. Large blocks are rounded up to whole pages
  // for that (less than one page more than asked).
  const size_t bytes = p.align + size_t{memoryBytes};
  if (bytes >= kHugePage) {
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    p.memory = static_cast<uint8_t*>(aligned_alloc(kHugePage, rounded));
#ifdef MADV_HUGEPAGE
    if (p.memory != nullptr) madvise(p.memory, rounded, MADV_HUGEPAGE);  // only advice: small pages work too
#endif
  } else {
    p.memory = static_cast<uint8_t*>(malloc(bytes));
  }
  if (p.memory == nullptr) return false;
  p.base = p.memory;
  p.size = memoryBytes;
  p.maxOrder = order;
  p.restoreMethod = restoreMethod;
  p.broken = false;
  RestartModel(p);
  p.dummySee.shift = kPeriodBits;
  p.dummySee.summ = 0;
  p.dummySee.count = 64;

  p.input = input;
  p.next = p.end = nullptr;
  p.dry = false;
  p.low = 0;
  p.range = 0xFFFFFFFF;
  p.code = 0;
  for (int i = 0; i < 4; ++i) p.code = p.code << 8 | NextByte(p);
  // A code at the very top of the range can start no symbol.
  p.broken = p.code == 0xFFFFFFFF;
  return true;
}

void FreePpmdI(PpmdI& p) {
  free(p.memory);
  p.memory = nullptr;
  p.base = nullptr;
  p.size = 0;
}

PpmdIStatus DecodePpmdI(PpmdI& p, uint8_t* out, size_t room, size_t* made) {
  size_t n = 0;
  PpmdIStatus status = p.broken ? PpmdIStatus::kBadData : PpmdIStatus::kFull;
  while (status == PpmdIStatus::kFull && n < room) {
    const int symbol = DecodeSymbol(p);
    if (p.broken) {
      status = PpmdIStatus::kBadData;
    } else if (symbol >= 0) {
      out[n++] = static_cast<uint8_t>(symbol);
    } else {
      status = symbol == kEndMark ? PpmdIStatus::kEnd : PpmdIStatus::kBadData;
    }
  }
  *made = n;
  return status;
}

}  // namespace codec
