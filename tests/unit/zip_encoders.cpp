#include "zip_encoders.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "archive/zip/zip_crypto.h"

namespace zipenc {

using namespace zip;

size_t MemoryIo::ReadMember(uint8_t* buffer, size_t count) {
  size_t n = std::min({count, chunk_, in_.size() - pos_});
  if (n != 0) memcpy(buffer, in_.data() + pos_, n);
  pos_ += n;
  return n;
}

void MemoryIo::WriteMember(const uint8_t* data, size_t count) {
  out.insert(out.end(), data, data + count);
  ++writes;
}

void BitWriter::Put(uint32_t value, int bits) {
  acc |= value << count;
  count += bits;
  while (count >= 8) {
    bytes.push_back(static_cast<uint8_t>(acc));
    acc >>= 8;
    count -= 8;
  }
}

Bytes BitWriter::Finish() {
  if (count > 0) bytes.push_back(static_cast<uint8_t>(acc));
  acc = 0;
  count = 0;
  return bytes;
}

namespace {

// Greedy LZ77 over hash chains of 3-byte keys.
struct Matcher {
  const Bytes& data;
  std::vector<int> head = std::vector<int>(1 << 16, -1);
  std::vector<int> chain;
  explicit Matcher(const Bytes& d) : data(d), chain(d.size(), -1) {}

  uint32_t Key(size_t i) const { return (data[i] * 2654435761u ^ data[i + 1] * 40503u ^ data[i + 2]) & 0xFFFF; }
  void Add(size_t i) {
    if (i + 3 > data.size()) return;
    chain[i] = head[Key(i)];
    head[Key(i)] = static_cast<int>(i);
  }
  // Longest match at i within maxDist, at most maxLen long (0 when none).
  void Find(size_t i, size_t maxDist, size_t maxLen, size_t& len, size_t& dist) const {
    len = dist = 0;
    if (i + 3 > data.size()) return;
    int steps = 64;
    for (int j = head[Key(i)]; j >= 0 && i - j <= maxDist && steps-- > 0; j = chain[j]) {
      size_t n = 0;
      while (n < maxLen && i + n < data.size() && data[j + n] == data[i + n]) ++n;
      if (n > len) len = n, dist = i - j;
    }
  }
};

int IndexBits(int n) {
  int bits = 1;
  while ((1 << bits) < n) ++bits;
  return bits;
}

}  // namespace

Bytes Shrink(const Bytes& data, int clearEvery) {
  BitWriter w;
  if (data.empty()) return {};
  constexpr int kCodes = 8192;
  std::vector<int> prefix(kCodes, -1);
  std::vector<uint8_t> suffix(kCodes, 0);
  for (int c = 0; c <= 256; ++c) prefix[c] = 0;
  std::map<uint32_t, int> dict;  // prefix code << 8 | byte -> code
  int width = 9, nextFree = 257, sinceClear = 0;
  auto lowestFree = [&](int from) {
    while (from < kCodes && prefix[from] != -1) ++from;
    return from;
  };

  for (size_t i = 0; i < data.size();) {
    int code = data[i];
    size_t len = 1;
    for (auto it = dict.end(); i + len < data.size(); ++len) {
      it = dict.find(static_cast<uint32_t>(code) << 8 | data[i + len]);
      if (it == dict.end()) break;
      code = it->second;
    }
    while (code >= (1 << width)) {
      w.Put(256, width);
      w.Put(1, width);
      ++width;
    }
    w.Put(code, width);
    ++sinceClear;
    i += len;
    if (i == data.size()) break;
    if (clearEvery > 0 && sinceClear >= clearEvery && code < 256) {
      // Free every leaf, as the decoder will, before the pending string is
      // defined: the decoder defines it only on reading the next code.
      w.Put(256, width);
      w.Put(2, width);
      std::vector<bool> leaf(kCodes, false);
      for (int c = 257; c < kCodes; ++c) leaf[c] = prefix[c] != -1;
      for (int c = 257; c < kCodes; ++c)
        if (prefix[c] >= 257) leaf[prefix[c]] = false;
      for (int c = 257; c < kCodes; ++c)
        if (leaf[c]) dict.erase(static_cast<uint32_t>(prefix[c]) << 8 | suffix[c]), prefix[c] = -1;
      nextFree = lowestFree(257);
      sinceClear = 0;
    }
    if (nextFree < kCodes) {
      prefix[nextFree] = code;
      suffix[nextFree] = data[i];
      dict[static_cast<uint32_t>(code) << 8 | data[i]] = nextFree;
      nextFree = lowestFree(nextFree + 1);
    }
  }
  return w.Finish();
}

Bytes Reduce(const Bytes& data, int factor, int maxFollowers) {
  const uint32_t lengthMask = 0xFFu >> factor;
  const size_t maxDist = static_cast<size_t>(256) << factor;
  const size_t maxLen = lengthMask + 255 + 3;

  // The byte stream before the follower-set coding.
  Bytes tokens;
  Matcher m(data);
  for (size_t i = 0; i < data.size();) {
    size_t len, dist;
    m.Find(i, maxDist, maxLen, len, dist);
    // Length 3 at a distance below 257 would make the pair byte 0, which
    // means a plain 0x90.
    if (len >= 3 && !(len == 3 && dist <= 256)) {
      uint32_t l = static_cast<uint32_t>(len - 3);
      tokens.push_back(0x90);
      tokens.push_back(static_cast<uint8_t>(((dist - 1) >> 8) << (8 - factor) | std::min(l, lengthMask)));
      if (l >= lengthMask) tokens.push_back(static_cast<uint8_t>(l - lengthMask));
      tokens.push_back(static_cast<uint8_t>(dist - 1));
    } else {
      len = 1;
      tokens.push_back(data[i]);
      if (data[i] == 0x90) tokens.push_back(0);
    }
    for (size_t k = 0; k < len; ++k) m.Add(i + k);
    i += len;
  }

  std::vector<std::vector<int>> counts(256, std::vector<int>(256, 0));
  uint8_t prev = 0;
  for (uint8_t t : tokens) ++counts[prev][t], prev = t;
  std::vector<Bytes> sets(256);
  BitWriter w;
  for (int v = 255; v >= 0; --v) {
    std::vector<int> order;
    for (int b = 0; b < 256; ++b)
      if (counts[v][b] > 0) order.push_back(b);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return counts[v][a] > counts[v][b]; });
    if (order.size() > static_cast<size_t>(maxFollowers)) order.resize(maxFollowers);
    w.Put(static_cast<uint32_t>(order.size()), 6);
    for (int b : order) sets[v].push_back(static_cast<uint8_t>(b)), w.Put(b, 8);
  }
  prev = 0;
  for (uint8_t t : tokens) {
    const Bytes& set = sets[prev];
    auto at = std::find(set.begin(), set.end(), t);
    if (set.empty()) {
      w.Put(t, 8);
    } else if (at == set.end()) {
      w.Put(1, 1);
      w.Put(t, 8);
    } else {
      w.Put(0, 1);
      w.Put(static_cast<uint32_t>(at - set.begin()), IndexBits(static_cast<int>(set.size())));
    }
    prev = t;
  }
  return w.Finish();
}

namespace {

// Huffman bit lengths for counts (every count > 0); flat when any would
// exceed 16 bits.
std::vector<int> CodeLengths(const std::vector<int>& counts) {
  size_t n = counts.size();
  std::vector<long> weight(counts.begin(), counts.end());
  std::vector<int> parent(2 * n, -1);
  std::vector<bool> used(2 * n, false);
  for (size_t made = n; made < 2 * n - 1; ++made) {
    int a = -1, b = -1;
    for (size_t i = 0; i < made; ++i) {
      if (used[i]) continue;
      if (a < 0 || weight[i] < weight[a]) b = a, a = static_cast<int>(i);
      else if (b < 0 || weight[i] < weight[b]) b = static_cast<int>(i);
    }
    used[a] = used[b] = true;
    weight.push_back(weight[a] + weight[b]);
    parent[a] = parent[b] = static_cast<int>(made);
  }
  std::vector<int> lengths(n);
  int flat = n == 256 ? 8 : 6;
  for (size_t i = 0; i < n; ++i) {
    for (int p = parent[i]; p >= 0; p = parent[p]) ++lengths[i];
    if (lengths[i] > 16) return std::vector<int>(n, flat);
  }
  return lengths;
}

struct Code {
  uint32_t path;  // bits in writing order, first bit lowest
  int length;
};

// Writes the tree description and returns each value's code, assigned the
// format's way: sorted by (length, value), handed out from the last entry.
std::vector<Code> PutTree(BitWriter& w, const std::vector<int>& lengths) {
  std::vector<std::pair<int, int>> runs;  // length, run (<= 16)
  for (int len : lengths) {
    if (!runs.empty() && runs.back().first == len && runs.back().second < 16) ++runs.back().second;
    else runs.push_back({len, 1});
  }
  w.Put(static_cast<uint32_t>(runs.size() - 1), 8);
  for (auto [len, run] : runs) w.Put(len - 1, 4), w.Put(run - 1, 4);

  std::vector<int> order(lengths.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return lengths[a] < lengths[b]; });
  std::vector<Code> codes(lengths.size());
  uint32_t code = 0, increment = 0;
  int last = 0;
  for (int i = static_cast<int>(order.size()) - 1; i >= 0; --i) {
    int len = lengths[order[i]];
    code = (code + increment) & 0xFFFF;
    if (len != last) last = len, increment = 1u << (16 - len);
    uint32_t path = 0;
    for (int j = 0; j < len; ++j) path |= ((code >> (15 - j)) & 1) << j;
    codes[order[i]] = {path, len};
  }
  return codes;
}

}  // namespace

Bytes Implode(const Bytes& data, bool window8k, bool literalTree) {
  const int lowBits = window8k ? 7 : 6;
  const size_t minMatch = literalTree ? 3 : 2;
  const size_t maxDist = window8k ? 8192 : 4096;
  const size_t maxLen = minMatch + 63 + 255;
  struct Token {
    size_t len, dist;  // len 0: literal `dist`
  };
  std::vector<Token> tokens;
  std::vector<int> lit(256, 1), len(64, 1), dist(64, 1);
  Matcher m(data);
  for (size_t i = 0; i < data.size();) {
    size_t l, d;
    m.Find(i, maxDist, maxLen, l, d);
    if (l >= minMatch) {
      tokens.push_back({l, d});
      ++len[std::min<size_t>(l - minMatch, 63)];
      ++dist[(d - 1) >> lowBits];
    } else {
      l = 1;
      tokens.push_back({0, data[i]});
      ++lit[data[i]];
    }
    for (size_t k = 0; k < l; ++k) m.Add(i + k);
    i += l;
  }
  BitWriter w;
  std::vector<Code> litCodes;
  if (literalTree) litCodes = PutTree(w, CodeLengths(lit));
  std::vector<Code> lenCodes = PutTree(w, CodeLengths(len));
  std::vector<Code> distCodes = PutTree(w, CodeLengths(dist));
  for (const Token& t : tokens) {
    if (t.len == 0) {
      w.Put(1, 1);
      if (literalTree) w.Put(litCodes[t.dist].path, litCodes[t.dist].length);
      else w.Put(static_cast<uint32_t>(t.dist), 8);
      continue;
    }
    w.Put(0, 1);
    w.Put(static_cast<uint32_t>(t.dist - 1) & ((1u << lowBits) - 1), lowBits);
    const Code& dc = distCodes[(t.dist - 1) >> lowBits];
    w.Put(dc.path, dc.length);
    size_t v = t.len - minMatch;
    const Code& lc = lenCodes[std::min<size_t>(v, 63)];
    w.Put(lc.path, lc.length);
    if (v >= 63) w.Put(static_cast<uint32_t>(v - 63), 8);
  }
  return w.Finish();
}

Bytes SampleData(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"archive ", "member ", "the ", "window ", "follower ",
                                       "tree ",    "code ",   "\n",   "shrink ", "implode "};
  uint32_t s = seed;
  auto next = [&s] { return s = s * 1103515245u + 12345u, s >> 16; };
  Bytes out;
  while (out.size() < size) {
    switch (next() % 5) {
      case 0: case 1:
        for (int i = next() % 40; i >= 0; --i) {
          const char* word = kWords[next() % 10];
          out.insert(out.end(), word, word + strlen(word));
        }
        break;
      case 2:
        for (int i = next() % 300; i >= 0; --i) out.push_back(static_cast<uint8_t>(next()));
        break;
      case 3:
        out.insert(out.end(), next() % 600, static_cast<uint8_t>(next() % 2 ? 0x90 : next()));
        break;
      case 4:
        if (out.size() > 10) {
          size_t from = out.size() - 1 - next() % std::min<size_t>(out.size() - 1, 9000);
          for (size_t i = next() % 400; i > 0; --i) out.push_back(out[from++]);
        }
        break;
    }
  }
  out.resize(size);
  return out;
}

namespace {
void Put16(Bytes& b, uint32_t v) { b.push_back(v & 0xFF), b.push_back((v >> 8) & 0xFF); }
void Put32(Bytes& b, uint32_t v) { Put16(b, v & 0xFFFF), Put16(b, v >> 16); }
}  // namespace

Bytes LocalHeaders(const std::vector<ZipMember>& members) {
  Bytes out;
  for (const ZipMember& m : members) {
    uint32_t crc = m.crc != 0 ? m.crc : static_cast<uint32_t>(::crc32(0, m.plain.data(), m.plain.size()));
    Put32(out, 0x04034B50);
    Put16(out, 20);
    Put16(out, m.flags);
    Put16(out, m.method);
    Put16(out, m.dosTime);
    Put16(out, m.dosDate);
    Put32(out, crc);
    Put32(out, m.compressedSize >= 0 ? m.compressedSize : static_cast<uint32_t>(m.data.size()));
    Put32(out, static_cast<uint32_t>(m.plain.size()));
    Put16(out, static_cast<uint32_t>(m.name.size()));
    Put16(out, static_cast<uint32_t>(m.extra.size()));
    out.insert(out.end(), m.name.begin(), m.name.end());
    out.insert(out.end(), m.extra.begin(), m.extra.end());
    out.insert(out.end(), m.data.begin(), m.data.end());
  }
  return out;
}

Bytes Encrypt(const Bytes& data, const std::string& password, uint16_t check) {
  ZipKeys keys = KeysForPassword(password.c_str());
  Bytes plain = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, static_cast<uint8_t>(check), static_cast<uint8_t>(check >> 8)};
  plain.insert(plain.end(), data.begin(), data.end());
  for (uint8_t& b : plain) {
    uint8_t p = b;
    b ^= KeyStreamByte(keys);
    UpdateKeys(keys, p);
  }
  return plain;
}

}  // namespace zipenc
