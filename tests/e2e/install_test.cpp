// What `cmake --install` lays down, and the documents it installs: the
// manual page renders and says what --help says; the completion offers the
// options --help lists; the desktop entry names every format's type.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "shell/options.h"
#include "support/testutil.h"

namespace {

using testutil::ReadFile;

struct HelpOption {
  std::string names;        // "-o, --output DIR"
  std::string description;  // its lines joined with single blanks
};

// The option lines of --help: indented names, two or more blanks, the
// description, and description lines that go on under it.
std::vector<HelpOption> HelpOptions() {
  std::vector<HelpOption> options;
  std::istringstream lines(kHelpText);
  for (std::string line; std::getline(lines, line);) {
    const size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos && first < 10 && first > 0 && line[first] == '-') {
      const size_t gap = line.find("  ", first);
      const size_t text = line.find_first_not_of(' ', gap);
      options.push_back({line.substr(first, gap - first), line.substr(text)});
    } else if (!options.empty() && line.rfind("                    ", 0) == 0) {
      options.back().description += " " + line.substr(line.find_first_not_of(' '));
    } else if (!options.empty()) {
      break;
    }
  }
  return options;
}

std::string Squeezed(const std::string& text) {
  return std::regex_replace(text, std::regex("\\s+"), " ");
}

TEST(Install, LaysDownTheProgramAndItsFiles) {
  testutil::TempDir root;
  const std::string log = root / "install.log";
  ASSERT_EQ(testutil::System("DESTDIR='" + root.path() + "' '" DORVANE_CMAKE "' --install '" DORVANE_BUILD_DIR
                             "' --prefix /opt/dv > '" + log + "' 2>&1"),
            0)
      << ReadFile(log);
  const std::string prefix = root / "opt/dv";
  EXPECT_EQ(testutil::System("'" + prefix + "/bin/dorvane' --version > /dev/null"), 0);
  EXPECT_EQ(ReadFile(prefix + "/share/man/man1/dorvane.1"), ReadFile(DORVANE_BUILD_DIR "/dorvane.1"));
  EXPECT_NE(ReadFile(prefix + "/share/bash-completion/completions/dorvane").find("complete "), std::string::npos);
  const std::string desktop = ReadFile(prefix + "/share/applications/dorvane.desktop");
  EXPECT_NE(desktop.find("\nExec=dorvane %F\n"), std::string::npos) << desktop;
  // One type at least for every format the handlers read.
  for (const char* type : {"application/x-tar;", "application/x-compressed-tar;", "application/x-bzip-compressed-tar;",
                           "application/x-tarz;", "application/x-lha;", "application/zip;", "application/x-arj;",
                           "application/vnd.ms-cab-compressed;", "application/gzip;", "application/x-bzip;",
                           "application/x-compress;", "text/x-uuencode;", "message/rfc822;", "text/x-yenc;",
                           "application/x-xz;", "application/x-lzma;", "application/x-lzip;", "application/zstd;",
                           "application/x-lz4;"}) {
    EXPECT_NE(desktop.find(type), std::string::npos) << type;
  }
}

// The README lists the options as --help words them; the manual page says
// the same, and may say more after each.
TEST(Install, ManPageAndReadmeSayWhatHelpSays) {
  if (!testutil::HaveTool("man")) GTEST_SKIP() << "man is not installed";
  testutil::TempDir tmp;
  const std::string out = tmp / "man.txt", err = tmp / "err.txt";
  ASSERT_EQ(testutil::System("LC_ALL=C MANWIDTH=2000 man --warnings -l '" DORVANE_BUILD_DIR "/dorvane.1' > '" + out +
                             "' 2> '" + err + "'"),
            0);
  EXPECT_EQ(ReadFile(err), "");
  const std::string page = Squeezed(ReadFile(out));
  EXPECT_NE(page.find("DORVANE(1)"), std::string::npos) << page;
  const auto options = HelpOptions();
  ASSERT_EQ(options.size(), 16u);
  const std::string readme = Squeezed(ReadFile(DORVANE_SOURCE_DIR "/README.md"));
  for (const HelpOption& option : options) {
    const std::string said = " " + option.names + " " + option.description;
    EXPECT_NE(page.find(said), std::string::npos) << said;
    EXPECT_NE(readme.find(said + " "), std::string::npos) << said;
  }
}

TEST(Install, CompletionOffersTheOptionsHelpLists) {
  if (!testutil::HaveTool("bash")) GTEST_SKIP() << "bash is not installed";
  testutil::TempDir tmp;
  const std::string out = tmp / "words.txt";
  ASSERT_EQ(testutil::System("bash -c 'source \"$0\"; COMP_WORDS=(dorvane -); COMP_CWORD=1; _dorvane; "
                             "printf \"%s\\n\" \"${COMPREPLY[@]}\"' '" DORVANE_SOURCE_DIR
                             "/dist/dorvane.bash-completion' > '" + out + "'"),
            0);
  std::set<std::string> offered;
  std::istringstream words(ReadFile(out));
  for (std::string word; std::getline(words, word);) offered.insert(word);
  std::set<std::string> listed;
  for (const HelpOption& option : HelpOptions()) {
    std::istringstream names(option.names);
    for (std::string name; names >> name;) {
      if (name.back() == ',') name.pop_back();
      if (name[0] == '-') listed.insert(name);
    }
  }
  EXPECT_EQ(offered, listed);
}

}  // namespace
