// The Base64/MIME decoder from memory (each output byte needs four thirds of
// an alphabet character), Base64Handler on a file, and the stored-name
// decoder that MIME names (RFC 2231, RFC 2047) and every handler's names
// go through.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/names.h"
#include "fuzz_lines_support.h"
#include "stream/base64_decoder.h"
#include "stream/base64_handler.h"

using namespace text;

namespace {

bool IsAlphabet(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// A decoded name fits its buffer or is refused empty; legacy text is the
// stored bytes unchanged; a name never grows in decoding.
void CheckNameDecoder(const uint8_t* data, size_t size) {
  static const NameMarking kMarkings[] = {NameMarking::kUtf8, NameMarking::kUnmarked, NameMarking::kLegacy};
  const size_t stored = strnlen(reinterpret_cast<const char*>(data), size);
  for (NameMarking marking : kMarkings) {
    char out[kPathBufferSize];
    if (!DecodeStoredName(data, size, marking, out, sizeof out)) {
      if (out[0] != '\0') abort();
      continue;
    }
    const size_t length = strlen(out);
    if (length >= sizeof out || length > stored) abort();
    if (marking == NameMarking::kLegacy && (length != stored || memcmp(out, data, stored) != 0)) abort();
  }
  static const char* const kCharsets[] = {"UTF-8", "ISO-2022-JP", "Shift_JIS", "EUC-JP", "ISO-8859-1", "x-none"};
  char out[kPathBufferSize];
  if (DecodeNameInCharset(kCharsets[size % 6], data, size, out, sizeof out)) {
    if (strlen(out) >= sizeof out) abort();
  } else if (out[0] != '\0') {
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  if (size == 0) return 0;
  CheckNameDecoder(data, size);
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
