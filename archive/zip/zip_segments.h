// A split ZIP set (zip -s, WinZip's split archives): the segments
// "name.z01", "name.z02", ... written before the last one, "name.zip", read
// as one stream, so members and the directory run across segments as if
// the set were one file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zip {

// Opens the `count` segments of the set whose last segment is `path`
// (program text). `starts` receives where each segment begins in the joined
// stream; a segment that cannot be opened counts as empty and its name is
// added to `missing` (program text). Null when nothing can be opened.
FILE* OpenZipSegments(const char* path, uint32_t count, std::vector<uint64_t>* starts,
                      std::vector<std::string>* missing);

}  // namespace zip
