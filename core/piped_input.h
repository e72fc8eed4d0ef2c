// Standard input as an archive when it is not a regular file (a pipe, a
// socket). Its start is read into memory and kept, so that the content
// probes and then the chosen handler can each read it from its first byte;
// what lies beyond the kept bytes is read once, in order, from descriptor 0.
//
// Input that ends within its first kReadAheadSize bytes is kept whole: a
// file in memory that every handler can read and seek in. Longer input goes
// to a handler that reads in order (the TAR family and the single streams:
// FormatHandler::readsInOrder) without ever touching the disk; when none of
// those claims it, it is copied into an anonymous temporary file that takes
// descriptor 0's place, and read as a redirected file is.
//
// OpenFileStream gives a reader of the piped input for kStandardInputPath
// while it is active.
#pragma once

#include <cstdio>
#include <string>

// The program path the archive "-" is read through.
extern const char kStandardInputPath[];
// What notices and listings call it.
extern const char kStandardInputName[];

// Reads the start of descriptor 0 and makes the piped input active. False,
// with the reason, when it cannot be read.
bool BeginPipedInput(std::string* error);
bool PipedInputActive();
// The input has ended within the kept bytes: its size is known and every
// handler can read it.
bool PipedInputWhole();
// A new read-only stream over the piped input, at its first byte; it can
// seek within the kept bytes and forward. Reading beyond them goes on only
// for the stream that is where descriptor 0 is; another gets a read error
// (ESPIPE). Seeking to the end works only once the input has ended.
FILE* OpenPipedInput();
// The handler is chosen: bytes read from here on are not kept.
void StopKeepingPipedInput();
// Copies the input, the kept bytes and the rest, into an anonymous
// temporary file that replaces descriptor 0, and ends the piped input.
// False, with the reason, when that cannot be done (the temporary folder
// is full, or a probe read past what could be kept).
bool SpoolPipedInput(std::string* error);
