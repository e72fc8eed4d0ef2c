// Pull-style reader of gzip files, opened like a file and read in pieces of
// any size, for the gzip handler and the TAR source behind gzip. It keeps
// the results of zlib's gzip file reader that the program was written
// against:
// - members follow one another: each is decoded in turn;
// - after a member, anything that does not start with 0x1F 0x8B is trailing
//   garbage and ends the data quietly;
// - a file that does not start with 0x1F 0x8B is delivered as it stands;
// - a damaged member (bad header fields, header check, deflate data, CRC-32
//   or length in the trailer) makes the read in which it is found give -1,
//   dropping that read's bytes, and every later read give -1;
// - data that ends early ends the output with every byte decoded so far.
// A read fills its whole buffer unless the data ends; it returns only once
// the decoding has gone past its last byte, so a damage right behind a full
// buffer still fails that read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/inflate.h"

struct GzipReader;

// Opens the file for binary reading. Null only when it cannot be opened.
[[nodiscard]] GzipReader* GzipOpen(const char* path, InflateBackend backend = DefaultInflateBackend());

// The same over bytes in memory (tests, fuzzing); they must stay valid
// until GzipClose.
[[nodiscard]] GzipReader* GzipOpenMemory(const uint8_t* data, size_t size,
                                         InflateBackend backend = DefaultInflateBackend());

// Up to `count` decoded bytes (see above); 0 at the end, -1 on damage.
int32_t GzipRead(GzipReader* reader, void* buffer, int32_t count);

// Releases the reader and closes its file. Null is accepted.
void GzipClose(GzipReader* reader);
