// The ZIP methods of today's archivers that the field's libraries decode:
// bzip2 (12, libbz2), LZMA (14, liblzma's raw LZMA decoder behind the ZIP
// LZMA header), Zstandard (93, and the older number 20, libzstd) and XZ (95,
// liblzma). Each member's data is one stream of that format.
#pragma once

#include <cstdint>

#include "archive/zip/zip_bit_reader.h"
#include "core/member_output.h"

namespace zip {

// True for the methods DecodeLibraryMethod decodes.
bool IsLibraryMethod(uint16_t method);

// Decodes the member's data, read through `io` (its compressed size at
// most), into `io`'s output. `flags` bit 1 says an LZMA member ends with an
// end marker; `size` is the member's uncompressed size when known.
// Complete when the stream ended; truncated when the data ended first;
// damaged on bad data or when the library cannot start. *unused: input
// bytes read from `io` behind the stream's end.
MemberEnd DecodeLibraryMethod(uint16_t method, uint16_t flags, uint64_t size, ZipMemberIo& io, size_t* unused);

}  // namespace zip
