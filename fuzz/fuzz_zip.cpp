// Arbitrary bytes as a ZIP archive through ZipHandler's probe and
// extraction, with every password prompt answered "secret" (the password of
// the seed archives). Nothing may be written outside the output folder, and
// the folder holds only regular files and folders afterwards.
#include <cstdint>
#include <cstring>
#include <string>

#include "archive/zip/zip_handler.h"
#include "core/handler.h"
#include "core/prompt.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  static ZipHandler* handler = [] {
    SetPasswordReader([](const PasswordQuestion&, char* utf8, unsigned size) { strncpy(utf8, "secret", size); });
    return new ZipHandler();
  }();
  const std::string input = fuzz::WriteInput("a.zip", data, size);
  const std::string program = fuzz::ProgramForm(input);
  memcpy(g_ReadAheadBuffer, data, size < kReadAheadSize ? size : kReadAheadSize);
  (void)handler->Probe(program.c_str(), static_cast<int32_t>(size));
  if (!handler->Extract(program.c_str(), fuzz::ProgramForm(fuzz::ScratchFolder() + "/out").c_str())) abort();
  fuzz::CheckAndClean();
  return 0;
}
