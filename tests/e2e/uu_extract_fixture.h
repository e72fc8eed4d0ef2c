// Shared by the end-to-end tests of the text decoders: runs the program on
// one input file and looks at the output folder.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace lines_test {

// The result report for one file that no handler took, and for one failed
// extraction.
constexpr char kUnsupported[] =
    " NOT_A_FILE: 0 times\nUNSUPPORTED: 1 times\n     FAILED: 0 times\n";
constexpr char kFailed[] = " NOT_A_FILE: 0 times\nUNSUPPORTED: 0 times\n     FAILED: 1 times\n";

class ExtractTest : public ::testing::Test {
 protected:
  // Copies a fixture of tests/fixtures/lines into the input folder under `name`.
  std::string FromFixture(const std::string& fixture, const std::string& name) {
    return Write(name, testutil::ReadFile(testutil::Fixture("lines/" + fixture)));
  }
  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = in() + "/" + name;
    testutil::WriteFile(path, content);
    return path;
  }
  testutil::RunResult Extract(const std::string& path) {
    return testutil::RunDorvane({"#P(" + out() + ")#F(" + path + ")"},
                                {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}});
  }
  // Runs the program and expects a clean run (no report).
  void ExtractCleanly(const std::string& path) {
    const testutil::RunResult r = Extract(path);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  // A clean run over fixture `fixture`, copied in as `name`, leaves exactly
  // `files`, each holding what it was made from (text.txt the text, any
  // other the binary data).
  void ExpectExtractsTo(const std::string& fixture, const std::string& name, const std::vector<std::string>& files) {
    ExtractCleanly(FromFixture(fixture, name));
    EXPECT_EQ(OutputFiles(), files);
    for (const std::string& f : files) EXPECT_EQ(Output(f), f == "text.txt" ? Text() : Data()) << f;
  }
  std::string Output(const std::string& name) const { return testutil::ReadFile(out() + "/" + name); }
  std::vector<std::string> OutputFiles() const { return testutil::ListFiles(out()); }
  // Everything in the temporary folder outside the input and output folders
  // and the settings store (with its lock file).
  std::vector<std::string> Strays() const {
    std::vector<std::string> strays;
    for (const std::string& f : testutil::ListFiles(tmp_.path())) {
      if (f.rfind("in/", 0) != 0 && f.rfind("box/out/", 0) != 0 && f.rfind("registry.reg", 0) != 0) {
        strays.push_back(f);
      }
    }
    return strays;
  }
  static std::string Data() { return testutil::ReadFile(testutil::Fixture("lines/data.bin")); }
  static std::string Text() { return testutil::ReadFile(testutil::Fixture("lines/text.txt")); }

  std::string in() const { return tmp_ / "in"; }
  // Two levels down, so that a name climbing two levels up would still land
  // inside the temporary folder, where Strays() sees it.
  std::string out() const { return tmp_ / "box/out"; }

  void SetUp() override { testutil::System("mkdir -p '" + in() + "'"); }

  testutil::TempDir tmp_;
};

}  // namespace lines_test
