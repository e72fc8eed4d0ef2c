// Result codes shared by the cabinet reader and its block decoders, and the
// sizes of the two block buffers they pass between them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cab {

// The numeric values are the ones the reader reports (see ReportResult in
// cab_reader.cpp), so they stay fixed.
enum class CabResult : int {
  Ok = 0,
  Unsupported = 1,  // unknown method, Quantum, bad window exponent
  Corrupt = 2,      // illegal or corrupt data
  NoMemory = 3,
  Checksum = 4,
  InputError = 5,   // block too large for the input buffer, missing part
  OutputError = 6,
};

// One data block decodes to at most this many bytes; the MSZIP decoder also
// keeps its 32 KiB history in the same buffer.
constexpr size_t kCabOutputSize = 32768;
// Block data of one CFDATA (pieces of a block split over cabinets joined).
constexpr size_t kCabInputSize = 38912;
// Bytes after the input data that the reader clears: the decoders read 16-bit
// words and may look one word past an odd end, and the third byte keeps a
// block that fills the buffer exactly inside it.
constexpr size_t kCabInputSpare = 3;

}  // namespace cab
