// yEnc text: each section runs from a "=ybegin ... name=<name>" line to its
// "=yend" line; every data byte is written plus 42, critical ones escaped as
// '=' and the byte plus 106.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/line_decoder.h"

namespace text {

// Reads lines up to the next "=ybegin " line that carries " name=" and takes
// the name from it: the rest of the line, trailing blanks removed (into
// `name`, kPathBufferSize bytes). False when the input ends first, also when
// that line is the input's last.
bool FindYencSection(TextLineReader& reader, char* line, size_t capacity, char* name,
                     NameState* state);

// What the "=yend" line of a section says about the data before it.
struct YencTrailer {
  bool ended = false;       // a "=yend" line ended the section (else the input did)
  bool isPart = false;      // the section began with a "=ypart" line
  bool hasSize = false;     // size=: the bytes of this section
  uint64_t size = 0;
  bool hasPartCrc = false;  // pcrc32=: the CRC-32 of this section's bytes
  uint32_t partCrc = 0;
  bool hasCrc = false;      // crc32=: the CRC-32 of the whole file
  uint32_t crc = 0;
};

// Decodes lines up to a "=yend" line (not decoded) or the end of the input.
// A "=ypart" line directly after the header is the part's header, not data.
// An '=' that ends a line escapes the first byte of the next one.
YencTrailer DecodeYencBody(TextLineReader& reader, char* line, size_t capacity, ByteSink& sink);

// The size and CRC values of a "=yend" line.
void ParseYencTrailer(const char* line, YencTrailer* trailer);

}  // namespace text
