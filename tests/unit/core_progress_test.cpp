// The progress figures: how far the archive has been read, measured from
// this process's open descriptors, and how they are written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "core/charset.h"
#include "core/progress.h"
#include "support/testutil.h"

namespace {

TEST(ProgressFigures, ReadPositionOfTheArchivesDescriptor) {
  testutil::TempDir tmp;
  testutil::WriteFile(tmp / "a.bin", std::string(4000, 'x'));
  BuildLeadByteTable();
  ProgressRecord record;
  SetProgressArchive(&record, (tmp / "a.bin").c_str());
  ProgressFigures figures;
  MeasureProgress(record, &figures);
  EXPECT_FALSE(figures.known);  // not open yet
  const int fd = open((tmp / "a.bin").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  char buffer[1000];
  ASSERT_EQ(read(fd, buffer, sizeof buffer), 1000);
  MeasureProgress(record, &figures);
  EXPECT_TRUE(figures.known);
  EXPECT_EQ(figures.position, 1000u);
  EXPECT_EQ(figures.Percent(), 25);
  close(fd);
  MeasureProgress(record, &figures);  // closed again: the last position stays
  EXPECT_EQ(figures.position, 1000u);
}

TEST(ProgressFigures, Text) {
  const struct {
    bool known;
    uint64_t position, size;
    double rate, left;
    const char* text;
  } rows[] = {
      {false, 0, 100, 0, -1, ""},
      {true, 42, 100, 0, -1, "42%"},
      {true, 42, 100, 3.14e6, 12.4, "42%  3.1 MB/s  0:12 left"},
      {true, 1, 3, 512, 3725, "33%  512 B/s  1:02:05 left"},
      {true, 5, 5, 12.6e9, 0, "100%  13 GB/s  0:00 left"},
  };
  for (const auto& row : rows) {
    ProgressFigures figures;
    figures.known = row.known;
    figures.position = row.position;
    figures.size = row.size;
    figures.bytesPerSecond = row.rate;
    figures.secondsLeft = row.left;
    char text[100];
    FormatProgressFigures(figures, text, sizeof text);
    EXPECT_STREQ(text, row.text);
  }
}

}  // namespace
