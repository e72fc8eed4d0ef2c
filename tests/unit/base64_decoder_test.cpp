// The MIME header scan and the Base64 body decoder.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "stream/base64_decoder.h"
#include "unit/uu_memory_stream.h"

using namespace text;

using lines_test::InputStream;

namespace {

std::string Decode(TextLineReader& reader) { return lines_test::DecodeFrom(reader, DecodeBase64Body); }
std::string DecodeBody(const std::string& input) { return lines_test::DecodeAll(input, DecodeBase64Body); }

// Test-only encoder: standard alphabet, '=' padding, lines of `width`.
std::string Encode(const std::string& data, size_t width) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < data.size(); i += 3) {
    const size_t n = std::min<size_t>(3, data.size() - i);
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? static_cast<uint8_t>(data[i + k]) : 0);
    for (size_t k = 0; k < 4; ++k) text += k <= n ? kAlphabet[v >> (18 - 6 * k) & 63] : '=';
  }
  std::string lines;
  for (size_t i = 0; i < text.size(); i += width) lines += text.substr(i, width) + "\n";
  return lines;
}

const char kTwoParts[] =
    "From: a@b\n"
    "Content-Type: multipart/mixed; boundary=\"XX\"\n"
    "\n"
    "--XX\n"
    "Content-Type: text/plain\n"
    "Content-Transfer-Encoding: 7bit\n"
    "\n"
    "Hello.\n"
    "--XX\n"
    "Content-Type: application/octet-stream; name=\"a.zip\"\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "QUJD\n"
    "--XX\n"
    "Content-Type: application/octet-stream\n"
    "Content-Disposition: attachment; filename=\"b.bin\"\n"
    "Content-Transfer-Encoding: BASE64\n"
    "\n"
    "eHl6\n"
    "--XX--\n";

}  // namespace

TEST(Base64Scan, FindsEveryBase64PartInOrderWithItsName) {
  InputStream in(kTwoParts);
  TextLineReader reader(in.get());
  Base64Part part;
  ASSERT_TRUE(FindBase64Part(reader, &part, 1000));
  EXPECT_EQ(part.nameState, NameState::kFound);
  EXPECT_STREQ(part.name, "a.zip");
  EXPECT_EQ(Decode(reader), "ABC");
  ASSERT_TRUE(FindBase64Part(reader, &part, 1000));
  EXPECT_STREQ(part.name, "b.bin");  // filename= matches name= too
  EXPECT_EQ(Decode(reader), "xyz");
  EXPECT_FALSE(FindBase64Part(reader, &part, 1000));
}

TEST(Base64Scan, NamesNeedQuotesAndFoldedHeadersCarryOver) {
  auto nameOf = [](const std::string& headers) {
    InputStream in(headers + "Content-Transfer-Encoding: base64\n\nQUJD\n");
    TextLineReader reader(in.get());
    Base64Part part;
    EXPECT_TRUE(FindBase64Part(reader, &part, 100));
    return std::string(part.name);
  };
  EXPECT_EQ(nameOf("Content-Type: application/zip; name=a.zip\n"), "");
  EXPECT_EQ(nameOf("Content-Type: application/zip; NAME=  \"a b.zip\"\n"), "a b.zip");
  // A header folded after ';' keeps its kind on the next line, whether the
  // ';' ends the line or a blank follows it.
  EXPECT_EQ(nameOf("Content-Type: application/zip;\n\tname=\"c.zip\"\n"), "c.zip");
  EXPECT_EQ(nameOf("Content-Type: application/zip; \n name=\"d.zip\"\n"), "d.zip");
  // Without the ';' the next line is no header.
  EXPECT_EQ(nameOf("Content-Type: application/zip\n name=\"e.zip\"\n"), "");
  // The name runs to the line's end when the closing quote is missing.
  EXPECT_EQ(nameOf("Content-Type: x; name=\"f.zip\n"), "f.zip");
}

// RFC 2231 parameters and RFC 2047 encoded words, in any character set
// iconv knows; the name comes out as UTF-8 here.
TEST(Base64Scan, EncodedNames) {
  const struct {
    const char* headers;
    const char* utf8;
  } rows[] = {
      {"Content-Disposition: attachment; filename*=UTF-8''r%C3%A9sum%C3%A9.txt\n", "résumé.txt"},
      {"Content-Disposition: attachment; filename*=utf-8'en'%E6%97%A5%E6%9C%AC.txt; size=3\n", "日本.txt"},
      {"Content-Disposition: attachment;\n filename*0*=UTF-8''r%C3%A9; filename*1*=sum%C3%A9;\n"
       " filename*2=\".txt\"\n",
       "résumé.txt"},
      {"Content-Disposition: attachment; filename*=ISO-8859-1''caf%E9.txt\n", "café.txt"},
      {"Content-Type: x; name=\"=?UTF-8?B?csOpc3Vtw6kudHh0?=\"\n", "résumé.txt"},
      {"Content-Type: x; name=\"=?ISO-2022-JP?B?GyRCJUchPBsoQg==?=.txt\"\n", "デー.txt"},
      {"Content-Type: x; name=\"=?Shift_JIS?Q?=83f=81[=83^?= =?UTF-8?Q?_=C3=A9?=.txt\"\n", "データ é.txt"},
      {"Content-Type: x; name=\"a =?utf-8?q?=C3=A9?= b.txt\"\n", "a é b.txt"},
      // The extended parameter wins over the plain one on its line.
      {"Content-Disposition: attachment; filename=\"x.txt\"; filename*=UTF-8''%C3%A9.txt\n", "é.txt"},
      // An unknown character set: the bytes as an unmarked name.
      {"Content-Disposition: attachment; filename*=x-none''%C3%A9.txt\n", "é.txt"},
  };
  for (const auto& row : rows) {
    InputStream in(std::string(row.headers) + "Content-Transfer-Encoding: base64\n\nQUJD\n");
    TextLineReader reader(in.get());
    Base64Part part;
    ASSERT_TRUE(FindBase64Part(reader, &part, 100)) << row.headers;
    EXPECT_EQ(part.nameState, NameState::kFound) << row.headers;
    WCHAR wide[kPathBufferSize];
    char utf8[4 * kPathBufferSize] = "";
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, part.name, -1, wide, kPathBufferSize), 0);
    ASSERT_GT(WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr), 0);
    EXPECT_STREQ(utf8, row.utf8) << row.headers;
  }
}

TEST(Base64Scan, BeginBase64LineStartsAPart) {
  InputStream in("text\nbegin-base64 644 r.bin\nQUJD\n====\n");
  TextLineReader reader(in.get());
  Base64Part part;
  ASSERT_TRUE(FindBase64Part(reader, &part, 100));
  EXPECT_STREQ(part.name, "r.bin");
  EXPECT_EQ(Decode(reader), "ABC");
  EXPECT_FALSE(FindBase64Part(reader, &part, 100));
}

TEST(Base64Scan, NamesThatDoNotFitAreRefused) {
  const std::string name(300, 'n');
  InputStream in("Content-Type: x; name=\"" + name + "\"\nContent-Transfer-Encoding: base64\n\n");
  TextLineReader reader(in.get());
  Base64Part part;
  ASSERT_TRUE(FindBase64Part(reader, &part, 100));
  EXPECT_EQ(part.nameState, NameState::kTooLong);
  EXPECT_STREQ(part.name, "");
}

TEST(Base64Scan, LineBudgetLimitsTheSearch) {
  std::string input;
  for (int i = 0; i < 100; ++i) input += "filler line\n";
  input += "Content-Transfer-Encoding: base64\n\nQUJD\n";
  {
    InputStream in(input);
    TextLineReader reader(in.get());
    Base64Part part;
    EXPECT_FALSE(FindBase64Part(reader, &part, 100));
  }
  InputStream in(input);
  TextLineReader reader(in.get());
  Base64Part part;
  EXPECT_TRUE(FindBase64Part(reader, &part, 1000000000));
}

TEST(Base64Body, PaddingWritesThePendingBytes) {
  EXPECT_EQ(DecodeBody("QUI=\n"), "AB");    // '=' after three values: two bytes
  EXPECT_EQ(DecodeBody("QQ==\n"), "A");     // '=' after two values: one byte
  EXPECT_EQ(DecodeBody("QUJDQ\n=\n"), "ABC");  // after one value: nothing
  EXPECT_EQ(DecodeBody("QUJDRA\n"), "ABC");  // no '=': pending values dropped
  // '=' ends the body; the rest of its line and the lines after are left.
  InputStream in("QUI=QUJD\nQUJD\n");
  TextLineReader reader(in.get());
  EXPECT_EQ(Decode(reader), "AB");
  char line[16];
  size_t length;
  reader.ReadLine(line, sizeof line, &length);
  EXPECT_STREQ(line, "QUJD");
}

TEST(Base64Body, SkipsBytesOutsideTheAlphabet) {
  EXPECT_EQ(DecodeBody("Q\xC3\xA9U J\tD\x80\xFF\n"), "ABC");
  EXPECT_EQ(DecodeBody("QU\nJD\n"), "ABC");  // values carry across lines
}

TEST(Base64Body, EndsAtBoundaryAndAtEndOfInput) {
  EXPECT_EQ(DecodeBody("QUJD\n--XX\nQUJD\n"), "ABC");
  EXPECT_EQ(DecodeBody("QUJD\nRUZH"), "ABCEFG");  // last line without line end
  EXPECT_EQ(DecodeBody(""), "");
}

TEST(Base64Body, RoundTripsLargeDataWithStrayBytes) {
  std::mt19937 rng(7);
  std::string data(300000, '\0');
  for (auto& c : data) c = static_cast<char>(rng());
  EXPECT_EQ(DecodeBody(Encode(data, 76)), data);
  // Blanks and CR LF between characters take the decoder off its group
  // path; the result must not change.
  std::string noisy;
  for (char c : Encode(data, 1000)) {
    if (c == '\n') noisy += '\r';
    noisy += c;
    if (rng() % 37 == 0) noisy += ' ';
  }
  EXPECT_EQ(DecodeBody(noisy), data);
}

TEST(Base64Bare, RecognisesBase64ToolOutputOnly) {
  auto bare = [](const std::string& input) {
    InputStream in(input);
    TextLineReader reader(in.get());
    return LooksLikeBareBase64(reader, 100);
  };
  EXPECT_TRUE(bare("QUJD\nRUZH\nSQ==\n"));
  EXPECT_TRUE(bare("QUJD"));
  EXPECT_FALSE(bare(""));
  EXPECT_FALSE(bare("\n\n"));
  EXPECT_FALSE(bare("begin-base64 644 x\nQUJD\n"));
  EXPECT_FALSE(bare("Content-Type: text/plain\n"));
  EXPECT_FALSE(bare("QUJD\nQU JD\n"));
}
