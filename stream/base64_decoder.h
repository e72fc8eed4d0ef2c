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
  bool beginLine = false;      // a "begin-base64" section, which ends with "===="
  // A multipart boundary was declared by any scan so far: its bodies end at
  // a boundary line. Set by FindBase64Part, never cleared by it.
  bool multipart = false;
};

// Scans lines (at most `lineBudget` of them) for the start of a part to
// decode: a "begin-base64" line, or an empty line after headers that named
// the base64 transfer encoding. True when the stream now stands at such a
// body; the part's name comes from the begin line or the last quoted
// name= / filename= parameter of a Content-Type or Content-Disposition
// header.
bool FindBase64Part(TextLineReader& reader, Base64Part* part, long lineBudget);

// How a body ended.
enum class Base64BodyEnd {
  kPadding,      // an '=' after data on its line (the rest of the line dropped)
  kPaddingLine,  // an '=' that starts a line ("====" ends "begin-base64" text)
  kBoundary,     // a line starting with "--"
  kInputEnd,
};
struct Base64Body {
  Base64BodyEnd end = Base64BodyEnd::kInputEnd;
  bool leftover = false;  // values of an unfinished group were dropped: the text was cut
};

// Decodes one body into the sink: it ends at '=' (the bytes still pending
// are written), at a line starting with "--" (a MIME boundary) or at the end
// of the input. Bytes outside the alphabet are skipped.
Base64Body DecodeBase64Body(TextLineReader& reader, char* line, size_t capacity, ByteSink& sink);

// After a body that ended at its padding: reads on to the line that closes
// it, a line starting with `closing` ("====" or "--"); false when the input
// ends first.
bool SkipToClosingLine(TextLineReader& reader, char* line, size_t capacity, const char* closing);

// True when the first lines (at most `lineBudget`) are nothing but base64
// text, as the base64 tool writes it: letters, digits, '+', '/' and '='
// padding, and at least one such line.
bool LooksLikeBareBase64(TextLineReader& reader, long lineBudget);

}  // namespace text
