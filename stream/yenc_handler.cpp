#include "stream/yenc_handler.h"

#include <cstring>

#include "core/charset.h"
#include "core/member_output.h"
#include "core/output.h"
#include "stream/yenc_decoder.h"

// The handler reads through the text decoders' names.
using namespace text;

bool YencHandler::MatchesExtension(const char* extension) {
  return EqualsNoCase(extension, "ntx") == 0;
}

bool YencHandler::Probe(const char* path, int32_t fileSize) {
  const size_t extent = ProbeExtent(fileSize);
  if (extent <= 15) return false;
  const uint8_t* data = g_ReadAheadBuffer;
  // " name=" must follow on the header line, matched byte by byte: a byte
  // that breaks a partial match is not tried again as its first byte.
  return AnyLineStart(data, extent - 15, [data, extent](size_t at) {
    if (memcmp(data + at, "=ybegin ", 8) != 0) return false;
    static const char kName[] = " name=";
    size_t matched = 0;
    for (size_t i = at + 7; i < extent - 6 && data[i] != '\r' && data[i] != '\n'; ++i) {
      matched = data[i] == static_cast<uint8_t>(kName[matched]) ? matched + 1 : 0;
      if (matched == 6) return true;
    }
    return false;
  });
}

bool YencHandler::Extract(const char* path, const char* outputFolder) {
  SectionInput in(path);
  if (!in.file.IsOpen()) return false;
  TextLineReader& reader = in.file.Reader();
  MemberOutput out(outputFolder);
  while (!reader.AtEnd() &&
         FindYencSection(reader, in.line, SectionInput::kLineCapacity, in.name, &in.state)) {
    MemberInfo info;
    info.name = in.name;
    info.checksum = ChecksumKind::kCrc32;
    bool begun = false;
    const bool tooLong = in.state == NameState::kTooLong;
    if (in.state == NameState::kFound) {
      begun = out.Begin(info);
    } else {
      RefuseMember(tooLong ? "(a yEnc section with a long name)" : "(a yEnc section without a name)",
                   tooLong ? "the name is too long for an output path; skipped" : "skipped");
    }
    // A section that is not written is still read to its end, so the
    // sections after it come out.
    YencTrailer trailer;
    {
      ByteSink sink(begun ? out.Stream() : nullptr);
      trailer = DecodeYencBody(reader, in.line, SectionInput::kLineCapacity, sink);
      (void)sink.Flush();  // a failed write is the member output's to report
    }
    if (!begun) continue;
    fflush(out.Stream());  // every byte counted before the size is compared
    // pcrc32 covers this section's bytes; crc32 the whole file, which is
    // this section only when it is not one part of several.
    if (trailer.hasPartCrc) {
      out.SetStoredChecksum(trailer.partCrc);
    } else if (trailer.hasCrc && !trailer.isPart) {
      out.SetStoredChecksum(trailer.crc);
    }
    MemberEnd end = MemberEnd::kComplete;
    if (!trailer.ended) {
      end = MemberEnd::kTruncated;
    } else if (trailer.hasSize && trailer.size != out.Written()) {
      end = MemberEnd::kDamaged;
    }
    out.End(end);
    if (out.ArchiveEnded()) break;
  }
  return true;
}
