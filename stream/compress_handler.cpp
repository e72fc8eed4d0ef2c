#include "stream/compress_handler.h"

#include <cstdio>

#include "core/charset.h"
#include "core/output.h"
#include "stream/lzw_reader.h"

bool CompressHandler::Probe(const char* path, int32_t fileSize) {
  const int32_t buffered = fileSize < static_cast<int32_t>(kReadAheadSize)
                               ? fileSize
                               : static_cast<int32_t>(kReadAheadSize);
  return buffered >= 3 && g_ReadAheadBuffer[0] == 0x1F && g_ReadAheadBuffer[1] == 0x9D;
}

bool CompressHandler::Extract(const char* path, const char* outputFolder) {
  LzwReader* lzw = LzwOpen(path);
  if (lzw == nullptr) return false;
  const char* suffix = EqualsNoCase(ExtensionOf(path), "Z") == 0 ? nullptr : "uncompress";
  char name[kPathBufferSize];
  char outputPath[kPathBufferSize];
  if (SingleOutputName(name, path, suffix) &&
      JoinOutputPath(outputPath, sizeof outputPath, outputFolder, name)) {
    if (FILE* out = OpenFileStream(outputPath, "wb")) {
      for (;;) {
        const int32_t n = LzwRead(lzw, g_ReadAheadBuffer, static_cast<int32_t>(kReadAheadSize));
        if (n <= 0) break;
        if (fwrite(g_ReadAheadBuffer, 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) break;
      }
      fclose(out);
    }
  }
  LzwClose(lzw);
  return true;
}
