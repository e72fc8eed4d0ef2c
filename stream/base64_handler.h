// Base64 attachments of MIME messages, "begin-base64" files and bare base64
// text, one output file per part.
#pragma once

#include <cstdint>

#include "core/handler.h"

class Base64Handler : public FormatHandler {
 public:
  Base64Handler() : FormatHandler("Base64 Decode") {}
  // Only files named *.b64, *.mim or *.mime whose first 100 lines hold the
  // start of a base64 part (or, for *.b64, are bare base64 text).
  bool Probe(const char* path, int32_t fileSize) override;
  // Any file whose first lines hold the start of a base64 part: a
  // "begin-base64" line, or MIME headers naming the base64 encoding.
  bool ProbeContent(const char* path, int32_t fileSize) override;
  // Every part in file order; false when the file cannot be opened or a
  // part could not be written.
  bool Extract(const char* path, const char* outputFolder) override;
};
