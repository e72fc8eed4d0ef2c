// The yEnc section search and body decoder.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "stream/yenc_decoder.h"
#include "unit/uu_memory_stream.h"

using namespace text;

using lines_test::InputStream;

namespace {

std::string Decode(TextLineReader& reader) { return lines_test::DecodeFrom(reader, DecodeYencBody); }
std::string DecodeBody(const std::string& input) { return lines_test::DecodeAll(input, DecodeYencBody); }

// Test-only encoder: NUL, LF, CR and '=' escaped, lines of about `width`.
std::string Encode(const std::string& data, size_t width) {
  std::string text;
  size_t column = 0;
  for (char c : data) {
    auto e = static_cast<uint8_t>(c + 42);
    if (e == 0 || e == '\n' || e == '\r' || e == '=') {
      text += '=';
      e = static_cast<uint8_t>(e + 64);
      ++column;
    }
    text += static_cast<char>(e);
    if (++column >= width) {
      text += "\r\n";
      column = 0;
    }
  }
  return text + "\r\n";
}

struct Section {
  bool found;
  NameState state;
  std::string name;
};

Section Find(TextLineReader& reader) {
  char line[1024];
  char name[kPathBufferSize];
  Section s;
  s.found = FindYencSection(reader, line, sizeof line, name, &s.state);
  s.name = name;
  return s;
}

}  // namespace

TEST(YencBody, SubtractsFortyTwoAndSixtyFourAfterEscape) {
  EXPECT_EQ(DecodeBody("\x2A\x29=\xA7\n"), std::string("\x00\xFF\x3D", 3));
  EXPECT_EQ(DecodeBody("==\n"), std::string(1, static_cast<char>('=' - 106)));
  // An '=' ending a line escapes the next line's first byte.
  EXPECT_EQ(DecodeBody("\x6B=\n\x6A\x6B\n"), std::string("\x41\x00\x41", 3));
  // So does one ending a line before an empty line: the escape waits.
  EXPECT_EQ(DecodeBody("=\n\n\x6A\n"), std::string(1, '\0'));
}

TEST(YencBody, EndsAtYendOrTheEndOfInput) {
  EXPECT_EQ(DecodeBody("\x6B\n=yend size=1\n\x6B\n"), "A");
  EXPECT_EQ(DecodeBody("\x6B\n\x6B"), "AA");  // no =yend, no last line end
}

TEST(YencBody, PartHeaderAfterBeginIsNotData) {
  EXPECT_EQ(DecodeBody("=ypart begin=1 end=2\n\x6B\x6B\n=yend\n"), "AA");
  // Only directly after the header: later it is decoded like any line.
  EXPECT_EQ(DecodeBody("\x6B\n=ypart \n=yend\n").size(), 7u);
}

TEST(YencBody, RoundTripsLargeData) {
  std::mt19937 rng(11);
  std::string data(200000, '\0');
  for (auto& c : data) c = static_cast<char>(rng());
  EXPECT_EQ(DecodeBody(Encode(data, 128) + "=yend size=200000\r\n"), data);
}

TEST(YencSection, TakesTheNameToTheLineEndWithoutTrailingBlanks) {
  InputStream in(
      "news text\n"
      "=ybegin line=128 size=10\n"                     // no name: passed over
      "=ybegin line=128 size=10 name=my file.bin  \n"
      "\x6B\n=yend\n"
      "=ybegin line=128 name=\n"
      "x\n");
  TextLineReader reader(in.get());
  Section s = Find(reader);
  ASSERT_TRUE(s.found);
  EXPECT_EQ(s.state, NameState::kFound);
  EXPECT_EQ(s.name, "my file.bin");
  EXPECT_EQ(Decode(reader), "A");
  s = Find(reader);
  ASSERT_TRUE(s.found);
  EXPECT_EQ(s.state, NameState::kNone);  // empty name: the handler stops
}

TEST(YencSection, NoSectionWhenTheInputEndsFirst) {
  for (const char* input : {"", "text\n", "=ybegin name=x", "=Ybegin name=x\n\x6B\n",
                            "=ybegin NAME=x\n\x6B\n"}) {
    InputStream in(input);
    TextLineReader reader(in.get());
    EXPECT_FALSE(Find(reader).found) << input;
  }
  InputStream in("=ybegin name=" + std::string(kPathBufferSize, 'n') + "\n\x6B\n");
  TextLineReader reader(in.get());
  const Section s = Find(reader);
  ASSERT_TRUE(s.found);
  EXPECT_EQ(s.state, NameState::kTooLong);
}
