#include "stream/bzip2_handler.h"

#include <bzlib.h>

#include <algorithm>
#include <cstdio>

#include "core/charset.h"
#include "core/output.h"
#include "stream/copy_out.h"
#include "stream/stream_sources.h"

namespace {

BZFILE* OpenBzip2(const char* path) {
  char hostPath[4096];
  if (!HostPath(path, hostPath, sizeof hostPath)) return nullptr;
  return BZ2_bzopen(hostPath, "rb");
}

}  // namespace

bool Bzip2Handler::Probe(const char* path, int32_t fileSize) {
  const uint8_t* b = g_ReadAheadBuffer;
  if (fileSize < 3 || b[0] != 'B' || b[1] != 'Z' || b[2] != 'h') return false;
  // A trial decompression of the first bytes weeds out files that only
  // start like bzip2.
  BZFILE* bz = OpenBzip2(path);
  if (bz == nullptr) return false;
  char trial[20];
  const int n = BZ2_bzread(bz, trial, sizeof trial);
  BZ2_bzclose(bz);
  return n != -1;
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
