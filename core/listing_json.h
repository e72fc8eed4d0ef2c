// The listing for scripts (-l --json, and -t --json with each member's
// verdict): one JSON document per run on standard output,
//
//   {"archives": [
//     {"path": "a.zip", "format": "zip", "members": [
//       {"name": "docs/x.txt", "kind": "file", "size": 13, "packed_size": 9,
//        "method": "deflate", "time": "2020-05-17T10:20:00Z", "mode": "0644",
//        "link_target": null, "encrypted": false, "verdict": "OK"}, ...],
//      "verdict": "OK"}, ...]}
//
// Unknown values are null; "verdict" appears in test mode only. Names are
// UTF-8 with "/" between folders, every control character escaped as JSON
// requires; a byte that is no character of its code page comes as a lone
// \udcXX escape. Files put together from parts at the end of a run come in
// an archive of their own whose path and format are null.
#pragma once

#include <cstdint>

struct MemberInfo;

// The document's start and end around a run (nothing when g_RunOptions.json
// is not set).
void JsonBeginRun();
void JsonEndRun();
// An archive's object: its path (program text) and format name.
void JsonBeginArchive(const char* path, const char* format);
// Closes it; `verdict` ("OK", "FAILED") in test mode, else null.
void JsonEndArchive(const char* verdict);
// One member; `size` as decoded or listed, `target` its link target or
// null, `verdict` as for the archive.
void JsonMember(const MemberInfo& info, uint64_t size, const char* target, const char* verdict);
