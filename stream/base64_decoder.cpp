#include "stream/base64_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/charset.h"
#include "core/names.h"

namespace text {

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

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Bytes collected for a name, refused once they pass what any name that
// fits can take.
struct NameBytes {
  uint8_t bytes[kStoredNameSize];
  size_t length = 0;
  bool tooLong = false;
  void Put(uint8_t b) {
    if (length < sizeof bytes) bytes[length++] = b;
    else tooLong = true;
  }
};

// The text of one RFC 2047 encoded word ("B": base64, "Q": "=XX" escapes
// and "_" for a blank).
void DecodeWordText(char encoding, const char* text, size_t length, NameBytes& out) {
  if (Lower(encoding) == 'q') {
    for (size_t i = 0; i < length; ++i) {
      if (text[i] == '_') {
        out.Put(' ');
      } else if (text[i] == '=' && i + 2 < length && HexValue(text[i + 1]) >= 0 &&
                 HexValue(text[i + 2]) >= 0) {
        out.Put(static_cast<uint8_t>(HexValue(text[i + 1]) << 4 | HexValue(text[i + 2])));
        i += 2;
      } else {
        out.Put(static_cast<uint8_t>(text[i]));
      }
    }
    return;
  }
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t v = kBase64Value[static_cast<uint8_t>(text[i])];
    if (v == kSkip) continue;
    bits = bits << 6 | v;
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.Put(static_cast<uint8_t>(bits >> count));
    }
  }
}

// Appends narrow text to the name; false when it no longer fits.
bool Append(char* name, size_t* used, const char* text) {
  const size_t length = strlen(text);
  if (*used + length >= kPathBufferSize) return false;
  memcpy(name + *used, text, length + 1);
  *used += length;
  return true;
}

// A quoted name that holds RFC 2047 encoded words ("=?charset?B?text?=" or
// "...?Q?...?="), each decoded in its character set; blanks between two
// words are dropped, other text is taken as an unmarked name.
NameState DecodeEncodedWords(const char* text, size_t length, char* name) {
  size_t used = 0;
  name[0] = '\0';
  const char* end = text + length;
  const char* p = text;
  bool afterWord = false;
  while (p < end) {
    const char* word = p;
    while (word + 1 < end && !(word[0] == '=' && word[1] == '?')) ++word;
    if (word + 1 >= end) word = end;
    // "=?" charset "?" encoding "?" text "?="
    const char* charsetEnd = word < end ? static_cast<const char*>(memchr(word + 2, '?', static_cast<size_t>(end - word - 2))) : nullptr;
    const char* textStart = charsetEnd != nullptr && charsetEnd + 3 <= end && charsetEnd[2] == '?' ? charsetEnd + 3 : nullptr;
    const char* textEnd = nullptr;
    for (const char* q = textStart; q != nullptr && q + 1 < end; ++q) {
      if (q[0] == '?' && q[1] == '=') {
        textEnd = q;
        break;
      }
    }
    // Text before the word (all of the rest when there is no word).
    const char* plainEnd = textEnd != nullptr ? word : end;
    bool blanksOnly = true;
    for (const char* q = p; q < plainEnd; ++q) blanksOnly = blanksOnly && (*q == ' ' || *q == '\t');
    if (plainEnd > p && !(afterWord && textEnd != nullptr && blanksOnly)) {
      char piece[kPathBufferSize];
      if (!DecodeStoredName(reinterpret_cast<const uint8_t*>(p), static_cast<size_t>(plainEnd - p),
                            NameMarking::kUnmarked, piece, sizeof piece) ||
          !Append(name, &used, piece))
        return name[0] = '\0', NameState::kTooLong;
    }
    if (textEnd == nullptr) break;
    char charset[64];
    const size_t charsetLength = static_cast<size_t>(charsetEnd - word - 2);
    if (charsetLength >= sizeof charset) return name[0] = '\0', NameState::kTooLong;
    memcpy(charset, word + 2, charsetLength);
    charset[charsetLength] = '\0';
    // RFC 2231 allows a language after the character set: "UTF-8*en".
    if (char* star = strchr(charset, '*')) *star = '\0';
    NameBytes bytes;
    DecodeWordText(charsetEnd[1], textStart, static_cast<size_t>(textEnd - textStart), bytes);
    char piece[kPathBufferSize];
    if (bytes.tooLong ||
        !DecodeNameInCharset(charset, bytes.bytes, bytes.length, piece, sizeof piece) ||
        !Append(name, &used, piece))
      return name[0] = '\0', NameState::kTooLong;
    p = textEnd + 2;
    afterWord = true;
  }
  return NameState::kFound;
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
  const size_t length = static_cast<size_t>(p - start);
  const void* encoded = memmem(start, length, "=?", 2);
  part->nameState = encoded != nullptr ? DecodeEncodedWords(start, length, part->name)
                                       : CopyName(part->name, start, length);
}

// RFC 2231 parameters: "name*=charset'language'text" with "%XX" escapes,
// or in sections "name*0*=...", "name*1*=...", "name*2=..." (a "*" after
// the section number marks escaped text; only the first section names the
// character set). The sections may stand on several lines of one header;
// each one met makes the name anew from all of them so far.
struct ExtendedName {
  char charset[64] = "";
  NameBytes bytes;
};

void TakeExtendedName(const char* line, ExtendedName* extended, Base64Part* part) {
  for (const char* p = FindNoCase(line, "name*"); p != nullptr; p = FindNoCase(p, "name*")) {
    p += 5;
    long section = -1;
    bool escaped = true;  // the unnumbered form is always escaped
    if (*p >= '0' && *p <= '9') {
      section = 0;
      while (*p >= '0' && *p <= '9' && section < 1000) section = section * 10 + (*p++ - '0');
      escaped = *p == '*';
      if (escaped) ++p;
    }
    if (*p != '=') continue;
    ++p;
    const bool quoted = *p == '"';
    if (quoted) ++p;
    const char* value = p;
    while (*p != '\0' && (quoted ? *p != '"' : (*p != ';' && *p != ' ' && *p != '\t'))) ++p;
    const char* valueEnd = p;
    if (section <= 0) {
      *extended = ExtendedName();
      if (escaped) {
        // charset ' language ' text
        const char* quote1 = static_cast<const char*>(memchr(value, '\'', static_cast<size_t>(valueEnd - value)));
        const char* quote2 = quote1 != nullptr ? static_cast<const char*>(memchr(quote1 + 1, '\'', static_cast<size_t>(valueEnd - quote1 - 1))) : nullptr;
        if (quote2 == nullptr) continue;
        const size_t charsetLength = std::min(static_cast<size_t>(quote1 - value), sizeof extended->charset - 1);
        memcpy(extended->charset, value, charsetLength);
        extended->charset[charsetLength] = '\0';
        value = quote2 + 1;
      }
    }
    for (const char* q = value; q < valueEnd; ++q) {
      if (escaped && *q == '%' && q + 2 < valueEnd && HexValue(q[1]) >= 0 && HexValue(q[2]) >= 0) {
        extended->bytes.Put(static_cast<uint8_t>(HexValue(q[1]) << 4 | HexValue(q[2])));
        q += 2;
      } else {
        extended->bytes.Put(static_cast<uint8_t>(*q));
      }
    }
    const char* charset = extended->charset[0] != '\0' ? extended->charset : "UTF-8";
    part->nameState = !extended->bytes.tooLong && DecodeNameInCharset(charset, extended->bytes.bytes,
                                                                      extended->bytes.length, part->name,
                                                                      sizeof part->name)
                          ? NameState::kFound
                          : NameState::kTooLong;
    if (part->nameState == NameState::kTooLong) part->name[0] = '\0';
  }
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
  part->beginLine = false;
  MimeHeader kind = MimeHeader::kNone;
  ExtendedName extended;
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
      part->beginLine = true;
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
      if (kind == MimeHeader::kContentType && FindNoCase(line, "boundary=") != nullptr) part->multipart = true;
      TakeQuotedName(line, part);
      TakeExtendedName(line, &extended, part);
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

Base64Body DecodeBase64Body(TextLineReader& reader, char* line, size_t capacity, ByteSink& sink) {
  Accumulator acc;
  Base64Body body;
  size_t length = 0;
  for (;;) {
    // A last line without a line end is decoded too.
    const bool delivered = reader.ReadLine(line, capacity, &length);
    if (line[0] == '-' && line[1] == '-') {
      body.end = Base64BodyEnd::kBoundary;
      break;
    }
    const bool atStart = acc.count == 0 && line[0] == '=';
    if (DecodeBase64Line(reinterpret_cast<const uint8_t*>(line), length, acc, sink)) {
      body.end = atStart ? Base64BodyEnd::kPaddingLine : Base64BodyEnd::kPadding;
      return body;
    }
    if (!delivered) break;
  }
  body.leftover = acc.count != 0;
  return body;
}

bool SkipToClosingLine(TextLineReader& reader, char* line, size_t capacity, const char* closing) {
  const size_t n = strlen(closing);
  size_t length = 0;
  while (!reader.AtEnd()) {
    const bool delivered = reader.ReadLine(line, capacity, &length);
    if (strncmp(line, closing, n) == 0) return true;
    if (!delivered) break;
  }
  return false;
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

}  // namespace text
