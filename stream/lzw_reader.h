// Pull-style reader of compress (.Z) streams: opened like a file and read in
// pieces of any size. The TAR source reads it 512 bytes at a time, the
// compress handler a mebibyte at a time; both get every decoded byte.
//
// Stream layout: 0x1F 0x9D, a flags byte (bits 0-4 the largest code width,
// at most 16; bit 7 block mode, where code 256 clears the table), then LZW
// codes of 9 up to that width, packed least-significant bit first in groups
// of eight codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace lzw {

struct LzwReader;

// Opens the file for binary reading and checks the three header bytes. Null
// when the file cannot be opened, the header is short or wrong, or the
// largest code width is above 16; nothing stays open then.
[[nodiscard]] LzwReader* LzwOpen(const char* path);

// The same over bytes in memory (tests, fuzzing). The bytes must stay valid
// until LzwClose.
[[nodiscard]] LzwReader* LzwOpenMemory(const uint8_t* data, size_t size);

// Delivers up to `count` decoded bytes; fewer only at the end of the data or
// after corrupt input (a first code of 256 or more, a code above the next
// free entry), after which every read gives 0. Every byte decoded before
// the end or the corruption is delivered.
int32_t LzwRead(LzwReader* reader, void* buffer, int32_t count);

// True once a read stopped at corrupt codes (rather than at the end).
bool LzwFailed(const LzwReader* reader);

// Releases the reader and closes its file; always 0. Null is accepted.
int LzwClose(LzwReader* reader);

}  // namespace lzw
