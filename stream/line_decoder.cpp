#include "stream/line_decoder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/charset.h"
#include "core/member_output.h"
#include "core/names.h"
#include "stream/text_parts.h"

namespace text {

namespace {

// Bytes that end a text line: LF, CR and 0x00.
constexpr std::array<bool, 256> kLineEnd = [] {
  std::array<bool, 256> t{};
  t['\n'] = t['\r'] = t[0] = true;
  return t;
}();

// White space as the C library's isspace sees it in the "C" locale.
bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDigitOfBase(char c, int base) { return c >= '0' && c < '0' + base; }

}  // namespace

// ---------------------------------------------------------------- TextLineReader

bool TextLineReader::Refill() {
  if (atEnd_) return false;
  pos_ = 0;
  end_ = fread(block_, 1, kBlockSize, stream_);
  if (end_ == 0) atEnd_ = true;
  return end_ != 0;
}

void TextLineReader::Restart() {
  pos_ = end_ = 0;
  atEnd_ = false;
}

bool TextLineReader::ReadLine(char* line, size_t capacity, size_t* length) {
  *length = 0;
  if (capacity == 0) return !atEnd_;
  const size_t room = capacity - 1;
  size_t stored = 0;
  while (stored < room) {
    if (pos_ == end_ && !Refill()) break;
    const uint8_t* p = block_ + pos_;
    const size_t avail = std::min(end_ - pos_, room - stored);
    size_t k = 0;
    while (k < avail && !kLineEnd[p[k]]) ++k;
    memcpy(line + stored, p, k);
    stored += k;
    pos_ += k;
    if (k == avail) continue;
    // A line end: CR takes a following LF with it; any other byte after
    // the CR stays for the next line.
    const uint8_t end = block_[pos_++];
    if (end == '\r' && (pos_ < end_ || Refill()) && block_[pos_] == '\n') ++pos_;
    break;
  }
  line[stored] = '\0';
  *length = stored;
  return !atEnd_;
}

// ---------------------------------------------------------------- ByteSink

bool ByteSink::Flush() {
  if (used_ != 0 && stream_ != nullptr && !failed_) {
    if (fwrite(buffer_, 1, used_, stream_) != used_ || fflush(stream_) != 0) {
      failed_ = true;
      error_ = errno;
    }
  }
  total_ += used_;
  used_ = 0;
  return !failed_;
}

// ---------------------------------------------------------------- parsing helpers

size_t ProbeExtent(int32_t fileSize) {
  if (fileSize <= 0) return 0;
  return std::min(static_cast<size_t>(fileSize), kReadAheadSize);
}

bool ParseBeginLine(const char* line, const char* keyword, int base, const char** name,
                    size_t* nameLength) {
  const size_t keywordLength = strlen(keyword);
  if (strncmp(line, keyword, keywordLength) != 0) return false;
  const char* p = line + keywordLength;
  while (IsBlank(*p)) ++p;
  if (*p == '+' || *p == '-') ++p;
  if (!IsDigitOfBase(*p, base)) return false;
  while (IsDigitOfBase(*p, base)) ++p;
  while (IsBlank(*p)) ++p;
  const char* start = p;
  while (*p != '\0' && !IsBlank(*p)) ++p;
  if (p == start) return false;
  *name = start;
  *nameLength = static_cast<size_t>(p - start);
  return true;
}

NameState CopyName(char* out, const char* text, size_t length) {
  // Encoded text says nothing of its names' character set.
  return DecodeStoredName(reinterpret_cast<const uint8_t*>(text), length, NameMarking::kUnmarked, out,
                          kPathBufferSize)
             ? NameState::kFound
             : NameState::kTooLong;
}

// ---------------------------------------------------------------- uuencoded body

namespace {

// "_=_ Part 002 of 003 of file x.bin", as uuenview marks its parts.
bool ParsePartMark(const char* line, size_t length, UuPartMark* mark) {
  unsigned number = 0, total = 0;
  int nameAt = 0;
  if (sscanf(line, "_=_ Part %u of %u of file %n", &number, &total, &nameAt) != 2 || nameAt == 0) return false;
  if (number == 0 || total == 0 || number > total || total > 100000) return false;
  size_t end = length;
  while (end > size_t(nameAt) && IsBlank(line[end - 1])) --end;
  if (end == size_t(nameAt)) return false;
  mark->number = number;
  mark->total = total;
  mark->state = CopyName(mark->name, line + nameAt, end - size_t(nameAt));
  return true;
}

}  // namespace

UuStart FindUuStart(TextLineReader& reader, const uint8_t table[128], char* line, size_t capacity, char* name,
                    NameState* state, UuPartMark* mark, size_t* bodyLength, bool atStart) {
  name[0] = '\0';
  *state = NameState::kNone;
  bool first = atStart;
  size_t length = 0;
  for (;;) {
    const bool delivered = reader.ReadLine(line, capacity, &length);
    if (strncmp(line, "begin", 5) == 0) {
      if (!delivered || !reader.MoreData()) return UuStart::kNone;
      const char* text = nullptr;
      size_t textLength = 0;
      if (ParseBeginLine(line, "begin", 8, &text, &textLength)) *state = CopyName(name, text, textLength);
      return UuStart::kBegin;
    }
    if (!ParsePartMark(line, length, mark) && (first || mark->number > 1) && line[0] == 'M' &&
        FitsItsCount(table, line, length)) {
      *bodyLength = length;
      return UuStart::kBody;
    }
    first = false;
    if (!delivered) return UuStart::kNone;
  }
}

bool FindBeginLine(TextLineReader& reader, char* line, size_t capacity, char* name,
                   NameState* state) {
  name[0] = '\0';
  *state = NameState::kNone;
  size_t length = 0;
  for (;;) {
    const bool delivered = reader.ReadLine(line, capacity, &length);
    if (strncmp(line, "begin", 5) == 0) {
      if (!delivered || !reader.MoreData()) return false;
      const char* text = nullptr;
      size_t textLength = 0;
      if (ParseBeginLine(line, "begin", 8, &text, &textLength)) {
        *state = CopyName(name, text, textLength);
      }
      return true;
    }
    if (!delivered) return false;
  }
}

namespace {

// Characters a line of `count` bytes takes after its count character.
size_t CharactersFor(unsigned count) { return (count + 2) / 3 * 4; }

bool LengthFits(size_t needed, size_t length) { return length + 3 >= needed + 1 && length <= needed + 3; }

}  // namespace

bool FitsItsCount(const uint8_t table[128], const char* line, size_t length) {
  const unsigned count = length == 0 ? 0 : table[static_cast<uint8_t>(line[0]) & 0x7F];
  return count != 0 && LengthFits(CharactersFor(count), length);
}

UuBodyEnd DecodeLengthPrefixedLines(TextLineReader& reader, const uint8_t table[128], char* line,
                                    size_t capacity, ByteSink& sink) {
  return DecodeLengthPrefixedLines(reader, table, line, capacity, sink, SIZE_MAX);
}

UuBodyEnd DecodeLengthPrefixedLines(TextLineReader& reader, const uint8_t table[128], char* line,
                                    size_t capacity, ByteSink& sink, size_t ready) {
  // A count of at most 63 bytes needs 84 characters; a shorter line is
  // padded with blanks (value 0), as encoders that strip trailing blanks
  // expect.
  char padded[88];
  size_t length = ready;
  while (ready != SIZE_MAX || !reader.AtEnd()) {
    const bool delivered = ready != SIZE_MAX ? !reader.AtEnd() : reader.ReadLine(line, capacity, &length);
    ready = SIZE_MAX;
    const unsigned count = table[static_cast<uint8_t>(line[0]) & 0x7F];
    if (count == 0) {
      if (strncmp(line, "end", 3) == 0) return UuBodyEnd::kEnd;
      if (reader.AtEnd()) return UuBodyEnd::kNoEnd;
      (void)reader.ReadLine(line, capacity, &length);
      return strncmp(line, "end", 3) == 0 ? UuBodyEnd::kEnd : UuBodyEnd::kNoEnd;
    }
    const size_t needed = CharactersFor(count);
    // A short last line without its line end was cut with the input.
    if (!LengthFits(needed, length)) return delivered ? UuBodyEnd::kDamaged : UuBodyEnd::kNoEnd;
    const uint8_t* src = reinterpret_cast<const uint8_t*>(line + 1);
    if (length - 1 < needed) {
      memset(padded, ' ', sizeof padded);
      memcpy(padded, line + 1, length - 1);
      src = reinterpret_cast<const uint8_t*>(padded);
    }
    // Every group writes three bytes; only `count` of them are kept.
    uint8_t* out = sink.Room(count + 2);
    for (size_t g = 0; g < needed; g += 4, out += 3) {
      const unsigned v0 = table[src[g] & 0x7F], v1 = table[src[g + 1] & 0x7F];
      const unsigned v2 = table[src[g + 2] & 0x7F], v3 = table[src[g + 3] & 0x7F];
      out[0] = static_cast<uint8_t>(v0 << 2 | v1 >> 4);
      out[1] = static_cast<uint8_t>(v1 << 4 | v2 >> 2);
      out[2] = static_cast<uint8_t>(v2 << 6 | v3);
    }
    sink.Advance(count);
  }
  return UuBodyEnd::kNoEnd;
}

// ---------------------------------------------------------------- LineDecoderHandler

}  // namespace text

// The handler reads through the text decoders' names.
using namespace text;

bool LineDecoderHandler::MatchesExtension(const char* extension) { return false; }

bool LineDecoderHandler::IsOwnExtension(const char* extension) const {
  return IsLetter(extension[0]) && IsLetter(extension[1]) &&
         (extension[2] == '\0' ||
          ((extension[2] == 'e' || extension[2] == 'E') && extension[3] == '\0'));
}

bool LineDecoderHandler::DefaultOutputName(char* out, const char* path) const {
  const char* extension = ExtensionOf(path);
  if (IsLetter(extension[0]) && IsLetter(extension[1])) return SingleOutputName(out, path, nullptr);
  const char suffix[] = {lowerLetter_, upperLetter_, 'd', 'e', 'c', 'o', 'd', 'e', '\0'};
  return SingleOutputName(out, path, suffix);
}

bool LineDecoderHandler::Probe(const char* path, int32_t fileSize) {
  if (!IsOwnExtension(ExtensionOf(path))) return false;
  const size_t extent = ProbeExtent(fileSize);
  if (extent <= 12) return false;
  const uint8_t* data = g_ReadAheadBuffer;
  return AnyLineStart(data, extent - 12,
                      [data](size_t at) { return memcmp(data + at, "begin", 5) == 0; });
}

bool LineDecoderHandler::ProbeContent(const char* path, int32_t fileSize) {
  // Files of its own extensions were judged by Probe already.
  if (IsOwnExtension(ExtensionOf(path))) return false;
  const size_t extent = ProbeExtent(fileSize);
  const char* data = reinterpret_cast<const char*>(g_ReadAheadBuffer);
  FillDecodeTable(decodeTable_);
  // The line at `at` (at most kLine - 1 bytes of it) as text.
  constexpr size_t kLine = 300;
  char line[kLine];
  auto lineAt = [&](size_t at, size_t* length) {
    size_t n = 0;
    while (at + n < extent && n + 1 < kLine && data[at + n] != '\n' && data[at + n] != '\r' && data[at + n] != 0) ++n;
    memcpy(line, data + at, n);
    line[n] = '\0';
    *length = n;
    size_t next = at + n;
    if (next < extent && data[next] == '\r') ++next;
    if (next < extent && data[next] == '\n') ++next;
    return next;
  };
  auto fullLine = [&](size_t at, size_t* next) {
    size_t length = 0;
    *next = lineAt(at, &length);
    return line[0] == 'M' && FitsItsCount(decodeTable_, line, length);
  };
  // A later part of a split file: it starts with two full encoded lines.
  size_t next = 0;
  if (fullLine(0, &next) && fullLine(next, &next)) return true;
  return AnyLineStart(g_ReadAheadBuffer, extent, [&](size_t at) {
    size_t length = 0;
    if (extent - at >= 9 && memcmp(data + at, "_=_ Part ", 9) == 0) {
      // A part mark, with a full encoded line soon after it.
      size_t p = lineAt(at, &length);
      for (int i = 0; i < 5 && p < extent; ++i) {
        if (fullLine(p, &p)) return true;
      }
      return false;
    }
    if (extent - at < 6 || memcmp(data + at, "begin ", 6) != 0) return false;
    const size_t after = lineAt(at, &length);
    const char* name = nullptr;
    size_t nameLength = 0;
    if (!ParseBeginLine(line, "begin", 8, &name, &nameLength)) return false;
    (void)lineAt(after, &length);
    return FitsItsCount(decodeTable_, line, length);
  });
}

bool LineDecoderHandler::Extract(const char* path, const char* outputFolder) {
  SectionInput in(path);
  if (!in.file.IsOpen()) return false;
  TextLineReader& reader = in.file.Reader();
  FillDecodeTable(decodeTable_);
  // Every section of the file: a whole file, or one part of several.
  bool any = false;
  while (!reader.AtEnd()) {
    UuPartMark mark;
    size_t bodyLength = 0;
    const UuStart start = FindUuStart(reader, decodeTable_, in.line, SectionInput::kLineCapacity, in.name,
                                      &in.state, &mark, &bodyLength, !any);
    if (start == UuStart::kNone) break;
    // After the first section only a proper "begin <mode> <name>" line
    // starts another: ordinary text may begin with "begin" too.
    if (any && start == UuStart::kBegin && in.state == NameState::kNone) continue;
    any = true;
    if (!ExtractSection(reader, in, start, mark, bodyLength, path, outputFolder)) break;
  }
  return any;
}

bool LineDecoderHandler::ExtractSection(TextLineReader& reader, SectionInput& in, UuStart start,
                                        const UuPartMark& mark, size_t bodyLength, const char* path,
                                        const char* outputFolder) {
  // A numbered part is named by its mark when its own lines name nothing.
  if (mark.number != 0 && in.state == NameState::kNone) {
    memcpy(in.name, mark.name, sizeof in.name);
    in.state = mark.state;
  }
  const bool piece = start == UuStart::kBody && mark.number == 0;
  const bool named = piece || in.state == NameState::kFound ||
                     (in.state == NameState::kNone && DefaultOutputName(in.name, path));
  if (!named) {
    if (in.state == NameState::kTooLong) {
      RefuseMember("(a section with a long name)", "the name is too long for an output path; skipped");
    } else {
      RefuseMember(BaseNameOf(path), "the output name is too long for an output path; skipped");
    }
  }
  // The body goes to the run's spool first: whether it is a whole file or
  // one part of several shows only at its end. An unnamed one is still
  // read, so the sections after it come out.
  FILE* spool = PartSpool();
  if (spool == nullptr) {
    if (named) RefuseMember(in.name, "no temporary file to decode into; skipped");
    return false;
  }
  PartRecord record;
  record.spoolOffset = ftell(spool);
  UuBodyEnd ended;
  int spoolError = 0;
  {
    ByteSink sink(spool);
    ended = start == UuStart::kBody
                ? DecodeLengthPrefixedLines(reader, decodeTable_, in.line, SectionInput::kLineCapacity, sink, bodyLength)
                : DecodeLengthPrefixedLines(reader, decodeTable_, in.line, SectionInput::kLineCapacity, sink);
    if (!sink.Flush()) spoolError = sink.Error() != 0 ? sink.Error() : EIO;
  }
  if (!named) return true;
  if (spoolError != 0) {
    // Its bytes did not all reach the spool: nothing of it is written.
    MemberNotice(piece ? BaseNameOf(path) : in.name, "cannot be written: %s", OutputErrorText(spoolError));
    g_ArchiveOutcome.failed = true;
    return false;
  }
  record.kind = mark.number != 0 ? PartKind::kUuNumbered
                : piece          ? PartKind::kUuPiece
                : ended == UuBodyEnd::kNoEnd ? PartKind::kUuFirst
                                             : PartKind::kUuNumbered;
  record.name = piece ? "" : in.name;
  record.folder = outputFolder;
  record.path = path;
  record.number = mark.number;
  record.total = mark.total;
  record.last = ended == UuBodyEnd::kEnd;
  // The last numbered part holds the end line, unless it was cut.
  record.damaged = ended == UuBodyEnd::kDamaged || (mark.number != 0 && mark.number == mark.total && !record.last);
  AddPart(std::move(record));
  if (mark.number != 0 || piece || ended == UuBodyEnd::kNoEnd) return true;  // put together at the run's end
  // A whole file: written now.
  const PartRecord& whole = LastPart();
  bool ok = true;
  {
    MemberOutput out(outputFolder);
    MemberInfo info;
    info.name = in.name;
    if (out.Begin(info)) {
      uint32_t crc = 0;
      if (!CopyFromSpool(whole.spoolOffset, whole.length, out, &crc) && !out.Failed()) {
        out.Fail("its decoded bytes cannot be read back; skipped");
      } else {
        out.End(ended == UuBodyEnd::kEnd ? MemberEnd::kComplete : MemberEnd::kDamaged);
      }
    }
    ok = !out.ArchiveEnded();
  }
  DropLastPart();
  return ok;
}
