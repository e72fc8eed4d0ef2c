// yEnc text: each section runs from a "=ybegin ... name=<name>" line to its
// "=yend" line; every data byte is written plus 42, critical ones escaped as
// '=' and the byte plus 106.
#pragma once

#include <cstddef>

#include "stream/line_decoder.h"

// Reads lines up to the next "=ybegin " line that carries " name=" and takes
// the name from it: the rest of the line, trailing blanks removed (into
// `name`, kPathBufferSize bytes). False when the input ends first, also when
// that line is the input's last.
bool FindYencSection(TextLineReader& reader, char* line, size_t capacity, char* name,
                     NameState* state);

// Decodes lines up to a "=yend" line (not decoded) or the end of the input.
// A "=ypart" line directly after the header is the part's header, not data.
// An '=' that ends a line escapes the first byte of the next one.
void DecodeYencBody(TextLineReader& reader, char* line, size_t capacity, ByteSink& sink);
