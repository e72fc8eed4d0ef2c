#include "stream/yenc_decoder.h"

#include <algorithm>
#include <cstring>

bool FindYencSection(TextLineReader& reader, char* line, size_t capacity, char* name,
                     NameState* state) {
  name[0] = '\0';
  *state = NameState::kNone;
  size_t length = 0;
  for (;;) {
    if (!reader.ReadLine(line, capacity, &length)) return false;
    if (strncmp(line, "=ybegin ", 8) != 0) continue;
    const char* found = strstr(line, " name=");
    if (found == nullptr) continue;
    const char* start = found + 6;
    const char* end = line + length;
    while (end > start && (end[-1] == ' ' || end[-1] == '\t')) --end;
    if (end > start) *state = CopyName(name, start, static_cast<size_t>(end - start));
    return true;
  }
}

namespace {

// Writes p[0..n) minus 42 each.
void WriteShifted(const uint8_t* p, size_t n, ByteSink& sink) {
  while (n > 0) {
    const size_t piece = std::min(n, ByteSink::kSize);
    uint8_t* out = sink.Room(piece);
    for (size_t i = 0; i < piece; ++i) out[i] = static_cast<uint8_t>(p[i] - 42);
    sink.Advance(piece);
    p += piece;
    n -= piece;
  }
}

}  // namespace

void DecodeYencBody(TextLineReader& reader, char* line, size_t capacity, ByteSink& sink) {
  bool escape = false;
  bool first = true;
  size_t length = 0;
  while (!reader.AtEnd()) {
    (void)reader.ReadLine(line, capacity, &length);
    if (strncmp(line, "=yend", 5) == 0) return;
    const bool partHeader = first && strncmp(line, "=ypart ", 7) == 0;
    first = false;
    if (partHeader) continue;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(line);
    const uint8_t* end = p + length;
    if (escape && p < end) {
      sink.Put(static_cast<uint8_t>(*p++ - 106));
      escape = false;
    }
    while (p < end) {
      const uint8_t* mark = static_cast<const uint8_t*>(memchr(p, '=', static_cast<size_t>(end - p)));
      const uint8_t* stop = mark != nullptr ? mark : end;
      WriteShifted(p, static_cast<size_t>(stop - p), sink);
      if (mark == nullptr) break;
      if (mark + 1 == end) {
        escape = true;
        break;
      }
      sink.Put(static_cast<uint8_t>(mark[1] - 106));
      p = mark + 2;
    }
  }
}
