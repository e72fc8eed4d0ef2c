// Threads (start gate, exit codes, handles), starting processes detached,
// and message boxes on standard error.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/windows.h"
#include "support/testutil.h"

namespace {

// Polls until `done` holds or five seconds pass.
template <typename Condition>
bool WaitFor(Condition done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    Sleep(10);
  }
  return done();
}

DWORD ExitCodeOf(HANDLE thread) {
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  return code;
}

std::atomic<int> g_ran{0};

DWORD Count(void* parameter) {
  g_ran += 1;
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

TEST(PlatformThreads, SuspendedThreadStartsOnResume) {
  g_ran = 0;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, Count, reinterpret_cast<void*>(42), CREATE_SUSPENDED, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_IDLE));
  EXPECT_FALSE(SetThreadPriority(thread, 8));
  Sleep(30);
  EXPECT_EQ(g_ran.load(), 0);
  EXPECT_EQ(ExitCodeOf(thread), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_TRUE(WaitFor([&] { return ExitCodeOf(thread) != STILL_ACTIVE; }));
  EXPECT_EQ(ExitCodeOf(thread), 42u);
  EXPECT_EQ(g_ran.load(), 1);
  EXPECT_EQ(ResumeThread(thread), 0u);  // was not suspended
  EXPECT_TRUE(CloseHandle(thread));
}

struct SetOnDestruction {
  std::atomic<bool>* flag;
  ~SetOnDestruction() { *flag = true; }
};
std::atomic<bool> g_unwound{false};

void LeaveEarly() {
  ExitThread(7);
}

DWORD ExitsThroughExitThread(void*) {
  SetOnDestruction guard{&g_unwound};
  LeaveEarly();
  return 1;  // never reached
}

TEST(PlatformThreads, ExitThreadGivesItsCode) {
  g_unwound = false;
  HANDLE thread = CreateThread(nullptr, 0, ExitsThroughExitThread, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(WaitFor([&] { return ExitCodeOf(thread) != STILL_ACTIVE; }));
  EXPECT_EQ(ExitCodeOf(thread), 7u);
  EXPECT_TRUE(g_unwound.load());
  EXPECT_TRUE(CloseHandle(thread));
}

std::atomic<bool> g_release{false};
std::atomic<bool> g_finished{false};

DWORD WaitForRelease(void*) {
  while (!g_release) Sleep(1);
  g_finished = true;
  return 0;
}

TEST(PlatformThreads, ClosingTheHandleLetsTheThreadRunOn) {
  g_release = false;
  g_finished = false;
  HANDLE thread = CreateThread(nullptr, 0, WaitForRelease, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread));
  g_release = true;
  EXPECT_TRUE(WaitFor([] { return g_finished.load(); }));

  // Handles that are no threads.
  DWORD code;
  EXPECT_FALSE(GetExitCodeThread(nullptr, &code));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(ResumeThread(INVALID_HANDLE_VALUE), static_cast<DWORD>(-1));
}

TEST(PlatformThreads, SleepWaitsAtLeastThatLong) {
  auto start = std::chrono::steady_clock::now();
  Sleep(25);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
}

// Sets PATH for one test.
class PathGuard {
 public:
  explicit PathGuard(const std::string& path) : old_(getenv("PATH") ? getenv("PATH") : "") {
    setenv("PATH", path.c_str(), 1);
  }
  ~PathGuard() { setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

std::u16string Wide(const std::string& utf8) {
  WCHAR buffer[MAX_PATH];
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, buffer, MAX_PATH);
  return buffer;
}

bool ProcessGone(DWORD pid) {
  // A zombie still has its /proc entry; a reaped process has none.
  return !testutil::FileExists("/proc/" + std::to_string(pid));
}

TEST(PlatformProcess, FileExplorerBecomesXdgOpen) {
  testutil::TempDir dir;
  std::string folder = dir / "out \u00E9";
  {
    PathGuard path(dir / "empty-bin");  // no xdg-open anywhere
    PROCESS_INFORMATION info;
    EXPECT_FALSE(CreateProcessW(u"fexplore.exe", Wide(folder).c_str(), nullptr, nullptr, FALSE, 0,
                                nullptr, nullptr, nullptr, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
  // A stand-in xdg-open that writes down its arguments.
  ASSERT_EQ(mkdir((dir / "bin").c_str(), 0755), 0);
  testutil::WriteFile(dir / "bin/xdg-open",
                      "#!/bin/sh\nprintf '%s|' \"$@\" > \"" + dir.path() + "/args.tmp\"\n"
                      "mv \"" + dir.path() + "/args.tmp\" \"" + dir.path() + "/args\"\n");
  ASSERT_EQ(chmod((dir / "bin/xdg-open").c_str(), 0755), 0);
  PathGuard path(dir / "bin:/usr/bin:/bin");
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW(u"FEXPLORE.EXE", Wide(folder).c_str(), nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, nullptr, &info));
  EXPECT_TRUE(WaitFor([&] { return testutil::FileExists(dir / "args"); }));
  EXPECT_EQ(testutil::ReadFile(dir / "args"), folder + "|");
  EXPECT_TRUE(WaitFor([&] { return ProcessGone(info.dwProcessId); }));  // reaped, no zombie
  EXPECT_TRUE(CloseHandle(info.hThread));
  EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST(PlatformProcess, OtherProgramsRunDetached) {
  testutil::TempDir dir;
  std::string out = dir / "session";
  PROCESS_INFORMATION info{};
  // The child's session id (field 6 of its stat line) is its own process id.
  std::u16string line = Wide("-c \"cut -d' ' -f6 /proc/$$/stat > " + out + ".tmp; mv " + out +
                             ".tmp " + out + "\"");
  ASSERT_TRUE(CreateProcessW(u"\\bin\\sh", line.c_str(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, nullptr, &info));
  EXPECT_TRUE(WaitFor([&] { return testutil::FileExists(out); }));
  EXPECT_EQ(testutil::ReadFile(out), std::to_string(info.dwProcessId) + "\n");
  EXPECT_TRUE(WaitFor([&] { return ProcessGone(info.dwProcessId); }));
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  EXPECT_FALSE(CreateProcessW(Wide(dir / "none").c_str(), u"", nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, nullptr, &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Runs `show` with standard error sent to a file; returns what it wrote.
template <typename Show>
std::string CaptureStandardError(Show show) {
  testutil::TempDir dir;
  fflush(stderr);
  int saved = dup(2);
  int file = open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(file, 2);
  close(file);
  show();
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  return testutil::ReadFile(dir / "err");
}

int g_handlerCalls = 0;
int Handler(HWND, LPCWSTR text, LPCWSTR, UINT) {
  ++g_handlerCalls;
  return text[0] == u'n' ? IDNO : IDCANCEL;
}

TEST(PlatformMessageBox, PrintsOnStandardError) {
  int answer = 0;
  EXPECT_EQ(CaptureStandardError([&] { answer = MessageBoxW(nullptr, u"Dorvane: program error x.cab",
                                                            u"Error!", MB_OK | MB_ICONSTOP); }),
            "Error!\nDorvane: program error x.cab\n");
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(CaptureStandardError([&] {
              answer = MessageBoxW(nullptr, u" NOT_A_FILE: 1 times\n", u"", MB_OK);
            }),
            " NOT_A_FILE: 1 times\n");
  EXPECT_EQ(CaptureStandardError([&] { answer = MessageBoxW(nullptr, u"\u65E5\u672C?", nullptr, MB_YESNO); }),
            "\xE6\x97\xA5\xE6\x9C\xAC?\n");
  EXPECT_EQ(answer, IDYES);

  SetMessageBoxHandler(Handler);
  EXPECT_EQ(CaptureStandardError([&] { answer = MessageBoxW(nullptr, u"no", u"c", MB_YESNO); }), "");
  SetMessageBoxHandler(nullptr);
  EXPECT_EQ(answer, IDNO);
  EXPECT_EQ(g_handlerCalls, 1);
}

}  // namespace
