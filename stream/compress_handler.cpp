#include "stream/compress_handler.h"

#include <cstdio>

#include "core/charset.h"
#include "core/output.h"
#include "stream/copy_out.h"
#include "stream/lzw_reader.h"

bool CompressHandler::Probe(const char* path, int32_t fileSize) {
  const int32_t buffered = fileSize < static_cast<int32_t>(kReadAheadSize)
                               ? fileSize
                               : static_cast<int32_t>(kReadAheadSize);
  return buffered >= 3 && g_ReadAheadBuffer[0] == 0x1F && g_ReadAheadBuffer[1] == 0x9D;
}

bool CompressHandler::Extract(const char* path, const char* outputFolder) {
  LzwReader* lzw = LzwOpen(path);
  if (lzw == nullptr) return false;
  const char* suffix = EqualsNoCase(ExtensionOf(path), "Z") == 0 ? nullptr : "uncompress";
  char name[kPathBufferSize];
  if (SingleOutputName(name, path, suffix)) {
    MemberInfo info;
    info.name = name;
    info.method = "lzw";
    // The stream has no end mark: it ends where the data ends, unless the
    // reader stopped at a code that cannot occur.
    CopyMember(outputFolder, info, [lzw](uint8_t* buffer, size_t capacity) -> long {
      const int32_t n = LzwRead(lzw, buffer, static_cast<int32_t>(capacity));
      return n == 0 && LzwFailed(lzw) ? kReadDamaged : n;
    });
  } else {
    RefuseSingleMember(path);
  }
  LzwClose(lzw);
  return true;
}
