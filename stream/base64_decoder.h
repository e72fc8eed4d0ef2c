// Base64 data in text files: the parts of MIME messages whose transfer
// encoding is base64, "begin-base64" sections, and bare base64 text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/output.h"
#include "stream/line_decoder.h"

namespace text {

// What the header scan found for one part.
struct Base64Part {
  char name[kPathBufferSize];  // the last name met since the scan began
  NameState nameState;         // kNone when no header named the part
};

// Scans lines (at most `lineBudget` of them) for the start of a part to
// decode: a "begin-base64" line, or an empty line after headers that named
// the base64 transfer encoding. True when the stream now stands at such a
// body; the part's name comes from the begin line or the last quoted
// name= / filename= parameter of a Content-Type or Content-Disposition
// header.
bool FindBase64Part(TextLineReader& reader, Base64Part* part, long lineBudget);

// Decodes one body into the sink: it ends at '=' (the bytes still pending
// are written), at a line starting with "--" (a MIME boundary) or at the end
// of the input. Bytes outside the alphabet are skipped.
void DecodeBase64Body(TextLineReader& reader, char* line, size_t capacity, ByteSink& sink);

// True when the first lines (at most `lineBudget`) are nothing but base64
// text, as the base64 tool writes it: letters, digits, '+', '/' and '='
// padding, and at least one such line.
bool LooksLikeBareBase64(TextLineReader& reader, long lineBudget);

}  // namespace text
