// The shared window loop against a byte-at-a-time model: random literals and
// matches of every length, with distances that overlap the copy (periods 1
// to 8 and longer), reach around the window end, or exceed the window, in a
// window that is a power of two and in ones that are not, and in a window
// larger than the matches' reach, decoded in runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "archive/lzh/lzh_window.h"

using namespace lzh;

namespace {

struct Item {
  uint32_t code;      // < 256 a literal, else a match of code - 253 bytes
  uint32_t distance;  // for a match
};

// Hands the loop a fixed list of codes; past its end the input is dry.
class ScriptedCodes {
 public:
  static constexpr uint32_t kLengthBase = 253;

  explicit ScriptedCodes(const std::vector<Item>& items) : items_(items) {}
  uint32_t Code() {
    if (next_ == items_.size()) {
      dry_ = true;
      return 0;
    }
    const uint32_t code = items_[next_].code;
    if (code < 256) ++next_;
    return code;
  }
  uint32_t Distance(uint64_t, uint32_t) { return items_[next_++].distance; }
  bool Dry() const { return dry_; }
  size_t Next() const { return next_; }

 private:
  const std::vector<Item>& items_;
  size_t next_ = 0;
  bool dry_ = false;
};

// The same codes, also offered in runs of up to 7.
class ScriptedRuns : public ScriptedCodes {
 public:
  static constexpr uint32_t kLongestMatch = 256;

  explicit ScriptedRuns(const std::vector<Item>& items) : ScriptedCodes(items), items_(items) {}
  uint32_t StartRun(uint32_t most) {
    const size_t left = items_.size() - Next();
    return static_cast<uint32_t>(std::min<size_t>({most, left, 7}));
  }
  uint32_t RunCode() { return Code(); }
  uint32_t RunDistance() { return Distance(0, 0); }
  void EndRun(uint32_t) {}

 private:
  const std::vector<Item>& items_;
};

// The loop as the format describes it: one byte at a time, the source index
// taken modulo the window size, the window written whole each time it fills.
std::string Model(const std::vector<Item>& items, std::vector<uint8_t> window,
                  uint32_t unpackedSize) {
  const uint64_t size = window.size();
  std::string out;
  uint64_t pos = 0;
  uint64_t produced = 0;
  auto put = [&](uint8_t byte) {
    window[pos] = byte;
    if (++pos == size) {
      out.append(window.begin(), window.end());
      pos = 0;
    }
  };
  for (const Item& item : items) {
    if (produced >= unpackedSize) break;
    if (item.code < 256) {
      put(static_cast<uint8_t>(item.code));
      ++produced;
      continue;
    }
    const uint32_t length = item.code - 253;
    produced += length;
    uint64_t src = (pos + size * 4 - (item.distance + 1) % size) % size;
    for (uint32_t i = 0; i < length; ++i) {
      put(window[src]);
      src = (src + 1) % size;
    }
  }
  out.append(window.begin(), window.begin() + static_cast<long>(pos));
  return out;
}

template <bool kPowerOfTwo, class Codes = ScriptedCodes>
std::string RunLoop(const std::vector<Item>& items, std::vector<uint8_t> data, uint32_t unpackedSize,
                LzhDecodeResult* result, uint32_t reach = 0) {
  FILE* out = tmpfile();
  LzhWindow window{data.data(), static_cast<uint32_t>(data.size()), out, false};
  window.reach = reach;
  Codes codes(items);
  *result = RunWindowLoop<kPowerOfTwo>(codes, window, unpackedSize);
  std::string bytes(static_cast<size_t>(ftell(out)), '\0');
  rewind(out);
  if (!bytes.empty()) {
    EXPECT_EQ(fread(&bytes[0], 1, bytes.size(), out), bytes.size());
  }
  fclose(out);
  return bytes;
}

std::vector<Item> RandomItems(std::mt19937& rng, uint32_t windowSize, size_t count) {
  std::vector<Item> items;
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  for (size_t i = 0; i < count; ++i) {
    if (pick(5) < 2) {
      items.push_back({pick(256), 0});
      continue;
    }
    // Mostly short matches, as in real data, some up to the longest.
    const uint32_t length = pick(4) == 0 ? 3 + pick(254) : 3 + pick(14);
    uint32_t distance;
    switch (pick(6)) {
      case 0: distance = pick(8); break;                        // period 1 to 8
      case 1: distance = length > 2 ? pick(length + 2) : 0; break;  // around the length
      case 2: distance = windowSize - 1 - pick(20); break;      // source just ahead
      case 3: distance = windowSize * (1 + pick(3)) + pick(40) - 20; break;  // a window or more
      default: distance = pick(windowSize); break;
    }
    items.push_back({length + 253, distance});
  }
  return items;
}

std::vector<uint8_t> Prefill(uint32_t size) {
  std::vector<uint8_t> window(size);
  for (uint32_t i = 0; i < size; ++i) window[i] = static_cast<uint8_t>(i * 7 + 3);
  return window;
}

TEST(LzhWindowLoop, MatchesTheByteAtATimeCopy) {
  std::mt19937 rng(20240611);
  for (uint32_t size : {26624u, 100u, 37u}) {
    for (int round = 0; round < 40; ++round) {
      const auto items = RandomItems(rng, size, 50 + rng() % 400);
      const uint32_t unpacked = static_cast<uint32_t>(rng() % (size * 6 + 1000));
      LzhDecodeResult result;
      EXPECT_EQ(RunLoop<false>(items, Prefill(size), unpacked, &result),
                Model(items, Prefill(size), unpacked))
          << "window " << size << " round " << round;
    }
  }
  for (uint32_t size : {8192u, 64u}) {
    for (int round = 0; round < 40; ++round) {
      const auto items = RandomItems(rng, size, 50 + rng() % 400);
      const uint32_t unpacked = static_cast<uint32_t>(rng() % (size * 6 + 1000));
      LzhDecodeResult result;
      EXPECT_EQ(RunLoop<true>(items, Prefill(size), unpacked, &result),
                Model(items, Prefill(size), unpacked))
          << "window " << size << " round " << round;
    }
  }
  // A window four times the reach, whose last quarter holds what the
  // model's window starts with.
  for (uint32_t reach : {8192u, 64u}) {
    for (int round = 0; round < 40; ++round) {
      const auto items = RandomItems(rng, reach, 50 + rng() % 400);
      const uint32_t unpacked = static_cast<uint32_t>(rng() % (reach * 6 + 1000));
      std::vector<uint8_t> data(reach * 3, 0);
      const auto start = Prefill(reach);
      data.insert(data.end(), start.begin(), start.end());
      LzhDecodeResult result;
      EXPECT_EQ((RunLoop<true, ScriptedRuns>(items, data, unpacked, &result, reach)),
                Model(items, Prefill(reach), unpacked))
          << "reach " << reach << " round " << round;
    }
  }
}

TEST(LzhWindowLoop, SaysWhetherTheSizeWasReached) {
  const std::vector<Item> items = {{'a', 0}, {'b', 0}, {256, 1}, {'c', 0}};
  LzhDecodeResult result;
  // The match runs past the size and is written whole.
  EXPECT_EQ(RunLoop<false>(items, Prefill(26624), 4, &result), "ababa");
  EXPECT_EQ(result, LzhDecodeResult::Ok);
  EXPECT_EQ(RunLoop<false>(items, Prefill(26624), 20, &result), "ababac");
  EXPECT_EQ(result, LzhDecodeResult::InputEnded);
}

}  // namespace
