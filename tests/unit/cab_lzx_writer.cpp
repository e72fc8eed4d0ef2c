#include "cab_lzx_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <queue>

#include "archive/cab/lzx_decoder.h"

using namespace cab;

namespace cabtest {
namespace {

constexpr uint32_t kFrame = 32768;

// 16-bit little-endian words, most significant bit first.
struct BitOut {
  std::vector<uint8_t> bytes;
  uint32_t acc = 0;
  unsigned n = 0;
  void Put(uint32_t value, unsigned bits) {
    for (unsigned i = bits; i-- > 0;) {
      acc = (acc << 1) | ((value >> i) & 1);
      if (++n == 16) {
        bytes.push_back(static_cast<uint8_t>(acc));
        bytes.push_back(static_cast<uint8_t>(acc >> 8));
        acc = 0;
        n = 0;
      }
    }
  }
  void Flush() {
    if (n != 0) Put(0, 16 - n);
  }
};

// Huffman code lengths of at most `limit` bits (frequencies halved until
// they fit); at least two symbols get a code so the code is complete.
std::vector<uint8_t> CodeLengths(std::vector<uint32_t> freq, unsigned limit) {
  unsigned used = 0;
  for (uint32_t f : freq) used += f != 0;
  for (size_t s = 0; used < 2 && s < freq.size(); ++s)
    if (freq[s] == 0) freq[s] = 1, ++used;
  for (;;) {
    struct Node { uint64_t w; int left, right; };
    std::vector<Node> nodes;
    using Item = std::pair<uint64_t, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
    for (size_t s = 0; s < freq.size(); ++s)
      if (freq[s] != 0) {
        nodes.push_back({freq[s], -1, static_cast<int>(s)});
        heap.push({freq[s], static_cast<int>(nodes.size() - 1)});
      }
    while (heap.size() > 1) {
      Item a = heap.top(); heap.pop();
      Item b = heap.top(); heap.pop();
      nodes.push_back({a.first + b.first, a.second, b.second});
      heap.push({a.first + b.first, static_cast<int>(nodes.size() - 1)});
    }
    std::vector<uint8_t> lengths(freq.size(), 0);
    unsigned longest = 0;
    std::vector<std::pair<int, unsigned>> stack{{heap.top().second, 0}};
    while (!stack.empty()) {
      auto [i, depth] = stack.back();
      stack.pop_back();
      if (nodes[i].left < 0) {
        lengths[nodes[i].right] = static_cast<uint8_t>(depth);
        longest = std::max(longest, depth);
      } else {
        stack.push_back({nodes[i].left, depth + 1});
        stack.push_back({nodes[i].right, depth + 1});
      }
    }
    if (longest <= limit) return lengths;
    for (uint32_t& f : freq) f = f == 0 ? 0 : (f + 1) / 2;
  }
}

// Canonical codes, as the decoder assigns them.
std::vector<uint32_t> Codes(const std::vector<uint8_t>& lengths) {
  std::vector<uint32_t> codes(lengths.size(), 0);
  uint32_t code = 0;
  for (unsigned len = 1; len <= 16; ++len)
    for (size_t s = 0; s < lengths.size(); ++s)
      if (lengths[s] == len) {
        codes[s] = code >> (16 - len);
        code += 1u << (16 - len);
      }
  return codes;
}

struct Tree {
  std::vector<uint8_t> lengths;
  std::vector<uint32_t> codes;
  void Make(const std::vector<uint32_t>& freq, unsigned limit, bool allowEmpty) {
    bool any = std::any_of(freq.begin(), freq.end(), [](uint32_t f) { return f != 0; });
    lengths = allowEmpty && !any ? std::vector<uint8_t>(freq.size(), 0) : CodeLengths(freq, limit);
    codes = Codes(lengths);
  }
  void Put(BitOut& out, unsigned symbol) const { out.Put(codes[symbol], lengths[symbol]); }
};

// Lengths [first, last) as differences to `old`, through their own pretree;
// zero runs use symbols 17 and 18, runs of one repeated change symbol 19.
void PutLengths(BitOut& out, std::vector<uint8_t>& old, const std::vector<uint8_t>& now,
                unsigned first, unsigned last) {
  struct Op { unsigned symbol, extra, extraBits, delta; };
  std::vector<Op> ops;
  auto delta = [&](unsigned i) { return (old[i] + 17u - now[i]) % 17; };
  for (unsigned i = first; i < last;) {
    unsigned run = 1;
    while (i + run < last && now[i + run] == now[i] && old[i + run] == old[i]) ++run;
    if (now[i] == 0 && run >= 20) {
      run = std::min(run, 51u);
      ops.push_back({18, run - 20, 5, 0});
    } else if (now[i] == 0 && run >= 4) {
      run = std::min(run, 19u);
      ops.push_back({17, run - 4, 4, 0});
    } else if (run >= 4) {
      run = std::min(run, 5u);
      ops.push_back({19, run - 4, 1, delta(i)});
    } else {
      run = 1;
      ops.push_back({delta(i), 0, 0, 0});
    }
    i += run;
  }
  std::vector<uint32_t> freq(20, 0);
  for (const Op& op : ops) {
    freq[op.symbol]++;
    if (op.symbol == 19) freq[op.delta]++;
  }
  Tree pre;
  pre.Make(freq, 15, false);
  for (unsigned i = 0; i < 20; ++i) out.Put(pre.lengths[i], 4);
  for (const Op& op : ops) {
    pre.Put(out, op.symbol);
    out.Put(op.extra, op.extraBits);
    if (op.symbol == 19) pre.Put(out, op.delta);
  }
  for (unsigned i = first; i < last; ++i) old[i] = now[i];
}

struct Token {
  uint16_t main;      // main-tree symbol
  int16_t length;     // length-tree symbol or -1
  uint8_t extraBits;  // offset extra bits (slot >= 3)
  uint32_t extra;
};

class Encoder {
 public:
  Encoder(const std::vector<uint8_t>& data, const LzxOptions& o, LzxStats* stats)
      : data_(data), opt_(o), stats_(stats), windowSize_(1u << o.windowBits),
        mainElements_(256 + 8 * LzxPositionSlots(o.windowBits)),
        oldMain_(656, 0), oldLength_(249, 0), head_(1u << 16, -1) {}

  std::vector<std::vector<uint8_t>> Run() {
    std::vector<LzxBlockPlan> plan = opt_.blocks;
    // By default one block per frame: verbatim, or uncompressed for frames
    // whose bytes look random (a verbatim frame of them could outgrow the
    // 38912 bytes a cabinet data block may hold).
    for (uint32_t at = 0; plan.empty() && at < data_.size(); at += kFrame) {
      uint32_t n = std::min<uint32_t>(kFrame, static_cast<uint32_t>(data_.size()) - at);
      std::vector<uint32_t> counts(256, 0);
      for (uint32_t i = 0; i < n; ++i) counts[data_[at + i]]++;
      double bits = 0;
      for (uint32_t c : counts)
        if (c != 0) bits -= c * std::log2(static_cast<double>(c) / n);
      if (at + kFrame >= data_.size()) plan = std::move(pending_), plan.push_back({bits > 7.0 * n ? 3 : 1, n});
      else pending_.push_back({bits > 7.0 * n ? 3 : 1, n});
    }
    out_.Put(opt_.e8FileSize != 0, 1);
    if (opt_.e8FileSize != 0) out_.Put(static_cast<uint32_t>(opt_.e8FileSize), 32);
    for (const LzxBlockPlan& b : plan) {
      if (pendingPad_) {
        out_.bytes.push_back(0);
        pendingPad_ = false;
      }
      if (b.type == 3)
        Uncompressed(b.length);
      else
        Compressed(b.type, b.length);
    }
    EndFrame();
    return frames_;
  }

 private:
  // Ends the chunk of the current frame once its output is complete.
  void Advance(uint32_t bytes) {
    pos_ += bytes;
    if (pos_ % kFrame == 0 || pos_ == data_.size()) EndFrame();
  }
  void EndFrame() {
    if (frames_.size() * kFrame >= pos_ && !(pos_ == 0 && data_.empty())) return;
    out_.Flush();
    frames_.push_back(out_.bytes);
    out_.bytes.clear();
  }

  void Uncompressed(uint32_t length) {
    out_.Put(3, 3);
    out_.Put(length >> 8, 16);
    out_.Put(length & 0xFF, 8);
    out_.Put(0, 16 - out_.n);  // 1 to 16 bits of padding
    for (uint32_t r : {r0_, r1_, r2_})
      for (int i = 0; i < 4; ++i) out_.bytes.push_back(static_cast<uint8_t>(r >> (8 * i)));
    for (uint32_t i = 0; i < length; ++i) {
      out_.bytes.push_back(data_[pos_]);
      Advance(1);
    }
    pendingPad_ = (length & 1) != 0;
  }

  uint32_t MatchLength(uint32_t at, uint32_t offset, uint32_t limit) const {
    if (offset == 0 || offset > at) return 0;
    uint32_t n = 0;
    while (n < limit && data_[at + n] == data_[at - offset + n]) ++n;
    return n;
  }
  uint32_t Hash(uint32_t at) const {
    return ((data_[at] << 10) ^ (data_[at + 1] << 5) ^ data_[at + 2]) & 0xFFFF;
  }

  void Compressed(int type, uint32_t length) {
    // Tokens of this block; matches never cross a frame or the block end.
    std::vector<Token> tokens;
    const uint32_t end = pos_ + length;
    for (uint32_t at = pos_; at < end;) {
      uint32_t frameEnd = (at / kFrame + 1) * kFrame;
      uint32_t limit = std::min({end, frameEnd}) - at;
      limit = std::min(limit, 257u);
      uint32_t best = 0, bestOffset = 0;
      int slot = -1;
      const uint32_t reps[3] = {r0_, r1_, r2_};
      for (int r = 0; r < 3; ++r) {
        uint32_t n = MatchLength(at, reps[r], limit);
        if (n >= 3 && n > best) best = n, slot = r;
      }
      if (limit >= 3) {
        int32_t cand = head_[Hash(at)];
        head_[Hash(at)] = static_cast<int32_t>(at);
        if (cand >= 0 && at - cand <= windowSize_ - 3) {
          uint32_t n = MatchLength(at, at - cand, limit);
          if (n >= 3 && n > best + 1) best = n, slot = -1, bestOffset = at - cand;
        }
      }
      if (best < 3) {
        tokens.push_back({data_[at], -1, 0, 0});
        if (stats_) stats_->literals++;
        ++at;
        continue;
      }
      Token t{0, -1, 0, 0};
      unsigned pslot;
      if (slot >= 0) {
        pslot = static_cast<unsigned>(slot);
        if (slot == 1) std::swap(r0_, r1_);
        if (slot == 2) std::swap(r0_, r2_);
        if (stats_) stats_->repeats[slot]++;
      } else {
        uint32_t formatted = bestOffset + 2;
        pslot = 3;
        while (pslot + 1 < LzxPositionSlots(opt_.windowBits) && LzxPositionBase(pslot + 1) <= formatted)
          ++pslot;
        t.extraBits = static_cast<uint8_t>(LzxExtraBits(pslot));
        t.extra = formatted - LzxPositionBase(pslot);
        r2_ = r1_;
        r1_ = r0_;
        r0_ = bestOffset;
        if (stats_) stats_->matches++;
      }
      unsigned header = std::min(best - 2, 7u);
      if (header == 7) t.length = static_cast<int16_t>(best - 9);
      t.main = static_cast<uint16_t>(256 + pslot * 8 + header);
      tokens.push_back(t);
      for (uint32_t i = 1; i < best && at + i + 2 < data_.size(); ++i)
        head_[Hash(at + i)] = static_cast<int32_t>(at + i);
      at += best;
    }
    // Trees from the token frequencies.
    std::vector<uint32_t> mainFreq(mainElements_, 0), lengthFreq(249, 0), alignedFreq(8, 0);
    for (const Token& t : tokens) {
      mainFreq[t.main]++;
      if (t.length >= 0) lengthFreq[t.length]++;
      if (type == 2 && t.extraBits >= 3) alignedFreq[t.extra & 7]++;
    }
    if (opt_.e8FileSize != 0) mainFreq[0xE8]++;  // keeps the translation switched on
    Tree main, len, aligned;
    main.Make(mainFreq, 16, false);
    len.Make(lengthFreq, 16, true);
    out_.Put(static_cast<uint32_t>(type), 3);
    out_.Put(length >> 8, 16);
    out_.Put(length & 0xFF, 8);
    if (type == 2) {
      aligned.Make(alignedFreq, 7, false);
      for (unsigned i = 0; i < 8; ++i) out_.Put(aligned.lengths[i], 3);
    }
    std::vector<uint8_t> mainLengths = main.lengths;
    mainLengths.resize(656, 0);
    PutLengths(out_, oldMain_, mainLengths, 0, 256);
    PutLengths(out_, oldMain_, mainLengths, 256, mainElements_);
    PutLengths(out_, oldLength_, len.lengths, 0, 249);
    for (const Token& t : tokens) {
      main.Put(out_, t.main);
      if (t.main < 256) {
        Advance(1);
        continue;
      }
      if (t.length >= 0) len.Put(out_, static_cast<unsigned>(t.length));
      if (type == 2 && t.extraBits >= 3) {
        out_.Put(t.extra >> 3, t.extraBits - 3);
        aligned.Put(out_, t.extra & 7);
      } else {
        out_.Put(t.extra, t.extraBits);
      }
      unsigned header = (t.main - 256) & 7;
      Advance(2 + header + (t.length >= 0 ? static_cast<uint32_t>(t.length) : 0));
    }
  }

  const std::vector<uint8_t>& data_;
  const LzxOptions& opt_;
  LzxStats* stats_;
  uint32_t windowSize_;
  unsigned mainElements_;
  std::vector<uint8_t> oldMain_, oldLength_;
  std::vector<int32_t> head_;
  uint32_t r0_ = 1, r1_ = 1, r2_ = 1;
  uint32_t pos_ = 0;
  bool pendingPad_ = false;
  std::vector<LzxBlockPlan> pending_;
  BitOut out_;
  std::vector<std::vector<uint8_t>> frames_;
};

}  // namespace

void LzxTranslateE8(std::vector<uint8_t>& data, int32_t fileSize) {
  for (size_t frame = 0; frame < data.size() && frame / kFrame < 32768; frame += kFrame) {
    int64_t m = std::min<size_t>(kFrame, data.size() - frame);
    if (m <= 6) continue;
    for (int64_t i = 0; i < m - 10;) {
      uint8_t* b = &data[frame + i];
      if (*b != 0xE8) {
        ++i;
        continue;
      }
      int64_t p = static_cast<int64_t>(frame) + i;
      int32_t r;
      std::memcpy(&r, b + 1, 4);
      int64_t a = r;
      if (r >= -p && r < fileSize - p) a = r + p;
      else if (r >= fileSize - p && r < fileSize) a = r - fileSize;
      uint32_t v = static_cast<uint32_t>(a);
      std::memcpy(b + 1, &v, 4);
      i += 5;
    }
  }
}

std::vector<std::vector<uint8_t>> LzxCompress(const std::vector<uint8_t>& data,
                                              const LzxOptions& options, LzxStats* stats) {
  if (options.e8FileSize == 0) return Encoder(data, options, stats).Run();
  std::vector<uint8_t> translated = data;
  LzxTranslateE8(translated, options.e8FileSize);
  return Encoder(translated, options, stats).Run();
}

}  // namespace cabtest
