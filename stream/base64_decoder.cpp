#include "stream/base64_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/charset.h"

namespace {

// Value of every byte in the alphabet; kSkip for all others ('=' included,
// which the decoder tests before the table).
constexpr uint8_t kSkip = 255;
constexpr std::array<uint8_t, 256> kBase64Value = [] {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = kSkip;
  for (int i = 0; i < 26; ++i) {
    t['A' + i] = static_cast<uint8_t>(i);
    t['a' + i] = static_cast<uint8_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<uint8_t>(52 + i);
  t['+'] = 62;
  t['/'] = 63;
  return t;
}();

// The header a line belongs to; a header continues onto the next line when
// it ends in ';'.
enum class MimeHeader { kNone, kContentType, kContentDisposition, kTransferEncoding };

// Header lines are read in pieces of at most this many bytes.
constexpr size_t kHeaderLineSize = 5000;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The first place where `word` (lower case) appears in `line`, letter case
// ignored, or null.
const char* FindNoCase(const char* line, const char* word) {
  const size_t length = strlen(word);
  for (const char* p = line; *p != '\0'; ++p) {
    if (Lower(p[0]) == word[0] && Lower(p[1]) == word[1] && EqualsNoCaseN(p, word, length) == 0) {
      return p;
    }
  }
  return nullptr;
}

// A quoted name= (or filename=) parameter on the line becomes the part's
// name; the quoted text is stepped through by whole characters.
void TakeQuotedName(const char* line, Base64Part* part) {
  const char* p = FindNoCase(line, "name=");
  if (p == nullptr) return;
  p += 5;
  while (*p == ' ') ++p;
  if (*p != '"') return;
  const char* start = ++p;
  while (*p != '\0' && *p != '"') p = CharNext(p);
  part->nameState = CopyName(part->name, start, static_cast<size_t>(p - start));
}

// A header continues when its last character other than blanks is ';'.
bool ContinuesHeader(const char* line, size_t length) {
  while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t')) --length;
  return length > 0 && line[length - 1] == ';';
}

}  // namespace

bool FindBase64Part(TextLineReader& reader, Base64Part* part, long lineBudget) {
  part->name[0] = '\0';
  part->nameState = NameState::kNone;
  MimeHeader kind = MimeHeader::kNone;
  bool seen = false;
  char line[kHeaderLineSize];
  size_t length = 0;
  for (; lineBudget > 0 && reader.ReadLine(line, sizeof line, &length); --lineBudget) {
    if (strncmp(line, "begin-base64", 12) == 0) {
      const char* name = nullptr;
      size_t nameLength = 0;
      if (ParseBeginLine(line, "begin-base64", 10, &name, &nameLength)) {
        part->nameState = CopyName(part->name, name, nameLength);
      }
      return true;
    }
    if (seen && length == 0) break;
    if (EqualsNoCaseN(line, "Content-Transfer-Encoding:", 26) == 0) {
      kind = MimeHeader::kTransferEncoding;
    } else if (EqualsNoCaseN(line, "Content-Disposition:", 20) == 0) {
      kind = MimeHeader::kContentDisposition;
    } else if (EqualsNoCaseN(line, "Content-Type:", 13) == 0) {
      kind = MimeHeader::kContentType;
    }
    if (kind == MimeHeader::kNone) continue;
    if (kind == MimeHeader::kTransferEncoding) {
      if (FindNoCase(line, "base64") != nullptr) seen = true;
    } else {
      TakeQuotedName(line, part);
    }
    if (!ContinuesHeader(line, length)) kind = MimeHeader::kNone;
  }
  return seen;
}

namespace {

struct Accumulator {
  uint32_t bits = 0;  // collected values, the first in bits 18-23
  int count = 0;      // values collected (0 to 3)
};

// Decodes one line; true when an '=' ended the body.
bool DecodeBase64Line(const uint8_t* p, size_t n, Accumulator& acc, ByteSink& sink) {
  constexpr size_t kGroupsPerPiece = ByteSink::kSize / 3;
  size_t i = 0;
  for (;;) {
    // Whole groups of four alphabet characters while nothing is pending.
    while (acc.count == 0 && n - i >= 4) {
      const size_t groups = std::min((n - i) / 4, kGroupsPerPiece);
      uint8_t* out = sink.Room(groups * 3);
      size_t done = 0;
      for (; done < groups; ++done, i += 4, out += 3) {
        const uint32_t a = kBase64Value[p[i]], b = kBase64Value[p[i + 1]];
        const uint32_t c = kBase64Value[p[i + 2]], d = kBase64Value[p[i + 3]];
        if ((a | b | c | d) & 0x80) break;
        const uint32_t v = a << 18 | b << 12 | c << 6 | d;
        out[0] = static_cast<uint8_t>(v >> 16);
        out[1] = static_cast<uint8_t>(v >> 8);
        out[2] = static_cast<uint8_t>(v);
      }
      sink.Advance(done * 3);
      if (done < groups) break;
    }
    if (i >= n) return false;
    const uint8_t c = p[i++];
    if (c == '=') {
      if (acc.count >= 2) sink.Put(static_cast<uint8_t>(acc.bits >> 16));
      if (acc.count == 3) sink.Put(static_cast<uint8_t>(acc.bits >> 8));
      acc = Accumulator();
      return true;
    }
    const uint32_t v = kBase64Value[c];
    if (v == kSkip) continue;
    acc.bits |= v << (18 - 6 * acc.count);
    if (++acc.count == 4) {
      sink.Put(static_cast<uint8_t>(acc.bits >> 16));
      sink.Put(static_cast<uint8_t>(acc.bits >> 8));
      sink.Put(static_cast<uint8_t>(acc.bits));
      acc = Accumulator();
    }
  }
}

}  // namespace

void DecodeBase64Body(TextLineReader& reader, char* line, size_t capacity, ByteSink& sink) {
  Accumulator acc;
  size_t length = 0;
  for (;;) {
    // A last line without a line end is decoded too.
    const bool delivered = reader.ReadLine(line, capacity, &length);
    if (line[0] == '-' && line[1] == '-') return;
    if (DecodeBase64Line(reinterpret_cast<const uint8_t*>(line), length, acc, sink)) return;
    if (!delivered) return;
  }
}

bool LooksLikeBareBase64(TextLineReader& reader, long lineBudget) {
  char line[kHeaderLineSize];
  size_t length = 0;
  bool any = false;
  for (bool more = true; more && lineBudget > 0; --lineBudget) {
    more = reader.ReadLine(line, sizeof line, &length);
    for (size_t i = 0; i < length; ++i) {
      if (kBase64Value[static_cast<uint8_t>(line[i])] == kSkip && line[i] != '=') return false;
    }
    any = any || length > 0;
  }
  return any;
}
