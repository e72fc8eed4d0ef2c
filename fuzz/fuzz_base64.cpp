// The Base64/MIME decoder from memory (each output byte needs four thirds of
// an alphabet character) and Base64Handler on a file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_lines_support.h"
#include "stream/base64_decoder.h"
#include "stream/base64_handler.h"

namespace {

bool IsAlphabet(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  if (size == 0) return 0;
  uint64_t alphabet = 0;
  for (size_t i = 0; i < size; ++i) alphabet += IsAlphabet(data[i]);

  FILE* in = fuzz::OpenMemory(data, size);
  TextLineReader reader(in);
  static char line[512];
  Base64Part part;
  uint64_t total = 0;
  for (int parts = 0; FindBase64Part(reader, &part, 1000000); ++parts) {
    if (part.nameState == NameState::kFound && strlen(part.name) >= kPathBufferSize) abort();
    if (part.nameState != NameState::kFound && part.name[0] != '\0') abort();
    ByteSink sink(nullptr);
    DecodeBase64Body(reader, line, sizeof line, sink);
    total += sink.Total();
    if (parts > static_cast<int>(size)) abort();  // every part consumes a line
  }
  if (total * 4 > alphabet * 3) abort();
  fclose(in);

  static Base64Handler handler;
  fuzz::RunHandler(handler, (data[0] & 1) ? "in.mim" : "in.b64", data, size);
  return 0;
}
