// The program in a real terminal: tmux runs it, sends keys and reads the
// screen. Skipped when tmux is not installed.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "../unit/cab_builder.h"
#include "support/testutil.h"

namespace {

using testutil::ReadFile;
using testutil::TempDir;

class TmuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testutil::HaveTool("tmux")) GTEST_SKIP() << "tmux is not installed";
    socket_ = tmp_ / "tmux-0";
  }
  void TearDown() override {
    if (!socket_.empty()) Tmux("kill-server 2>/dev/null");
  }
  // The server's socket lives in the test's own folder, so nothing is left
  // behind in tmux's shared socket folder whatever becomes of the server.
  int Tmux(const std::string& args) { return testutil::System("tmux -S '" + socket_ + "' " + args); }
  // Ends the server and moves to a socket of its own for the next session: a
  // new session on the old socket can meet the old server still exiting.
  void NewServer() {
    Tmux("kill-server 2>/dev/null");
    socket_ = tmp_ / ("tmux-" + std::to_string(++servers_));
  }
  // Runs the program in a new session; `setup` runs before it, `pipe` (a
  // shell command) feeds its standard input, `args` are its arguments.
  void Start(const std::string& setup = "", const std::string& pipe = "", const std::string& args = "") {
    const std::string script = tmp_ / "run.sh";
    testutil::WriteFile(script, "#!/bin/sh\nexport DORVANE_REGISTRY='" + tmp_ / "registry.reg" +
                                    "' LANG=C.UTF-8 TERM=screen\n" + setup + (pipe.empty() ? "" : pipe + " | ") +
                                    "sh -c 'echo $$ > \"$1\"; shift; exec \"$@\"' sh '" + tmp_ / "pid" + "' '" +
                                    DORVANE_BINARY + "' " + args + "\necho \"EXIT=$?\"\nsleep 60\n");
    ASSERT_EQ(Tmux("new-session -d -x 80 -y 24 sh '" + script + "'"), 0);
  }
  void Keys(const std::string& keys) { Tmux("send-keys " + keys); }
  std::string Screen() {
    const std::string file = tmp_ / "screen.txt";
    Tmux("capture-pane -p > '" + file + "'");
    return ReadFile(file);
  }
  // Waits until the screen shows `text`; the screen then.
  std::string WaitFor(const std::string& text) {
    std::string s;
    for (int i = 0; i < 100; ++i) {
      s = Screen();
      if (s.find(text) != std::string::npos) return s;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "never showed \"" << text << "\":\n" << s;
    return s;
  }
  // Waits until the screen no longer shows `text`.
  std::string WaitGone(const std::string& text) {
    std::string s;
    for (int i = 0; i < 100; ++i) {
      s = Screen();
      if (s.find(text) == std::string::npos) return s;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "still shows \"" << text << "\":\n" << s;
    return s;
  }
  // The encrypted archive (password "secret") in in/, the extract path out/
  // stored, the program started; then the archive is chosen in the browser
  // and "Extract" pressed.
  void ExtractEncryptedArchive(const std::string& pipe = "") {
    testutil::System("mkdir -p '" + tmp_ / "in" + "' '" + tmp_ / "out" + "'");
    testutil::WriteFile(tmp_ / "in/enc.zip", ReadFile(testutil::Fixture("zip/enc-stored.zip")));
    Start("'" DORVANE_BINARY "' '#P(" + tmp_ / "out" + ")#F(/nonexistent)' 2>/dev/null </dev/null\n", pipe);
    WaitFor("out ");
    Keys("Tab Enter");
    WaitFor("F10:");
    const std::string typed = tmp_ / "in/enc.zip";
    Keys("Tab");
    Keys("-l '" + typed + "'");
    Keys("Enter");
    WaitFor("enc.zip ");
    Keys("Tab Tab Tab Tab Enter");
  }
  // The modes of the pane's terminal, as `stty -a` shows them.
  std::string TerminalModes() {
    const std::string tty = tmp_ / "tty.txt", modes = tmp_ / "modes.txt";
    Tmux("display -p '#{pane_tty}' > '" + tty + "'");
    std::string name = ReadFile(tty);
    if (!name.empty()) name.pop_back();
    testutil::System("stty -F '" + name + "' -a > '" + modes + "' 2>/dev/null");
    return ReadFile(modes);
  }
  // Waits until the terminal's echo is off (a prompt reads); false when it
  // never is.
  bool WaitForEchoOff() {
    for (int i = 0; i < 100; ++i) {
      if (TerminalModes().find(" -echo ") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // Waits until the file exists, and a moment more for it to be written;
  // its content.
  std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 100 && !testutil::FileExists(path); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return ReadFile(path);
  }
  TempDir tmp_;
  std::string socket_;
  int servers_ = 0;
};

TEST_F(TmuxTest, ExtractionRoadWithTheKeyboard) {
  testutil::System("mkdir -p '" + tmp_ / "in" + "' '" + tmp_ / "out" + "'");
  testutil::WriteFile(tmp_ / "in/data.gz", ReadFile(testutil::Fixture("core/noname.gz")));
  testutil::WriteFile(tmp_ / "in/junk.bin", "no format at all");
  // The extract path is stored beforehand by the command-line form.
  Start("'" DORVANE_BINARY "' '#P(" + tmp_ / "out" + ")#F(/nonexistent)' 2>/dev/null\n");
  WaitFor("File for unpacking:");
  WaitFor("out ");
  // The file button opens the browser; the name field takes a whole path.
  Keys("Tab Enter");
  WaitFor("F10:");
  std::string typed = tmp_ / "in/data.gz";
  Keys("Tab");
  Keys("-l '" + typed + "'");
  Keys("Enter");
  WaitFor("data.gz ");
  // "Make folder", then "Extract".
  Keys("Tab Tab Space Tab Tab Enter");
  EXPECT_TRUE(WaitForFile(tmp_ / "out/data") == ReadFile(testutil::Fixture("core/lines.txt")));
  EXPECT_NE(ReadFile(tmp_ / "registry.reg").find("\"MakeDir\"=dword:00000001"), std::string::npos);
  // An archive no handler reads: the result report.
  Keys("BTab BTab BTab BTab Enter");
  WaitFor("F10:");
  typed = tmp_ / "in/junk.bin";
  Keys("Tab");
  Keys("-l '" + typed + "'");
  Keys("Enter");
  WaitFor("junk.bin ");
  Keys("Tab Tab Tab Tab Enter");
  WaitFor("junk.bin: not an archive this program reads");  // the file is named first
  Keys("Enter");
  const std::string report = WaitFor("UNSUPPORTED: 1 times");
  EXPECT_NE(report.find("NOT_A_FILE: 0 times"), std::string::npos);
  Keys("Enter");
  // Associate: tick LZH, confirm with Yes.
  Keys("Tab Enter");
  WaitFor("[ ] LZH");
  Keys("Space Enter");
  WaitFor("Associate selected file type to Dorvane?");
  Keys("Enter");
  WaitFor("Associated!");
  Keys("Enter");
  EXPECT_NE(ReadFile(tmp_ / "registry.reg").find("DorvaneCE_LZH"), std::string::npos);
  Keys("Escape");
  const std::string end = WaitFor("EXIT=0");
  EXPECT_EQ(end.find("Dorvane for PocketPC"), std::string::npos);  // the screen is given back
}

TEST_F(TmuxTest, BrowserFollowsTheTerminalSize) {
  Start();
  WaitFor("File for unpacking:");
  Keys("Tab Enter");
  std::string s = WaitFor("F10:");
  EXPECT_NE(s.find("[OK]┐\n"), std::string::npos);
  Tmux("resize-window -x 100 -y 30");
  for (int i = 0; i < 50; ++i) {
    s = Screen();
    const std::string top = s.substr(0, s.find('\n'));
    size_t chars = 0;
    for (unsigned char c : top) chars += (c & 0xC0) != 0x80;
    if (chars == 100) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const std::string top = s.substr(0, s.find('\n'));
  size_t chars = 0;
  for (unsigned char c : top) chars += (c & 0xC0) != 0x80;
  EXPECT_EQ(chars, 100u) << s;
  Keys("Escape");
  WaitFor("Extract path:");
  Keys("Escape");
  WaitFor("EXIT=0");
}

TEST_F(TmuxTest, TerminalIsRestoredOnSigterm) {
  Start();
  WaitFor("File for unpacking:");
  const std::string pid = ReadFile(tmp_ / "pid");
  ASSERT_FALSE(pid.empty());
  testutil::System("kill -TERM " + pid);
  const std::string s = WaitFor("EXIT=143");
  EXPECT_EQ(s.find("File for unpacking:"), std::string::npos);
  const std::string file = tmp_ / "alt.txt";
  Tmux("display -p '#{alternate_on}' > '" + file + "'");
  EXPECT_EQ(ReadFile(file), "0\n");
}

constexpr char kNumbersSha[] = "2e57c67a8bbe706a08d6638ec67da02b67b3743ae7d35948cbcf8d1f45cae0a5";

// A pipe on standard input does not take the dialogs' keyboard: the keys come
// from the terminal, and the password is the one typed into the prompt, not
// the piped line.
TEST_F(TmuxTest, PasswordPromptWithPipedStandardInput) {
  ExtractEncryptedArchive("echo wrong");
  std::string s = WaitFor("Password for numbers.txt in enc.zip:");
  EXPECT_NE(s.find("[x] Hide with '*'"), std::string::npos) << s;
  Keys("-l sec");
  s = WaitFor("***_");
  EXPECT_EQ(s.find("sec"), std::string::npos) << s;
  Keys("-l ret");
  WaitFor("******_");
  Keys("Enter");
  // The members come out one after the other: the second one's file exists
  // once the first one is complete.
  WaitForFile(tmp_ / "out/empty.txt");
  EXPECT_TRUE(testutil::FileExists(tmp_ / "out/empty.txt"));
  EXPECT_EQ(testutil::Sha256Hex(ReadFile(tmp_ / "out/numbers.txt")), kNumbersSha);
  WaitGone("Password for");
  Keys("Escape");
  WaitFor("EXIT=0");
}

TEST_F(TmuxTest, WrongPasswordThreeTimesLeavesNothing) {
  ExtractEncryptedArchive();
  WaitFor("Password for numbers.txt in enc.zip:");
  Keys("-l nope");
  Keys("Enter");
  // A wrong try says so in the next prompt.
  WaitFor("Wrong password.");
  // Keys typed ahead reach each new prompt in turn.
  for (int i = 0; i < 2; ++i) {
    Keys("-l nope");
    Keys("Enter");
  }
  WaitGone("Password for");
  // Each encrypted member is named (nobody is asked again for the second),
  // then the archive is reported as failed.
  WaitFor("numbers.txt: no password given opens it");
  Keys("Enter");
  WaitFor("empty.txt: no password given opens it");
  Keys("Enter");
  WaitFor("FAILED: 1 times");
  Keys("Enter");
  const std::string s = WaitGone("FAILED: 1 times");
  EXPECT_NE(s.find("enc.zip"), std::string::npos) << s;  // the main dialog is back
  EXPECT_TRUE(testutil::ListFiles(tmp_ / "out").empty());
  Keys("Escape");
  WaitFor("EXIT=0");
}

// The command-line form in a terminal: a piped password is read from the
// pipe without a prompt; without a pipe the prompt asks on the terminal and
// does not echo the typed text.
TEST_F(TmuxTest, CommandLinePasswordFromPipeOrTerminal) {
  testutil::System("mkdir -p '" + tmp_ / "out" + "'");
  const std::string args = "'#P(" + tmp_ / "out" + ")#F(" + testutil::Fixture("zip/enc-stored.zip") + ")'";
  Start("", "echo secret", args);
  WaitFor("EXIT=0");
  EXPECT_EQ(testutil::Sha256Hex(ReadFile(tmp_ / "out/numbers.txt")), kNumbersSha);
  NewServer();
  testutil::System("rm -rf '" + tmp_ / "out" + "'; mkdir -p '" + tmp_ / "out" + "'");
  Start("", "", args);
  // The prompt reads once the terminal's echo is off (the progress status
  // line, drawn by its own thread, may stand over the prompt's text).
  ASSERT_TRUE(WaitForEchoOff()) << TerminalModes();
  WaitFor("Password for numbers.txt in enc-stored.zip:");
  Keys("-l secret");
  Keys("Enter");
  const std::string s = WaitFor("EXIT=0");
  EXPECT_EQ(s.find("secret"), std::string::npos) << s;
  EXPECT_EQ(testutil::Sha256Hex(ReadFile(tmp_ / "out/numbers.txt")), kNumbersSha);
}

// On a terminal a status line shows the archive and its format (the options
// form), how far it has been read, the speed, the time left and the member;
// it is cleared at the end and
// whenever other output comes (-v names the members). With -q,
// or with standard error not a terminal, nothing is shown. The password read
// from a pipe the test holds open keeps the extraction waiting meanwhile.
TEST_F(TmuxTest, ProgressStatusLineOnlyOnATerminal) {
  testutil::WriteFile(tmp_ / "enc.zip", ReadFile(testutil::Fixture("zip/enc-stored.zip")));
  const std::string fifo = tmp_ / "pw";
  const std::string run = "-o '" + tmp_ / "out" + "' '" + tmp_ / "enc.zip" + "'";
  const std::string lineEnd = "numbers.txt";
  for (const std::string& extra : {std::string("-v "), std::string("-q "), std::string("2>'" + tmp_ / "err.txt" + "' ")}) {
    NewServer();
    testutil::System("rm -f '" + fifo + "'; mkfifo '" + fifo + "'");
    Start("", "cat '" + fifo + "'", extra + run);
    std::string s;
    const bool shown = extra == "-v ";
    if (shown) {
      s = WaitFor(" left  " + lineEnd);
      EXPECT_TRUE(std::regex_search(s, std::regex("enc\\.zip \\(zip\\)  [0-9]+%  [0-9.]+ k?B/s  0:[0-9]{2} left  numbers\\.txt")))
          << s;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));  // several redraw periods
      s = Screen();
      EXPECT_EQ(s.find("enc.zip"), std::string::npos) << extra << s;
    }
    testutil::WriteFile(fifo, "secret\n");
    s = WaitFor("EXIT=0");
    EXPECT_EQ(s.find('%'), std::string::npos) << s;
    // A member named meanwhile (-v) takes a clean line, not the status line's.
    if (shown) {
      EXPECT_NE(s.find("\nempty.txt\n"), std::string::npos) << s;
    }
    EXPECT_EQ(testutil::Sha256Hex(ReadFile(tmp_ / "out/numbers.txt")), kNumbersSha);
  }
  EXPECT_EQ(ReadFile(tmp_ / "err.txt"), "");
}

// A program-ending error during an extraction: the "Error!" box, then the
// program ends with status 1 and the terminal is given back.
TEST_F(TmuxTest, TerminalIsRestoredAfterAProgramEndingError) {
  // A set whose next cabinet is a folder: opened, but its reads fail.
  testutil::System("mkdir -p '" + tmp_ / "in" + "' '" + tmp_ / "out" + "' '" + tmp_ / "in/next.cab" + "'");
  cabtest::Cabinet c;
  c.flags = 2;
  c.nextName = "Next.CAB";
  const std::vector<uint8_t> content(10, 'x');
  c.folders.push_back({0, cabtest::MakeBlocks(0, content)});
  c.files.push_back({"a", 10, 0, 0});
  testutil::WriteFile(tmp_ / "in/first.cab", cabtest::Build(c));
  Start("'" DORVANE_BINARY "' '#P(" + tmp_ / "out" + ")#F(/nonexistent)' 2>/dev/null\n");
  WaitFor("out ");
  Keys("Tab Enter");
  WaitFor("F10:");
  const std::string typed = tmp_ / "in/first.cab";
  Keys("Tab");
  Keys("-l '" + typed + "'");
  Keys("Enter");
  WaitFor("first.cab ");
  Keys("Tab Tab Tab Tab Enter");
  const std::string box = WaitFor("Error!");
  EXPECT_NE(box.find("Dorvane: program error"), std::string::npos) << box;
  Keys("Enter");
  const std::string s = WaitFor("EXIT=1");
  EXPECT_EQ(s.find("File for unpacking:"), std::string::npos) << s;
  const std::string file = tmp_ / "alt.txt";
  Tmux("display -p '#{alternate_on}' > '" + file + "'");
  EXPECT_EQ(ReadFile(file), "0\n");
}

// Ctrl-C at the command line's password prompt gives the terminal its echo
// back, says so and ends the program by SIGINT.
TEST_F(TmuxTest, CtrlCAtThePasswordPromptGivesTheEchoBack) {
  testutil::System("mkdir -p '" + tmp_ / "out" + "'");
  Start("trap : INT\n", "", "'#P(" + tmp_ / "out" + ")#F(" + testutil::Fixture("zip/enc-stored.zip") + ")'");
  ASSERT_TRUE(WaitForEchoOff()) << TerminalModes();
  Keys("C-c");
  const std::string s = WaitFor("EXIT=130");
  EXPECT_NE(s.find("dorvane: interrupted"), std::string::npos) << s;
  const std::string modes = TerminalModes();
  EXPECT_EQ(modes.find(" -echo "), std::string::npos) << modes;
  EXPECT_NE(modes.find(" echo "), std::string::npos) << modes;
}

TEST_F(TmuxTest, TerminalIsRestoredOnCtrlC) {
  Start("trap : INT\n");  // Ctrl-C goes to the whole group: the script stays to report
  WaitFor("File for unpacking:");
  Keys("C-c");
  const std::string s = WaitFor("EXIT=130");
  EXPECT_EQ(s.find("File for unpacking:"), std::string::npos) << s;
}

}  // namespace
