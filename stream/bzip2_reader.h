// Pull-style reader of bzip2 files for the bzip2 handler and the TAR source
// behind bzip2, decoding several blocks at once on a pool of threads.
//
// What it reads (the serial path, libbzip2's decompressor stream after
// stream, defines it; the parallel path gives the same reads):
// - streams follow one another (concatenated files, files written by
//   parallel compressors): each is decoded in turn, each checked against
//   its own CRCs, and a read ends at a stream's end, so damage in a later
//   stream never takes back bytes of an earlier one;
// - after a stream, bytes that do not start like one ("BZh" and a level
//   digit) are trailing data: the output ends quietly before them and
//   Bzip2TrailingAt says where they start;
// - a read fills its whole buffer unless a stream ends or damage follows:
//   every byte decoded before the damage was found is delivered (a block's
//   CRC is checked after its last byte, so a damaged block's bytes come
//   out), then the next read gives -1, and every later one too.
//
// The parallel path:
// - blocks are found by their 48-bit magic at any bit position and handed
//   to libbzip2 one at a time, each as a one-block stream of its own (the
//   header of the block's stream, the block's bits, an end-of-stream marker
//   carrying the block's CRC as the stream CRC), so libbzip2 checks every
//   block's CRC; each stream's CRC is checked against its blocks' CRCs;
// - a read returns its bytes only when every block they come from, and the
//   block or end-of-stream marker behind its last byte, checked out;
// - anything else (a block that does not decode, a false magic inside
//   block data, a missing end, a stream cut inside its header, a block
//   whose output is unusually large) hands the file over to the serial
//   path, which re-reads what was already delivered and then goes on from
//   there.
// Memory stays bounded: a fixed number of blocks is in flight.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bzip2 {

struct Bzip2Reader;

struct Bzip2Options {
  int threads = 0;                 // 0: one per core, at most 8; 1: serial only
  size_t blockOutputLimit = 0;     // 0: the default cap on one block's output
};

// Opens the file. Null only when it cannot be opened.
[[nodiscard]] Bzip2Reader* Bzip2Open(const char* path, Bzip2Options options = {});

// Up to `count` decoded bytes; 0 at the end, -1 on damage (see above).
int32_t Bzip2Read(Bzip2Reader* reader, void* buffer, int32_t count);

// After a read gave -1: whether the input ended inside a stream (rather
// than holding damaged data).
bool Bzip2Truncated(const Bzip2Reader* reader);

// After a read gave 0: the file offset of the trailing data that ended the
// output, or -1 when the file ended with its last stream.
int64_t Bzip2TrailingAt(const Bzip2Reader* reader);

// Whether the reader gave up the parallel path (tests, fuzzing).
bool Bzip2WentSerial(const Bzip2Reader* reader);

// Stops the pool, releases the reader and closes its file. Null is accepted.
void Bzip2Close(Bzip2Reader* reader);

}  // namespace bzip2
