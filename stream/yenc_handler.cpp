#include "stream/yenc_handler.h"

#include <cstring>

#include "core/charset.h"
#include "core/output.h"
#include "stream/yenc_decoder.h"

bool YencHandler::MatchesExtension(const char* extension) {
  return EqualsNoCase(extension, "ntx") == 0;
}

bool YencHandler::Probe(const char* path, int32_t fileSize) {
  const size_t extent = ProbeExtent(fileSize);
  if (extent <= 15) return false;
  const uint8_t* data = g_ReadAheadBuffer;
  // " name=" must follow on the header line, matched byte by byte: a byte
  // that breaks a partial match is not tried again as its first byte.
  return AnyLineStart(data, extent - 15, [data, extent](size_t at) {
    if (memcmp(data + at, "=ybegin ", 8) != 0) return false;
    static const char kName[] = " name=";
    size_t matched = 0;
    for (size_t i = at + 7; i < extent - 6 && data[i] != '\r' && data[i] != '\n'; ++i) {
      matched = data[i] == static_cast<uint8_t>(kName[matched]) ? matched + 1 : 0;
      if (matched == 6) return true;
    }
    return false;
  });
}

bool YencHandler::Extract(const char* path, const char* outputFolder) {
  FILE* in = OpenFileStream(path, "rb");
  if (in == nullptr) return false;
  TextLineReader reader(in);
  char* line = reinterpret_cast<char*>(g_ReadAheadBuffer);
  char name[kPathBufferSize];
  char outputPath[kPathBufferSize];
  NameState state;
  bool allWritten = true;
  while (!reader.AtEnd() && FindYencSection(reader, line, kReadAheadSize, name, &state)) {
    if (state == NameState::kNone) break;
    FILE* out = nullptr;
    if (state == NameState::kFound &&
        JoinOutputPath(outputPath, sizeof outputPath, outputFolder, name)) {
      out = OpenFileStream(PrepareOutputPath(outputPath), "wb");
    }
    // A section that cannot be written is still read to its end, so the
    // sections after it come out.
    bool written;
    {
      ByteSink sink(out);
      DecodeYencBody(reader, line, kReadAheadSize, sink);
      written = sink.Flush();
    }
    if (out == nullptr || fclose(out) != 0 || !written) allWritten = false;
  }
  fclose(in);
  return allWritten;
}
