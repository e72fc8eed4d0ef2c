#include "stream/copy_out.h"

#include <algorithm>

void CopyMember(const char* outputFolder, const MemberInfo& info, ByteSource& source, size_t pieceLimit) {
  MemberOutput out(outputFolder);
  if (!out.Begin(info)) return;
  const int32_t piece = static_cast<int32_t>(std::min(pieceLimit, kReadAheadSize));
  MemberEnd end = MemberEnd::kComplete;
  for (;;) {
    const int32_t n = source.Read(g_ReadAheadBuffer, piece);
    if (n < 0) end = n == kSourceTruncated ? MemberEnd::kTruncated : MemberEnd::kDamaged;
    if (n <= 0) break;
    if (!out.Write(g_ReadAheadBuffer, static_cast<size_t>(n))) break;
  }
  out.End(end);
}
