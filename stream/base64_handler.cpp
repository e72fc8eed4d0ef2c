#include "stream/base64_handler.h"

#include "core/charset.h"
#include "core/output.h"
#include "stream/base64_decoder.h"

namespace {

// Lines the probe may read before it gives up.
constexpr long kProbeLineBudget = 100;
constexpr long kExtractLineBudget = 1000000000;

bool IsBase64FileExtension(const char* extension) { return EqualsNoCase(extension, "b64") == 0; }

// Decodes one body into the file named by the part (or the default name).
// A part whose name or output file is refused is read and dropped; false
// then.
bool WritePart(TextLineReader& reader, const Base64Part& part, const char* path,
               const char* outputFolder) {
  char name[kPathBufferSize];
  char outputPath[kPathBufferSize];
  bool named = false;
  if (part.nameState == NameState::kFound) {
    named = JoinOutputPath(outputPath, sizeof outputPath, outputFolder, part.name);
  } else if (part.nameState == NameState::kNone) {
    const char* suffix = IsBase64FileExtension(ExtensionOf(path)) ? nullptr : "b64dec";
    named = SingleOutputName(name, path, suffix) &&
            JoinOutputPath(outputPath, sizeof outputPath, outputFolder, name);
  }
  FILE* out = named ? OpenFileStream(outputPath, "wb") : nullptr;
  bool written;
  {
    ByteSink sink(out);
    DecodeBase64Body(reader, reinterpret_cast<char*>(g_ReadAheadBuffer), kReadAheadSize, sink);
    written = sink.Flush();
  }
  if (out == nullptr) return false;
  return fclose(out) == 0 && written;
}

}  // namespace

bool Base64Handler::Probe(const char* path, int32_t fileSize) {
  const char* extension = ExtensionOf(path);
  const bool bare = IsBase64FileExtension(extension);
  if (!bare && EqualsNoCase(extension, "mim") != 0 && EqualsNoCase(extension, "mime") != 0) {
    return false;
  }
  FILE* in = OpenFileStream(path, "rb");
  if (in == nullptr) return false;
  TextLineReader reader(in);
  Base64Part part;
  bool found = FindBase64Part(reader, &part, kProbeLineBudget);
  if (!found && bare && fseek(in, 0, SEEK_SET) == 0) {
    reader.Restart();
    found = LooksLikeBareBase64(reader, kProbeLineBudget);
  }
  fclose(in);
  return found;
}

bool Base64Handler::Extract(const char* path, const char* outputFolder) {
  FILE* in = OpenFileStream(path, "rb");
  if (in == nullptr) return false;
  TextLineReader reader(in);
  bool allWritten = true;
  Base64Part part;
  // Bare base64 text (the base64 tool's output) has no header to find: the
  // whole file is one body.
  bool bare = false;
  if (IsBase64FileExtension(ExtensionOf(path))) {
    bare = LooksLikeBareBase64(reader, kProbeLineBudget);
    if (fseek(in, 0, SEEK_SET) != 0) {
      fclose(in);
      return false;
    }
    reader.Restart();
  }
  if (bare) {
    part.name[0] = '\0';
    part.nameState = NameState::kNone;
    allWritten = WritePart(reader, part, path, outputFolder);
  } else {
    while (FindBase64Part(reader, &part, kExtractLineBudget)) {
      allWritten = WritePart(reader, part, path, outputFolder) && allWritten;
    }
  }
  fclose(in);
  return allWritten;
}
