// Removing a folder tree the tests and fuzz targets made, read-only
// folders included (they are made writable first). Needs nothing of the
// program, so the fuzz targets build it too.
#pragma once

#include <string>

namespace testutil {

// Removes `path` and all below it; with `keepTop` the folder itself stays,
// emptied. Nothing happens when it is not there.
void RemoveTree(const std::string& path, bool keepTop = false);

}  // namespace testutil
