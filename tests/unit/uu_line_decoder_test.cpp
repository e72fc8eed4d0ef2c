// The line reader and byte sink shared by the text decoders, and the
// uuencoded body decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "stream/line_decoder.h"
#include "stream/uu_handler.h"
#include "unit/uu_memory_stream.h"

using namespace text;

using lines_test::InputStream;
using lines_test::OutputStream;

namespace {

struct Line {
  std::string text;
  bool delivered;
};

std::vector<Line> ReadAll(const std::string& input, size_t capacity) {
  InputStream in(input);
  TextLineReader reader(in.get());
  std::vector<Line> lines;
  std::vector<char> buffer(capacity + 1);
  size_t length = 0;
  while (!reader.AtEnd()) {
    const bool delivered = reader.ReadLine(buffer.data(), capacity, &length);
    EXPECT_EQ(strlen(buffer.data()), length);
    lines.push_back({std::string(buffer.data(), length), delivered});
  }
  return lines;
}

std::vector<uint8_t> UuTable() {
  std::vector<uint8_t> table(128);
  UuHandler handler;
  handler.FillDecodeTable(table.data());
  return table;
}

std::string DecodeUuBody(const std::string& input) {
  const std::vector<uint8_t> table = UuTable();
  return lines_test::DecodeAll(input, [&table](TextLineReader& reader, char* line, size_t capacity,
                                               ByteSink& sink) {
    DecodeLengthPrefixedLines(reader, table.data(), line, capacity, sink);
  });
}

}  // namespace

TEST(UuLineReader, EndsLinesLikeReadTextLine) {
  // CR alone, CR LF and LF end a line; 0x00 ends it and is dropped; the
  // last line without an end comes with the end-of-file answer.
  const std::vector<Line> lines = ReadAll(std::string("ab\rcd\r\nef\ngh\0ij\n\nkl", 19), 100);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0].text, "ab");
  EXPECT_EQ(lines[1].text, "cd");
  EXPECT_EQ(lines[2].text, "ef");
  EXPECT_EQ(lines[3].text, "gh");
  EXPECT_EQ(lines[4].text, "ij");
  EXPECT_EQ(lines[5].text, "");
  EXPECT_TRUE(lines[5].delivered);
  EXPECT_EQ(lines[6].text, "kl");
  EXPECT_FALSE(lines[6].delivered);
  // A CR that is the input's last byte meets the end while looking for LF.
  const std::vector<Line> cr = ReadAll("ab\r", 100);
  ASSERT_EQ(cr.size(), 1u);
  EXPECT_EQ(cr[0].text, "ab");
  EXPECT_FALSE(cr[0].delivered);
}

TEST(UuLineReader, LongLinesComeInPiecesOfCapacityMinusOne) {
  // A full piece stops before the line end, which then ends an empty line.
  const std::vector<Line> lines = ReadAll("abcdef\nghi\n", 4);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].text, "abc");
  EXPECT_EQ(lines[1].text, "def");
  EXPECT_EQ(lines[2].text, "");
  EXPECT_EQ(lines[3].text, "ghi");
  EXPECT_EQ(lines[4].text, "");
  EXPECT_TRUE(lines[4].delivered);
  EXPECT_FALSE(lines[5].delivered);
}

TEST(UuLineReader, LineEndsSplitAcrossReadBlocks) {
  // The reader takes the stream in 64 KiB blocks: a CR as the last byte of
  // a block must still take the LF that opens the next one.
  std::string input(65535, 'a');
  input += "\r\nb\r";
  input += std::string(70000, 'c');
  const std::vector<Line> lines = ReadAll(input, 1 << 20);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text.size(), 65535u);
  EXPECT_EQ(lines[1].text, "b");
  EXPECT_EQ(lines[2].text, std::string(70000, 'c'));
}

TEST(UuLineReader, AgreesWithReadTextLine) {
  // Random texts rich in line ends, read with small and large capacities
  // through both readers: same lines, same answers, same end indicator.
  std::mt19937 rng(5);
  const char alphabet[] = {'a', 'b', '\r', '\n', '\0', 'c'};
  for (int round = 0; round < 300; ++round) {
    std::string text(rng() % 300, 'x');
    for (char& c : text) c = alphabet[rng() % sizeof alphabet];
    const size_t capacity = 1 + rng() % (round % 2 ? 200 : 6);
    InputStream a(text), b(text);
    TextLineReader reader(a.get());
    std::vector<char> got(capacity + 1), expected(capacity + 1);
    for (bool more = true; more;) {
      size_t length = 0;
      more = reader.ReadLine(got.data(), capacity, &length);
      const bool reference = ReadTextLine(expected.data(), static_cast<int>(capacity), b.get()) != nullptr;
      ASSERT_EQ(more, reference) << round;
      ASSERT_STREQ(got.data(), expected.data()) << round;
      ASSERT_EQ(reader.AtEnd(), feof(b.get()) != 0) << round;
      if (capacity == 1) break;  // nothing is ever stored or read
    }
  }
}

TEST(UuByteSink, WritesEverythingInOrderAndDropsWithoutStream) {
  OutputStream out;
  std::string expected;
  {
    ByteSink sink(out.get());
    for (int i = 0; i < 200000; ++i) {
      sink.Put(static_cast<uint8_t>(i * 7));
      expected.push_back(static_cast<char>(i * 7));
    }
    uint8_t* room = sink.Room(ByteSink::kSize);
    memset(room, 'z', ByteSink::kSize);
    sink.Advance(ByteSink::kSize);
    expected.append(ByteSink::kSize, 'z');
    EXPECT_EQ(sink.Total(), expected.size());
    EXPECT_TRUE(sink.Flush());
  }
  EXPECT_EQ(out.str(), expected);

  ByteSink dropped(nullptr);
  for (int i = 0; i < 100000; ++i) dropped.Put(1);
  EXPECT_TRUE(dropped.Flush());
  EXPECT_EQ(dropped.Total(), 100000u);
}

TEST(UuByteSink, ReportsAFailedWrite) {
  FILE* full = fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  {
    ByteSink sink(full);
    uint8_t* room = sink.Room(ByteSink::kSize);
    memset(room, 1, ByteSink::kSize);
    sink.Advance(ByteSink::kSize);
    EXPECT_FALSE(sink.Flush());
  }
  fclose(full);
}

TEST(UuBeginLine, ParsesModeAndNameLikeScanf) {
  const char* name = nullptr;
  size_t length = 0;
  ASSERT_TRUE(ParseBeginLine("begin 644 my file.bin", "begin", 8, &name, &length));
  EXPECT_EQ(std::string(name, length), "my");
  ASSERT_TRUE(ParseBeginLine("begin\t-7   x.bin\t", "begin", 8, &name, &length));
  EXPECT_EQ(std::string(name, length), "x.bin");
  EXPECT_FALSE(ParseBeginLine("begin 644", "begin", 8, &name, &length));
  EXPECT_FALSE(ParseBeginLine("begin 644   ", "begin", 8, &name, &length));
  EXPECT_FALSE(ParseBeginLine("begin 9 x", "begin", 8, &name, &length));  // not octal
  EXPECT_FALSE(ParseBeginLine("beginning x", "begin", 8, &name, &length));
  ASSERT_TRUE(ParseBeginLine("begin-base64 0644 a.b", "begin-base64", 10, &name, &length));
  EXPECT_EQ(std::string(name, length), "a.b");
  EXPECT_FALSE(ParseBeginLine("begin-base64 x a.b", "begin-base64", 10, &name, &length));
}

TEST(UuBeginLine, FindsTheFirstBeginLineAndItsName) {
  char line[256];
  char name[kPathBufferSize];
  NameState state;
  size_t length = 0;
  {
    InputStream in("hello\nbegin 644 x.bin\n#86)C\n");
    TextLineReader reader(in.get());
    ASSERT_TRUE(FindBeginLine(reader, line, sizeof line, name, &state));
    EXPECT_EQ(state, NameState::kFound);
    EXPECT_STREQ(name, "x.bin");
    reader.ReadLine(line, sizeof line, &length);
    EXPECT_STREQ(line, "#86)C");  // the body follows
  }
  {
    InputStream in("begin 644\n#86)C\n");
    TextLineReader reader(in.get());
    ASSERT_TRUE(FindBeginLine(reader, line, sizeof line, name, &state));
    EXPECT_EQ(state, NameState::kNone);
  }
  // A begin line that is the input's last line, with or without a line end,
  // has no section after it.
  for (const char* input : {"text\nbegin 644 x.bin\n", "text\nbegin 644 x.bin", "text\n"}) {
    InputStream in(input);
    TextLineReader reader(in.get());
    EXPECT_FALSE(FindBeginLine(reader, line, sizeof line, name, &state)) << input;
  }
  {
    const std::string longName(kPathBufferSize, 'n');
    InputStream in("begin 644 " + longName + "\n#86)C\n");
    TextLineReader reader(in.get());
    std::vector<char> wide(1024);
    ASSERT_TRUE(FindBeginLine(reader, wide.data(), wide.size(), name, &state));
    EXPECT_EQ(state, NameState::kTooLong);
    EXPECT_STREQ(name, "");
  }
}

TEST(UuBody, DecodesLinesByTheirCount) {
  // "abc" and a full 'M' line of 45 bytes.
  EXPECT_EQ(DecodeUuBody("#86)C\n`\nend\n"), "abc");
  const std::string full = DecodeUuBody(
      "M:&5L;&\\@=V]R;&0@:&5L;&\\@=V]R;&0@:&5L;&\\@=V]R;&0@:&5L;&\\@=V]R\n`\n");
  EXPECT_EQ(full.size(), 45u);
  EXPECT_EQ(full.substr(0, 11), "hello world");
  // Counts of 1 and 2 keep only their bytes of the last group.
  EXPECT_EQ(DecodeUuBody("!80``\n"), "a");
  EXPECT_EQ(DecodeUuBody("\"86(`\n"), "ab");
}

TEST(UuBody, StopsAtACountOfZero) {
  EXPECT_EQ(DecodeUuBody("#86)C\nend\n#86)C\n"), "abc");       // 'e' counts 0
  EXPECT_EQ(DecodeUuBody("#86)C\n\n#86)C\n"), "abc");          // empty line
  EXPECT_EQ(DecodeUuBody("#86)C\n 86)C\n#86)C\n"), "abc");     // blank
  EXPECT_EQ(DecodeUuBody("#86)C\n`\n#86)C\n"), "abc");         // grave accent
  EXPECT_EQ(DecodeUuBody(std::string("#86)C\n\0#86)C\n", 13)), "abc");
  // Bytes above 0x7F are read by their low seven bits: 0xA3 is '#'.
  EXPECT_EQ(DecodeUuBody("\xA3" "86)C\n"), "abc");
}

TEST(UuBody, LastLineWithoutLineEndIsDecoded) {
  EXPECT_EQ(DecodeUuBody("#86)C\n#86)C"), "abcabc");
}

TEST(UuBody, ShortLineIsPaddedWithBlanksNotEarlierBytes) {
  // The long line before leaves its bytes in the line buffer; the short
  // line must decode as if blanks (value 0) followed it.
  const std::string longLine = "M" + std::string(60, '_') + "\n";
  const std::string decoded = DecodeUuBody(longLine + "#86\n");
  ASSERT_EQ(decoded.size(), 48u);
  EXPECT_EQ(decoded.substr(45), DecodeUuBody("#86  \n"));
  EXPECT_EQ(decoded[45], 'a');
  EXPECT_EQ(static_cast<uint8_t>(decoded[46]), 0x60);  // 22 << 4, nothing after
  EXPECT_EQ(decoded[47], 0);
}
