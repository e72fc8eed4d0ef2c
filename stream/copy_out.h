// The copy loop of the single-stream handlers: decoded data moves through
// the read-ahead buffer into a new output file in pieces of up to 1 MiB.
#pragma once

#include <cstdio>

#include "core/handler.h"
#include "core/output.h"

// Creates the output file and writes what `read(buffer, capacity)` delivers
// until it gives 0 or less (end or error) or a write fails. Nothing is
// written when the file cannot be created.
template <typename Read>
void CopyToNewFile(const char* outputPath, Read read) {
  FILE* out = OpenFileStream(outputPath, "wb");
  if (out == nullptr) return;
  for (;;) {
    const long n = static_cast<long>(read(g_ReadAheadBuffer, kReadAheadSize));
    if (n <= 0) break;
    if (fwrite(g_ReadAheadBuffer, 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) break;
  }
  fclose(out);
}
