#include "stream/bzip2_handler.h"

#include <bzlib.h>

#include <algorithm>
#include <cstdio>

#include "core/charset.h"
#include "core/output.h"
#include "stream/copy_out.h"
#include "stream/stream_sources.h"

namespace {

// A trial decompression of the first bytes: false for a file that only
// starts like bzip2.
bool DecodesAsBzip2(FILE* file) {
  int error = BZ_OK;
  BZFILE* bz = BZ2_bzReadOpen(&error, file, 0, 0, nullptr, 0);
  if (bz == nullptr || error != BZ_OK) return false;
  char trial[20];
  BZ2_bzRead(&error, bz, trial, sizeof trial);
  const bool decodes = error == BZ_OK || error == BZ_STREAM_END;
  int closing = BZ_OK;
  BZ2_bzReadClose(&closing, bz);
  return decodes;
}

}  // namespace

bool Bzip2Handler::Probe(const char* path, int32_t fileSize) {
  const uint8_t* b = g_ReadAheadBuffer;
  if (fileSize < 3 || b[0] != 'B' || b[1] != 'Z' || b[2] != 'h') return false;
  FILE* file = OpenFileStream(path, "rb");
  if (file == nullptr) return false;
  const bool decodes = DecodesAsBzip2(file);
  fclose(file);
  return decodes;
}

bool Bzip2Handler::Extract(const char* path, const char* outputFolder) {
  Bzip2Source source;
  if (!source.Open(path)) return false;
  char name[kPathBufferSize];
  const char* suffix = EqualsNoCase(ExtensionOf(path), "bz2") == 0 ? nullptr : "unbzip2";
  if (SingleOutputName(name, path, suffix)) {
    MemberInfo info;
    info.name = name;
    info.method = "bzip2";
    CopyMember(outputFolder, info, source);
    NoteTrailingData(path, source.TrailingAt(), "bzip2");
  } else {
    RefuseSingleMember(path);
  }
  return true;
}
