// Members' bytes to standard output (the options form's -c): one member
// after another, in archive order, nothing else on it. A terminal takes
// one member at most: the bytes of several would run together on the
// screen. So on a terminal the member is held until the run ends
// (FinishStandardOutput) and shown only when no second one came.
#pragma once

#include <cstddef>

// Whether the member `name` (program text) may be written to standard
// output now. False for a second member when standard output is a
// terminal: named once on standard error, and the run is refused (see
// StandardOutputRefused).
bool StandardOutputTakes(const char* name);
// True once a member was refused for the terminal: the run stops and ends
// with exit status 1.
bool StandardOutputRefused();
// Writes the bytes; false with errno's value in *error.
bool WriteStandardOutput(const void* data, size_t size, int* error);
// Flushes what the member left in the buffer; false with the error.
bool FlushStandardOutput(int* error);
// At the end of the run: shows a terminal's held member, unless the run
// was refused.
void FinishStandardOutput();
