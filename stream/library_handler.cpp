#include "stream/library_handler.h"

#include <algorithm>

#include "core/charset.h"
#include "core/output.h"
#include "stream/copy_out.h"

bool LibraryStreamHandler::Probe(const char* path, int32_t fileSize) {
  if (fileSize <= 0) return false;
  if (format_ == LibraryFormat::kLzma) {
    const char* extension = ExtensionOf(path);
    if (EqualsNoCase(extension, "lzma") != 0 && EqualsNoCase(extension, "tlz") != 0) return false;
  }
  const size_t atHand = std::min(static_cast<size_t>(fileSize), kReadAheadSize);
  return StartsLibraryStream(format_, g_ReadAheadBuffer, atHand);
}

bool LibraryStreamHandler::Extract(const char* path, const char* outputFolder) {
  LibrarySource source(format_);
  if (!source.Open(path)) return false;
  const LibraryFormatInfo& format = InfoOf(format_);
  char name[kPathBufferSize];
  const char* suffix = EqualsNoCase(ExtensionOf(path), format.extension) == 0 ? nullptr : format.outputSuffix;
  if (SingleOutputName(name, path, suffix)) {
    MemberInfo info;
    info.name = name;
    info.method = format.name;
    CopyMember(outputFolder, info, source);
  } else {
    RefuseSingleMember(path);
  }
  return true;
}
