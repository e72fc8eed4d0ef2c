// Cabinets through the whole program: the handler is chosen by content,
// files land under the output folder, and the program-ending errors end the
// process with status 1 and the error box on standard error.
#include <gtest/gtest.h>

#include <string>

#include "../unit/cab_builder.h"
#include "support/testutil.h"

namespace {

using testutil::ReadFile;

class CabCli : public ::testing::Test {
 protected:
  testutil::RunResult Extract(const std::string& archive) {
    return testutil::RunDorvane({"#P(" + out() + ")#F(" + archive + ")"},
                                {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}});
  }
  std::string out() const { return tmp_ / "out"; }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    testutil::WriteFile(tmp_ / name, bytes);
    return tmp_ / name;
  }
  testutil::TempDir tmp_;
};

std::vector<uint8_t> Content(size_t n) {
  std::vector<uint8_t> d(n);
  for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>("cabinet "[i % 8] ^ (i / 1000));
  return d;
}

TEST_F(CabCli, ExtractsAGcabCabinetWithFolders) {
  auto r = Extract(testutil::Fixture("cab/mszip.cab"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(out() + "/a.txt"), "Hello from a cabinet.\n");
  EXPECT_EQ(ReadFile(out() + "/sub/b.bin").size(), 40000u);
  EXPECT_EQ(ReadFile(out() + "/big/text.txt").size(), 1200000u);
}

TEST_F(CabCli, FindsAnLzxCabinetBehindAStub) {
  std::vector<uint8_t> content = Content(100000);
  cabtest::Cabinet c;
  cabtest::LzxOptions o;
  o.windowBits = 17;
  c.folders.push_back({3 | 17 << 8, cabtest::MakeBlocks(3, content, o)});
  c.files.push_back({"dir\\data.bin", 100000, 0, 0});
  std::vector<uint8_t> file(5000, 0x4D);
  std::vector<uint8_t> cab = cabtest::Build(c);
  file.insert(file.end(), cab.begin(), cab.end());
  auto r = Extract(Write("setup.cab", file));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out() + "/dir/data.bin"), std::string(content.begin(), content.end()));
}

TEST_F(CabCli, MissingNextCabinetIsNamedAndTheRunGoesOn) {
  cabtest::Cabinet c;
  c.flags = 2;
  c.nextName = "Next.CAB";
  std::vector<uint8_t> content = Content(30);
  c.folders.push_back({0, cabtest::MakeBlocks(0, content)});
  c.files = {{"a", 10, 0, 0}, {"x", 20, 10, 0xFFFE}};
  const std::string first = Write("first.cab", cabtest::Build(c));
  auto r = testutil::RunDorvane({"-o", out(), first, testutil::Fixture("cab/stored.cab")},
                      {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("first.cab: the next cabinet next.cab is missing\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("x: continues into the next cabinet"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("FAILED: 1 times"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(out() + "/a"), std::string(content.begin(), content.begin() + 10));
  EXPECT_FALSE(testutil::FileExists(out() + "/x"));
  EXPECT_GT(testutil::ListFiles(out()).size(), 1u);  // the next archive was extracted
}

TEST_F(CabCli, CabinetCutShortFails) {
  const std::string whole = ReadFile(testutil::Fixture("cab/mszip.cab"));
  for (size_t cut : {size_t{30}, size_t{90}, whole.size() / 2}) {
    testutil::WriteFile(tmp_ / "cut.cab", whole.substr(0, cut));
    auto r = Extract(tmp_ / "cut.cab");
    EXPECT_EQ(r.exitCode, 2) << cut;
    // The whole path, with "/" between its folders.
    EXPECT_NE(r.err.find(tmp_ / "cut.cab: WARNING; cabinet is truncated"), std::string::npos) << cut << r.err;
    EXPECT_NE(r.err.find("FAILED: 1 times"), std::string::npos) << cut << r.err;
  }
}

TEST_F(CabCli, QuantumIsReportedForEachFileAndTheRunGoesOnAndFails) {
  cabtest::Cabinet c;
  std::vector<uint8_t> content = Content(30);
  c.folders.push_back({2 | 16 << 8, cabtest::MakeBlocks(0, content)});
  c.folders.push_back({0, cabtest::MakeBlocks(0, content)});
  c.files = {{"q1", 10, 0, 0}, {"q2", 20, 10, 0}, {"plain", 30, 0, 1}};
  std::string path = Write("q.cab", cabtest::Build(c));
  auto r = Extract(path);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("q2: unsupported data format"), std::string::npos) << r.err;
  std::string message = ": unsupported data format\n";
  size_t first = r.err.find(message);
  ASSERT_NE(first, std::string::npos) << r.err;
  EXPECT_NE(r.err.find(message, first + 1), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(out() + "/plain"), std::string(content.begin(), content.end()));
}

}  // namespace
