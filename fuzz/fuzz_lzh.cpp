// The LZH handler on arbitrary bytes: Probe over the read-ahead buffer, then
// Extract into the scratch folder, which must hold everything written.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "archive/lzh/lzh_handler.h"
#include "core/handler.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  static LzhHandler handler;
  const std::string input = fuzz::WriteInput("a.lzh", data, size);
  const std::string path = fuzz::ProgramForm(input);
  const size_t buffered = size < kReadAheadSize ? size : kReadAheadSize;
  if (buffered > 0) std::memcpy(g_ReadAheadBuffer, data, buffered);
  const bool probed = handler.Probe(path.c_str(), static_cast<int32_t>(size));
  const std::string out = fuzz::OutputFolder();
  const bool extracted = handler.Extract(path.c_str(), out.c_str());
  // Extract finds whatever Probe finds (it searches a longer stretch).
  if (probed && !extracted) abort();
  fuzz::CheckAndClean();
  return 0;
}
