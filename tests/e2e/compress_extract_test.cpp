// Single compress (.Z) files extracted by the program: output names, the
// TAR+compress handler stepping aside, widths 10 to 16, bad input.
#include <gtest/gtest.h>

#include <string>

#include "support/testutil.h"

namespace {

using testutil::Fixture;
using testutil::ReadFile;

const char kWordsSha[] = "c13fb192a9aadc1f6859096591e2848e9186e707365442688e2f87dea7daca90";
const char kAlphaSha[] = "203ae32fb74c36560b925a5c8b616596863b40692243b40cfa85f34149354032";
const char kUnsupported[] = " NOT_A_FILE: 0 times\nUNSUPPORTED: 1 times\n     FAILED: 0 times\n";

class CompressExtract : public ::testing::Test {
 protected:
  testutil::RunResult Extract(const std::string& archive) {
    return testutil::RunDorvane({"#P(" + out() + ")#F(" + archive + ")"},
                                {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}});
  }
  std::string Copy(const std::string& fixture, const std::string& name) {
    testutil::WriteFile(tmp_ / name, ReadFile(Fixture(fixture)));
    return tmp_ / name;
  }
  std::string Output(const std::string& name) const { return ReadFile(out() + "/" + name); }
  std::string out() const { return tmp_ / "out"; }
  testutil::TempDir tmp_;
};

TEST_F(CompressExtract, OutputNames) {
  // data.Z: claimed by TAR+compress, whose probe fails; the extension goes.
  EXPECT_EQ(Extract(Copy("tar/words-b16.Z", "data.Z")).exitCode, 0);
  EXPECT_EQ(testutil::Sha256Hex(Output("data")), kWordsSha);
  // Lower-case .z is found in the content pass and also loses its extension;
  // 1.6 MB of output.
  EXPECT_EQ(Extract(Copy("tar/alpha.Z", "big.z")).exitCode, 0);
  EXPECT_EQ(testutil::Sha256Hex(Output("big")), kAlphaSha);
  // Any other name gets the suffix.
  EXPECT_EQ(Extract(Copy("tar/note.Z", "note.lzw")).exitCode, 0);
  EXPECT_EQ(Output("note.lzw.uncompress"), "not a tar archive\n");
}

TEST_F(CompressExtract, EveryWidthFromCompress) {
  if (!testutil::HaveTool("compress")) GTEST_SKIP() << "compress is not installed";
  // 1.5 MB of varied text fills the 16-bit table and makes compress clear it.
  const std::string data = tmp_ / "data.bin";
  ASSERT_EQ(testutil::System("python3 -c \"import random,sys; r=random.Random(3); "
                             "sys.stdout.write(' '.join(str(r.getrandbits(r.randint(1,40))) "
                             "for _ in range(200000)))\" > '" + data + "'"),
            0);
  const std::string expected = ReadFile(data);
  ASSERT_GT(expected.size(), 1u << 20);
  for (int bits = 10; bits <= 16; ++bits) {
    SCOPED_TRACE(bits);
    const std::string z = tmp_ / ("w" + std::to_string(bits) + ".Z");
    ASSERT_EQ(testutil::System("compress -c -b" + std::to_string(bits) + " < '" + data + "' > '" + z + "'"), 0);
    ASSERT_EQ(Extract(z).exitCode, 0);
    EXPECT_TRUE(Output("w" + std::to_string(bits)) == expected);
  }
}

TEST_F(CompressExtract, BadInput) {
  // Cut in half: what was decoded is written, the run still succeeds.
  const std::string z = ReadFile(Fixture("tar/words-b12.Z"));
  testutil::WriteFile(tmp_ / "cut.Z", z.substr(0, z.size() / 2));
  EXPECT_EQ(Extract(tmp_ / "cut.Z").exitCode, 0);
  const std::string cut = Output("cut");
  EXPECT_GT(cut.size(), 0u);
  EXPECT_LT(cut.size(), 12005u);
  // A corrupt code after a good start: the member is named as damaged and
  // nothing stands under its name.
  testutil::WriteFile(tmp_ / "bad.Z", std::string("\x1F\x9D\x90\x41\xFE\xFF\xFF", 7));
  const auto bad = Extract(tmp_ / "bad.Z");
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("bad: damaged data"), std::string::npos) << bad.err;
  EXPECT_FALSE(testutil::FileExists(tmp_ / "out/bad"));
  // The magic alone is not taken by any handler.
  testutil::WriteFile(tmp_ / "tiny.Z", std::string("\x1F\x9D", 2));
  const auto r = Extract(tmp_ / "tiny.Z");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find(kUnsupported), std::string::npos) << r.err;
}

}  // namespace
