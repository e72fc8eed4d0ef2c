// The uuencode decoder: the shared line reader against ReadTextLine, the
// body decoder from memory (each piece of a line that the reader delivers
// gives at most 63 bytes), and UuHandler on a file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_lines_support.h"
#include "stream/line_decoder.h"
#include "stream/uu_handler.h"

using namespace text;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  if (size == 0) return 0;
  // The first byte picks a small line capacity, so pieces of long lines
  // are exercised too.
  fuzz::CheckLineReader(data + 1, size - 1, 2 + data[0] % 80);

  static UuHandler handler;
  uint8_t table[128];
  handler.FillDecodeTable(table);
  FILE* in = fuzz::OpenMemory(data, size);
  TextLineReader reader(in);
  static char line[256];
  char name[kPathBufferSize];
  NameState state;
  if (FindBeginLine(reader, line, sizeof line, name, &state)) {
    if (state == NameState::kFound && strlen(name) >= kPathBufferSize) abort();
    // A line longer than the buffer comes, and is decoded, in pieces of at
    // most sizeof line - 1 bytes: together with the line ends that makes at
    // most this many pieces.
    size_t pieces = 1 + size / (sizeof line - 1);
    for (size_t i = 0; i < size; ++i) pieces += data[i] == '\n' || data[i] == '\r' || data[i] == 0;
    ByteSink sink(nullptr);
    DecodeLengthPrefixedLines(reader, table, line, sizeof line, sink);
    if (sink.Total() > 63 * pieces) abort();
  }
  fclose(in);

  fuzz::RunHandler(handler, "in.uu", data, size);
  return 0;
}
