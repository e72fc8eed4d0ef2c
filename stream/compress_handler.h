// Single compress (.Z) files, decoded with the pull-style LZW reader.
#pragma once

#include "core/handler.h"

class CompressHandler : public FormatHandler {
 public:
  CompressHandler() : FormatHandler("Compress" EXTRACT_SUFFIX) { readsInOrder = true; }
  // At least three bytes, starting with 0x1F 0x9D.
  bool Probe(const char* path, int32_t fileSize) override;
  // data.Z (any letter case) gives data, other names get ".uncompress".
  // False only when the stream does not open.
  bool Extract(const char* path, const char* outputFolder) override;
};
