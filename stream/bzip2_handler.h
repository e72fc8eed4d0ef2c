// Single bzip2 files: probed with libbzip2's file interface, decompressed
// through the block-parallel reader (stream/bzip2_reader.h).
#pragma once

#include "core/handler.h"

class Bzip2Handler : public FormatHandler {
 public:
  Bzip2Handler() : FormatHandler("Bzip2" EXTRACT_SUFFIX) { readsInOrder = true; }
  bool Probe(const char* path, int32_t fileSize) override;
  bool Extract(const char* path, const char* outputFolder) override;
};
