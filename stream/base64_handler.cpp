#include "stream/base64_handler.h"

#include <cstring>

#include "core/charset.h"
#include "core/member_output.h"
#include "core/output.h"
#include "stream/base64_decoder.h"

// The handler reads through the text decoders' names.
using namespace text;

namespace {

// Lines the probe may read before it gives up.
constexpr long kProbeLineBudget = 100;
// The second look reads further: real mail carries many header lines
// before its attachments.
constexpr long kContentLineBudget = 20000;
constexpr long kExtractLineBudget = 1000000000;

bool IsBase64FileExtension(const char* extension) { return EqualsNoCase(extension, "b64") == 0; }

// The extensions Probe looks at.
bool IsOwnExtension(const char* extension) {
  return IsBase64FileExtension(extension) || EqualsNoCase(extension, "mim") == 0 ||
         EqualsNoCase(extension, "mime") == 0;
}

// Decodes one body into the member named by the part (or the default
// name). A part that is not written (a refused name or output) is still
// read to its end, so the parts after it come out.
void WritePart(TextLineReader& reader, const Base64Part& part, const char* path, MemberOutput& out) {
  char name[kPathBufferSize];
  bool begun = false;
  if (part.nameState == NameState::kTooLong) {
    RefuseMember("(a part with a long name)", "the name is too long for an output path; skipped");
  } else {
    const char* suffix = IsBase64FileExtension(ExtensionOf(path)) ? nullptr : "b64dec";
    if (part.nameState == NameState::kNone && !SingleOutputName(name, path, suffix)) {
      RefuseMember(BaseNameOf(path), "the output name is too long for an output path; skipped");
    } else {
      MemberInfo info;
      info.name = part.nameState == NameState::kFound ? part.name : name;
      begun = out.Begin(info);
    }
  }
  char* line = reinterpret_cast<char*>(g_ReadAheadBuffer);
  Base64Body body;
  {
    ByteSink sink(begun ? out.Stream() : nullptr);
    body = DecodeBase64Body(reader, line, kReadAheadSize, sink);
    (void)sink.Flush();  // a failed write is the member output's to report
  }
  // Whether the text came whole: "begin-base64" text closes with a "===="
  // line, a part of a multipart message with a boundary line; any text
  // ends with a whole group of four characters.
  bool whole = !body.leftover;
  if (part.beginLine) {
    size_t length = 0;
    whole = whole && (body.end == Base64BodyEnd::kPaddingLine ||
                      (body.end == Base64BodyEnd::kPadding && !reader.AtEnd() &&
                       (reader.ReadLine(line, kReadAheadSize, &length), strncmp(line, "====", 4) == 0)));
  } else if (part.multipart) {
    whole = whole && (body.end == Base64BodyEnd::kBoundary ||
                      (body.end != Base64BodyEnd::kInputEnd && SkipToClosingLine(reader, line, kReadAheadSize, "--")));
  }
  if (begun) out.End(whole ? MemberEnd::kComplete : MemberEnd::kTruncated);
}

}  // namespace

bool Base64Handler::Probe(const char* path, int32_t fileSize) {
  const char* extension = ExtensionOf(path);
  const bool bare = IsBase64FileExtension(extension);
  if (!IsOwnExtension(extension)) return false;
  TextFile file(path);
  if (!file.IsOpen()) return false;
  Base64Part part;
  bool found = FindBase64Part(file.Reader(), &part, kProbeLineBudget);
  if (!found && bare && file.Rewind()) found = LooksLikeBareBase64(file.Reader(), kProbeLineBudget);
  return found;
}

bool Base64Handler::ProbeContent(const char* path, int32_t fileSize) {
  // Files of its own extensions were judged by Probe already.
  if (IsOwnExtension(ExtensionOf(path))) return false;
  TextFile file(path);
  if (!file.IsOpen()) return false;
  Base64Part part;
  return FindBase64Part(file.Reader(), &part, kContentLineBudget);
}

bool Base64Handler::Extract(const char* path, const char* outputFolder) {
  TextFile file(path);
  if (!file.IsOpen()) return false;
  TextLineReader& reader = file.Reader();
  MemberOutput out(outputFolder);
  Base64Part part;
  // Bare base64 text (the base64 tool's output) has no header to find: the
  // whole file is one body.
  bool bare = false;
  if (IsBase64FileExtension(ExtensionOf(path))) {
    bare = LooksLikeBareBase64(reader, kProbeLineBudget);
    if (!file.Rewind()) return false;
  }
  if (bare) {
    part.name[0] = '\0';
    part.nameState = NameState::kNone;
    WritePart(reader, part, path, out);
  } else {
    while (!out.ArchiveEnded() && FindBase64Part(reader, &part, kExtractLineBudget)) WritePart(reader, part, path, out);
  }
  return true;
}
