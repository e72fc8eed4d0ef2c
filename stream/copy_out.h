// The copy loop of the single-stream handlers: decoded data moves through
// the read-ahead buffer into the member's output in pieces of up to 1 MiB.
#pragma once

#include "core/charset.h"
#include "core/handler.h"
#include "core/member_output.h"

// What a read function gives besides a byte count: the decoder or its
// library found bad data (a checksum error included), or the input ended
// inside the stream.
constexpr long kReadDamaged = -1;
constexpr long kReadTruncated = -2;

// Starts the one member of a single-stream file and hands it what
// `read(buffer, capacity)` delivers until it gives 0 (the end), a negative
// code above, or the output fails.
template <typename Read>
void CopyMember(const char* outputFolder, const MemberInfo& info, Read read) {
  MemberOutput out(outputFolder);
  if (!out.Begin(info)) return;
  MemberEnd end = MemberEnd::kComplete;
  for (;;) {
    const long n = static_cast<long>(read(g_ReadAheadBuffer, kReadAheadSize));
    if (n < 0) end = n == kReadTruncated ? MemberEnd::kTruncated : MemberEnd::kDamaged;
    if (n <= 0) break;
    if (!out.Write(g_ReadAheadBuffer, static_cast<size_t>(n))) break;
  }
  out.End(end);
}

// The output name of a single-stream file (stored or made from the file's
// own name) does not fit an output path: the member is named by the file
// and counted as lost.
inline void RefuseSingleMember(const char* path) {
  RefuseMember(BaseNameOf(path), "the output name is too long for an output path; skipped");
}
