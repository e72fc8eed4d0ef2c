// The TAR walk shared by the four TAR handlers: it reads 512-byte header
// blocks through a ByteSource, writes regular files into the output folder,
// creates folders and skips everything else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/byte_source.h"

namespace tar {

// Opens the source, reads one block and closes it again: true when a whole
// block arrived and its checksum is right. With `emptyTaken` (the file's
// name says TAR), also when the archive starts with its end marker, two
// zero blocks: an empty archive, as tar writes one for no files.
bool TarProbe(ByteSource& source, const char* path, bool emptyTaken = false);

// Extracts the archive at `path` through the source into the output folder
// (program form, no trailing "\"). `work` (at least one block; data moves
// through it in pieces of up to `workSize` bytes, whole blocks) is the work
// buffer. False only when the source does not open. A short read ends the
// walk: the files written stay, a member cut short keeps the bytes that
// arrived but gets no time stamp or attributes, and is named. A header
// whose checksum is wrong is named and the walk reads on to the next valid
// header; the archive then counts as failed.
bool TarExtract(ByteSource& source, const char* path, const char* outputFolder, uint8_t* work,
                size_t workSize);

}  // namespace tar
