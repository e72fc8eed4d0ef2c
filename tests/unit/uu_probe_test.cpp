// The content probes of the uuencode and yEnc handlers, which look only at
// the read-ahead bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/charset.h"
#include "core/handler.h"
#include "stream/uu_handler.h"
#include "stream/yenc_handler.h"

namespace {

// Fills the read-ahead buffer the way ProcessArchive does: the file's bytes
// at its start, older bytes after them.
class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildLeadByteTable();
    if (g_ReadAheadBuffer == nullptr) g_ReadAheadBuffer = new uint8_t[kReadAheadSize];
    memset(g_ReadAheadBuffer, 'x', 4096);
  }
  int32_t Load(const std::string& content) {
    memcpy(g_ReadAheadBuffer, content.data(), content.size());
    return static_cast<int32_t>(content.size());
  }
  bool Uu(const char* path, const std::string& content) {
    UuHandler handler;
    return handler.Probe(path, Load(content));
  }
  bool Yenc(const std::string& content) {
    YencHandler handler;
    return handler.Probe("/in/a.txt", Load(content));
  }
};

const std::string kUu = "begin 644 x.bin\n#86)C\n`\nend\n";

TEST_F(ProbeTest, UuWantsItsExtensionAndABeginLine) {
  EXPECT_TRUE(Uu("/in/a.uu", kUu));
  EXPECT_TRUE(Uu("/in/a.UuE", kUu));
  EXPECT_TRUE(Uu("/in/a.uUe", kUu));
  EXPECT_FALSE(Uu("/in/a.txt", kUu));
  EXPECT_FALSE(Uu("/in/a.uux", kUu));
  EXPECT_FALSE(Uu("/in/a.u", kUu));
  EXPECT_FALSE(Uu("/in/a.xxe", kUu));
  EXPECT_FALSE(Uu("/in/uu", kUu));
}

TEST_F(ProbeTest, UuBeginMustStartALineWellBeforeTheEnd) {
  EXPECT_TRUE(Uu("a.uu", "Subject: x\r\rbegin 644 x.bin\r#86)C\r"));  // after CR
  EXPECT_FALSE(Uu("a.uu", "Subject: x\n begin 644 x.bin\n#86)C\n"));
  EXPECT_FALSE(Uu("a.uu", std::string("text\n\0\nbegin 644 x.bin\n#86)C\n", 27)));
  // Only positions more than 12 bytes before the end are examined, so a
  // line start needs at least 12 bytes after it.
  EXPECT_TRUE(Uu("a.uu", "text\nbegin 644 xy"));
  EXPECT_FALSE(Uu("a.uu", "text\nbegin 644 x"));
  EXPECT_FALSE(Uu("a.uu", "begin 644 x\n"));          // 12 bytes: never
  EXPECT_TRUE(Uu("a.uu", "begin 644 xy\n"));
  // Bytes left in the buffer beyond the file's size are not looked at.
  Load("\nbegin 644 stale.bin\n");
  EXPECT_FALSE(Uu("a.uu", "only short text\n"));
}

TEST_F(ProbeTest, YencWantsANamedBeginLine) {
  EXPECT_TRUE(Yenc("=ybegin line=128 size=10 name=x.bin\n"));
  EXPECT_TRUE(Yenc("news\r\n=ybegin name=x.bin\r\n"));
  EXPECT_FALSE(Yenc("=ybegin line=128 size=10 nome=x.bin\n"));
  EXPECT_FALSE(Yenc("=ybegin size=10  name=x.bin\n"));  // two blanks: not matched
  EXPECT_FALSE(Yenc("=Ybegin line=128 size=10 name=x.bin\n"));
  EXPECT_FALSE(Yenc("=ybegin line=128 size=10\nname=x.bin trailing\n"));
  // The whole " name=" must lie more than 6 bytes before the end.
  EXPECT_TRUE(Yenc("=ybegin size=1 name=abcdef"));
  EXPECT_FALSE(Yenc("=ybegin size=1 name=abcde"));
  // A second header line after an unnamed one is found too.
  EXPECT_TRUE(Yenc("=ybegin size=1\n=ybegin size=1 name=x.bin\n"));
}

TEST_F(ProbeTest, YencClaimsNtxInAnyCase) {
  YencHandler handler;
  EXPECT_TRUE(handler.MatchesExtension("ntx"));
  EXPECT_TRUE(handler.MatchesExtension("NTX"));
  EXPECT_FALSE(handler.MatchesExtension("nt"));
  UuHandler uu;
  EXPECT_FALSE(uu.MatchesExtension("uu"));
}

}  // namespace
