// "-" as an archive: standard input. A regular file (a redirection) is read
// where it stands; anything else becomes piped input (core/piped_input.h).
// Either way the archive is read through kStandardInputPath and called
// "stdin", after which single-stream members and -f folders are named.
#pragma once

#include <string>

#include "core/piped_input.h"

// Readies standard input to be read as an archive. False, with the reason,
// when it is a terminal or cannot be read.
bool TakeStandardInput(std::string* error);
