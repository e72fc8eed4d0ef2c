// "-" as an archive: standard input. The handlers read their archives by
// path and seek in them, so standard input is made a regular file first:
// used as it is when it already is one (read from its start), otherwise
// copied into an anonymous temporary file that takes its place as
// descriptor 0. The archive is then read through /dev/stdin, whose name
// ("stdin") single-stream members and -f folders are named after.
#pragma once

#include <string>

// The program path the archive is read through once TakeStandardInput
// has succeeded.
extern const char kStandardInputPath[];
// What notices and listings call the archive.
extern const char kStandardInputName[];

// Makes descriptor 0 a regular file holding all of standard input. False,
// with the reason, when standard input is a terminal, cannot be read or
// cannot be copied (e.g. the temporary folder is full).
bool TakeStandardInput(std::string* error);
