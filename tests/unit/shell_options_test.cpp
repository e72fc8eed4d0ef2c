// Reading the options form: the spellings users type, and the reasons a
// command line is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/options.h"

namespace {

bool Parse(std::vector<std::string> args, CommandOptions* options, std::string* error) {
  args.insert(args.begin(), "dorvane");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return ParseOptions(static_cast<int>(args.size()), argv.data(), options, error);
}

TEST(ParseOptions, AcceptsTheUsualSpellings) {
  struct Row {
    std::vector<std::string> args;
    std::string output;
    bool list, verbose, keep;
    std::vector<std::string> archives;
  };
  const Row rows[] = {
      {{"-o", "out", "a.zip"}, "out", false, false, false, {"a.zip"}},
      {{"-oout", "a.zip"}, "out", false, false, false, {"a.zip"}},
      {{"--output=out", "a.zip"}, "out", false, false, false, {"a.zip"}},
      {{"--out", "out", "a.zip"}, "out", false, false, false, {"a.zip"}},  // a unique prefix
      {{"-lvk", "a.zip", "b.lzh"}, "", true, true, true, {"a.zip", "b.lzh"}},
      {{"-l", "a.zip", "-v"}, "", true, true, false, {"a.zip"}},  // options after archives
      {{"-v", "--", "-l", "--keep"}, "", false, true, false, {"-l", "--keep"}},
  };
  for (const Row& row : rows) {
    CommandOptions options;
    std::string error;
    ASSERT_TRUE(Parse(row.args, &options, &error)) << row.args[0] << ": " << error;
    EXPECT_EQ(options.output, row.output) << row.args[0];
    EXPECT_EQ(options.list, row.list) << row.args[0];
    EXPECT_EQ(options.verbose, row.verbose) << row.args[0];
    EXPECT_EQ(options.keep, row.keep) << row.args[0];
    EXPECT_EQ(options.archives, row.archives) << row.args[0];
  }
  CommandOptions options;
  std::string error;
  ASSERT_TRUE(Parse({"-p", "", "x.zip"}, &options, &error));
  EXPECT_TRUE(options.havePassword);  // an empty password is still given
  // Help and version need no archive.
  ASSERT_TRUE(Parse({"-h"}, &options, &error));
  EXPECT_EQ(options.action, CommandOptions::Action::kHelp);
  ASSERT_TRUE(Parse({"--version"}, &options, &error));
  EXPECT_EQ(options.action, CommandOptions::Action::kVersion);
}

TEST(ParseOptions, RefusesWithAReason) {
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } rows[] = {
      {{"--bogus", "a.zip"}, "unknown or ambiguous option '--bogus'"},
      {{"--pass", "x", "a.zip"}, "unknown or ambiguous option '--pass'"},
      {{"-y", "a.zip"}, "unknown option '-y'"},  // -x chooses members
      {{"a.zip", "-o"}, "option '-o' needs a value"},
      {{"--password-file"}, "option '--password-file' needs a value"},
      {{"-l", "-t", "a.zip"}, "-l and -t cannot be used together"},
      {{"-c", "-t", "a.zip"}, "-c cannot be used with -l or -t"},
      {{"--json", "a.zip"}, "--json needs -l or -t"},
      {{"-l", "--format=xml", "a.zip"}, "unknown listing format 'xml' (json or text)"},
      {{"-p", "x", "--password-file", "f", "a.zip"}, "-p and --password-file cannot be used together"},
      {{"-v"}, "no archive given"},
  };
  for (const auto& row : rows) {
    CommandOptions options;
    std::string error;
    EXPECT_FALSE(Parse(row.args, &options, &error)) << row.args[0];
    EXPECT_EQ(error, row.reason) << row.args[0];
  }
}

}  // namespace
