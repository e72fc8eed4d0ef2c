// Pull-style reader of gzip files, opened like a file and read in pieces of
// any size, for the gzip handler and the TAR source behind gzip. It reads
// what zlib's gzip file reader, which the program was written against,
// reads:
// - members follow one another: each is decoded in turn;
// - after a member, anything that does not start with 0x1F 0x8B is trailing
//   data and ends the output; GzipTrailingAt says where it starts unless
//   it is only zero bytes;
// - a file that does not start with 0x1F 0x8B is delivered as it stands;
// - a damaged member (bad header fields, header check, deflate data, CRC-32
//   or length in the trailer): every byte decoded before the damage is
//   delivered, then that read and every later one gives -1;
// - data that ends inside a member ends the output with every byte decoded
//   so far, and GzipTruncated tells so.
// A read fills its whole buffer unless the data ends or damage follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "stream/inflate.h"

namespace gzip {

struct GzipReader;

// Opens the file for binary reading. Null only when it cannot be opened.
[[nodiscard]] GzipReader* GzipOpen(const char* path, flate::InflateBackend backend = flate::DefaultInflateBackend());

// The same over a stream already open (taken over: GzipClose closes it),
// reading `inputSize` bytes at a time (at least 8): small sizes make every
// member and trailer cross buffer fills (tests, fuzzing).
[[nodiscard]] GzipReader* GzipOpenStream(FILE* file, flate::InflateBackend backend, size_t inputSize);

// The same over bytes in memory (tests, fuzzing); they must stay valid
// until GzipClose.
[[nodiscard]] GzipReader* GzipOpenMemory(const uint8_t* data, size_t size,
                                         flate::InflateBackend backend = flate::DefaultInflateBackend());

// Up to `count` decoded bytes (see above); 0 at the end, -1 on damage.
int32_t GzipRead(GzipReader* reader, void* buffer, int32_t count);

// Whether the data ended inside a member (header, deflate data or trailer).
bool GzipTruncated(const GzipReader* reader);

// After a read gave 0: the file offset of trailing data that is not all
// zero bytes, or -1.
int64_t GzipTrailingAt(const GzipReader* reader);

// Releases the reader and closes its file. Null is accepted.
void GzipClose(GzipReader* reader);

}  // namespace gzip
