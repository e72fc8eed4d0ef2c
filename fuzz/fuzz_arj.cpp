// Arbitrary bytes as an ARJ archive: the handler's Probe and Extract into a
// scratch folder. Invariants: nothing is written outside the output folder,
// and Extract never accepts a file whose content Probe rejects (Extract
// searches a subset of what Probe searches).
#include <signal.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/arj/arj_handler.h"
#include "core/handler.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  static ArjHandler* handler = [] {
    // A few bytes can declare gigabytes of output; writes past the limit fail
    // and end the member instead of filling the disk.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 << 20, 64 << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    return new ArjHandler();
  }();
  const std::string input = fuzz::WriteInput("a.arj", data, size);
  const std::string program = fuzz::ProgramForm(input);
  const size_t buffered = size < kReadAheadSize ? size : kReadAheadSize;
  memcpy(g_ReadAheadBuffer, data, buffered);
  const bool probed = handler->Probe(program.c_str(), int32_t(size));
  const std::string out = fuzz::OutputFolder();
  const bool extracted = handler->Extract(program.c_str(), out.c_str());
  if (extracted && !probed) abort();
  fuzz::CheckAndClean();
  return 0;
}
