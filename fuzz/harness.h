// Shared set-up for the fuzz targets: the program's start-up state, a
// scratch folder for each input, and the check that nothing was written
// outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Thrown by the program-ending error of a fuzz run; the target catches it.
struct FatalEnd {};

// Builds the tables, the read-ahead buffer and the handler registry once,
// with the registry store in a scratch folder.
void InitProgram();

// A fresh, empty folder for one input (host path, "/"-separated).
const std::string& ScratchFolder();
// <scratch>/out, made if missing, in program form: the folder handlers
// extract into (the program makes it before calling them).
std::string OutputFolder();
// The same in the program's form ("\"-separated).
std::string ProgramForm(const std::string& hostPath);

// Writes `data` to <scratch>/<name> and returns the host path.
std::string WriteInput(const std::string& name, const uint8_t* data, size_t size);

// Aborts when anything exists in the scratch folder's parent besides the
// scratch folder itself, then empties the scratch folder.
void CheckAndClean();

}  // namespace fuzz
