// The copy loop of the single-stream handlers: decoded data moves through
// the read-ahead buffer into the member's output in pieces of up to 1 MiB.
#pragma once

#include "core/charset.h"
#include "core/handler.h"
#include "core/member_output.h"
#include "stream/byte_source.h"

// Starts the one member of a single-stream file and hands it what the open
// `source` delivers, in pieces of at most `pieceLimit` bytes, until it ends,
// reports damage or truncation, or the output fails.
void CopyMember(const char* outputFolder, const MemberInfo& info, ByteSource& source,
                size_t pieceLimit = kReadAheadSize);

// The output name of a single-stream file (stored or made from the file's
// own name) does not fit an output path: the member is named by the file
// and counted as lost.
inline void RefuseSingleMember(const char* path) {
  RefuseMember(BaseNameOf(path), "the output name is too long for an output path; skipped");
}

// Data behind the compressed stream that its reader left alone (at file
// offset `trailingAt`; -1: none) is named, not counted as a failure.
inline void NoteTrailingData(const char* path, int64_t trailingAt, const char* format) {
  if (trailingAt >= 0)
    MemberNotice(BaseNameOf(path), "the data from byte %lld on is not %s data; ignored",
                 static_cast<long long>(trailingAt), format);
}
