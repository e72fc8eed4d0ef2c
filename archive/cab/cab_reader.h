// Microsoft cabinet files and sets: CabHandler, the driver ExtractCabinet and
// the program-wide decoder state it shares with the block decoders.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/handler.h"

class CabHandler : public FormatHandler {
 public:
  CabHandler() : FormatHandler("CAB") {}
  // A file of at least 4 bytes that starts with "MSCF", or whose buffered
  // bytes hold a plausible cabinet header behind a self-extracting stub.
  bool Probe(const char* path, int32_t fileSize) override;
  // False when the first cabinet cannot be read; a program-ending condition
  // ends the program here.
  bool Extract(const char* path, const char* outputFolder) override;
};

// A condition that ends the program (a cabinet that cannot be opened or
// read, no memory). Output failures are not among them: the member output
// names the member and the archive fails, and the next file is tried. The
// driver stops and hands the text back instead of exiting, so that its
// caller decides: CabHandler calls ProgramError with it, tests look at it.
struct CabFatal {
  bool set = false;
  char text[1024] = {};
};

// How ExtractCabinet goes about a cabinet. The defaults are the handler's.
struct CabOptions {
  // An MSZIP block whose checksum or data is bad is kept, after a warning,
  // instead of ending its folder.
  bool tolerateErrors = false;
  bool listOnly = false;        // print the listing instead of extracting
  bool lowerCaseNames = false;  // lower-case the ASCII letters of member names
  bool quiet = true;            // no progress lines on standard output
};

// Extracts (or lists) the cabinet at `path` and the cabinets it continues
// into, handing each file to one MemberOutput over `outputFolder` (which
// must exist). 1 when the first cabinet cannot be read, otherwise 0. Check
// fatal->set afterwards.
int ExtractCabinet(const char* path, const char* outputFolder, const CabOptions& options, CabFatal* fatal);

// CFDATA checksum: XOR of the little-endian 32-bit groups, the 1 to 3 bytes
// left over taken most significant first.
uint32_t BlockChecksum(const uint8_t* data, size_t length, uint32_t seed);

// Where the reader's notices go: shown ones (message boxes) and lines for
// standard output. ShowMessage and stdout unless a test replaces them.
extern void (*g_CabShowMessage)(const char* text);
extern void (*g_CabPrint)(const char* text);
