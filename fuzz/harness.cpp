#include "harness.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/charset.h"
#include "core/handler.h"
#include "core/messages.h"
#include "core/prompt.h"
#include "core/settings.h"
#include "platform/windows.h"
#include "shell/handler_list.h"
#include "support/remove_tree.h"

namespace fuzz {
namespace {

using testutil::RemoveTree;

std::string g_parent;
std::string g_scratch;

}  // namespace

void InitProgram() {
  if (!g_parent.empty()) return;
  char pattern[] = "/tmp/dorvane-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) abort();
  g_parent = pattern;
  g_scratch = g_parent + "/work";
  mkdir(g_scratch.c_str(), 0700);
  setenv("DORVANE_REGISTRY", (g_parent + "/registry.reg").c_str(), 1);
  BuildLeadByteTable();
  g_ReadAheadBuffer = static_cast<uint8_t*>(malloc(kReadAheadSize));
  g_HandlerRegistry = CreateHandlerRegistry();
  // Every input is extracted into <scratch>/out.
  std::u16string out;
  for (char c : ProgramForm(g_scratch + "/out")) out.push_back(static_cast<char16_t>(c));
  WriteExtractPath(out.c_str());
  // The scratch folders go when the run ends.
  atexit([] { RemoveTree(g_parent, false); });
  // Encrypted members get a fixed answer instead of waiting for input.
  SetPasswordReader([](const PasswordQuestion&, char* utf8, unsigned size) { snprintf(utf8, size, "secret"); });
  // A program-ending error ends only this input.
  SetFatalErrorHandler([] { throw FatalEnd{}; });
  // Message boxes of a fuzz run go nowhere.
  SetMessageBoxHandler([](HWND, LPCWSTR, LPCWSTR, UINT type) {
    return (type & MB_YESNO) ? IDYES : IDOK;
  });
}

const std::string& ScratchFolder() { return g_scratch; }

std::string OutputFolder() {
  mkdir((g_scratch + "/out").c_str(), 0700);
  return ProgramForm(g_scratch + "/out");
}

std::string ProgramForm(const std::string& hostPath) {
  std::string s = hostPath;
  for (char& c : s) {
    if (c == '/') c = '\\';
  }
  return s;
}

std::string WriteInput(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = g_scratch + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (size > 0) fwrite(data, 1, size, f);
  fclose(f);
  return path;
}

void CheckAndClean() {
  DIR* d = opendir(g_parent.c_str());
  if (d == nullptr) abort();
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0 ||
        strcmp(e->d_name, "work") == 0 || strncmp(e->d_name, "registry.reg", 12) == 0)
      continue;
    fprintf(stderr, "written outside the output folder: %s\n", e->d_name);
    abort();
  }
  closedir(d);
  RemoveTree(g_scratch, true);
}

}  // namespace fuzz
