// Arbitrary bytes through the whole per-file procedure: every handler's
// probe, and the extraction of whichever accepts them. The first byte picks
// the file name's extension (every extension a handler claims, none, and
// misleading ones), so the extension pass is exercised too; the seeds are
// made by fuzz/make-seeds.py, which keeps the same list.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/handler.h"
#include "harness.h"
#include "stream/text_parts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kNames[] = {"a.tar", "a.tgz", "a.bz2", "a.Z",   "a.lzh", "a.zip",
                                       "a.arj", "a.gz",  "a.cab", "a.b64", "a.mim", "a.uu",
                                       "a.ntx", "a.exe", "a",     "a.txt", "a.tbz", "a.taZ", "a.xz",  "a.zst", "a.lz",  "a.lzma",
                                       "a.lz4", "a.tlz"};
  fuzz::InitProgram();
  if (size == 0) return 0;
  const std::string name = kNames[data[0] % (sizeof kNames / sizeof kNames[0])];
  const std::string input = fuzz::WriteInput(name, data + 1, size - 1);
  try {
    ProcessArchive(fuzz::ProgramForm(input).c_str());
  } catch (const fuzz::FatalEnd&) {
    // A cabinet that cannot be read, say: the program would end here.
  }
  text::FinishParts();  // parts are written at the end of a run
  fuzz::CheckAndClean();
  return 0;
}
