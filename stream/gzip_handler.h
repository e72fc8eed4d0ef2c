// Single gzip files, decompressed with the gzip reader (stream/gzip_reader.h).
#pragma once

#include "core/handler.h"

class GzipHandler : public FormatHandler {
 public:
  GzipHandler() : FormatHandler("Gzip" EXTRACT_SUFFIX) { readsInOrder = true; }
  bool Probe(const char* path, int32_t fileSize) override;
  bool Extract(const char* path, const char* outputFolder) override;
};
