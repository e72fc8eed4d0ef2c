#include "core/checksum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

// The check values of both CRCs, and the same value whether the data comes
// whole, in pieces of 37 bytes or a byte at a time (the folded long data,
// the table steps and the tail agree, from any running value).
TEST(Checksum, CheckValuesAndPiecewiseFeeding) {
  EXPECT_EQ(Crc16Update(0, "123456789", 9), 0xBB3D);
  EXPECT_EQ(Crc32Update(0, "123456789", 9), 0xCBF43926u);
  std::vector<uint8_t> data(1003);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  uint16_t c16 = 0;
  uint32_t c32 = 0;
  for (uint8_t b : data) {
    c16 = Crc16Update(c16, &b, 1);
    c32 = Crc32Update(c32, &b, 1);
  }
  EXPECT_EQ(Crc16Update(0, data.data(), data.size()), c16);
  EXPECT_EQ(Crc32Update(0, data.data(), data.size()), c32);
  uint16_t pieces = 0;
  for (size_t at = 0; at < data.size(); at += 37) {
    pieces = Crc16Update(pieces, data.data() + at, std::min<size_t>(37, data.size() - at));
  }
  EXPECT_EQ(pieces, c16);
  EXPECT_EQ(Crc16Update(Crc16Update(0, data.data(), 100), data.data() + 100, data.size() - 100), c16);
}
