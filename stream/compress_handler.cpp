#include "stream/compress_handler.h"

#include <cstdio>

#include "core/charset.h"
#include "core/output.h"
#include "stream/copy_out.h"
#include "stream/stream_sources.h"

bool CompressHandler::Probe(const char* path, int32_t fileSize) {
  const int32_t buffered = fileSize < static_cast<int32_t>(kReadAheadSize)
                               ? fileSize
                               : static_cast<int32_t>(kReadAheadSize);
  return buffered >= 3 && g_ReadAheadBuffer[0] == 0x1F && g_ReadAheadBuffer[1] == 0x9D;
}

bool CompressHandler::Extract(const char* path, const char* outputFolder) {
  CompressSource source;
  if (!source.Open(path)) return false;
  const char* suffix = EqualsNoCase(ExtensionOf(path), "Z") == 0 ? nullptr : "uncompress";
  char name[kPathBufferSize];
  if (SingleOutputName(name, path, suffix)) {
    MemberInfo info;
    info.name = name;
    info.method = "lzw";
    CopyMember(outputFolder, info, source);
  } else {
    RefuseSingleMember(path);
  }
  return true;
}
