// Starting programs, detached and never waited for.
//
// The device's file explorer "fexplore.exe" becomes `xdg-open <folder>`, the
// whole command line being the folder (the device passes it unquoted). Any
// other image runs as the host program its path names, with the command line
// split at blanks ("..." keeps blanks; as on the device the command line
// does not repeat the program's name). The child gets a session of its own
// and /dev/null for its standard streams, so it neither writes into our
// terminal nor dies with it. A small detached thread reaps it when it ends,
// so no zombie is left behind however long we run. When the program cannot
// be started (xdg-open not installed, say) the call fails with the error and
// nothing else happens.
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host.h"

extern char** environ;

namespace {

struct ProcessObject : host::HandleObject {
  pid_t pid;
};

bool IsFileExplorer(const std::u16string& image) {
  size_t cut = image.find_last_of(u"\\/");
  std::u16string name = image.substr(cut == std::u16string::npos ? 0 : cut + 1);
  const std::u16string explorer = u"FEXPLORE.EXE";
  if (name.size() != explorer.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (towupper_w(name[i]) != explorer[i]) return false;
  return true;
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

void* Reap(void* pid) {
  waitpid(static_cast<pid_t>(reinterpret_cast<intptr_t>(pid)), nullptr, 0);
  return nullptr;
}

BOOL Spawn(std::vector<std::string>& arguments, pid_t& pid) {
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  int err = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return host::Fail(host::ErrorFromErrno(err));

  pthread_attr_t reaperAttributes;
  pthread_t reaper;
  if (pthread_attr_init(&reaperAttributes) == 0) {
    pthread_attr_setdetachstate(&reaperAttributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&reaperAttributes, 64 * 1024);
    // Without a reaper (no threads left) the child is reaped when we exit.
    pthread_create(&reaper, &reaperAttributes, Reap,
                   reinterpret_cast<void*>(static_cast<intptr_t>(pid)));
    pthread_attr_destroy(&reaperAttributes);
  }
  return TRUE;
}

HANDLE NewProcessObject(pid_t pid) {
  auto* object = new ProcessObject;
  object->kind = host::HandleKind::Process;
  object->pid = pid;
  return object;
}

}  // namespace

namespace host {

BOOL CloseProcessObject(HandleObject* object) {
  object->kind = HandleKind::Closed;
  delete static_cast<ProcessObject*>(object);
  return TRUE;
}

}  // namespace host

BOOL CreateProcessW(LPCWSTR image, LPCWSTR commandLine, void*, void*, BOOL, DWORD, void*, LPCWSTR,
                    void*, PROCESS_INFORMATION* info) {
  if (!image || !*image) return host::Fail(ERROR_INVALID_PARAMETER);
  std::vector<std::string> arguments;
  if (IsFileExplorer(image)) {
    std::string folder;
    if (!host::ToHostPath(commandLine, folder)) folder = "/";  // no folder: the top
    if (folder[0] == '-') folder.insert(0, "./");  // a folder, never an option
    arguments = {"xdg-open", folder};
  } else {
    std::string program;
    host::ToHostPath(image, program);
    arguments = SplitCommandLine(commandLine ? host::ToUtf8(commandLine) : "");
    arguments.insert(arguments.begin(), program);
  }
  pid_t pid;
  if (!Spawn(arguments, pid)) return FALSE;
  if (info) {
    info->hProcess = NewProcessObject(pid);
    info->hThread = NewProcessObject(pid);
    info->dwProcessId = static_cast<DWORD>(pid);
    info->dwThreadId = static_cast<DWORD>(pid);
  }
  return TRUE;
}
