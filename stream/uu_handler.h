// uuencoded text: the "begin" line names the file, each following line
// carries up to 63 bytes, four characters for every three bytes.
#pragma once

#include <cstdint>

#include "stream/line_decoder.h"

class UuHandler : public LineDecoderHandler {
 public:
  UuHandler() : LineDecoderHandler("UUDecode", 'u', 'U') {}
  // Blank (32) to '_' (95) stand for 0 to 63; every other character,
  // the grave accent included, for 0.
  void FillDecodeTable(uint8_t table[128]) override;
};
