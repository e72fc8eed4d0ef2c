// Pull-style reader of bzip2 files for the bzip2 handler and the TAR source
// behind bzip2, decoding several blocks at once on a pool of threads.
//
// It gives exactly the reads of libbzip2's file reader (BZ2_bzopen "rb",
// BZ2_bzread), the serial path the program was written against: a read
// fills its whole buffer unless the stream ends; only the first stream of
// the file is decoded; damage makes the read in which libbzip2 finds it
// give -1. To be sure of that:
// - blocks are found by their 48-bit magic at any bit position and handed
//   to libbzip2 one at a time, each as a one-block stream of its own (the
//   header of the file's stream, the block's bits, an end-of-stream marker
//   carrying the block's CRC as the stream CRC), so libbzip2 checks every
//   block's CRC; the stream CRC is checked against the blocks' CRCs;
// - a read returns its bytes only when every block they come from, and the
//   block or end-of-stream marker behind its last byte, checked out;
// - anything else (a block that does not decode, a false magic inside
//   block data, a missing end, a block whose output is unusually large)
//   hands the file over to libbzip2's file reader, which re-reads what was
//   already delivered and then goes on from there.
// Memory stays bounded: a fixed number of blocks is in flight.
#pragma once

#include <cstddef>
#include <cstdint>

struct Bzip2Reader;

struct Bzip2Options {
  int threads = 0;                 // 0: one per core, at most 8; 1: serial only
  size_t blockOutputLimit = 0;     // 0: the default cap on one block's output
};

// Opens the file. Null only when it cannot be opened.
[[nodiscard]] Bzip2Reader* Bzip2Open(const char* path, Bzip2Options options = {});

// Up to `count` decoded bytes; 0 at the end, -1 on damage (see above).
int32_t Bzip2Read(Bzip2Reader* reader, void* buffer, int32_t count);

// After a read gave -1: whether the input ended inside the stream (rather
// than holding damaged data).
bool Bzip2Truncated(Bzip2Reader* reader);

// Whether the reader gave up the parallel path (tests, fuzzing).
bool Bzip2WentSerial(const Bzip2Reader* reader);

// Stops the pool, releases the reader and closes its file. Null is accepted.
void Bzip2Close(Bzip2Reader* reader);
