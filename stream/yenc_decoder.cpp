#include "stream/yenc_decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace text {

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


// The value of " <key>=" on the line in the given base; false when the key
// is absent or no digit follows it.
bool KeyValue(const char* line, const char* key, int base, uint64_t* value) {
  const char* at = strstr(line, key);
  if (at == nullptr) return false;
  char* end = nullptr;
  const char* digits = at + strlen(key);
  *value = strtoull(digits, &end, base);
  return end != digits;
}

}  // namespace

YencHeader ParseYencHeader(const char* line) {
  YencHeader header;
  uint64_t value = 0;
  if (KeyValue(line, " part=", 10, &value) && value <= 1000000) header.part = unsigned(value);
  if (KeyValue(line, " total=", 10, &value) && value <= 1000000) header.total = unsigned(value);
  if (KeyValue(line, " size=", 10, &value)) header.size = value;
  return header;
}

void ParseYencTrailer(const char* line, YencTrailer* trailer) {
  uint64_t value = 0;
  if ((trailer->hasSize = KeyValue(line, " size=", 10, &value))) trailer->size = value;
  if ((trailer->hasPartCrc = KeyValue(line, " pcrc32=", 16, &value) && value <= UINT32_MAX))
    trailer->partCrc = static_cast<uint32_t>(value);
  if ((trailer->hasCrc = KeyValue(line, " crc32=", 16, &value) && value <= UINT32_MAX))
    trailer->crc = static_cast<uint32_t>(value);
}

YencTrailer DecodeYencBody(TextLineReader& reader, char* line, size_t capacity, ByteSink& sink) {
  YencTrailer trailer;
  bool escape = false;
  bool first = true;
  size_t length = 0;
  while (!reader.AtEnd()) {
    (void)reader.ReadLine(line, capacity, &length);
    if (strncmp(line, "=yend", 5) == 0) {
      trailer.ended = true;
      ParseYencTrailer(line, &trailer);
      return trailer;
    }
    const bool partHeader = first && strncmp(line, "=ypart ", 7) == 0;
    first = false;
    if (partHeader) {
      trailer.isPart = true;
      uint64_t value = 0;
      if (KeyValue(line, " begin=", 10, &value)) trailer.partBegin = value;
      if (KeyValue(line, " end=", 10, &value)) trailer.partEnd = value;
      continue;
    }
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
  return trailer;
}

}  // namespace text
