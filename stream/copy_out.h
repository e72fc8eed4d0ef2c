// The copy loop of the single-stream handlers: decoded data moves through
// the read-ahead buffer into the member's output in pieces of up to 1 MiB.
#pragma once

#include "core/handler.h"
#include "core/member_output.h"

// Starts the one member of a single-stream file and hands it what
// `read(buffer, capacity)` delivers until it gives 0 (the end) or less than
// 0 (the decoder or its library reports bad data, a checksum error
// included), or the output fails.
template <typename Read>
void CopyMember(const char* outputFolder, const MemberInfo& info, Read read) {
  MemberOutput out(outputFolder);
  if (!out.Begin(info)) return;
  MemberEnd end = MemberEnd::kComplete;
  for (;;) {
    const long n = static_cast<long>(read(g_ReadAheadBuffer, kReadAheadSize));
    if (n < 0) end = MemberEnd::kDamaged;
    if (n <= 0) break;
    if (!out.Write(g_ReadAheadBuffer, static_cast<size_t>(n))) break;
  }
  out.End(end);
}
