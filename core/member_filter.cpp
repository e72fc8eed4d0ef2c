#include "core/member_filter.h"

#include <cstring>

#include "core/charset.h"

namespace {

struct Piece {
  const char* start;
  size_t length;
  bool Is(const char* text) const { return length == strlen(text) && memcmp(start, text, length) == 0; }
};

struct Pattern {
  std::string text;  // program text
  std::string typed;
  bool include = false;
  bool matched = false;
  std::vector<std::string> components;  // "**" stands for any number of folders
  bool literalEnd = false;              // its last component has no wildcard: a folder's name
};

std::vector<Pattern> g_patterns;
bool g_haveInclude = false;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The components of a path, without empty ones and "." (a leading "./" or
// "/" and a folder's final separator are no part of its name).
std::vector<Piece> Split(const char* text) {
  std::vector<Piece> pieces;
  const char* start = text;
  for (const char* p = text;; p = CharNext(p)) {
    if (*p == '\0' || IsSeparator(*p)) {
      const size_t length = static_cast<size_t>(p - start);
      if (length != 0 && !(length == 1 && *start == '.')) pieces.push_back({start, length});
      if (*p == '\0') break;
      start = p + 1;
    }
  }
  return pieces;
}

// One character of `name` against the set that starts after "[" at `p`;
// `end` is set after its "]". False, with end null, when the set has no
// "]": the "[" then stands for itself.
bool InSet(const char* p, const char* limit, const char* c, size_t cLength, const char** end) {
  *end = nullptr;
  const bool negated = p < limit && (*p == '!' || *p == '^');
  if (negated) ++p;
  bool found = false;
  bool first = true;
  while (p < limit && (*p != ']' || first)) {
    first = false;
    const size_t length = CharLength(p);
    if (p + length + 1 < limit && p[length] == '-' && p[length + 1] != ']' && length == 1 && cLength == 1 &&
        CharLength(p + length + 1) == 1) {
      const auto low = static_cast<uint8_t>(*p), high = static_cast<uint8_t>(p[length + 1]);
      const auto value = static_cast<uint8_t>(*c);
      if (low <= value && value <= high) found = true;
      p += length + 2;
      continue;
    }
    if (length == cLength && memcmp(p, c, length) == 0) found = true;
    p += length;
  }
  if (p >= limit) return false;
  *end = p + 1;
  return found != negated;
}

// Components of a pattern from `pi` on against name components from `ni`
// on. A pattern whose last component is a plain name that ends before the
// name's path matches a folder above the member. `failed` remembers the
// pairs already known not to match, so patterns with many "**" take
// polynomial time.
bool MatchFrom(const Pattern& pattern, size_t pi, const std::vector<Piece>& name, size_t ni,
               std::vector<bool>* failed) {
  const std::vector<std::string>& components = pattern.components;
  if (pi == components.size()) return ni == name.size() || (pattern.literalEnd && ni > 0);
  const size_t state = pi * (name.size() + 1) + ni;
  if ((*failed)[state]) return false;
  bool matched = false;
  if (components[pi] == "**") {
    for (size_t skip = ni; skip <= name.size() && !matched; ++skip)
      matched = MatchFrom(pattern, pi + 1, name, skip, failed);
  } else if (ni < name.size()) {
    const std::string& p = components[pi];
    matched = MatchComponent(p.data(), p.size(), name[ni].start, name[ni].length) &&
              MatchFrom(pattern, pi + 1, name, ni + 1, failed);
  }
  if (!matched) (*failed)[state] = true;
  return matched;
}

bool Matches(const Pattern& pattern, const std::vector<Piece>& name) {
  std::vector<bool> failed((pattern.components.size() + 1) * (name.size() + 1), false);
  return MatchFrom(pattern, 0, name, 0, &failed);
}

}  // namespace

bool MatchComponent(const char* pattern, size_t patternLength, const char* name, size_t nameLength) {
  const char* p = pattern;
  const char* const pEnd = pattern + patternLength;
  const char* n = name;
  const char* const nEnd = name + nameLength;
  // The last "*" seen and the name position it has taken up to: on a
  // mismatch it takes one character more.
  const char* starP = nullptr;
  const char* starN = nullptr;
  while (n < nEnd) {
    const size_t nLength = CharLength(n);
    if (p < pEnd && *p == '*') {
      starP = ++p;
      starN = n;
      continue;
    }
    if (p < pEnd) {
      const char* next = nullptr;
      bool same = false;
      if (*p == '?') {
        same = true;
        next = p + 1;
      } else if (*p == '[' && InSet(p + 1, pEnd, n, nLength, &next)) {
        same = true;
      } else if (*p == '[' && next != nullptr) {
        same = false;
      } else {
        const size_t pLength = CharLength(p);
        same = pLength == nLength && memcmp(p, n, nLength) == 0;
        next = p + pLength;
      }
      if (same) {
        p = next;
        n += nLength;
        continue;
      }
    }
    if (starP == nullptr) return false;
    p = starP;
    starN += CharLength(starN);
    n = starN;
  }
  while (p < pEnd && *p == '*') ++p;
  return p == pEnd;
}

void AddMemberPattern(const char* pattern, const std::string& typed, bool include) {
  Pattern added;
  added.text = pattern;
  added.typed = typed;
  added.include = include;
  for (const Piece& piece : Split(added.text.c_str())) {
    std::string component(piece.start, piece.length);
    // "**" at either end of a component reaches across folders.
    const bool leading = component.size() > 2 && component.compare(0, 2, "**") == 0;
    const bool trailing = component.size() > 2 && component.compare(component.size() - 2, 2, "**") == 0;
    if (leading) component.erase(0, 1);
    if (trailing) component.erase(component.size() - 1);
    for (const std::string& part : {std::string(leading ? "**" : ""), component, std::string(trailing ? "**" : "")}) {
      // "**" after "**" adds nothing.
      if (part.empty() || (part == "**" && !added.components.empty() && added.components.back() == "**")) continue;
      added.components.push_back(part);
    }
  }
  added.literalEnd = !added.components.empty() && added.components.back().find_first_of("*?[") == std::string::npos;
  g_haveInclude |= include;
  g_patterns.push_back(std::move(added));
}

void ClearMemberPatterns() {
  g_patterns.clear();
  g_haveInclude = false;
}

bool MemberSelected(const char* name) {
  if (g_patterns.empty()) return true;
  const std::vector<Piece> pieces = Split(name);
  bool included = !g_haveInclude;
  bool excluded = false;
  for (Pattern& pattern : g_patterns) {
    if (!Matches(pattern, pieces)) continue;
    pattern.matched = true;
    (pattern.include ? included : excluded) = true;
  }
  return included && !excluded;
}

std::vector<std::string> UnmatchedMemberPatterns() {
  std::vector<std::string> unmatched;
  for (const Pattern& pattern : g_patterns) {
    if (!pattern.matched) unmatched.push_back(pattern.typed);
  }
  return unmatched;
}
