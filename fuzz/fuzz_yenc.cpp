// The yEnc decoder from memory (never more bytes out than in) and
// YencHandler on a file, whose sanitised names must stay in the folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_lines_support.h"
#include "stream/yenc_decoder.h"
#include "stream/yenc_handler.h"

using namespace text;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  FILE* in = fuzz::OpenMemory(data, size);
  TextLineReader reader(in);
  static char line[512];
  char name[kPathBufferSize];
  NameState state;
  uint64_t total = 0;
  while (FindYencSection(reader, line, sizeof line, name, &state) && state != NameState::kNone) {
    if (state == NameState::kFound && strlen(name) >= kPathBufferSize) abort();
    ByteSink sink(nullptr);
    DecodeYencBody(reader, line, sizeof line, sink);
    total += sink.Total();
  }
  if (total > size) abort();
  fclose(in);

  static YencHandler handler;
  fuzz::RunHandler(handler, "in.ntx", data, size);
  return 0;
}
