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
  uint64_t partBegin = 0;   // its begin= and end=: the part's first and last
  uint64_t partEnd = 0;     //   byte in the whole file, counted from 1
  bool hasSize = false;     // size=: the bytes of this section
  uint64_t size = 0;
  bool hasPartCrc = false;  // pcrc32=: the CRC-32 of this section's bytes
  uint32_t partCrc = 0;
  bool hasCrc = false;      // crc32=: the CRC-32 of the whole file
  uint32_t crc = 0;
};

// What a "=ybegin" line says besides the name.
struct YencHeader {
  unsigned part = 0;   // part=: the section is this part of a file (0: a whole file)
  unsigned total = 0;  // total=: parts in all (0: not given)
  uint64_t size = 0;   // size=: the whole file's size
};
YencHeader ParseYencHeader(const char* line);

// Decodes lines up to a "=yend" line (not decoded) or the end of the input.
// A "=ypart" line directly after the header is the part's header, not data.
// An '=' that ends a line escapes the first byte of the next one.
YencTrailer DecodeYencBody(TextLineReader& reader, char* line, size_t capacity, ByteSink& sink);

// The size and CRC values of a "=yend" line.
void ParseYencTrailer(const char* line, YencTrailer* trailer);

}  // namespace text
