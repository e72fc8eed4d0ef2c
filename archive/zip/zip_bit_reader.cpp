#include "archive/zip/zip_bit_reader.h"

void RefillBits(LsbBitReader& reader, int need) {
  // Up to 56 bits fit below the 64-bit top without losing any.
  while (reader.bitCount <= 56) {
    if (reader.inputPos == reader.inputEnd) {
      reader.inputPos = 0;
      reader.inputEnd = reader.endOfInput ? 0 : reader.io->ReadMember(reader.input, sizeof reader.input);
      if (reader.inputEnd == 0) break;
    }
    reader.bitBuffer |= static_cast<uint64_t>(reader.input[reader.inputPos++]) << reader.bitCount;
    reader.bitCount += 8;
  }
  if (reader.bitCount < need) reader.endOfInput = true;
}
