// Text conversion between the narrow code pages (932 Shift-JIS, 1252, 65001
// UTF-8) and UTF-16, and the wide string helpers.
//
// The code-page tables are read once from iconv ("CP932", "CP1252") and kept;
// conversions are then table look-ups, safe from any thread.
//
// Nothing is lost in either direction, so a host path survives the trip
// through the program's narrow strings and back:
//   - Narrow bytes that are not a character of the code page:
//       * a lone byte (0x80, 0xA0, 0xFD-0xFF in 932; the five undefined bytes
//         of 1252; any byte outside a valid sequence in UTF-8, a lead byte at
//         the end of the text in 932) becomes U+DC00 + byte. The UTF-8 host
//         form writes that raw byte again, so such names reach the host as
//         the bytes they were.
//       * in 932, a lead byte and the byte after it that together are no
//         character (an unassigned code, or a second byte outside 0x40-0xFC)
//         become U+F0000 + (lead << 8 | second), one whole character, just
//         as the program's Shift-JIS walkers see one two-byte character (so a
//         second byte such as "/" never turns into a separator on the host).
//     The wide-to-narrow direction turns both back into the same bytes.
//   - Wide characters code page 932 cannot hold (é, ü, emoji) get, for the
//     rest of the run, a free two-byte code of the user-defined area (lead
//     bytes 0xF0-0xF9, second bytes 0x40-0xFC except 0x5C and 0x7F), handed
//     out from the top down; the narrow-to-wide direction maps those codes
//     back. A code of that area that was never handed out decodes as the
//     standard private-use character U+E000 + index, and is then kept for
//     that character. When all 1870 codes are taken, the default character
//     is used.
//   - Lone surrogates other than the kept bytes above are no characters and
//     become the default character, as on Windows (kept, they could pair up
//     with a neighbour on the way back and change meaning).
//   - Code page 1252 has no spare codes: characters it cannot hold become
//     the default character ("?"), as on Windows.
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/host.h"

namespace {

enum class Page { ShiftJis, Latin1252, Utf8, Unsupported };

Page Resolve(UINT codePage) {
  if (codePage == CP_ACP) codePage = GetACP();
  switch (codePage) {
    case 932: return Page::ShiftJis;
    case 1252: return Page::Latin1252;
    case CP_UTF8: return Page::Utf8;
    default: return Page::Unsupported;
  }
}

// ---------------------------------------------------------------- tables

bool IsSjisLead(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsSjisTrail(unsigned b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
bool IsUserAreaLead(unsigned b) { return b >= 0xF0 && b <= 0xF9; }

// One character through iconv; the UTF-16 unit, or 0 when iconv refuses it
// or gives more than one unit.
char16_t IconvOne(iconv_t cd, const char* in, size_t inBytes) {
  char16_t out[2];
  char* ip = const_cast<char*>(in);
  char* op = reinterpret_cast<char*>(out);
  size_t il = inBytes, ol = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0) return 0;
  return op - reinterpret_cast<char*>(out) == 2 ? out[0] : 0;
}

struct SjisTables {
  std::vector<char16_t> toWide;    // [lead << 8 | second]: 0 = no character
  std::vector<uint16_t> toNarrow;  // [unit]: two-byte code, 0 = none
  SjisTables() : toWide(0x10000, 0), toNarrow(0x10000, 0) {
    iconv_t in = iconv_open("UTF-16LE", "CP932");
    iconv_t out = iconv_open("CP932", "UTF-16LE");
    if (in == reinterpret_cast<iconv_t>(-1) || out == reinterpret_cast<iconv_t>(-1)) {
      // Without the iconv module every double-byte code stays unassigned and
      // travels as U+F0000 + code: still lossless, only not readable.
      if (in != reinterpret_cast<iconv_t>(-1)) iconv_close(in);
      if (out != reinterpret_cast<iconv_t>(-1)) iconv_close(out);
      return;
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsSjisLead(lead) || IsUserAreaLead(lead)) continue;  // user area: see UserArea
      for (unsigned second = 0x40; second <= 0xFC; ++second) {
        if (!IsSjisTrail(second)) continue;
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(second)};
        char16_t unit = IconvOne(in, pair, 2);
        if (unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF)) continue;
        uint16_t code = static_cast<uint16_t>(lead << 8 | second);
        toWide[code] = unit;
        if (toNarrow[unit] == 0) {
          // Some characters have two codes (NEC and IBM rows); take the one
          // iconv itself writes, so the round trip picks the usual code.
          char u[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
          char back[4];
          char* ip = u;
          char* op = back;
          size_t il = 2, ol = sizeof back;
          iconv(out, nullptr, nullptr, nullptr, nullptr);
          uint16_t preferred = code;
          if (iconv(out, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && op - back == 2)
            preferred = static_cast<uint16_t>(static_cast<unsigned char>(back[0]) << 8 |
                                              static_cast<unsigned char>(back[1]));
          toNarrow[unit] = preferred;
        }
      }
    }
    // Keep only codes that read back as the same character (iconv may
    // prefer a code this table skipped).
    for (unsigned unit = 0; unit < 0x10000; ++unit)
      if (toNarrow[unit] && toWide[toNarrow[unit]] != unit) toNarrow[unit] = 0;
    iconv_close(in);
    iconv_close(out);
  }
};

const SjisTables& Sjis() {
  static const SjisTables tables;
  return tables;
}

struct Cp1252Tables {
  char16_t toWide[256] = {};  // 0 = undefined byte (except byte 0)
  std::unordered_map<char16_t, unsigned char> toNarrow;
  Cp1252Tables() {
    iconv_t in = iconv_open("UTF-16LE", "CP1252");
    for (unsigned b = 0; b < 256; ++b) {
      char c = static_cast<char>(b);
      if (b < 0x80)
        toWide[b] = static_cast<char16_t>(b);
      else if (in != reinterpret_cast<iconv_t>(-1))
        toWide[b] = IconvOne(in, &c, 1);
      if (toWide[b] >= 0x80) toNarrow.emplace(toWide[b], static_cast<unsigned char>(b));
    }
    if (in != reinterpret_cast<iconv_t>(-1)) iconv_close(in);
  }
};

const Cp1252Tables& Cp1252() {
  static const Cp1252Tables tables;
  return tables;
}

// ---------------------------------------------------------------- user area

// The user-defined area of code page 932, shared by every thread for the
// whole run. A character is a code point, or a kept byte's U+DC80..U+DCFF.
class UserArea {
 public:
  // The character of a user-area code (lead 0xF0-0xF9, valid second byte).
  char32_t CharOf(uint16_t code) {
    std::lock_guard<std::mutex> guard(lock_);
    char32_t& owner = owner_[Slot(code)];
    if (owner == 0) {
      owner = StandardChar(code);
      codeOf_.emplace(owner, code);
    }
    return owner;
  }

  // The code of a character 932 cannot hold; 0 when the area is full.
  uint16_t CodeOf(char32_t c) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = codeOf_.find(c);
    if (found != codeOf_.end()) return found->second;
    uint16_t code = 0;
    if (c >= 0xE000 && c < 0xE000 + 10 * 188 && owner_[Slot(StandardCode(c))] == 0)
      code = StandardCode(c);  // a private-use character keeps its own code if free
    while (code == 0 && next_ >= 0xF040) {
      uint16_t candidate = static_cast<uint16_t>(next_--);
      unsigned second = candidate & 0xFF;
      if (second < 0x40 || second > 0xFC || second == 0x5C || second == 0x7F) continue;
      if (owner_[Slot(candidate)] == 0) code = candidate;
    }
    if (code == 0) return 0;
    owner_[Slot(code)] = c;
    codeOf_.emplace(c, code);
    return code;
  }

 private:
  static size_t Slot(uint16_t code) { return (((code >> 8) - 0xF0) << 8) | (code & 0xFF); }
  // The standard mapping: 188 codes per lead byte onto U+E000 upward.
  static char32_t StandardChar(uint16_t code) {
    unsigned second = code & 0xFF;
    unsigned index = ((code >> 8) - 0xF0) * 188 + second - 0x40 - (second > 0x7F ? 1 : 0);
    return 0xE000 + index;
  }
  static uint16_t StandardCode(char32_t c) {
    unsigned index = c - 0xE000;
    unsigned second = index % 188 + 0x40;
    if (second >= 0x7F) ++second;
    return static_cast<uint16_t>((0xF0 + index / 188) << 8 | second);
  }

  std::mutex lock_;
  char32_t owner_[10 << 8] = {};
  std::unordered_map<char32_t, uint16_t> codeOf_;
  int next_ = 0xF9FC;
};

UserArea& UserCodes() {
  static UserArea area;
  return area;
}

void PushChar(std::u16string& out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(c));
  }
}

// ---------------------------------------------------------------- decoding

// Returns the number of bytes that were not a character of the code page.
size_t DecodeSjis(const unsigned char* s, size_t n, std::u16string& out) {
  const SjisTables& t = Sjis();
  size_t invalid = 0;
  for (size_t i = 0; i < n;) {
    unsigned b = s[i];
    if (b < 0x80) {
      out.push_back(static_cast<char16_t>(b));
      ++i;
    } else if (b >= 0xA1 && b <= 0xDF) {
      out.push_back(static_cast<char16_t>(0xFF61 + b - 0xA1));  // half-width katakana
      ++i;
    } else if (IsSjisLead(b) && i + 1 < n && s[i + 1] != 0) {
      unsigned second = s[i + 1];
      uint16_t code = static_cast<uint16_t>(b << 8 | second);
      if (IsUserAreaLead(b) && IsSjisTrail(second)) {
        PushChar(out, UserCodes().CharOf(code));
      } else if (t.toWide[code]) {
        out.push_back(t.toWide[code]);
      } else {
        PushChar(out, 0xF0000 + code);
        ++invalid;
      }
      i += 2;
    } else {
      out.push_back(static_cast<char16_t>(0xDC00 + b));
      ++invalid;
      ++i;
    }
  }
  return invalid;
}

size_t Decode1252(const unsigned char* s, size_t n, std::u16string& out) {
  const Cp1252Tables& t = Cp1252();
  size_t invalid = 0;
  for (size_t i = 0; i < n; ++i) {
    if (s[i] == 0 || t.toWide[s[i]]) {
      out.push_back(t.toWide[s[i]]);
    } else {
      out.push_back(static_cast<char16_t>(0xDC00 + s[i]));
      ++invalid;
    }
  }
  return invalid;
}

// ---------------------------------------------------------------- encoding

// Each encoder appends the narrow form and reports characters replaced by
// the default character through `defaulted`.
void EncodeSjis(const char16_t* s, size_t n, const std::string& defaultChar, std::string& out,
                bool& defaulted) {
  const SjisTables& t = Sjis();
  auto pushCode = [&](uint16_t code) {
    out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code & 0xFF));
  };
  for (size_t i = 0; i < n; ++i) {
    char32_t c = s[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c >= 0xFF61 && c <= 0xFF9F) {
      out.push_back(static_cast<char>(0xA1 + c - 0xFF61));
      continue;
    }
    if (c < 0xD800 || c > 0xDFFF) {
      if (t.toNarrow[c]) {
        pushCode(t.toNarrow[c]);
        continue;
      }
    } else if (c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
      // A byte pair that was no character comes back as the same two bytes.
      if (c >= 0xF0000 && c <= 0xFFFFF) {
        unsigned code = c - 0xF0000, lead = code >> 8, second = code & 0xFF;
        if (IsSjisLead(lead) && second != 0 && !(IsUserAreaLead(lead) && IsSjisTrail(second)) &&
            t.toWide[code] == 0) {
          pushCode(static_cast<uint16_t>(code));
          continue;
        }
      }
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      // A byte that was no character: written back raw where the decoder
      // would read it alone again (not a lead byte, or a lead byte at the
      // end); a lead byte elsewhere takes a user-area code below.
      unsigned b = c - 0xDC00;
      bool atEnd = i + 1 == n || s[i + 1] == 0;
      if ((b == 0x80 || b == 0xA0 || b >= 0xFD) || (IsSjisLead(b) && atEnd)) {
        out.push_back(static_cast<char>(b));
        continue;
      }
    } else {
      out += defaultChar;  // a lone surrogate
      defaulted = true;
      continue;
    }
    if (uint16_t code = UserCodes().CodeOf(c)) {
      pushCode(code);
    } else {
      out += defaultChar;
      defaulted = true;
    }
  }
}

void Encode1252(const char16_t* s, size_t n, const std::string& defaultChar, std::string& out,
                bool& defaulted) {
  const Cp1252Tables& t = Cp1252();
  for (size_t i = 0; i < n; ++i) {
    char16_t c = s[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    auto found = t.toNarrow.find(c);
    if (found != t.toNarrow.end()) {
      out.push_back(static_cast<char>(found->second));
      continue;
    }
    if (c >= 0xDC80 && c <= 0xDCFF && t.toWide[c - 0xDC00] == 0) {
      out.push_back(static_cast<char>(c - 0xDC00));  // an undefined byte kept
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
      ++i;  // one default character for the whole pair
    out += defaultChar;
    defaulted = true;
  }
}

// The narrow default character: the caller's (its first character), else "?".
std::string DefaultCharFor(Page page, const char* given) {
  if (!given || !*given) return "?";
  size_t length = page == Page::ShiftJis && IsSjisLead(static_cast<unsigned char>(given[0])) &&
                          given[1] != 0
                      ? 2
                      : 1;
  return std::string(given, length);
}

template <typename Unit, typename Text>
int Deliver(const Text& text, Unit* dst, int capacity) {
  size_t size = text.size();
  if (size > static_cast<size_t>(INT32_MAX)) return host::Fail(ERROR_INVALID_PARAMETER);
  if (capacity == 0) return static_cast<int>(size);
  if (size > static_cast<size_t>(capacity)) return host::Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(dst, text.data(), size * sizeof(Unit));
  return static_cast<int>(size);
}

}  // namespace

UINT GetACP() {
  const char* value = getenv("DORVANE_CODEPAGE");
  if (value && *value) {
    unsigned long page = strtoul(value, nullptr, 10);
    if (page == 932 || page == 1252 || page == CP_UTF8) return static_cast<UINT>(page);
  }
  return 932;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int cbMultiByte, LPWSTR dst,
                        int cchWideChar) {
  Page page = Resolve(codePage);
  if (page == Page::Unsupported || !src || cbMultiByte == 0 || cbMultiByte < -1 ||
      cchWideChar < 0 || (cchWideChar > 0 && !dst))
    return host::Fail(ERROR_INVALID_PARAMETER);
  size_t n = cbMultiByte == -1 ? strlen(src) + 1 : static_cast<size_t>(cbMultiByte);
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  std::u16string wide;
  wide.reserve(n);
  size_t invalid = 0;
  switch (page) {
    case Page::ShiftJis: invalid = DecodeSjis(s, n, wide); break;
    case Page::Latin1252: invalid = Decode1252(s, n, wide); break;
    default: invalid = host::DecodeUtf8(src, n, [&](WCHAR u) { wide.push_back(u); }); break;
  }
  if (invalid && (flags & MB_ERR_INVALID_CHARS)) return host::Fail(ERROR_NO_UNICODE_TRANSLATION);
  return Deliver(wide, dst, cchWideChar);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int cchWideChar, char* dst,
                        int cbMultiByte, const char* defaultChar, BOOL* usedDefaultChar) {
  Page page = Resolve(codePage);
  if (page == Page::Unsupported || !src || cchWideChar == 0 || cchWideChar < -1 ||
      cbMultiByte < 0 || (cbMultiByte > 0 && !dst) ||
      (page == Page::Utf8 && (defaultChar || usedDefaultChar)))
    return host::Fail(ERROR_INVALID_PARAMETER);
  size_t n = cchWideChar == -1 ? wcslen_w(src) + 1 : static_cast<size_t>(cchWideChar);
  std::string narrow;
  narrow.reserve(n * 2);
  bool defaulted = false;
  switch (page) {
    case Page::ShiftJis:
      EncodeSjis(src, n, DefaultCharFor(page, defaultChar), narrow, defaulted);
      break;
    case Page::Latin1252:
      Encode1252(src, n, DefaultCharFor(page, defaultChar), narrow, defaulted);
      break;
    default: host::AppendUtf8(narrow, src, n); break;
  }
  if (usedDefaultChar) *usedDefaultChar = defaulted ? TRUE : FALSE;
  return Deliver(narrow, dst, cbMultiByte);
}

// ---------------------------------------------------------------- wide strings

WCHAR towupper_w(WCHAR c) {
  if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - 0x20) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  // The C library's full case mapping comes with a UTF-8 locale; made once.
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (!utf8) return c;
  wint_t upper = towupper_l(static_cast<wint_t>(c), utf8);
  return upper <= 0xFFFF ? static_cast<WCHAR>(upper) : c;
}

size_t wcslen_w(LPCWSTR s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

LPWSTR wcscpy_w(LPWSTR dst, LPCWSTR src) {
  size_t i = 0;
  do {
    dst[i] = src[i];
  } while (src[i++]);
  return dst;
}

bool wcscpy_s_w(LPWSTR dst, size_t size, LPCWSTR src) {
  if (!dst || size == 0) return false;
  if (!src) {
    dst[0] = 0;
    return false;
  }
  size_t n = wcslen_w(src);
  bool fits = n < size;
  if (!fits) n = size - 1;
  memcpy(dst, src, n * sizeof(WCHAR));
  dst[n] = 0;
  return fits;
}
