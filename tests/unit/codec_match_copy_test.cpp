// The shared match copy against a byte-at-a-time model, over the whole
// window: every position, distance and length in a small window (periods 1
// to 16 and longer, sources ahead of the destination, sources that wrap
// around the window end, copies that end at the window end), and random
// long copies in a larger one. Bytes outside the match must keep their
// values.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/match_copy.h"

using namespace codec;

namespace {

TEST(CodecMatchCopy, MatchesTheByteAtATimeCopy) {
  std::mt19937 rng(20240612);
  // Each copy starts from the same random bytes, so that every byte of a
  // match differs from the byte it replaces as often as chance allows.
  auto check = [](const std::vector<uint8_t>& start, uint32_t pos, uint32_t distance, uint32_t length) {
    const uint32_t mask = static_cast<uint32_t>(start.size()) - 1;
    std::vector<uint8_t> model = start;
    for (uint32_t i = 0; i < length; ++i) model[pos + i] = model[(pos + i - distance) & mask];
    std::vector<uint8_t> window = start;
    CopyMatchInWindow(window.data(), mask, pos, distance, length);
    return window == model;
  };
  std::vector<uint8_t> small(64);
  for (size_t i = 0; i < small.size(); ++i) small[i] = static_cast<uint8_t>(i * 37 + 11);  // all differ
  for (uint32_t pos = 0; pos + 2 <= small.size(); ++pos) {
    for (uint32_t length = 2; pos + length <= small.size(); ++length) {
      for (uint32_t distance = 1; distance <= small.size(); ++distance) {
        ASSERT_TRUE(check(small, pos, distance, length))
            << "pos " << pos << " distance " << distance << " length " << length;
      }
    }
  }
  std::vector<uint8_t> large(4096);
  for (uint8_t& b : large) b = static_cast<uint8_t>(rng());
  for (int round = 0; round < 2000; ++round) {
    const uint32_t length = 2 + rng() % 4095;
    const uint32_t pos = rng() % (4096 - length + 1);
    const uint32_t distance = 1 + (rng() % 2 ? rng() % 40 : rng() % 4096);
    ASSERT_TRUE(check(large, pos, distance, length))
        << "pos " << pos << " distance " << distance << " length " << length;
  }
}

}  // namespace
