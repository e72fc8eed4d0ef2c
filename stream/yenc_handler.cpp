#include "stream/yenc_handler.h"

#include <cerrno>
#include <cstring>

#include "core/charset.h"
#include "core/member_output.h"
#include "core/output.h"
#include "stream/text_parts.h"
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

namespace {

// One part of a file posted in parts: decoded into the run's spool, put
// together with the other parts at the end of the run.
void CollectPart(TextLineReader& reader, SectionInput& in, const YencHeader& header, const char* path,
                 const char* outputFolder) {
  FILE* spool = PartSpool();
  PartRecord record;
  record.spoolOffset = spool != nullptr ? ftell(spool) : 0;
  YencTrailer trailer;
  int spoolError = 0;
  {
    ByteSink sink(spool);
    trailer = DecodeYencBody(reader, in.line, SectionInput::kLineCapacity, sink);
    if (!sink.Flush()) spoolError = sink.Error() != 0 ? sink.Error() : EIO;
  }
  if (spool == nullptr) {
    RefuseMember(in.name, "its parts cannot be collected (no temporary file); skipped");
    return;
  }
  if (spoolError != 0) {
    MemberNotice(in.name, "cannot be written: %s", OutputErrorText(spoolError));
    g_ArchiveOutcome.failed = true;
    return;
  }
  record.kind = PartKind::kYenc;
  record.name = in.name;
  record.folder = outputFolder;
  record.path = path;
  record.number = header.part;
  record.total = header.total;
  record.fileSize = header.size;
  record.begin = trailer.partBegin;
  record.end = trailer.partEnd;
  record.hasPartCrc = trailer.hasPartCrc;
  record.partCrc = trailer.partCrc;
  record.hasCrc = trailer.hasCrc;
  record.crc = trailer.crc;
  AddPart(std::move(record));
  PartRecord& added = LastPart();
  // A part that ended without "=yend", or whose size is not what its
  // trailer says, cannot be trusted.
  added.damaged = !trailer.ended || (trailer.hasSize && trailer.size != added.length) ||
                  (added.end >= added.begin && added.end - added.begin + 1 != added.length);
}

}  // namespace

bool YencHandler::Extract(const char* path, const char* outputFolder) {
  SectionInput in(path);
  if (!in.file.IsOpen()) return false;
  TextLineReader& reader = in.file.Reader();
  MemberOutput out(outputFolder);
  while (!reader.AtEnd() &&
         FindYencSection(reader, in.line, SectionInput::kLineCapacity, in.name, &in.state)) {
    const YencHeader header = ParseYencHeader(in.line);
    if (header.part != 0 && in.state == NameState::kFound) {
      CollectPart(reader, in, header, path, outputFolder);
      continue;
    }
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
