// The folder data stream: the uncompressed bytes of one folder at a time,
// read block by block (a block split over two cabinets joined), checked
// against its CFDATA checksum and decoded by the folder's method. Its
// buffers and decoder states are large and program-wide (one extraction at
// a time).
#pragma once

#include <cstdint>

#include "archive/cab/cab_headers.h"
#include "archive/cab/cab_result.h"
#include "core/member_output.h"

namespace cab {

// The folder being decoded (null: none; the next file opens its folder
// afresh) and the uncompressed offset reached in it.
FolderRecord* StreamFolder();
uint32_t StreamOffset();

// Makes `folder` the stream's folder, at its start: sets up the folder's
// decoder and opens its first part. Unsupported (Quantum, an unknown method
// or window) or NoMemory from the decoder; InputError when the part cannot be
// opened (the run then has its fatal condition).
[[nodiscard]] CabResult StartFolder(Run& run, FolderRecord* folder);

// Produces the next n bytes of the stream's folder, handing them to `out`
// or discarding them (out null), and moves the offset on by n. With
// `tolerateErrors`, an MSZIP block whose checksum or data is bad is kept
// after a warning naming `memberName`. OutputError: the output has failed
// the member and said so.
[[nodiscard]] CabResult ReadFolderData(Run& run, const char* memberName, uint32_t n, MemberOutput* out,
                                       bool tolerateErrors);

// Closes the stream; the next file opens its folder afresh.
void DropFolder();

}  // namespace cab
