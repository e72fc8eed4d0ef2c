// The cabinet reader over one file of arbitrary bytes. A program-ending
// condition comes back in CabFatal (the handler would end the program
// there); nothing may be written outside the output folder, and every file
// written must lie inside it.
#include <cstdlib>
#include <string>

#include "archive/cab/cab_reader.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  g_CabShowMessage = [](const char*) {};
  g_CabPrint = [](const char*) {};
  const std::string input = fuzz::WriteInput("a.cab", data, size);
  const std::string out = fuzz::OutputFolder();
  CabFatal fatal;
  CabOptions options;
  options.tolerateErrors = (size & 1) != 0;
  const int r = ExtractCabinet(fuzz::ProgramForm(input).c_str(), out.c_str(), options, &fatal);
  if (r != 0 && r != 1) abort();
  fuzz::CheckAndClean();
  return 0;
}
