// yEnc-encoded text (*.ntx, or any file with a named "=ybegin" line), one
// output file per section.
#pragma once

#include <cstdint>

#include "core/handler.h"

class YencHandler : public FormatHandler {
 public:
  YencHandler() : FormatHandler("yDecode") {}
  bool MatchesExtension(const char* extension) override;
  // True when a "=ybegin " line with " name=" on it starts a line of the
  // read-ahead bytes.
  bool Probe(const char* path, int32_t fileSize) override;
  // Every named section in file order; a section whose output cannot be
  // written is skipped and makes the result false.
  bool Extract(const char* path, const char* outputFolder) override;
};
