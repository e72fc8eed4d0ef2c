// The shared match copy against a byte-at-a-time model, over the whole
// window: periods 1 to 8 and longer, sources ahead of the destination and
// sources that wrap around the window end. Bytes outside the match must
// keep their values.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/match_copy.h"

using namespace codec;

namespace {

TEST(CodecMatchCopy, MatchesTheByteAtATimeCopy) {
  std::mt19937 rng(20240612);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  for (uint32_t size : {64u, 4096u}) {
    std::vector<uint8_t> window(size);
    for (uint8_t& b : window) b = static_cast<uint8_t>(rng());
    for (int round = 0; round < 3000; ++round) {
      const uint32_t length = 2 + pick(pick(4) == 0 ? size - 1 : 20);
      const uint32_t pos = pick(size - length + 1);
      uint32_t distance;
      switch (pick(4)) {
        case 0: distance = 1 + pick(8); break;                           // short periods
        case 1: distance = 1 + pick(length + 2); break;                  // around the length
        case 2: distance = size - pick(length < size ? length + 1 : size); break;  // source ahead
        default: distance = 1 + pick(size); break;
      }
      std::vector<uint8_t> model = window;
      for (uint32_t i = 0; i < length; ++i) model[pos + i] = model[(pos + i - distance) & (size - 1)];
      CopyMatchInWindow(window.data(), size - 1, pos, distance, length);
      ASSERT_EQ(window, model) << "size " << size << " pos " << pos << " distance " << distance
                               << " length " << length;
    }
  }
}

}  // namespace
